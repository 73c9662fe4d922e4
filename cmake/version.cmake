# The program's version text, made from project(VERSION): 1.0.0 is
# "V.1.00.00", the major number as it is and the minor and patch numbers in
# at least two digits. It reaches the code as MRL_VERSION_TEXT in the
# generated header mrl_version.h (see cmake/mrl_version.h.in), so the program
# cannot print a version other than the one the packages carry.
function(mrl_two_digits out value)
  math(EXPR value "${value}")  # "08" is 8
  if(value LESS 10)
    set(value "0${value}")
  endif()
  set(${out} "${value}" PARENT_SCOPE)
endfunction()

if(NOT PROJECT_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
  message(FATAL_ERROR "project(VERSION) must have three numbers, major.minor.patch; it is '${PROJECT_VERSION}'")
endif()
mrl_two_digits(MRL_MINOR2 "${PROJECT_VERSION_MINOR}")
mrl_two_digits(MRL_PATCH2 "${PROJECT_VERSION_PATCH}")
set(MRL_VERSION_TEXT "V.${PROJECT_VERSION_MAJOR}.${MRL_MINOR2}.${MRL_PATCH2}")

set(MRL_GENERATED_DIR "${PROJECT_BINARY_DIR}/generated")
configure_file("${CMAKE_CURRENT_LIST_DIR}/mrl_version.h.in" "${MRL_GENERATED_DIR}/mrl_version.h" @ONLY)
