// platform_win.cpp: the operating-system services of platform.h on Windows.
// Names are passed to the ANSI functions, as the C runtime's fopen does, so
// every file of a run is found under the same name.
#ifdef _WIN32

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <cwchar>

#include "run/platform.h"

namespace {

// What identifies a file on Windows: the serial number of its volume and
// its file index (128 bits where the file system has them).
struct FileKey {
    uint64_t volume = 0;
    unsigned char id[16] = {};
    bool operator==(const FileKey&) const = default;
};

// The key of the file open as `h`. The 128-bit id where the system has it;
// otherwise the 64-bit index, which NTFS also gives as the low half of its
// 128-bit id, so a key means the same whichever way it was had.
bool handle_key(HANDLE h, FileKey* key) {
    FILE_ID_INFO fid;
    if (GetFileInformationByHandleEx(h, FileIdInfo, &fid, sizeof fid)) {
        key->volume = fid.VolumeSerialNumber;
        std::memcpy(key->id, fid.FileId.Identifier, sizeof key->id);
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) return false;
    const uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
    key->volume = info.dwVolumeSerialNumber;
    std::memset(key->id, 0, sizeof key->id);
    std::memcpy(key->id, &index, sizeof index);
    return true;
}

// The key of each file this run holds, taken when the file was made. A
// file's identity never changes, but what a handle says of it can: wine
// answers volume serial 0 for a handle whose file was renamed through
// another handle, as every temporary is. Room for every output slot.
struct HeldKey {
    FileHold hold = kNoHold;
    FileKey key;
};
HeldKey held_keys[8];

void held_key_note(FileHold hold, const FileKey& key) {
    for (HeldKey& k : held_keys)
        if (k.hold == kNoHold) {
            k.key = key;
            k.hold = hold;
            return;
        }
}

// The key of the held file: the one noted when it was made, else what its
// handle says now.
bool held_key(FileHold hold, FileKey* key) {
    for (const HeldKey& k : held_keys)
        if (k.hold == hold) {
            *key = k.key;
            return true;
        }
    return handle_key(reinterpret_cast<HANDLE>(hold), key);
}

// Every sharing mode: no handle of this or another process stands in the
// way, and the name can be removed while the file is open.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Opens `name` as it is to ask about it or remove it: `access` only (none
// at all to read its identity), sharing everything so that no handle of
// this or another process stands in the way, a folder as well as a file,
// and a link as the link itself unless `follow`.
HANDLE open_as_is(const char* name, DWORD access, bool follow) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    return CreateFileA(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       flags, nullptr);
}

// The key of the file `name` names.
bool name_key(const char* name, bool follow, FileKey* key) {
    HANDLE h = open_as_is(name, 0, follow);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = handle_key(h, key);
    CloseHandle(h);
    return ok;
}

// True when the name does not exist: the error of an open that failed.
bool absent(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// What one open handle is: its attributes and its number of names.
bool handle_info(HANDLE h, BY_HANDLE_FILE_INFORMATION* info) { return GetFileInformationByHandle(h, info) != 0; }

// Gives the file open as `h` the attributes `attr`; zero would mean "no
// change", so no attributes at all are given as "normal".
bool set_attributes(HANDLE h, DWORD attr) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attr != 0 ? attr : FILE_ATTRIBUTE_NORMAL;
    return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != 0;
}

// Removes the name under which `h` (opened with DELETE and the attribute
// rights) was opened. Where the system can, the name goes at once even
// while another process has the file open, read-only or not. Elsewhere it
// goes when the last handle on the file is closed, and a read-only file
// cannot be deleted: its attribute is cleared first and, when the file
// keeps another name, given back.
// FileDispositionInfoEx, which the MinGW-w64 headers hide behind a wrong
// version test.
constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

bool remove_opened(HANDLE h) {
    FILE_DISPOSITION_INFO_EX now{FILE_DISPOSITION_FLAG_DELETE | FILE_DISPOSITION_FLAG_POSIX_SEMANTICS |
                                 FILE_DISPOSITION_FLAG_IGNORE_READONLY_ATTRIBUTE};
    if (SetFileInformationByHandle(h, kDispositionInfoEx, &now, sizeof now)) return true;
    FILE_DISPOSITION_INFO gone{TRUE};
    if (SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone)) return true;
    BY_HANDLE_FILE_INFORMATION info;
    if (!handle_info(h, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) == 0) return false;
    const DWORD attr = info.dwFileAttributes;
    if (!set_attributes(h, attr & ~DWORD{FILE_ATTRIBUTE_READONLY})) return false;
    const bool ok = SetFileInformationByHandle(h, FileDispositionInfo, &gone, sizeof gone) != 0;
    if (!ok || info.nNumberOfLinks > 1) set_attributes(h, attr);
    return ok;
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

// True when the file `key` is one of the files the names `others` lead to
// (links followed; an empty name is none).
bool is_one_of(const FileKey& key, const std::vector<std::string>& others) {
    FileKey o;
    for (const std::string& name : others)
        if (!name.empty() && name_key(name.c_str(), true, &o) && o == key) return true;
    return false;
}

// With kOutputDevices: a name that leads to a device or a pipe (a console,
// NUL, a named pipe) is opened through its links as it is, without being
// created or emptied; a file found there is closed again untouched and goes
// the way of every output. kOutputFailed here means: not a device, go on.
OutputResult device_open(const char* name, const std::vector<std::string>& others, std::FILE** fp) {
    HANDLE h = CreateFileA(name, GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kOutputFailed;
    const DWORD type = GetFileType(h);
    if (type != FILE_TYPE_CHAR && type != FILE_TYPE_PIPE) {
        CloseHandle(h);
        return kOutputFailed;
    }
    FileKey key;
    if (handle_key(h, &key) && is_one_of(key, others)) {
        CloseHandle(h);
        return kOutputInUse;
    }
    *fp = stream_of(h, _O_BINARY, "wb");
    return *fp != nullptr ? kOutputDevice : kOutputFailed;
}

// Removes the name `name` if it still names the file or link `was` (a link
// as itself), and creates a new file in its place: CREATE_NEW fails on
// anything that another process puts there meanwhile.
HANDLE made_afresh(const char* name, const FileKey& was) {
    HANDLE old = open_as_is(name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, false);
    if (old != INVALID_HANDLE_VALUE) {
        FileKey now;
        const bool ok = handle_key(old, &now) && now == was && remove_opened(old);
        CloseHandle(old);
        if (!ok) return INVALID_HANDLE_VALUE;
    } else if (!absent(GetLastError())) {
        return INVALID_HANDLE_VALUE;
    }
    return CreateFileA(name, GENERIC_WRITE, kShareAll, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// The stream over the new or emptied output `h` (which it owns afterwards),
// and in `*hold`, unless null, a second handle on the file that outlives
// the stream, its key noted as temp_create notes it.
bool held_stream(HANDLE h, int text_flag, std::FILE** fp, FileHold* hold) {
    HANDLE keep = INVALID_HANDLE_VALUE;
    if (hold != nullptr &&
        !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &keep, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        CloseHandle(h);
        return false;
    }
    std::FILE* f = stream_of(h, text_flag, text_flag == _O_TEXT ? "w" : "wb");
    if (f == nullptr) {
        if (keep != INVALID_HANDLE_VALUE) CloseHandle(keep);
        return false;
    }
    *fp = f;
    if (hold != nullptr) {
        FileKey key;
        if (handle_key(keep, &key)) held_key_note(reinterpret_cast<FileHold>(keep), key);
        *hold = reinterpret_cast<FileHold>(keep);
    }
    return true;
}

// The interrupt handler of the run, and the lock that the main thread holds
// while an interrupt must wait: the console runs a handler on a thread of
// its own, which takes the lock before it cleans up and never gives it back.
void (*interrupt_handler)(int) = nullptr;
struct InterruptLock {
    CRITICAL_SECTION cs;
    InterruptLock() { InitializeCriticalSection(&cs); }
} interrupt_lock;

// Ctrl-C, Ctrl-Break and the closing of the console; the events of logging
// off and shutting down reach only services, and are left to the system.
BOOL WINAPI on_console_event(DWORD event) {
    const int sig = event == CTRL_C_EVENT       ? SIGINT
                    : event == CTRL_BREAK_EVENT ? SIGBREAK
                    : event == CTRL_CLOSE_EVENT ? SIGTERM
                                                : 0;
    if (sig == 0 || interrupt_handler == nullptr) return FALSE;
    EnterCriticalSection(&interrupt_lock.cs);
    interrupt_handler(sig);
    return TRUE;
}

}  // namespace

// The C runtime marks descriptors 0, 1 and 2 as in use at start-up even
// when the process has no handle for them (writes there then fail quietly),
// so no file the run opens can take their place.
void std_streams_open() {}

bool std_output_closed() {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    return out == nullptr || out == INVALID_HANDLE_VALUE;
}

// The C runtime says EINVAL for a write to a pipe whose reader has gone
// (ERROR_NO_DATA), and EPIPE for a broken pipe.
bool write_error_closed_pipe(int err) {
    const DWORD last = GetLastError();
    return err == EPIPE || (err == EINVAL && (last == ERROR_NO_DATA || last == ERROR_BROKEN_PIPE));
}

// Windows raises no signal for a failed write.
void write_signals_ignore() {}

// A process that was started with Ctrl-C ignored (a new process group) is
// not called for it, as POSIX keeps an ignored SIGINT ignored.
void interrupts_install(void (*handler)(int)) {
    interrupt_handler = handler;
    SetConsoleCtrlHandler(on_console_event, TRUE);
}

void interrupts_hold() { EnterCriticalSection(&interrupt_lock.cs); }

void interrupts_release() { LeaveCriticalSection(&interrupt_lock.cs); }

// What the system's own handler does for every console event.
void interrupt_end(int) { ExitProcess(STATUS_CONTROL_C_EXIT); }

// Straight to the handle, past the C runtime and its locks, which the main
// thread may hold when an interrupt arrives; each line feed is written as
// CR LF, as standard output writes it in text mode.
void signal_safe_write(const char* text, size_t n) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) return;
    for (size_t i = 0; i < n; ++i) {
        const char* piece = text[i] == '\n' ? "\r\n" : &text[i];
        const DWORD len = text[i] == '\n' ? 2 : 1;
        DWORD done = 0;
        if (!WriteFile(out, piece, len, &done, nullptr)) return;
    }
}

// Both names are opened, links followed, and their files' keys compared:
// the path text (a "\\?\" or "\??\" prefix, another drive letter or a
// folder mounted twice, a short name, letter case) plays no part.
bool same_file(const std::string& a, const std::string& b) {
    FileKey ka, kb;
    return name_key(a.c_str(), true, &ka) && name_key(b.c_str(), true, &kb) && ka == kb;
}

bool device_name(const std::string& name) { return windows_device_name(name); }

// Opened as itself (FILE_FLAG_OPEN_REPARSE_POINT: a link is not followed),
// created if need be (OPEN_ALWAYS, which never empties a file), shared for
// deletion too, so that an interrupt can remove the output from the
// console's thread while the main thread has it open; then decided on the
// open handle, and only then emptied or replaced.
OutputResult output_create(const std::string& name, const std::vector<std::string>& others, int flags, std::FILE** fp,
                           FileHold* hold) {
    const char* path = name.c_str();
    const int text_flag = (flags & kOutputText) != 0 ? _O_TEXT : _O_BINARY;
    if ((flags & kOutputDevices) != 0) {
        const OutputResult got = device_open(path, others, fp);
        if (got != kOutputFailed) return got;
    }
    HANDLE h = CreateFileA(path, GENERIC_WRITE, kShareAll, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kOutputFailed;
    BY_HANDLE_FILE_INFORMATION info;
    FileKey key, target;
    const bool disk = GetFileType(h) == FILE_TYPE_DISK;
    if (!disk || !handle_info(h, &info) || !handle_key(h, &key)) {
        CloseHandle(h);
        return disk ? kOutputFailed : kOutputNotAFile;
    }
    const bool link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const OutputResult refused =
        link ? (name_key(path, true, &target) && is_one_of(target, others) ? kOutputInUse : kOutputMade)
        : (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kOutputNotAFile
        : is_one_of(key, others)                                  ? kOutputInUse
                                                                  : kOutputMade;
    if (refused != kOutputMade) {
        CloseHandle(h);
        return refused;
    }
    if (link || info.nNumberOfLinks > 1) {
        CloseHandle(h);
        h = made_afresh(path, key);
        if (h == INVALID_HANDLE_VALUE) return kOutputFailed;
    } else if (!SetEndOfFile(h)) {
        CloseHandle(h);
        return kOutputFailed;
    }
    return held_stream(h, text_flag, fp, hold) ? kOutputMade : kOutputFailed;
}

std::FILE* null_output_open() { return std::fopen("NUL", "wb"); }

// In the user's temporary folder (the C runtime's tmpfile uses the root of
// the drive, where a user may not write), deleted by the system when closed.
std::FILE* scratch_open(std::string* name_made) {
    char dir[MAX_PATH + 1], name[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof dir, dir);
    if (n == 0 || n > MAX_PATH || GetTempFileNameA(dir, "mrl", 0, name) == 0) return nullptr;
    HANDLE h = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DeleteFileA(name);
        return nullptr;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return nullptr;
    }
    std::FILE* fp = _fdopen(fd, "w+b");
    if (fp == nullptr) {
        _close(fd);
        return nullptr;
    }
    *name_made = name;
    return fp;
}

// The Windows heap gives large freed blocks back to the system by itself.
void memory_give_back() {}

// CREATE_NEW fails on any existing name, a link or a folder included, so
// the file is new and this run's own. No other process may write to it
// while the run has it open; reading stays allowed (the folder's access
// rights decide who may), and so does deletion, for the run's own rename
// and removal. The held handle is a duplicate of the stream's, so the file
// stays open after the stream is closed.
int temp_create(const std::string& name, std::FILE** fp, FileHold* hold) {
    const char* path = name.c_str();
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        const bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ||
                           GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
        return taken ? kTempTaken : kTempFailed;
    }
    HANDLE keep = INVALID_HANDLE_VALUE;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &keep, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        CloseHandle(h);
        DeleteFileA(path);
        return kTempFailed;
    }
    std::FILE* f = stream_of(h, _O_BINARY, "wb");
    if (f == nullptr) {
        hold_remove(reinterpret_cast<FileHold>(keep), path);
        CloseHandle(keep);
        return kTempFailed;
    }
    FileKey key;
    if (handle_key(keep, &key)) held_key_note(reinterpret_cast<FileHold>(keep), key);
    *fp = f;
    *hold = reinterpret_cast<FileHold>(keep);
    return kTempOk;
}

bool hold_named(FileHold hold, const std::string& name) {
    FileKey held, named;
    return hold != kNoHold && held_key(hold, &held) && name_key(name.c_str(), false, &named) && held == named;
}

// The name is opened once, and the file that handle shows is the one
// compared and removed: no other file can slip in between.
void hold_remove(FileHold hold, const char* name) {
    if (hold == kNoHold) return;
    HANDLE h = open_as_is(name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, false);
    if (h == INVALID_HANDLE_VALUE) return;
    FileKey held, named;
    if (held_key(hold, &held) && handle_key(h, &named) && held == named) remove_opened(h);
    CloseHandle(h);
}

// Windows files carry no POSIX permission bits; their access rights come
// from the folder, like every new file's there. What a replaced file gives
// its replacement is the read-only attribute, so a read-only input stays
// read-only.
int hold_copy_mode(FileHold hold, const std::string& like) {
    const DWORD want = GetFileAttributesA(like.c_str());
    if (want == INVALID_FILE_ATTRIBUTES || (want & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return 1;
    BY_HANDLE_FILE_INFORMATION info;
    HANDLE h = reinterpret_cast<HANDLE>(hold);
    if (!handle_info(h, &info)) return -1;
    const DWORD attr = (info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_READONLY}) | (want & FILE_ATTRIBUTE_READONLY);
    return attr == info.dwFileAttributes || set_attributes(h, attr) ? 0 : -1;
}

bool hold_sync(FileHold hold) { return FlushFileBuffers(reinterpret_cast<HANDLE>(hold)) != 0; }

void hold_release(FileHold hold) {
    if (hold == kNoHold) return;
    for (HeldKey& k : held_keys)
        if (k.hold == hold) k.hold = kNoHold;
    CloseHandle(reinterpret_cast<HANDLE>(hold));
}

// A folder is not removed (as unlink() refuses one): it is opened without
// the flag that opening a folder needs.
bool name_taken(const std::string& name) {
    if (GetFileAttributesA(name.c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD e = GetLastError();
    return e != ERROR_FILE_NOT_FOUND && e != ERROR_PATH_NOT_FOUND;
}

bool file_remove(const char* name) {
    HANDLE h = CreateFileA(name, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return absent(GetLastError());
    const bool ok = remove_opened(h);
    CloseHandle(h);
    return ok;
}

// A rename replaces a file only when the rename may delete it, and not
// while any handle on it is open, even one that allows deletion: the name
// must open for deletion with no sharing at all. An editor or debugger that
// holds the file makes the open fail with a sharing violation. The run's own
// handles on the inputs are closed by now.
bool file_replaceable(const std::string& name) {
    HANDLE h = CreateFileA(name.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return absent(GetLastError());
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = handle_info(h, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(h);
    return ok;
}

namespace {

// Every byte of the open file `in`, from where it stands, written to `out`.
bool bytes_copy(HANDLE in, HANDLE out) {
    static char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(in, buffer, sizeof buffer, &got, nullptr)) return false;
        if (got == 0) return true;
        for (DWORD done = 0; done < got;) {
            DWORD put = 0;
            if (!WriteFile(out, buffer + done, got - done, &put, nullptr) || put == 0) return false;
            done += put;
        }
    }
}

// The file `name` (its attributes `attr`) copied under the new name `copy`,
// brought to stable storage with its attributes (a read-only file stays
// read-only), and only then renamed to `aside`, which must not exist. The
// copy is open all along, shared for deletion so that it can be renamed,
// and when any of it fails, the file that handle shows is removed.
bool file_copy(const std::string& name, DWORD attr, const std::string& aside, const std::string& copy) {
    HANDLE in = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (in == INVALID_HANDLE_VALUE) return false;
    HANDLE out =
        CreateFileA(copy.c_str(), GENERIC_WRITE | DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    bool ok = out != INVALID_HANDLE_VALUE && bytes_copy(in, out) && FlushFileBuffers(out) != 0;
    CloseHandle(in);
    constexpr DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    ok = ok && ((attr & kKept) == 0 || set_attributes(out, attr & kKept));
    ok = ok && MoveFileExA(copy.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
    if (out != INVALID_HANDLE_VALUE) {
        if (!ok) remove_opened(out);
        CloseHandle(out);
    }
    return ok;
}

}  // namespace

// A hard link shares its file's attributes, and a read-only file must lose
// that attribute to be replaced, which would take it from the kept-aside
// name as well: a read-only file is copied instead, and the copy keeps it.
// A file system without hard links (FAT, some shares) gets a copy too.
Aside file_keep_aside(const std::string& name, const std::string& aside, const std::string& copy) {
    const DWORD attr = GetFileAttributesA(name.c_str());
    if (attr == INVALID_FILE_ATTRIBUTES) return absent(GetLastError()) ? Aside::kNoFile : Aside::kFailed;
    if (GetFileAttributesA(aside.c_str()) != INVALID_FILE_ATTRIBUTES) return Aside::kFailed;
    if ((attr & FILE_ATTRIBUTE_DIRECTORY) != 0) return Aside::kFailed;
    if ((attr & FILE_ATTRIBUTE_READONLY) == 0) {
        if (CreateHardLinkA(aside.c_str(), name.c_str(), nullptr)) return Aside::kLinked;
        if (GetLastError() == ERROR_ALREADY_EXISTS) return Aside::kFailed;
    }
    return file_copy(name, attr, aside, copy) ? Aside::kCopied : Aside::kFailed;
}

// Write-through: the call returns once the rename is on the disk, which is
// what a sync of the directory gives on POSIX. A read-only file in the way
// refuses to be replaced; it loses that attribute for the rename, and gets
// it back when the rename fails after all.
bool file_replace(const std::string& from, const std::string& to) {
    const DWORD attr = GetFileAttributesA(to.c_str());
    const bool read_only = attr != INVALID_FILE_ATTRIBUTES && (attr & FILE_ATTRIBUTE_READONLY) != 0;
    if (read_only && !SetFileAttributesA(to.c_str(), attr & ~DWORD{FILE_ATTRIBUTE_READONLY})) return false;
    if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    if (read_only) SetFileAttributesA(to.c_str(), attr);
    return false;
}

// MoveFileEx with write-through has made each rename durable already.
void dir_sync(const std::string&) {}

bool file_stamp(std::FILE* fp, FileStamp* stamp) {
    if (fp == nullptr) return false;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fp)));
    FileKey key;
    LARGE_INTEGER size;
    FILETIME written;
    if (h == INVALID_HANDLE_VALUE || !handle_key(h, &key) || !GetFileSizeEx(h, &size) ||
        !GetFileTime(h, nullptr, nullptr, &written))
        return false;
    uint64_t low, high;
    std::memcpy(&low, key.id, sizeof low);
    std::memcpy(&high, key.id + sizeof low, sizeof high);
    stamp->dev = key.volume;
    stamp->ino = low ^ high;
    stamp->size = static_cast<uint64_t>(size.QuadPart);
    const uint64_t ticks = (uint64_t{written.dwHighDateTime} << 32) | written.dwLowDateTime;
    stamp->mtime_ns = static_cast<int64_t>(ticks) * 100;
    return true;
}

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

namespace {

// The views of input files the exception handler watches: where each lies,
// and whether reading it has faulted (its pages are then zeros of the
// process's own). Written only while no byte of a view is read.
struct MapWatch {
    volatile uintptr_t begin, end;
    volatile LONG faulted;
};
constexpr int kWatches = 8;
MapWatch map_watch[kWatches];
int map_watch_count = 0;
PVOID fault_handler = nullptr;

// A page of a view that cannot be read (an in-page error: the storage under
// a local file failed) raises an exception in the reading thread. The view
// gives way to zeroed memory of the same place and size, the view is
// marked, and the read is made again and finds zeros; the reader stops at
// the mark. Returning, instead of unwinding out of the read, leaves every
// function that was reading (a search, a copy) as it was. Every other
// exception goes on to the program's other handlers.
LONG CALLBACK on_in_page_error(EXCEPTION_POINTERS* e) {
    const EXCEPTION_RECORD* r = e->ExceptionRecord;
    if (r->ExceptionCode != EXCEPTION_IN_PAGE_ERROR || r->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    const uintptr_t at = static_cast<uintptr_t>(r->ExceptionInformation[1]);
    for (MapWatch& w : map_watch) {
        if (w.begin == 0 || at < w.begin || at >= w.end || w.faulted != 0) continue;
        void* const base = reinterpret_cast<void*>(w.begin);
        if (!UnmapViewOfFile(base)) return EXCEPTION_CONTINUE_SEARCH;
        w.faulted = 1;
        if (VirtualAlloc(base, w.end - w.begin, MEM_RESERVE | MEM_COMMIT, PAGE_READONLY) == nullptr)
            return EXCEPTION_CONTINUE_SEARCH;
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

// True when the open file `h` lies on a local fixed disk: a network file
// may change under the view, or fail to be read, whatever this run does.
bool local_file(HANDLE h) {
    wchar_t path[1024];
    const DWORD n = GetFinalPathNameByHandleW(h, path, 1024, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= 1024) return false;
    const wchar_t* p = path;
    if (std::wcsncmp(p, L"\\\\?\\", 4) == 0) p += 4;
    if (std::wcsncmp(p, L"UNC\\", 4) == 0 || p[0] == L'\\' || p[0] == 0 || p[1] != L':') return false;
    const wchar_t root[] = {p[0], L':', L'\\', 0};
    const UINT kind = GetDriveTypeW(root);
    return kind == DRIVE_FIXED || kind == DRIVE_RAMDISK;
}

}  // namespace

// Only a local file is mapped, and only through a second handle that lets
// no other process write the file (or cut it short) while the view exists;
// where another process already has it open for writing, that handle
// cannot be had and the file is read instead. The HEX file is always read:
// its pass takes each byte once, in order, and there the mapping cost the
// pass more than the copy into the block that it saves.
bool input_map(std::FILE* fp, InputPass pass, InputMap* map) {
    if (!kMapInputs || fp == nullptr || pass == InputPass::kHex) return false;
    const HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(fp)));
    LARGE_INTEGER size;
    if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size) ||
        size.QuadPart <= 0 || static_cast<uint64_t>(size.QuadPart) > SIZE_MAX / 2 || !local_file(h))
        return false;
    int watch = 0;
    while (watch < kWatches && map_watch[watch].begin != 0) ++watch;
    if (watch == kWatches) return false;
    const HANDLE guard = ReOpenFile(h, GENERIC_READ, FILE_SHARE_READ, 0);
    if (guard == INVALID_HANDLE_VALUE) return false;
    // The size again, now that nobody can change it.
    LARGE_INTEGER now;
    const HANDLE mapping = GetFileSizeEx(guard, &now) && now.QuadPart == size.QuadPart
                               ? CreateFileMappingW(guard, nullptr, PAGE_READONLY, 0, 0, nullptr)
                               : nullptr;
    void* view = mapping != nullptr ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
    if (view == nullptr) {
        if (mapping != nullptr) CloseHandle(mapping);
        CloseHandle(guard);
        return false;
    }
    if (map_watch_count++ == 0) fault_handler = AddVectoredExceptionHandler(1, on_in_page_error);
    const size_t bytes = static_cast<size_t>(size.QuadPart);
    const uintptr_t begin = reinterpret_cast<uintptr_t>(view);
    map_watch[watch].faulted = 0;
    map_watch[watch].end = begin + bytes;
    map_watch[watch].begin = begin;
    map->data = static_cast<const char*>(view);
    map->size = bytes;
    map->watch = watch;
    map->handle = reinterpret_cast<intptr_t>(mapping);
    map->guard = reinterpret_cast<intptr_t>(guard);
    return true;
}

void input_unmap(InputMap* map) {
    if (map->data == nullptr) return;
    MapWatch& w = map_watch[map->watch];
    void* const base = const_cast<char*>(map->data);
    if (w.faulted != 0)
        VirtualFree(base, 0, MEM_RELEASE);
    else
        UnmapViewOfFile(base);
    CloseHandle(reinterpret_cast<HANDLE>(map->handle));
    CloseHandle(reinterpret_cast<HANDLE>(map->guard));
    w.begin = 0;
    w.end = 0;
    if (--map_watch_count == 0 && fault_handler != nullptr) {
        RemoveVectoredExceptionHandler(fault_handler);
        fault_handler = nullptr;
    }
    *map = InputMap{};
}

bool input_map_faulted(const InputMap& map) { return map.data != nullptr && map_watch[map.watch].faulted != 0; }

// The rewriting pass runs on one thread here: no helper.
bool helper_start(void (*)(void*), void*) { return false; }
void helper_join() {}

#endif
