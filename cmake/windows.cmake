# The Windows build (mingw-w64): Twinrake.exe, twinrake-find.exe and the Windows tests.
# Included from the top-level CMakeLists.txt, which stops after it. Configure with
#   cmake -S . -B build-win-i686 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake    (what ships)
#   cmake -S . -B build-win-x64  -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake  (what the tests run)


# Sources are UTF-8; the program speaks the ANSI code page, so every literal becomes
# Windows-1252 bytes (ü = 0xFC).
add_compile_options(-finput-charset=UTF-8 -fexec-charset=CP1252)
# Windows XP and later; the ANSI functions throughout.
add_compile_definitions(_WIN32_WINNT=0x0600 WINVER=0x0600 _WIN32_IE=0x0600)
# No DLLs beside the program: the C++ and GCC runtimes are linked in.
add_link_options(-static -static-libgcc -static-libstdc++)

include(${CMAKE_CURRENT_LIST_DIR}/xxhash.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/core_sources.cmake)
twinrake_add_core_libraries()

set(TWINRAKE_WIN32_DIR ${PROJECT_SOURCE_DIR}/src/platform/win32)

add_library(twinrake_win32_files STATIC ${TWINRAKE_WIN32_DIR}/files_win32.cpp
                                       ${PROJECT_SOURCE_DIR}/src/platform/no_held_folders.cpp)
target_include_directories(twinrake_win32_files PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(twinrake_win32_files PRIVATE twinrake_warnings)

# SHELL32 is not linked: the folder picker loads it when it is needed.
set(TWINRAKE_WIN32_SYSTEM_LIBS user32 gdi32 comctl32 kernel32)

add_library(twinrake_win32_window STATIC ${TWINRAKE_WIN32_DIR}/window_win32.cpp)
target_include_directories(twinrake_win32_window PUBLIC ${PROJECT_SOURCE_DIR}/src)
target_link_libraries(twinrake_win32_window PUBLIC ${TWINRAKE_WIN32_SYSTEM_LIBS}
                                            PRIVATE twinrake_warnings)

# The icon (resource 1, which the window class loads) and the version resource.
enable_language(RC)
set(TWINRAKE_ICO ${PROJECT_SOURCE_DIR}/data/icons/twinrake.ico)
configure_file(${TWINRAKE_WIN32_DIR}/twinrake.rc.in twinrake.rc @ONLY)
set_property(SOURCE ${CMAKE_CURRENT_BINARY_DIR}/twinrake.rc APPEND PROPERTY OBJECT_DEPENDS
             ${TWINRAKE_ICO})

add_executable(Twinrake WIN32 ${TWINRAKE_WIN32_DIR}/main_win32.cpp
                              ${CMAKE_CURRENT_BINARY_DIR}/twinrake.rc)
target_link_libraries(Twinrake PRIVATE twinrake_core twinrake_engine twinrake_win32_window
                                       twinrake_win32_files
                                       twinrake_warnings)

include(${CMAKE_CURRENT_LIST_DIR}/twinrake_find.cmake)
add_executable(twinrake-find ${TWINRAKE_FIND_SOURCES})
target_link_libraries(twinrake-find PRIVATE twinrake_engine twinrake_win32_files twinrake_warnings)
target_compile_definitions(twinrake-find PRIVATE TWINRAKE_VERSION="${PROJECT_VERSION}")

if(TWINRAKE_TESTS AND EXISTS ${PROJECT_SOURCE_DIR}/tests/win32/CMakeLists.txt)
  add_subdirectory(${PROJECT_SOURCE_DIR}/tests/win32 ${CMAKE_BINARY_DIR}/tests-win32)
endif()

# The zip for Windows users (cpack -G ZIP): the two programs and the read-me in English and
# German, CRLF and a byte-order mark so that every Notepad shows them right. The English one
# ends with the licences of the code linked into the programs.
install(TARGETS Twinrake twinrake-find RUNTIME DESTINATION .)
string(ASCII 239 187 191 TWINRAKE_BOM)
file(READ ${PROJECT_SOURCE_DIR}/data/licenses/xxhash.txt TWINRAKE_XXHASH_NOTICE)
file(READ ${PROJECT_SOURCE_DIR}/data/licenses/winpthreads.txt TWINRAKE_WINPTHREADS_NOTICE)
foreach(readme README LIESMICH)
  file(READ ${PROJECT_SOURCE_DIR}/data/windows/${readme}.txt text)
  if(readme STREQUAL README)
    string(APPEND text "${TWINRAKE_XXHASH_NOTICE}\n\n${TWINRAKE_WINPTHREADS_NOTICE}")
  endif()
  file(CONFIGURE OUTPUT ${readme}.txt CONTENT "${TWINRAKE_BOM}${text}" @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${readme}.txt DESTINATION .)
endforeach()

set(CPACK_PACKAGE_NAME Twinrake)
set(CPACK_PACKAGE_VENDOR "The Twinrake developers")
set(CPACK_GENERATOR ZIP)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(CPACK_PACKAGE_FILE_NAME Twinrake-${PROJECT_VERSION}-win32)
else()
  set(CPACK_PACKAGE_FILE_NAME Twinrake-${PROJECT_VERSION}-win64)
endif()
set(CPACK_STRIP_FILES ON)
include(CPack)
