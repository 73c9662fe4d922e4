// platform.h: what mrl85 needs from the operating system beyond the standard
// library: standard streams that are surely open, write signals that do not
// kill the run, a trace log and temporary outputs that are never written
// through a link, and in place a replacement that keeps the input's
// permission bits and reaches the disk before it takes the input's name.
//
// One implementation per platform, each in its own file:
// platform_posix.cpp and platform_win.cpp.
#ifndef MRL_PLATFORM_H
#define MRL_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// An open file that this run keeps (a descriptor on POSIX, a handle on
// Windows): the lock on a temporary output lasts as long as it is open.
using FileHold = intptr_t;
inline constexpr FileHold kNoHold = -1;

// Opens the null device on each of standard input, output and error that the
// run was started without, so that no file the run opens takes its place.
void std_streams_open();

// Ignores the signals that a failing write raises (a closed pipe, the file
// size limit), so such a write fails like any other write instead of killing
// the process between two passes.
void write_signals_ignore();

// Writes `n` bytes to standard output with nothing but a system call; safe in
// a signal handler.
void signal_safe_write(const char* text, size_t n);

// Creates the trace log `name` for writing (text mode) and empties it, only
// if it is a plain file of its own: never through a symbolic link, never into
// a file with another hard link. Null when it cannot be created or is not
// such a file, which is then left as it was.
std::FILE* trace_create(const char* name);

// Results of temp_create.
enum TempResult { kTempOk = 0, kTempHeld = 1, kTempFailed = 2 };

// Creates or reuses the temporary output `name` of an in-place run: a link
// bearing the name is removed first, the file is opened without following
// links, locked against other runs, and only then emptied. On kTempOk `*fp`
// is a binary stream for writing and `*hold` keeps the file open and locked
// after the stream is closed, until hold_release. kTempHeld: another run
// holds the file; nothing was changed.
int temp_create(const std::string& name, std::FILE** fp, FileHold* hold);

// Gives the held file the permission bits (and, where allowed, the owner
// and group) of the regular file `like`. False when `like` is no regular
// file, so the caller can take another.
bool hold_copy_mode(FileHold hold, const std::string& like);

// Brings the held file's data to stable storage; false on failure.
bool hold_sync(FileHold hold);

// Closes the held file, which ends the lock.
void hold_release(FileHold hold);

// Renames `from` to `to`, replacing a file that bears the name `to` in one
// step. False on failure.
bool file_replace(const std::string& from, const std::string& to);

// Memory for a table that grows in large steps: a block of `new_bytes` that
// begins with the `old_bytes` of `old` (null: none), or null when there is no
// such memory, `old` then left as it was. The old block is given back. Where
// the platform offers them, a block of 2 MiB or more is backed by huge pages,
// so that a growing table takes its memory in a few large faults instead of
// one per 4 KiB page, and it is grown without being copied.
void* table_memory_grow(void* old, size_t old_bytes, size_t new_bytes);

// Gives back a block of table_memory_grow.
void table_memory_free(void* block, size_t bytes);

// Brings the directory that holds the file `name` (its renames) to stable
// storage where the platform can; failures are ignored.
void dir_sync(const std::string& name);

#endif
