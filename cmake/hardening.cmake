# Hardening of the Linux build, the flags Debian builds its own packages
# with: fortified C library calls (-D_FORTIFY_SOURCE=2), stack protection for
# functions with arrays or address-taken locals (-fstack-protector-strong), a
# position-independent executable, and relocations resolved at start and made
# read-only (-Wl,-z,relro,-z,now). This file is the one place for them.
#
# Left out where they do not fit:
#   - Windows (MinGW-w64): the stack protector and the fortified calls need
#     libssp there, which the one self-contained mrl85.exe does not carry;
#   - _FORTIFY_SOURCE in Debug builds (the C library warns that it needs an
#     optimising build, and warnings are errors in the project's builds) and
#     in sanitizer builds (the sanitizers check those calls themselves).
# -DMRL_HARDENING=OFF turns them all off.
option(MRL_HARDENING "Build with the hardening flags of cmake/hardening.cmake (Linux)" ON)
if(NOT MRL_HARDENING OR WIN32 OR MSVC)
  return()
endif()

include(CheckPIESupported)
check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:-fstack-protector-strong>")
if(NOT MRL_SANITIZE)
  # -U first: a compiler that already defines it (some distributions' do)
  # would otherwise warn about the redefinition.
  add_compile_options("$<$<AND:$<COMPILE_LANGUAGE:CXX>,$<NOT:$<CONFIG:Debug>>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
endif()
add_link_options(-Wl,-z,relro,-z,now)
