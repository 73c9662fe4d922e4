# Run by cpack after it made the Windows zip (CPACK_POST_BUILD_SCRIPTS, set
# in cmake/packaging.cmake): makes the zip again from the same files, in the
# order of their names. cpack stores them in the order the file system
# lists the folder, which can differ between two folders or machines; with
# the files in a fixed order, dated SOURCE_DATE_EPOCH (cmake/cpack-project.cmake)
# and the time zone fixed to UTC (a zip stores local times), two builds of one
# source give the same zip.
foreach(MRL_ZIP IN LISTS CPACK_PACKAGE_FILES)
  if(NOT MRL_ZIP MATCHES "\\.zip$")
    continue()
  endif()
  # The staged folder is CPACK_TEMPORARY_DIRECTORY, named as the package's
  # top folder; the zip holds its files under that name.
  get_filename_component(MRL_STAGE "${CPACK_TEMPORARY_DIRECTORY}" DIRECTORY)
  file(GLOB_RECURSE MRL_FILES LIST_DIRECTORIES false RELATIVE "${MRL_STAGE}" "${CPACK_TEMPORARY_DIRECTORY}/*")
  if(NOT MRL_FILES)
    message(FATAL_ERROR "no staged files of ${MRL_ZIP} in ${CPACK_TEMPORARY_DIRECTORY}")
  endif()
  list(SORT MRL_FILES)
  file(REMOVE "${MRL_ZIP}")
  execute_process(COMMAND "${CPACK_MRL_CMAKE}" -E env TZ=UTC "SOURCE_DATE_EPOCH=$ENV{SOURCE_DATE_EPOCH}"
                          "${CPACK_MRL_CMAKE}" -E tar cf "${MRL_ZIP}" --format=zip -- ${MRL_FILES}
                  WORKING_DIRECTORY "${MRL_STAGE}" RESULT_VARIABLE MRL_STATUS)
  if(NOT MRL_STATUS EQUAL 0 OR NOT EXISTS "${MRL_ZIP}")
    message(FATAL_ERROR "could not make ${MRL_ZIP} again in a fixed order (${MRL_STATUS})")
  endif()
endforeach()
