# Windows builds of mrl85: the application manifest that makes the program
# run in the UTF-8 code page (src/run/windows/mrl85.manifest), and a version
# resource.
#
# MinGW-w64 compiles both into the program as resources (mrl85.rc, with the
# resource compiler windres); MSVC's linker takes the manifest file itself and
# merges it with the one it writes anyway (that untested build has no version
# resource).
if(NOT WIN32)
  return()
endif()

set(MRL_WINDOWS_DIR "${PROJECT_SOURCE_DIR}/src/run/windows")
if(MSVC)
  target_sources(mrl85 PRIVATE "${MRL_WINDOWS_DIR}/mrl85.manifest")
else()
  enable_language(RC)
  target_sources(mrl85 PRIVATE "${MRL_WINDOWS_DIR}/mrl85.rc")
  # windres finds the manifest named in mrl85.rc beside it, and the
  # generated mrl_version.h on the include path mrl85 has from mrlcore.
  set_property(SOURCE "${MRL_WINDOWS_DIR}/mrl85.rc" APPEND PROPERTY OBJECT_DEPENDS "${MRL_WINDOWS_DIR}/mrl85.manifest"
               "${MRL_GENERATED_DIR}/mrl_version.h")
endif()
