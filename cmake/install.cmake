# Installing on Linux (cmake --install, GNUInstallDirs) and the Debian package (cpack -G DEB).
# The desktop files, icons and licence texts live in data/.
include(GNUInstallDirs)

set(TWINRAKE_DATA ${PROJECT_SOURCE_DIR}/data)
# The package's own folder under share/doc, named after the package as Debian wants it.
set(TWINRAKE_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/twinrake)
set(CPACK_PACKAGE_CONTACT "Twinrake maintainers <maintainers@users.noreply.c-seed-369388b2.example>")

install(TARGETS twinrake-find RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# Manual pages go out compressed, as Debian's policy asks.
function(twinrake_install_man page)
  get_filename_component(name ${page} NAME)
  add_custom_command(OUTPUT ${name}.gz COMMAND gzip -9nc ${page} > ${name}.gz DEPENDS ${page}
                     VERBATIM)
  add_custom_target(twinrake_man_${name} ALL DEPENDS ${name}.gz)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endfunction()

set(TWINRAKE_FIND_MAN ${PROJECT_SOURCE_DIR}/tools/twinrake-find/twinrake-find.1)
if(EXISTS ${TWINRAKE_FIND_MAN})
  twinrake_install_man(${TWINRAKE_FIND_MAN})
endif()

# Completions, where each shell looks for them: bash-completion and fish in every data folder,
# zsh in vendor-completions for a package below /usr (Debian's zsh reads it) and in
# site-functions elsewhere (/usr/local).
set(TWINRAKE_COMPLETIONS ${TWINRAKE_DATA}/completions)
install(FILES ${TWINRAKE_COMPLETIONS}/twinrake-find.bash
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions RENAME twinrake-find)
install(FILES ${TWINRAKE_COMPLETIONS}/twinrake-find.fish
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/fish/vendor_completions.d)
install(CODE "
  if(CMAKE_INSTALL_PREFIX MATCHES \"/usr$\")
    set(twinrake_zsh vendor-completions)
  else()
    set(twinrake_zsh site-functions)
  endif()
  file(INSTALL ${TWINRAKE_COMPLETIONS}/_twinrake-find
       DESTINATION \${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATAROOTDIR}/zsh/\${twinrake_zsh})")

if(TARGET twinrake)
  install(TARGETS twinrake RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  twinrake_install_man(${TWINRAKE_DATA}/twinrake.1)
  install(FILES ${TWINRAKE_DATA}/${TWINRAKE_APP_ID}.desktop
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/applications)
  install(FILES ${TWINRAKE_DATA}/${TWINRAKE_APP_ID}.metainfo.xml
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/metainfo)
  install(FILES ${TWINRAKE_DATA}/icons/twinrake.svg
          DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/scalable/apps)
  foreach(size ${TWINRAKE_ICON_SIZES})
    install(FILES ${TWINRAKE_DATA}/icons/twinrake-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/icons/hicolor/${size}x${size}/apps
            RENAME twinrake.png)
  endforeach()
endif()

# The copyright file carries the notices of the code compiled into the programs.
file(READ ${TWINRAKE_DATA}/debian/copyright.in TWINRAKE_COPYRIGHT)
file(READ ${TWINRAKE_DATA}/licenses/xxhash.txt TWINRAKE_XXHASH_NOTICE)
file(CONFIGURE OUTPUT copyright CONTENT "${TWINRAKE_COPYRIGHT}${TWINRAKE_XXHASH_NOTICE}" @ONLY)
configure_file(${TWINRAKE_DATA}/debian/changelog.in changelog @ONLY)
add_custom_command(OUTPUT changelog.gz
                   COMMAND gzip -9nc changelog > changelog.gz
                   DEPENDS ${CMAKE_CURRENT_BINARY_DIR}/changelog VERBATIM)
add_custom_target(twinrake_changelog ALL DEPENDS changelog.gz)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/copyright ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz
        DESTINATION ${TWINRAKE_DOCDIR})

set(CPACK_PACKAGE_NAME twinrake)
set(CPACK_PACKAGE_VENDOR "The Twinrake developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "find and delete duplicate files")
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# What the programs link against decides the dependencies (the Qt 6 runtime among them).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# CPack puts the summary above this and indents it.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Twinrake finds files with identical content below the folders you add and
lets you delete the surplus copies, in a window with a German interface.
Files are grouped only after every byte has been compared, and two names of
one physical file never count as copies of each other.

The package also holds twinrake-find, a command-line tool that prints the
groups of identical files and, when asked, keeps the first copy of each and
deletes the others or replaces them with links, after the same checks.")
include(CPack)
