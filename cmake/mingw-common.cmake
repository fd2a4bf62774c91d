# What both mingw-w64 toolchain files share; they set CMAKE_SYSTEM_PROCESSOR and
# TWINRAKE_MINGW_PREFIX first.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model gives std::thread and std::mutex (the search's readers, GoogleTest);
# its libwinpthread is linked in statically (windows.cmake), so no DLL comes along.
find_program(CMAKE_C_COMPILER NAMES ${TWINRAKE_MINGW_PREFIX}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TWINRAKE_MINGW_PREFIX}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TWINRAKE_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TWINRAKE_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
