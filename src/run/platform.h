// platform.h: what mrl85 needs from the operating system beyond the standard
// library: standard streams that are surely open, write signals that do not
// kill the run, interrupts that clean up, one notion of "the same file"
// whatever the names, outputs, a trace log and temporary outputs that are
// never written through a link or into a file of somebody else, in place a
// replacement that is all or nothing, inputs read in place through a
// mapping whose faults do not end the run, and a helper thread for the
// symbol passes where there is one.
//
// One implementation per platform, each in its own file:
// platform_posix.cpp and platform_win.cpp. Names are bytes as they came on
// the command line; on Windows they are read in the process's ANSI code page
// (UTF-8 under the program's manifest), as the C runtime's fopen reads them.
#ifndef MRL_PLATFORM_H
#define MRL_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

// An open file that this run keeps (a descriptor on POSIX, a handle on
// Windows): a temporary output stays open from its creation until it has
// been renamed or removed, so that the run can tell whether its name still
// names the file it made.
using FileHold = intptr_t;
inline constexpr FileHold kNoHold = -1;

// Opens the null device on each of standard input, output and error that the
// run was started without, so that no file the run opens takes its place.
void std_streams_open();

// Whether the run was started without standard output (to be asked before
// std_streams_open puts the null device there).
bool std_output_closed();

// Whether the error `err` of a failed write (errno) says that the reader of
// a pipe has gone: then a run stops quietly, as a filter before "head" does.
bool write_error_closed_pipe(int err);

// Ignores the signals that a failing write raises (a closed pipe, the file
// size limit), so such a write fails like any other write instead of killing
// the process between two passes.
void write_signals_ignore();

// Installs `handler` for the interrupts that end a run from outside: Ctrl-C,
// termination and hang-up on POSIX; Ctrl-C, Ctrl-Break and the closing of
// the console on Windows. The handler is called with SIGINT for Ctrl-C and
// with another number for the others, and never returns.
void interrupts_install(void (*handler)(int));

// Holds interrupts back until interrupts_release: the replacement of the
// inputs and the creation of an output happen whole or not at all as far as
// an interrupt can tell. Calls do not nest.
void interrupts_hold();
void interrupts_release();

// Ends the process as the interrupt `sig` (not Ctrl-C) would have ended it
// without a handler. Safe in the handler.
[[noreturn]] void interrupt_end(int sig);

// Writes `n` bytes to standard output with nothing but a system call; safe in
// a signal handler.
void signal_safe_write(const char* text, size_t n);

// True when `a` and `b` both name an existing file and it is one file, as
// the operating system identifies files (device and inode; volume serial and
// file index), whatever the spelling, links, letter case or drive letter.
bool same_file(const std::string& a, const std::string& b);

// True when the base name `name` ends in a device name that the platform
// opens instead of a file (Windows: CON, PRN, AUX, NUL, COM1-COM9 and
// COM with a superscript 1-3, the same for LPT, any case, trailing blanks
// and dots ignored, also when a colon follows, as in "AUX:"). Always false
// on POSIX.
bool device_name(const std::string& name);

// The rule of device_name on Windows, for any platform's tests.
bool windows_device_name(std::string_view name);

// How output_create went.
enum OutputResult {
    kOutputMade = 0,      // a regular file of this run's own: new, emptied, or made afresh
    kOutputDevice = 1,    // a device or a pipe, opened as it is (only with kOutputDevices)
    kOutputNotAFile = 2,  // a FIFO, device or socket bears the name: left alone, not waited on
    kOutputInUse = 3,     // the name leads to one of the files `others` names: left alone
    kOutputFailed = 4,    // it could not be opened (a directory), removed or created
};

// Options of output_create.
enum OutputFlags {
    kOutputText = 1,     // Windows: a text stream, each line feed written as CR LF
    kOutputDevices = 2,  // a device or a pipe that the name leads to is written to as it is
};

// Creates the output `name` for writing (binary unless kOutputText), never
// through another file. The name is opened as itself (a link is not
// followed), created if there is nothing, never emptied and never waited on
// (a FIFO) before it is known what it is; then, on the open file:
//  - a regular file with one name, which is not one of the files the names
//    `others` lead to (an empty name stands for none), is emptied and kept,
//    with its permission bits and owner;
//  - a symbolic link (or other reparse point) or a regular file with more
//    than one name is removed, and a new file created exclusively in its
//    place: the file behind it stays as it was;
//  - one of the files of `others` (also through a link) is kOutputInUse,
//    and anything else kOutputNotAFile; both are left as they are.
// With kOutputDevices, a name that leads to a device or a pipe is opened
// through its links as it is, without being created or emptied (a FIFO
// then waits for its reader), and so is a name that leads to the file of
// the program's own standard output or error (/dev/stdout), which is then
// emptied. On kOutputMade and kOutputDevice `*fp` is the stream; on
// kOutputMade `*hold`, unless null, keeps the file open after the stream is
// closed, until hold_release, so that the file can be removed only while
// its name still names it (hold_remove). On POSIX, errno says why it failed
// when the system said.
OutputResult output_create(const std::string& name, const std::vector<std::string>& others, int flags, std::FILE** fp,
                           FileHold* hold);

// Opens the null device for writing (binary): an output whose bytes are
// not wanted, for a caller that runs a pass only for its decisions.
std::FILE* null_output_open();

// A temporary file for a program's own scratch data (binary, written and
// read back), in the user's temporary folder (TMPDIR on POSIX, /tmp when it
// names none; GetTempPath on Windows), which the system removes when it is
// closed or the process ends. `*name` gets the name it was made under, for
// messages. Null when none can be made.
std::FILE* scratch_open(std::string* name);

// Hands the memory the program has freed back to the system, where the
// allocator would keep it for later use (glibc keeps freed blocks in its
// heap): for a program that frees much before its next step needs memory
// of other sizes.
void memory_give_back();

// Results of temp_create.
enum TempResult { kTempOk = 0, kTempTaken = 1, kTempFailed = 2 };

// Creates the temporary output `name` of an in-place run as a new file of
// this run: exclusively (a file, link, directory or device bearing the name
// is left alone: kTempTaken), readable and writable by its owner only. On
// kTempOk `*fp` is a binary stream for writing and `*hold` keeps the file
// open after the stream is closed, until hold_release.
int temp_create(const std::string& name, std::FILE** fp, FileHold* hold);

// True when `name` still names the held file.
bool hold_named(FileHold hold, const std::string& name);

// Removes `name` if it still names the held file; a file that another
// process put under the name is left alone. Safe in a signal handler.
void hold_remove(FileHold hold, const char* name);

// Gives the held file the permission bits (and, where allowed, the owner
// and group; on Windows the read-only attribute) of the regular file `like`.
// Where the system has them (Linux), its POSIX access ACL and its "user."
// extended attributes come along; a file system that has none, or refuses
// them, is no failure. 0 done; 1 `like` is no regular file, so the caller
// can take another; -1 the held file could not be given the mode.
int hold_copy_mode(FileHold hold, const std::string& like);

// Brings the held file's data to stable storage; false on failure.
bool hold_sync(FileHold hold);

// Closes the held file.
void hold_release(FileHold hold);

// True when something (a file, a link, a folder) bears the name `name`;
// a link is not followed.
bool name_taken(const std::string& name);

// Removes the file `name`; false when it cannot be removed. Safe in a
// signal handler.
bool file_remove(const char* name);

// True when nothing keeps the file `name` from being replaced by a rename:
// it is no directory, and on Windows no other process holds it open
// without allowing its deletion. True when there is no such file.
bool file_replaceable(const std::string& name);

// What file_keep_aside did.
enum class Aside {
    kNoFile,  // there is no file `name`: nothing needs keeping
    kLinked,  // `aside` is a hard link to the file
    kCopied,  // `aside` is a copy of the file, complete and on stable storage
    kFailed,  // nothing was made; `name` is as it was
};

// Keeps the existing file `name` under the new name `aside` as well, so that
// it survives its replacement, while `name` itself stays as it is: a hard
// link where the file system has them and this run could remove the link
// again (in a folder with the sticky bit, only the owner of the file or of
// the folder may); otherwise a copy (bytes, mode, owner where allowed), made
// under the name `copy` and given the name `aside` only once it is complete
// and on stable storage, so that a file under `aside` is always a whole
// original. `aside` must not exist, nor `copy`; what is made is removed
// again when it fails.
Aside file_keep_aside(const std::string& name, const std::string& aside, const std::string& copy);

// Renames `from` to `to`, replacing a file that bears the name `to` in one
// step (also a read-only one). False on failure.
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

// What identifies one state of an open file: its identity, size and time of
// last modification.
struct FileStamp {
    uint64_t dev = 0, ino = 0, size = 0;
    int64_t mtime_ns = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the open stream `fp`; false when it cannot be had.
bool file_stamp(std::FILE* fp, FileStamp* stamp);

// A read-only mapping of a whole input file, read in place instead of
// copied into a block. `watch` is the mapping's place among those the fault
// handler watches; `handle` what else the platform keeps for it (Windows:
// the mapping object and the handle that keeps writers out).
struct InputMap {
    const char* data = nullptr;
    size_t size = 0;
    int watch = -1;
    intptr_t handle = 0, guard = 0;
};

// Whether inputs are mapped at all: a build with MRL_MAP_INPUTS=OFF reads
// every input into the block, to measure the one way against the other.
#ifdef MRL_NO_INPUT_MAP
inline constexpr bool kMapInputs = false;
#else
inline constexpr bool kMapInputs = true;
#endif

// Which pass reads an input: on some platforms it decides whether the
// input is mapped (input_map).
enum class InputPass { kHex, kSym };

// Maps the open input stream `fp`, which `pass` reads, whole, read-only.
// False, with nothing made, when it cannot be or should not be: not a
// regular file, empty, no address space left, a network file or one that
// another process may write (Windows), a HEX file on Windows, or a build
// without mappings; the caller then reads the file.
// While a mapping exists, a fault on reading it (the file cut short by
// another process: SIGBUS on POSIX, an in-page error on Windows) does not
// end the process: the pages from the fault on read as zeros, and
// input_map_faulted tells it.
bool input_map(std::FILE* fp, InputPass pass, InputMap* map);

// Gives the mapping back (nothing when there is none); the handler goes
// with the last one.
void input_unmap(InputMap* map);

// True when reading the mapping met a fault, so that what was read from the
// fault on is not the file's.
bool input_map_faulted(const InputMap& map);

// A helper thread, where the platform gives one: helper_start runs fn(arg)
// on it, and is false when it cannot (the caller then does the work
// itself); helper_join waits for it to end, and returns at once when none
// runs. One helper at a time. The helper takes no interrupt: those go to the
// thread that runs the passes and cleans up. No mapping is given back while
// a helper runs (input_unmap waits for it).
bool helper_start(void (*fn)(void*), void* arg);
void helper_join();

// What a helper keeps apart from the thread that runs the passes is declared
// MRL_HELPER_LOCAL: its own on each thread where there are helpers, and a
// plain variable on Windows, where there are none and where a thread's own
// variable would cost a call at each use.
#ifdef _WIN32
#define MRL_HELPER_LOCAL
#else
#define MRL_HELPER_LOCAL thread_local
#endif

#endif
