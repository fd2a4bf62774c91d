# twinrake-find's sources, for the Linux and the Windows build alike.
set(TWINRAKE_FIND_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/../tools/twinrake-find/main.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tools/twinrake-find/options.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tools/twinrake-find/output.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tools/twinrake-find/actions.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tools/twinrake-find/group_actors.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tools/twinrake-find/keeping.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tools/twinrake-find/messages.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tools/twinrake-find/report_lines.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tools/twinrake-find/report_json.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tools/twinrake-find/summary.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../tools/twinrake-find/progress_line.cpp)
