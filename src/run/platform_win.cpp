// platform_win.cpp: the operating-system services of platform.h on Windows.
// Names are passed to the ANSI functions, as the C runtime's fopen does, so
// every file of a run is found under the same name.
#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstring>

#include "run/platform.h"

namespace {

// What one open handle is: its attributes and its number of names.
bool handle_info(HANDLE h, BY_HANDLE_FILE_INFORMATION* info) { return GetFileInformationByHandle(h, info) != 0; }

// True for a plain file with no other name: no reparse point (a symbolic
// link or junction), no directory, one link.
bool single_plain(const BY_HANDLE_FILE_INFORMATION& info) {
    return (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
           info.nNumberOfLinks == 1;
}

// Opens `name` for writing, creating it if need be, without following a
// link (a link is opened as itself) and without emptying it.
HANDLE open_no_follow(const char* name, DWORD share) {
    return CreateFileA(name, GENERIC_WRITE, share, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A C stream over an open handle; the stream owns the handle afterwards.
std::FILE* stream_of(HANDLE h, int text_flag, const char* mode) {
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | text_flag);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* fp = _fdopen(fd, mode);
    if (fp == nullptr) _close(fd);
    return fp;
}

}  // namespace

// The C runtime marks descriptors 0, 1 and 2 as in use at start-up even
// when the process has no handle for them (writes there then fail quietly),
// so no file the run opens can take their place.
void std_streams_open() {}

// Windows raises no signal for a failed write.
void write_signals_ignore() {}

void signal_safe_write(const char* text, size_t n) { (void)_write(1, text, static_cast<unsigned>(n)); }

std::FILE* trace_create(const char* name) {
    HANDLE h = open_no_follow(name, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (!handle_info(h, &info) || !single_plain(info) || !SetEndOfFile(h)) {
        CloseHandle(h);
        return nullptr;
    }
    // Text mode: each line feed of the log is written as CR LF.
    return stream_of(h, _O_TEXT, "w");
}

// The lock is the share mode: while this run has the file open, no other
// open for writing succeeds, and the rename and removal this run makes
// itself stay allowed. The held handle is a duplicate of the stream's, so
// the file stays open and locked after the stream is closed.
int temp_create(const std::string& name, std::FILE** fp, FileHold* hold) {
    const char* path = name.c_str();
    for (int tries = 0; tries < 4; ++tries) {
        HANDLE h = open_no_follow(path, FILE_SHARE_READ | FILE_SHARE_DELETE);
        if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION ? kTempHeld : kTempFailed;
        BY_HANDLE_FILE_INFORMATION info;
        if (!handle_info(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            CloseHandle(h);
            return kTempFailed;
        }
        if (!single_plain(info)) {  // a link: remove the name, never write through it
            CloseHandle(h);
            if (!DeleteFileA(path)) return kTempFailed;
            continue;
        }
        HANDLE keep = INVALID_HANDLE_VALUE;
        if (!SetEndOfFile(h) ||
            !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &keep, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
            CloseHandle(h);
            return kTempFailed;
        }
        std::FILE* f = stream_of(h, _O_BINARY, "wb");
        if (f == nullptr) {
            CloseHandle(keep);
            return kTempFailed;
        }
        *fp = f;
        *hold = reinterpret_cast<FileHold>(keep);
        return kTempOk;
    }
    return kTempFailed;
}

// Windows files carry no POSIX permission bits: the replacement gets the
// access rights of its directory, like every new file there.
bool hold_copy_mode(FileHold, const std::string& like) {
    DWORD attr = GetFileAttributesA(like.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool hold_sync(FileHold hold) { return FlushFileBuffers(reinterpret_cast<HANDLE>(hold)) != 0; }

void hold_release(FileHold hold) {
    if (hold != kNoHold) CloseHandle(reinterpret_cast<HANDLE>(hold));
}

// Write-through: the call returns once the rename is on the disk, which is
// what a sync of the directory gives on POSIX.
bool file_replace(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

// MoveFileEx with write-through has made each rename durable already.
void dir_sync(const std::string&) {}

// Committed memory of the process's own; large pages need a privilege that
// a user's run does not have, so the pages are the ordinary ones.
void* table_memory_grow(void* old, size_t old_bytes, size_t new_bytes) {
    void* p = VirtualAlloc(nullptr, new_bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (p == nullptr) return nullptr;
    if (old != nullptr) {
        std::memcpy(p, old, old_bytes);
        VirtualFree(old, 0, MEM_RELEASE);
    }
    return p;
}

void table_memory_free(void* block, size_t) {
    if (block != nullptr) VirtualFree(block, 0, MEM_RELEASE);
}

#endif
