# The content digest comes from xxHash (Debian's libxxhash-dev), used header-only so that the
# same header serves the Windows build. A cross build must not search the host's /usr/include,
# so the one header is copied into the build tree and that folder is added instead.
find_file(TWINRAKE_XXHASH_HEADER xxhash.h PATHS /usr/include NO_CMAKE_FIND_ROOT_PATH REQUIRED)
file(COPY ${TWINRAKE_XXHASH_HEADER} DESTINATION ${CMAKE_BINARY_DIR}/xxhash-include)

function(twinrake_use_xxhash target)
  target_include_directories(${target} SYSTEM PRIVATE ${CMAKE_BINARY_DIR}/xxhash-include)
endfunction()
