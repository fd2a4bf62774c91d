# The hardening Debian builds its packages with (dpkg-buildflags, hardening=+all), for every
# Linux target: the core libraries are linked into both programs, so they need it as much as
# the programs' own code. Included from the top-level CMakeLists.txt after the Windows build
# has stopped; mingw-w64 would need libssp for the stack protector and knows no ELF relro.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

check_pie_supported(LANGUAGES CXX OUTPUT_VARIABLE twinrake_pie_output)
if(CMAKE_CXX_LINK_PIE_SUPPORTED)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
else()
  message(WARNING "The linker makes no position-independent programs: ${twinrake_pie_output}")
endif()
# The libraries then become -fPIC code, where GCC may not inline one global function into
# another in case a shared library replaces it. They only ever go into our own programs, so
# they may be inlined as before (1.3 % of the search's instructions on tree b).
check_cxx_compiler_flag(-fno-semantic-interposition TWINRAKE_HAS_fno_semantic_interposition)
if(TWINRAKE_HAS_fno_semantic_interposition)
  add_compile_options(-fno-semantic-interposition)
endif()

add_compile_options(-fstack-protector-strong)
# Stack clash protection and control-flow protection exist only on some processors (the
# branch protection is arm64's counterpart of -fcf-protection).
foreach(flag -fstack-clash-protection -fcf-protection -mbranch-protection=standard)
  string(MAKE_C_IDENTIFIER "TWINRAKE_HAS${flag}" has_flag)
  check_cxx_compiler_flag(${flag} ${has_flag})
  if(${has_flag})
    add_compile_options(${flag})
  endif()
endforeach()

# The checked string and memory functions need the optimiser to know the object sizes, and
# glibc warns without it. Under ASan they would only check twice what ASan checks. A compiler
# that defines its own level (Ubuntu's) would warn of the redefinition.
if(NOT TWINRAKE_SANITIZE)
  add_compile_options(
    "$<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()

add_link_options(-Wl,-z,relro,-z,now)
