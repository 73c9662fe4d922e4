# The two files every Debian package carries in /usr/share/doc/mrl85/, made
# from the project's own files so that nothing is written twice:
#   changelog.gz  from NEWS.md, one entry per release, gzip -9n;
#   copyright     from LICENSE, in the machine-readable copyright format.

# The day of the week (Mon ... Sun) of a date, for the changelog's date line.
function(mrl_weekday out year month day)
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR index "${month} - 1")
  list(GET offsets ${index} offset)
  if(month LESS 3)
    math(EXPR year "${year} - 1")
  endif()
  math(EXPR dow "(${year} + ${year} / 4 - ${year} / 100 + ${year} / 400 + ${offset} + ${day}) % 7")
  set(names Sun Mon Tue Wed Thu Fri Sat)
  list(GET names ${dow} name)
  set(${out} "${name}" PARENT_SCOPE)
endfunction()

# NEWS.md as a Debian changelog. A release starts at "## 1.2.3 (YYYY-MM-DD)";
# each "- " item becomes a "  * " entry, its indented lines follow it; other
# lines (the title, prose) are not carried over. Sets ${out_version} to the
# newest release named there.
function(mrl_debian_changelog news out maintainer out_version)
  mrl_read_lines("${news}" lines)
  set(text "")
  set(open "")
  set(newest "")
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  foreach(line IN LISTS lines)
    string(REPLACE "${MRL_SEMICOLON}" ";" line "${line}")
    if(line MATCHES "^## ([0-9]+\\.[0-9]+\\.[0-9]+) \\(([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])\\)$")
      set(version "${CMAKE_MATCH_1}")
      set(y "${CMAKE_MATCH_2}")
      math(EXPR m "${CMAKE_MATCH_3}")
      math(EXPR d "${CMAKE_MATCH_4}")
      set(dd "${CMAKE_MATCH_4}")
      mrl_weekday(wd ${y} ${m} ${d})
      math(EXPR mi "${m} - 1")
      list(GET months ${mi} mon)
      string(APPEND text "${open}mrl85 (${version}) unstable; urgency=medium\n\n")
      set(open "\n -- ${maintainer}  ${wd}, ${dd} ${mon} ${y} 12:00:00 +0000\n\n")
      if(newest STREQUAL "")
        set(newest "${version}")
      endif()
    elseif(open STREQUAL "")
      continue()
    elseif(line MATCHES "^- (.*)$")
      string(APPEND text "  * ${CMAKE_MATCH_1}\n")
    elseif(line MATCHES "^  +(.*)$")
      string(APPEND text "    ${CMAKE_MATCH_1}\n")
    endif()
  endforeach()
  if(newest STREQUAL "")
    message(FATAL_ERROR "${news} names no release (a line \"## 1.2.3 (YYYY-MM-DD)\")")
  endif()
  string(REGEX REPLACE "\n\n$" "\n" closing "${open}")
  string(APPEND text "${closing}")
  mrl_write_gzip("${out}" "${text}")
  set(${out_version} "${newest}" PARENT_SCOPE)
endfunction()

# LICENSE as /usr/share/doc/mrl85/copyright: its "Copyright (c) ..." line
# gives the Copyright field, the text from the permission notice on is the
# licence (MIT, named Expat in this format).
function(mrl_debian_copyright license out contact)
  mrl_read_lines("${license}" lines)
  set(holder "")
  set(body "")
  set(in_body FALSE)
  foreach(line IN LISTS lines)
    string(REPLACE "${MRL_SEMICOLON}" ";" line "${line}")
    if(holder STREQUAL "" AND line MATCHES "^Copyright \\(c\\) (.+)$")
      set(holder "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^Permission is hereby granted")
      set(in_body TRUE)
    endif()
    if(in_body)
      if(line STREQUAL "")
        string(APPEND body " .\n")
      else()
        string(APPEND body " ${line}\n")
      endif()
    endif()
  endforeach()
  if(holder STREQUAL "" OR body STREQUAL "")
    message(FATAL_ERROR "${license}: no \"Copyright (c)\" line or no permission notice")
  endif()
  string(CONCAT text
         "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
         "Upstream-Name: mrl85\n"
         "Upstream-Contact: ${contact}\n"
         "\n"
         "Files: *\n"
         "Copyright: ${holder}\n"
         "License: Expat\n"
         "${body}")
  mrl_write_if_changed("${out}" "${text}")
endfunction()

# The lines of a text file as a list, empty lines included. A ";" would
# split a list element, so it stands as ${MRL_SEMICOLON} in the list.
string(ASCII 26 MRL_SEMICOLON)
function(mrl_read_lines file out)
  file(READ "${file}" text)
  string(REPLACE "\r" "" text "${text}")
  string(REPLACE ";" "${MRL_SEMICOLON}" text "${text}")
  string(REPLACE "\n" ";" text "${text}")
  set(${out} "${text}" PARENT_SCOPE)
endfunction()

# Writes a file only when its text changes, so nothing is rebuilt or
# repackaged for nothing.
function(mrl_write_if_changed out text)
  set(old "")
  if(EXISTS "${out}")
    file(READ "${out}" old)
  endif()
  if(NOT old STREQUAL text)
    file(WRITE "${out}" "${text}")
  endif()
endfunction()

# Writes text gzip-compressed as Debian wants it: best compression and no
# name or time stamp in the header (gzip -9n), so the same text always gives
# the same bytes.
function(mrl_write_gzip out text)
  mrl_write_if_changed("${out}.plain" "${text}")
  if(NOT EXISTS "${out}" OR "${out}.plain" IS_NEWER_THAN "${out}")
    find_program(MRL_GZIP gzip REQUIRED)
    execute_process(COMMAND "${MRL_GZIP}" -9n -c "${out}.plain" OUTPUT_FILE "${out}" RESULT_VARIABLE status)
    if(NOT status EQUAL 0)
      message(FATAL_ERROR "gzip failed on ${out}.plain (${status})")
    endif()
  endif()
endfunction()
