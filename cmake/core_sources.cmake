# The portable core's sources, shared by every build (Linux and Windows) so that all of them
# compile exactly the same core.
set(TWINRAKE_CORE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/../src/app/app.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/catalogue/lists.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/catalogue/scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/detect/compare.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/detect/identical_sets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/detect/search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/results/deletion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/results/views.cpp)
