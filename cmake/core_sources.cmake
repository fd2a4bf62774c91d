# The portable core's sources, shared by every build (Linux and Windows) so that all of them
# compile exactly the same core. The engine (catalogue and detection) knows no window, so
# twinrake-find links it alone; the shell (start-up, commands, views, deletions) drives the
# window through platform/window.h.
set(TWINRAKE_ENGINE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/../src/catalogue/lists.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/catalogue/reader_pool.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/catalogue/scan.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/catalogue/scan_filter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/detect/cleanup.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/detect/compare.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/detect/held_folders.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/detect/identical_sets.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/detect/open_budget.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/detect/search.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/detect/shared_reading.cpp)
set(TWINRAKE_SHELL_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/../src/app/app.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/app/window_progress.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/results/deletion.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../src/results/views.cpp)

# twinrake_engine and twinrake_core (the shell, which brings the engine along). Programs list
# the engine again before the platform libraries, so that a one-pass linker finds every symbol.
function(twinrake_add_core_libraries)
  add_library(twinrake_engine STATIC ${TWINRAKE_ENGINE_SOURCES})
  target_include_directories(twinrake_engine PUBLIC ${PROJECT_SOURCE_DIR}/src)
  twinrake_use_xxhash(twinrake_engine)
  target_link_libraries(twinrake_engine PRIVATE twinrake_warnings)
  add_library(twinrake_core STATIC ${TWINRAKE_SHELL_SOURCES})
  target_link_libraries(twinrake_core PUBLIC twinrake_engine PRIVATE twinrake_warnings)
endfunction()
