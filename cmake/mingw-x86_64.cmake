# Cross-compiling for x86_64 Windows with mingw-w64 from Debian.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TWINRAKE_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
