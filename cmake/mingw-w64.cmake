# Cross-compiling mrl85 for 64-bit Windows with the MinGW-w64 compiler
# (Debian package g++-mingw-w64-x86-64). Used by scripts/mingw:
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DMRL_TESTS=OFF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_PREFIX x86_64-w64-mingw32)

# The posix threading variant of the compiler is preferred: its libstdc++ has
# the full thread and filesystem support. The default variant is the fallback.
find_program(MINGW_CXX NAMES ${MINGW_PREFIX}-g++-posix ${MINGW_PREFIX}-g++ REQUIRED)
find_program(MINGW_RC NAMES ${MINGW_PREFIX}-windres)
set(CMAKE_CXX_COMPILER ${MINGW_CXX})
if(MINGW_RC)
  set(CMAKE_RC_COMPILER ${MINGW_RC})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# One self-contained mrl85.exe: the C++ runtime and the thread library are
# linked in, so the program runs without any MinGW DLL beside it. The linker
# writes no time stamp into the program's header, so that two builds of one
# source give the same bytes.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++ -Wl,--no-insert-timestamp")
