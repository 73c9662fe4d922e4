# Installation and the packages of mrl85. The version is project(VERSION),
# the same number the program prints as "V.1.00.00" (cmake/version.cmake).
#
# Linux and other POSIX systems:
#   cmake --install <build> [--prefix <dir>]  bin/mrl85, bin/mrl85-report,
#                                             share/man/man1/mrl85.1.gz and
#                                             mrl85-report.1.gz, share/doc/mrl85/
#                                             README.md, changelog.gz and copyright
#                                             (cmake/debian.cmake)
#   cmake --build <build> --target uninstall  removes what the last install put
#                                             in place (install_manifest.txt)
#   cd <build> && cpack                       package/mrl85_<version>_<arch>.deb
#
# Windows (the MinGW-w64 cross build, scripts/win-package):
#   cmake --install <build> --prefix <dir>   mrl85.exe, mrl85-report.exe,
#                                            README.md, NEWS.md, LICENSE (all
#                                            three with CR LF line ends),
#                                            mrl85.html and mrl85-report.html
#                                            side by side
#   cd <build> && cpack                      package/mrl85-<version>-win64.zip
include(GNUInstallDirs)

# The programs installed, each with its manual page of the same name.
set(MRL_PROGRAMS mrl85 mrl85-report)

# The manual pages as installed (build/man/<program>.1): the version in each
# title line is replaced by project(VERSION), so a page never names another
# version than the program. Written anew only when they change, so nothing is
# rebuilt for nothing.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/README.md"
             "${PROJECT_SOURCE_DIR}/NEWS.md" "${PROJECT_SOURCE_DIR}/LICENSE")
include(cmake/debian.cmake)
foreach(program IN LISTS MRL_PROGRAMS)
  file(READ "${PROJECT_SOURCE_DIR}/man/${program}.1" MRL_MAN_PAGE)
  string(REGEX REPLACE "\n(\\.TH [^\n]*)\"mrl85 [0-9.]+\"" "\n\\1\"mrl85 ${PROJECT_VERSION}\"" MRL_MAN_PAGE
         "${MRL_MAN_PAGE}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/man/${program}.1")
  mrl_write_if_changed("${PROJECT_BINARY_DIR}/man/${program}.1" "${MRL_MAN_PAGE}")
  set("MRL_MAN_PAGE_${program}" "${MRL_MAN_PAGE}")
endforeach()

set(CPACK_PACKAGE_NAME mrl85)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_VENDOR "The mrl85 authors")
set(CPACK_PACKAGE_CONTACT "The mrl85 authors <mrl85@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "cut a program's HEX file and symbol file down to the low 64 KB")
set(CPACK_RESOURCE_FILE_LICENSE "${PROJECT_SOURCE_DIR}/LICENSE")
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY "${PROJECT_BINARY_DIR}/package")

if(WIN32)
  # One folder for the user to unpack anywhere: the programs, the README, the
  # news, the licence and the manuals as web pages (made with mandoc -T html).
  # The text files get Windows line ends, so that every editor shows them.
  install(TARGETS ${MRL_PROGRAMS} RUNTIME DESTINATION .)
  foreach(doc README.md NEWS.md LICENSE)
    file(READ "${PROJECT_SOURCE_DIR}/${doc}" MRL_DOC)
    string(REPLACE "\r\n" "\n" MRL_DOC "${MRL_DOC}")
    string(REPLACE "\n" "\r\n" MRL_DOC "${MRL_DOC}")
    mrl_write_if_changed("${PROJECT_BINARY_DIR}/doc/${doc}" "${MRL_DOC}")
    install(FILES "${PROJECT_BINARY_DIR}/doc/${doc}" DESTINATION .)
  endforeach()
  find_program(MRL_MANDOC mandoc)
  if(MRL_MANDOC)
    foreach(program IN LISTS MRL_PROGRAMS)
      set(MRL_MAN_HTML "${PROJECT_BINARY_DIR}/man/${program}.html")
      execute_process(COMMAND "${MRL_MANDOC}" -T html "${PROJECT_BINARY_DIR}/man/${program}.1"
                      OUTPUT_FILE "${MRL_MAN_HTML}" RESULT_VARIABLE MRL_MANDOC_STATUS)
      if(NOT MRL_MANDOC_STATUS EQUAL 0)
        message(FATAL_ERROR "mandoc -T html failed on the manual page ${program}.1 (${MRL_MANDOC_STATUS})")
      endif()
      # mandoc copies the page's leading comment lines into an HTML comment;
      # the first, '\" t, only tells man to run tbl and would show as a lone "t".
      file(READ "${MRL_MAN_HTML}" MRL_HTML)
      string(REGEX REPLACE "(<!--[^\n]*\n) *t\n" "\\1" MRL_HTML "${MRL_HTML}")
      file(WRITE "${MRL_MAN_HTML}" "${MRL_HTML}")
      install(FILES "${MRL_MAN_HTML}" DESTINATION .)
    endforeach()
  else()
    message(STATUS "mandoc not found: the Windows package will lack the manuals (mrl85.html, mrl85-report.html)")
  endif()

  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_FILE_NAME "mrl85-${PROJECT_VERSION}-win64")
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  # The manual pages and the changelog compressed (gzip -9n), the licence as
  # the copyright file: the layout Debian's policy asks for, used for every
  # installation so that one set of rules serves both.
  install(TARGETS ${MRL_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  foreach(program IN LISTS MRL_PROGRAMS)
    set(MRL_MAN_OUT "${PROJECT_BINARY_DIR}/man/${program}.1")
    mrl_write_gzip("${MRL_MAN_OUT}.gz" "${MRL_MAN_PAGE_${program}}")
    install(FILES "${MRL_MAN_OUT}.gz" DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endforeach()
  set(MRL_DOC_DIR "${PROJECT_BINARY_DIR}/doc")
  mrl_debian_changelog("${PROJECT_SOURCE_DIR}/NEWS.md" "${MRL_DOC_DIR}/changelog.gz"
                       "${CPACK_PACKAGE_CONTACT}" MRL_NEWS_VERSION)
  if(NOT MRL_NEWS_VERSION STREQUAL PROJECT_VERSION)
    message(WARNING "NEWS.md has no entry for version ${PROJECT_VERSION} (its newest is ${MRL_NEWS_VERSION})")
  endif()
  mrl_debian_copyright("${PROJECT_SOURCE_DIR}/LICENSE" "${MRL_DOC_DIR}/copyright" "${CPACK_PACKAGE_CONTACT}")
  install(FILES "${PROJECT_SOURCE_DIR}/README.md" "${MRL_DOC_DIR}/changelog.gz" "${MRL_DOC_DIR}/copyright"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/mrl85)

  # Uninstall: removes the files the last `cmake --install` of this build
  # wrote, as listed in install_manifest.txt.
  add_custom_target(uninstall COMMAND "${CMAKE_COMMAND}" -P "${PROJECT_SOURCE_DIR}/cmake/uninstall.cmake"
                    WORKING_DIRECTORY "${PROJECT_BINARY_DIR}" VERBATIM)

  set(CPACK_GENERATOR DEB)
  string(CONCAT CPACK_PACKAGE_DESCRIPTION
         "mrl85 reads the HEX file (Intel HEX style records) and the symbol file\n"
         "of one built program and writes the records of the low 64 KB, the records\n"
         "of the high area, and a symbol file without the units, functions and\n"
         "global labels above FFFF, with the rest renumbered densely.\n"
         "mrl85-report shows what such a conversion keeps and cuts, or where an\n"
         "input is refused, as text or as a page for a web browser.")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)

  # mrl85_1.0.0_amd64.deb: name, version and the machine's own architecture.
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION devel)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
  # The dependencies on the shared runtime are computed from the binary when
  # dpkg-shlibdeps (package dpkg-dev) is there, otherwise named by hand: the
  # C library alone when the C++ runtime is linked in (CMakeLists.txt).
  find_program(MRL_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(MRL_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  elseif(MRL_STATIC_CXX_RUNTIME)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  endif()
endif()

include(CPack)
