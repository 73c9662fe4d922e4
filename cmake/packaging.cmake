# Installation and the Debian package of mrl85.
#
#   cmake --install <build> --prefix <dir>   bin/mrl85, share/man/man1/mrl85.1,
#                                            share/doc/mrl85/README.md and LICENSE
#   cpack --config <build>/CPackConfig.cmake mrl85_<version>_<arch>.deb
#
# The package version is read from the program's own version text (kVersion in
# src/mrlpro.h, "V.1.00.00" giving 1.0.0), so the package can never claim a
# version that the program does not print.
include(GNUInstallDirs)

file(STRINGS "${PROJECT_SOURCE_DIR}/src/mrlpro.h" MRL_VERSION_LINE REGEX "kVersion = \"V\\.[0-9]+\\.[0-9]+\\.[0-9]+\"")
if(NOT MRL_VERSION_LINE MATCHES "V\\.([0-9]+)\\.([0-9]+)\\.([0-9]+)")
  message(FATAL_ERROR "packaging: no version text of the form V.n.nn.nn in src/mrlpro.h")
endif()
# math() drops the leading zeros: "00" is 0, "01" is 1.
math(EXPR MRL_VERSION_MAJOR "${CMAKE_MATCH_1}")
math(EXPR MRL_VERSION_MINOR "${CMAKE_MATCH_2}")
math(EXPR MRL_VERSION_PATCH "${CMAKE_MATCH_3}")
set(MRL_VERSION "${MRL_VERSION_MAJOR}.${MRL_VERSION_MINOR}.${MRL_VERSION_PATCH}")
if(NOT MRL_VERSION VERSION_EQUAL PROJECT_VERSION)
  message(WARNING "packaging: the program says ${MRL_VERSION}, project() says ${PROJECT_VERSION}; "
                  "the package takes ${MRL_VERSION}")
endif()

install(TARGETS mrl85 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES "${PROJECT_SOURCE_DIR}/man/mrl85.1" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${PROJECT_SOURCE_DIR}/LICENSE"
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/mrl85)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME mrl85)
set(CPACK_PACKAGE_VERSION "${MRL_VERSION}")
set(CPACK_PACKAGE_VERSION_MAJOR "${MRL_VERSION_MAJOR}")
set(CPACK_PACKAGE_VERSION_MINOR "${MRL_VERSION_MINOR}")
set(CPACK_PACKAGE_VERSION_PATCH "${MRL_VERSION_PATCH}")
set(CPACK_PACKAGE_VENDOR "The mrl85 authors")
set(CPACK_PACKAGE_CONTACT "The mrl85 authors <mrl85@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cut a program's HEX file and symbol file down to the low 64 KB")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
       "mrl85 reads the HEX file (Intel HEX style records) and the symbol file\n"
       "of one built program and writes the records of the low 64 KB, the records\n"
       "of the high area, and a symbol file without the units, functions and\n"
       "global labels above FFFF, with the rest renumbered densely.")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/package")

# mrl85_1.0.0_amd64.deb: name, version and the machine's own architecture.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
# The dependencies on the C and C++ runtime are computed from the binary when
# dpkg-shlibdeps (package dpkg-dev) is there, otherwise named by hand.
find_program(MRL_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(MRL_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
endif()

include(CPack)
