# Removes the files that the last `cmake --install` of this build directory
# put in place, as CMake listed them in install_manifest.txt; run by the
# target "uninstall" (cmake --build <build> --target uninstall) in the build
# directory. The manifest lists the paths without DESTDIR, so an install
# with DESTDIR set is undone with the same DESTDIR. Files already gone are
# reported and skipped; directories are left, since others may share them.
set(manifest "${CMAKE_CURRENT_BINARY_DIR}/install_manifest.txt")
if(NOT EXISTS "${manifest}")
  message(FATAL_ERROR "${manifest} not found: nothing was installed from this build directory")
endif()
file(STRINGS "${manifest}" files)
set(failed "")
foreach(f IN LISTS files)
  if(IS_SYMLINK "$ENV{DESTDIR}${f}" OR EXISTS "$ENV{DESTDIR}${f}")
    message(STATUS "Removing: $ENV{DESTDIR}${f}")
    file(REMOVE "$ENV{DESTDIR}${f}")
    if(IS_SYMLINK "$ENV{DESTDIR}${f}" OR EXISTS "$ENV{DESTDIR}${f}")
      list(APPEND failed "$ENV{DESTDIR}${f}")
    endif()
  else()
    message(STATUS "Not there: $ENV{DESTDIR}${f}")
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "could not remove: ${failed}")
endif()
