# Installs the build into a scratch prefix and checks what lands there: exactly the expected
# files, icons whose pixel size matches their hicolor folder, and a desktop entry and AppStream
# metainfo that their validators accept. Run by CTest (tests/CMakeLists.txt).
set(root ${BUILD_DIR}/install-test)
file(REMOVE_RECURSE ${root})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${root}/usr
                OUTPUT_QUIET RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${status}")
endif()

set(expected usr/bin/twinrake-find usr/share/doc/twinrake/changelog.gz
             usr/share/doc/twinrake/copyright
             usr/share/bash-completion/completions/twinrake-find
             usr/share/fish/vendor_completions.d/twinrake-find.fish
             usr/share/zsh/vendor-completions/_twinrake-find)
if(EXISTS ${SOURCE_DIR}/tools/twinrake-find/twinrake-find.1)
  list(APPEND expected usr/share/man/man1/twinrake-find.1.gz)
endif()
if(WITH_WINDOW)
  list(APPEND expected usr/bin/twinrake usr/share/man/man1/twinrake.1.gz
       usr/share/applications/${APP_ID}.desktop
       usr/share/metainfo/${APP_ID}.metainfo.xml usr/share/icons/hicolor/scalable/apps/twinrake.svg)
  foreach(size ${ICON_SIZES})
    list(APPEND expected usr/share/icons/hicolor/${size}x${size}/apps/twinrake.png)
  endforeach()
endif()
file(GLOB_RECURSE installed RELATIVE ${root} ${root}/*)
list(SORT installed)
list(SORT expected)
if(NOT installed STREQUAL expected)
  message(FATAL_ERROR "installed:\n  ${installed}\nexpected:\n  ${expected}")
endif()

file(READ ${root}/usr/share/doc/twinrake/copyright copyright)
if(NOT copyright MATCHES "Yann Collet")
  message(FATAL_ERROR "the copyright file lacks xxHash's notice")
endif()
if(NOT WITH_WINDOW)
  return()
endif()

# A PNG's width and height are the two big-endian words after its IHDR tag.
foreach(size ${ICON_SIZES})
  file(READ ${root}/usr/share/icons/hicolor/${size}x${size}/apps/twinrake.png header
       OFFSET 12 LIMIT 12 HEX)
  string(SUBSTRING "${header}" 8 8 width_hex)
  string(SUBSTRING "${header}" 16 8 height_hex)
  math(EXPR width "0x${width_hex}")
  math(EXPR height "0x${height_hex}")
  if(NOT header MATCHES "^49484452" OR NOT width EQUAL size OR NOT height EQUAL size)
    message(FATAL_ERROR "the ${size}x${size} icon is ${width}x${height} (header ${header})")
  endif()
endforeach()

foreach(check "${DESKTOP_FILE_VALIDATE};${root}/usr/share/applications/${APP_ID}.desktop"
              "${APPSTREAMCLI};validate;--no-net;${root}/usr/share/metainfo/${APP_ID}.metainfo.xml")
  list(GET check 0 program)
  if(NOT program)
    message(FATAL_ERROR "a validator is missing (tools/install-deps.sh test installs it): ${check}")
  endif()
  execute_process(COMMAND ${check} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT status EQUAL 0 OR out MATCHES "(^|\n)(E|W):")
    message(FATAL_ERROR "${check}:\n${out}")
  endif()
endforeach()
