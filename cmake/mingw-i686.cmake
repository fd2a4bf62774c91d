# Cross-compiling for i686 Windows with mingw-w64 from Debian.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TWINRAKE_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
