# Cross-compiling for i686 Windows with mingw-w64 from Debian.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TWINRAKE_MINGW_PREFIX i686-w64-mingw32)

# The posix thread model gives std::mutex, which GoogleTest needs; its libwinpthread is linked
# in statically (windows.cmake), so no DLL comes along.
find_program(CMAKE_C_COMPILER NAMES ${TWINRAKE_MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TWINRAKE_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TWINRAKE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TWINRAKE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
