# Windows builds of mrl85 and mrl85-report: the application manifest that
# makes each program run in the UTF-8 code page (src/run/windows/mrl85.manifest,
# one for both), and a version resource of each.
#
# MinGW-w64 compiles both into each program as resources (mrl85.rc and
# src/report/windows/mrl85-report.rc, with the resource compiler windres);
# MSVC's linker takes the manifest file itself and merges it with the one it
# writes anyway (that untested build has no version resource).
if(NOT WIN32)
  return()
endif()

set(MRL_WINDOWS_DIR "${PROJECT_SOURCE_DIR}/src/run/windows")
set(MRL_REPORT_WINDOWS_DIR "${PROJECT_SOURCE_DIR}/src/report/windows")
if(MSVC)
  target_sources(mrl85 PRIVATE "${MRL_WINDOWS_DIR}/mrl85.manifest")
  target_sources(mrl85-report PRIVATE "${MRL_WINDOWS_DIR}/mrl85.manifest")
else()
  enable_language(RC)
  target_sources(mrl85 PRIVATE "${MRL_WINDOWS_DIR}/mrl85.rc")
  target_sources(mrl85-report PRIVATE "${MRL_REPORT_WINDOWS_DIR}/mrl85-report.rc")
  # windres finds the manifest named in mrl85.rc beside it, and the
  # generated mrl_version.h on the include path mrl85 has from mrlcore.
  # mrl85-report.rc names the same manifest, found through the directory of
  # mrl85.rc on its include path: one manifest for both programs.
  set_property(SOURCE "${MRL_WINDOWS_DIR}/mrl85.rc" APPEND PROPERTY OBJECT_DEPENDS "${MRL_WINDOWS_DIR}/mrl85.manifest"
               "${MRL_GENERATED_DIR}/mrl_version.h")
  set_property(SOURCE "${MRL_REPORT_WINDOWS_DIR}/mrl85-report.rc" APPEND PROPERTY INCLUDE_DIRECTORIES
               "${MRL_WINDOWS_DIR}")
  set_property(SOURCE "${MRL_REPORT_WINDOWS_DIR}/mrl85-report.rc" APPEND PROPERTY OBJECT_DEPENDS
               "${MRL_WINDOWS_DIR}/mrl85.manifest" "${MRL_GENERATED_DIR}/mrl_version.h")
endif()
