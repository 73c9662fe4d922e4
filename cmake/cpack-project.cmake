# Run by cpack before it makes a package (CPACK_PROJECT_CONFIG_FILE, set in
# cmake/packaging.cmake, which passes the CPACK_MRL_* variables).
#
# Reproducible packages: cpack dates every file of the .deb and the zip
# SOURCE_DATE_EPOCH when that is set, and with the same date two builds of
# one source give the same bytes. When it is not set, it is set here to the
# time of the last commit when the source is a git checkout, otherwise (a
# release archive) to the start (UTC) of the newest date in NEWS.md.
#
# The Debian package's dependency on the C library, when only the C library
# is linked shared: libc6 at least as new as the newest GLIBC_x.y symbol
# version the programs use, read from them with objdump -T. That needs only
# binutils, which the build has anyway, so a package built without dpkg-dev
# carries the same Depends field as one built with it.

# Days from 1970-01-01 to the date Y-M-D (proleptic Gregorian calendar).
function(mrl_days_from_civil out y m d)
  math(EXPR m "${m}")  # "08" is 8
  math(EXPR d "${d}")
  if(m LESS_EQUAL 2)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR era "${y} / 400")
  math(EXPR yoe "${y} - ${era} * 400")
  math(EXPR mp "(${m} + 9) % 12")
  math(EXPR doy "(153 * ${mp} + 2) / 5 + ${d} - 1")
  math(EXPR doe "${yoe} * 365 + ${yoe} / 4 - ${yoe} / 100 + ${doy}")
  math(EXPR days "${era} * 146097 + ${doe} - 719468")
  set(${out} "${days}" PARENT_SCOPE)
endfunction()

# The time of the last commit, when the source directory is the top of a
# git checkout (not a folder inside some other repository).
function(mrl_commit_epoch out)
  set(${out} "" PARENT_SCOPE)
  if(NOT CPACK_MRL_GIT)
    return()
  endif()
  execute_process(COMMAND "${CPACK_MRL_GIT}" -C "${CPACK_MRL_SOURCE_DIR}" rev-parse --show-toplevel
                  OUTPUT_VARIABLE top RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(NOT status EQUAL 0)
    return()
  endif()
  file(REAL_PATH "${top}" top)
  file(REAL_PATH "${CPACK_MRL_SOURCE_DIR}" source)
  if(NOT top STREQUAL source)
    return()
  endif()
  execute_process(COMMAND "${CPACK_MRL_GIT}" -C "${CPACK_MRL_SOURCE_DIR}" log -1 --format=%ct
                  OUTPUT_VARIABLE epoch RESULT_VARIABLE status OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(status EQUAL 0 AND epoch MATCHES "^[0-9]+$")
    set(${out} "${epoch}" PARENT_SCOPE)
  endif()
endfunction()

# The start of the newest release date named in NEWS.md ("## 1.2.3 (YYYY-MM-DD)").
function(mrl_news_epoch out)
  file(STRINGS "${CPACK_MRL_SOURCE_DIR}/NEWS.md" dates REGEX "^## [0-9]+\\.[0-9]+\\.[0-9]+ \\([0-9-]+\\)")
  set(newest "")
  foreach(line IN LISTS dates)
    if(line MATCHES "\\(([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\\)$")
      set(date "${CMAKE_MATCH_1}${CMAKE_MATCH_2}${CMAKE_MATCH_3}")
      if(newest STREQUAL "" OR date GREATER newest)
        set(newest "${date}")
        mrl_days_from_civil(days "${CMAKE_MATCH_1}" "${CMAKE_MATCH_2}" "${CMAKE_MATCH_3}")
      endif()
    endif()
  endforeach()
  if(newest STREQUAL "")
    message(FATAL_ERROR "NEWS.md names no release date, and SOURCE_DATE_EPOCH is not set")
  endif()
  math(EXPR epoch "${days} * 86400")
  set(${out} "${epoch}" PARENT_SCOPE)
endfunction()

if("$ENV{SOURCE_DATE_EPOCH}" STREQUAL "")
  mrl_commit_epoch(MRL_EPOCH)
  if(MRL_EPOCH STREQUAL "")
    mrl_news_epoch(MRL_EPOCH)
  endif()
  set(ENV{SOURCE_DATE_EPOCH} "${MRL_EPOCH}")
endif()

if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_MRL_LIBC_PROGRAMS)
  file(READ "${CPACK_MRL_LIBC_PROGRAMS}" MRL_PROGRAM_FILES)
  set(MRL_LIBC "")
  foreach(program IN LISTS MRL_PROGRAM_FILES)
    execute_process(COMMAND "${CPACK_MRL_OBJDUMP}" -T "${program}" OUTPUT_VARIABLE symbols RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "objdump -T ${program} failed (${status}): cannot name the C library version it needs")
    endif()
    string(REGEX MATCHALL "GLIBC_[0-9]+(\\.[0-9]+)+" versions "${symbols}")
    foreach(version IN LISTS versions)
      string(REPLACE "GLIBC_" "" version "${version}")
      if(MRL_LIBC STREQUAL "" OR version VERSION_GREATER MRL_LIBC)
        set(MRL_LIBC "${version}")
      endif()
    endforeach()
  endforeach()
  if(MRL_LIBC STREQUAL "")
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6")
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= ${MRL_LIBC})")
  endif()
endif()
