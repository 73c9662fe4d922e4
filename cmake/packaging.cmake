# Installation and the packages of mrl85. The version is project(VERSION),
# the same number the program prints as "V.1.00.00" (cmake/version.cmake).
#
# Linux and other POSIX systems:
#   cmake --install <build> [--prefix <dir>]  bin/mrl85, bin/mrl85-report,
#                                             share/man/man1/mrl85.1.gz and
#                                             mrl85-report.1.gz, share/doc/mrl85/
#                                             README.md, docs/details.md,
#                                             docs/report-page.png, changelog.gz
#                                             and copyright (cmake/debian.cmake),
#                                             share/bash-completion/completions/
#                                             mrl85 and mrl85-report
#   cmake --build <build> --target uninstall  removes what the last install put
#                                             in place (install_manifest.txt)
#   cd <build> && cpack                       package/mrl85_<version>_<arch>.deb
#
# Windows (the MinGW-w64 cross build, scripts/win-package):
#   cmake --install <build> --prefix <dir>   mrl85.exe, mrl85-report.exe,
#                                            README.md, NEWS.md, LICENSE,
#                                            docs/details.md (these with CR LF
#                                            line ends), docs/report-page.png,
#                                            mrl85.html and mrl85-report.html
#                                            side by side
#   cd <build> && cpack                      package/mrl85-<version>-win64.zip
#
# Both packages are reproducible: cmake/cpack-project.cmake dates their files
# SOURCE_DATE_EPOCH (the last commit's time when unset), and
# cmake/zip-sorted.cmake stores the zip's files in a fixed order.
include(GNUInstallDirs)

# The programs installed, each with its manual page of the same name.
set(MRL_PROGRAMS mrl85 mrl85-report)

# The manual pages as installed (build/man/<program>.1): the version in each
# title line is replaced by project(VERSION), so a page never names another
# version than the program. Written anew only when they change, so nothing is
# rebuilt for nothing.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${PROJECT_SOURCE_DIR}/README.md"
             "${PROJECT_SOURCE_DIR}/NEWS.md" "${PROJECT_SOURCE_DIR}/LICENSE" "${PROJECT_SOURCE_DIR}/docs/details.md")
include(cmake/debian.cmake)

# The README as installed, beside the files it links to: the picture and the
# details (docs/report-page.png, docs/details.md) are installed with it. A
# link to a file installed under another name ($renamed, "from=to" items)
# points at that name, and a link to a file that is not installed (the
# developers' documents) becomes its plain text, so that every relative link
# of the installed README leads somewhere.
function(mrl_installed_readme out shipped renamed)
  file(READ "${PROJECT_SOURCE_DIR}/README.md" text)
  # The targets of the relative links "](target)", without their brackets:
  # a list element holding a "]" would not split.
  string(REGEX MATCHALL "\\]\\([^):#]+\\)" targets "${text}")
  string(REPLACE "](" "" targets "${targets}")
  string(REPLACE ")" "" targets "${targets}")
  list(REMOVE_DUPLICATES targets)
  foreach(target IN LISTS targets)
    string(REPLACE "." "\\." pattern "${target}")
    set(to "")
    foreach(item IN LISTS renamed)
      if(item MATCHES "^(.*)=(.*)$" AND CMAKE_MATCH_1 STREQUAL target)
        set(to "${CMAKE_MATCH_2}")
      endif()
    endforeach()
    if(NOT to STREQUAL "")
      string(REGEX REPLACE "\\[${pattern}\\]\\(${pattern}\\)" "[${to}](${to})" text "${text}")
      string(REGEX REPLACE "\\]\\(${pattern}\\)" "](${to})" text "${text}")
    elseif(NOT target IN_LIST shipped)
      string(REGEX REPLACE "\\[([^]]*)\\]\\(${pattern}\\)" "\\1" text "${text}")
    endif()
  endforeach()
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# The documents installed beside the README, by their path in the source.
set(MRL_README_DOCS docs/details.md docs/report-page.png)
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
  foreach(doc README.md NEWS.md LICENSE docs/details.md)
    if(doc STREQUAL "README.md")
      mrl_installed_readme(MRL_DOC "NEWS.md;LICENSE;${MRL_README_DOCS}" "")
    else()
      file(READ "${PROJECT_SOURCE_DIR}/${doc}" MRL_DOC)
    endif()
    string(REPLACE "\r\n" "\n" MRL_DOC "${MRL_DOC}")
    string(REPLACE "\n" "\r\n" MRL_DOC "${MRL_DOC}")
    mrl_write_if_changed("${PROJECT_BINARY_DIR}/doc/${doc}" "${MRL_DOC}")
    get_filename_component(MRL_DOC_SUBDIR "${doc}" DIRECTORY)
    install(FILES "${PROJECT_BINARY_DIR}/doc/${doc}" DESTINATION "./${MRL_DOC_SUBDIR}")
  endforeach()
  install(FILES "${PROJECT_SOURCE_DIR}/docs/report-page.png" DESTINATION docs)
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
      # A reference to the page of another program, "<b>name</b>(1)", links
      # to that page beside it in the package.
      foreach(other IN LISTS MRL_PROGRAMS)
        if(NOT other STREQUAL program)
          string(REPLACE "<b>${other}</b>(1)" "<a href=\"${other}.html\"><b>${other}</b>(1)</a>" MRL_HTML
                         "${MRL_HTML}")
        endif()
      endforeach()
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
  mrl_installed_readme(MRL_README "changelog.gz;copyright;${MRL_README_DOCS}" "NEWS.md=changelog.gz;LICENSE=copyright")
  mrl_write_if_changed("${MRL_DOC_DIR}/README.md" "${MRL_README}")
  install(FILES "${MRL_DOC_DIR}/README.md" "${MRL_DOC_DIR}/changelog.gz" "${MRL_DOC_DIR}/copyright"
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/mrl85)
  install(FILES ${MRL_README_DOCS} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/mrl85/docs)

  # Bash completion of both commands, one file under each command's name in
  # the folder where bash-completion looks for it when that command is
  # completed first.
  foreach(program IN LISTS MRL_PROGRAMS)
    install(FILES completion/mrl85.bash DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions
            RENAME ${program})
  endforeach()

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
  # The dependencies on the shared runtime. When the C++ runtime is linked in
  # (CMakeLists.txt), the C library is the only one: cpack reads the version
  # the programs need from them (cmake/cpack-project.cmake), with or without
  # dpkg-dev. Otherwise dpkg-shlibdeps (package dpkg-dev) computes them, or
  # they are named by hand.
  find_program(MRL_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(MRL_STATIC_CXX_RUNTIME)
    foreach(program IN LISTS MRL_PROGRAMS)
      list(APPEND MRL_PROGRAM_FILES "$<TARGET_FILE:${program}>")
    endforeach()
    set(CPACK_MRL_LIBC_PROGRAMS "${PROJECT_BINARY_DIR}/cpack-programs.txt")
    file(GENERATE OUTPUT "${CPACK_MRL_LIBC_PROGRAMS}" CONTENT "${MRL_PROGRAM_FILES}")
    set(CPACK_MRL_OBJDUMP "${CMAKE_OBJDUMP}")
    if(NOT CMAKE_OBJDUMP)
      message(FATAL_ERROR "objdump (binutils) not found: needed to name the C library version in the package")
    endif()
  elseif(MRL_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libstdc++6, libgcc-s1")
  endif()
endif()

# What cpack runs before and after it makes a package: the date of every
# file and the C library dependency (cmake/cpack-project.cmake), and the zip
# made again in a fixed order (cmake/zip-sorted.cmake).
find_program(MRL_GIT git)
set(CPACK_MRL_GIT "${MRL_GIT}")
set(CPACK_MRL_SOURCE_DIR "${PROJECT_SOURCE_DIR}")
set(CPACK_MRL_CMAKE "${CMAKE_COMMAND}")
set(CPACK_PROJECT_CONFIG_FILE "${PROJECT_SOURCE_DIR}/cmake/cpack-project.cmake")
if(WIN32)
  set(CPACK_POST_BUILD_SCRIPTS "${PROJECT_SOURCE_DIR}/cmake/zip-sorted.cmake")
endif()
include(CPack)
