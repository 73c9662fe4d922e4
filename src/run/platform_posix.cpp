// platform_posix.cpp: the operating-system services of platform.h on Linux
// and other POSIX systems.
#ifndef _WIN32

#include <fcntl.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/xattr.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "run/platform.h"

namespace {

// True when the open file `fd` and the name `name` (not followed when it is
// a link) are one file. Only async-signal-safe calls.
bool fd_named(int fd, const char* name) {
    struct stat a, b;
    return fstat(fd, &a) == 0 && lstat(name, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The folder that holds the file `name`.
std::string dir_of(const std::string& name) {
    const size_t slash = name.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
}

// Room for attribute names and values and for file data while the inputs
// are replaced: static, so that the replacement cannot run out of memory
// halfway.
char copy_buffer[65536];
char names_buffer[65536];

#ifdef __linux__
// True for the extended attributes a replacement carries over: the access
// ACL, and the user's own attributes.
bool attribute_carried(const char* name) {
    return std::strncmp(name, "user.", 5) == 0 || std::strcmp(name, "system.posix_acl_access") == 0;
}

// Gives the open file `to` the access ACL and the "user." attributes of the
// open file `from`. What the file systems refuse (no attributes there, a
// value too large) is passed over: the file is then no worse than one made
// without them.
void attributes_copy(int from, int to) {
    const ssize_t n = flistxattr(from, names_buffer, sizeof names_buffer);
    for (ssize_t at = 0; n > 0 && at < n; at += static_cast<ssize_t>(std::strlen(names_buffer + at)) + 1) {
        const char* name = names_buffer + at;
        if (!attribute_carried(name)) continue;
        const ssize_t size = fgetxattr(from, name, copy_buffer, sizeof copy_buffer);
        if (size >= 0) (void)fsetxattr(to, name, copy_buffer, static_cast<size_t>(size), 0);
    }
}
#else
void attributes_copy(int, int) {}
#endif

// Gives the open file `to` the access ACL and "user." attributes of the
// regular file `like`, whose state `st` the caller has: `like` is opened
// only to read them, and only when it is still that file.
void attributes_copy_from(const std::string& like, const struct stat& st, int to) {
    const int from = open(like.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (from < 0) return;
    struct stat now;
    if (fstat(from, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino) attributes_copy(from, to);
    close(from);
}

// Gives the open file `fd` the owner and group of `st`; a process that may
// not give a file away keeps its own owner and still tries the group.
// Changing the owner may clear the set-user-ID bits, so the mode comes after.
void owner_copy(int fd, const struct stat& st) {
    if (fchown(fd, st.st_uid, st.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), st.st_gid);
}

// Every byte of the open file `in`, from where it stands, written to `out`.
bool bytes_copy(int in, int out) {
    for (;;) {
        const ssize_t n = read(in, copy_buffer, sizeof copy_buffer);
        if (n == 0) return true;
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(out, copy_buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) return false;
            done += w;
        }
    }
}

// Renames `from` to `to` only when nothing bears the name `to`: in one step
// where the system can; elsewhere the name is checked first.
bool rename_new(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
    struct stat st;
    if (lstat(to, &st) == 0 || errno != ENOENT) return false;
    return std::rename(from, to) == 0;
}

// True when this run could remove again a second name that it gives the
// file `name` (state `st`) in the same folder: in a folder with the sticky
// bit only the owner of the file or of the folder may remove a name.
bool link_removable(const std::string& name, const struct stat& st) {
    struct stat dir;
    if (stat(dir_of(name).c_str(), &dir) != 0) return false;
    if ((dir.st_mode & S_ISVTX) == 0) return true;
    const uid_t me = geteuid();
    return me == st.st_uid || me == dir.st_uid;
}

// A symbolic link kept aside: a new link with the same target, made under
// `copy` and renamed to `aside`.
bool symlink_copy(const std::string& name, const std::string& aside, const std::string& copy) {
    const ssize_t n = readlink(name.c_str(), names_buffer, sizeof names_buffer - 1);
    if (n < 0) return false;
    names_buffer[n] = '\0';
    if (symlink(names_buffer, copy.c_str()) != 0) return false;
    if (rename_new(copy.c_str(), aside.c_str())) return true;
    unlink(copy.c_str());
    return false;
}

// The file `name` (its state `st`) copied under the new name `copy` with
// its bytes, owner, attributes and mode, brought to stable storage, and
// only then named `aside`. What was made is removed when any of it fails,
// if the name `copy` still names it. Anything but a regular file or a
// symbolic link is not copied.
bool file_copy(const std::string& name, const struct stat& st, const std::string& aside, const std::string& copy) {
    if (S_ISLNK(st.st_mode)) return symlink_copy(name, aside, copy);
    if (!S_ISREG(st.st_mode)) return false;
    const int in = open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (in < 0) return false;
    struct stat now;
    const bool same = fstat(in, &now) == 0 && now.st_dev == st.st_dev && now.st_ino == st.st_ino;
    const int out = same ? open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600) : -1;
    bool ok = out >= 0 && bytes_copy(in, out);
    if (ok) {
        owner_copy(out, st);
        attributes_copy(in, out);
        ok = fchmod(out, st.st_mode & 07777) == 0 && fsync(out) == 0 && rename_new(copy.c_str(), aside.c_str());
    }
    if (!ok && out >= 0 && fd_named(out, copy.c_str())) unlink(copy.c_str());
    if (out >= 0) close(out);
    close(in);
    return ok;
}

// True when the file `st` describes is one of the files the names `others`
// lead to (links followed; an empty name is none).
bool is_one_of(const struct stat& st, const std::vector<std::string>& others) {
    struct stat o;
    for (const std::string& name : others)
        if (!name.empty() && stat(name.c_str(), &o) == 0 && o.st_dev == st.st_dev && o.st_ino == st.st_ino) return true;
    return false;
}

// A stream over `fd` (binary), with `*hold` (unless null) a descriptor of
// its own on the same file, which outlives the stream. The descriptor is
// closed on failure.
bool held_stream(int fd, std::FILE** fp, FileHold* hold) {
    int keep = -1;
    if (hold != nullptr && (keep = fcntl(fd, F_DUPFD_CLOEXEC, 3)) < 0) {
        close(fd);
        return false;
    }
    std::FILE* f = fdopen(fd, "wb");
    if (f == nullptr) {
        close(fd);
        if (keep >= 0) close(keep);
        return false;
    }
    *fp = f;
    if (hold != nullptr) *hold = keep;
    return true;
}

// True when `st` is the regular file that standard output or standard
// error goes to: a page named /dev/stdout while standard output goes to a
// file.
bool std_stream_file(const struct stat& st) {
    struct stat s;
    for (int fd : {1, 2})
        if (fstat(fd, &s) == 0 && S_ISREG(s.st_mode) && s.st_dev == st.st_dev && s.st_ino == st.st_ino) return true;
    return false;
}

// With kOutputDevices: a name that leads to a device or a pipe, or to the
// file of the program's own standard output or error (/dev/stdout, which is
// a link), is opened through its links, without O_CREAT or O_TRUNC, so a
// regular file found there (or put there meanwhile) is left as it was and
// goes the way of every output. Such a standard stream's file is emptied
// once the open file is known to be it, as a page written there always was.
// kOutputFailed here means: not such a name, go on.
OutputResult device_open(const char* name, const std::vector<std::string>& others, std::FILE** fp) {
    struct stat st;
    if (stat(name, &st) != 0 || S_ISDIR(st.st_mode) || (S_ISREG(st.st_mode) && !std_stream_file(st)))
        return kOutputFailed;
    const int fd = open(name, O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return kOutputFailed;
    const OutputResult got = fstat(fd, &st) != 0                            ? kOutputFailed
                             : S_ISREG(st.st_mode) && !std_stream_file(st)  ? kOutputFailed
                             : is_one_of(st, others)                        ? kOutputInUse
                             : S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0 ? kOutputFailed
                                                                            : kOutputDevice;
    if (got != kOutputDevice) {
        close(fd);
        return got;
    }
    return held_stream(fd, fp, nullptr) ? kOutputDevice : kOutputFailed;
}

// Removes the name `name` if it still names the file or link `was`, and
// creates a new file in its place, exclusively: a link or file that another
// process puts there meanwhile makes it fail instead of being written
// through. -1 on failure.
int made_afresh(const char* name, const struct stat& was) {
    struct stat now;
    if (lstat(name, &now) == 0) {
        if (now.st_dev != was.st_dev || now.st_ino != was.st_ino) {
            errno = EEXIST;
            return -1;
        }
        if (unlink(name) != 0 && errno != ENOENT) return -1;
    }
    return open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0666);
}

// The signals an interrupt from outside arrives as.
void interrupt_set(sigset_t* set) {
    sigemptyset(set);
    sigaddset(set, SIGINT);
    sigaddset(set, SIGTERM);
    sigaddset(set, SIGHUP);
}

}  // namespace

// Descriptors 0, 1 and 2 are checked in order; open() returns the lowest
// free descriptor, so each one that is closed gets the null device.
void std_streams_open() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        int got = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (got >= 0 && got != fd) {
            dup2(got, fd);
            close(got);
        }
    }
}

bool std_output_closed() { return fcntl(1, F_GETFD) < 0 && errno == EBADF; }

bool write_error_closed_pipe(int err) { return err == EPIPE; }

void write_signals_ignore() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

// While the handler runs, the other interrupts wait, so a second signal
// cannot cut the clean-up short. A signal that was ignored when the run
// started (a background job's SIGINT, nohup's SIGHUP) stays ignored.
void interrupts_install(void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    interrupt_set(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction old {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        sigaction(sig, &sa, nullptr);
    }
}

void interrupts_hold() {
    sigset_t set;
    interrupt_set(&set);
    sigprocmask(SIG_BLOCK, &set, nullptr);
}

void interrupts_release() {
    sigset_t set;
    interrupt_set(&set);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
}

// The default action comes back, and the signal, raised again, is delivered
// as soon as the handler unblocks it.
void interrupt_end(int sig) {
    signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    raise(sig);
    // raise() returns: the signal is blocked while its handler runs.
    // cppcheck-suppress unreachableCode
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    _exit(128 + sig);
}

void signal_safe_write(const char* text, size_t n) { (void)!write(1, text, n); }

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool device_name(const std::string&) { return false; }

// Opened without following a link (O_NOFOLLOW fails on one), without
// waiting for a reader (a FIFO fails at once or opens without blocking) and
// without O_TRUNC: what the name bears is decided on the open file itself,
// and only then is it emptied or replaced.
OutputResult output_create(const std::string& name, const std::vector<std::string>& others, int flags, std::FILE** fp,
                           FileHold* hold) {
    const char* path = name.c_str();
    if ((flags & kOutputDevices) != 0) {
        const OutputResult got = device_open(path, others, fp);
        if (got != kOutputFailed) return got;
    }
    int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    struct stat st;
    bool afresh = false;
    if (fd < 0) {
        // Linux says ELOOP for a symbolic link, some other systems EMLINK.
        const int why = errno;
        if ((why != ELOOP && why != EMLINK) || lstat(path, &st) != 0 || !S_ISLNK(st.st_mode)) {
            errno = why;
            return why == ENXIO ? kOutputNotAFile : kOutputFailed;
        }
        struct stat target;
        if (stat(path, &target) == 0 && is_one_of(target, others)) return kOutputInUse;
        afresh = true;
    } else {
        const OutputResult refused = fstat(fd, &st) != 0     ? kOutputFailed
                                     : !S_ISREG(st.st_mode)  ? kOutputNotAFile
                                     : is_one_of(st, others) ? kOutputInUse
                                                             : kOutputMade;
        if (refused != kOutputMade) {
            close(fd);
            return refused;
        }
        afresh = st.st_nlink > 1;
    }
    if (afresh) {
        if (fd >= 0) close(fd);
        fd = made_afresh(path, st);
        if (fd < 0) return kOutputFailed;
    } else {
        const int fl = fcntl(fd, F_GETFL);
        if (fl < 0 || fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) < 0 || ftruncate(fd, 0) != 0) {
            close(fd);
            return kOutputFailed;
        }
    }
    return held_stream(fd, fp, hold) ? kOutputMade : kOutputFailed;
}

std::FILE* null_output_open() { return std::fopen("/dev/null", "wb"); }

// A new name of its own in the folder, removed at once: the open file
// lives on until it is closed.
std::FILE* scratch_open(std::string* name) {
    const char* dir = std::getenv("TMPDIR");
    std::string path = dir != nullptr && *dir != '\0' ? dir : "/tmp";
    if (path.back() != '/') path += '/';
    path += "mrl85-scratch.XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) return nullptr;
    unlink(path.c_str());
    (void)!fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::FILE* fp = fdopen(fd, "w+b");
    if (fp == nullptr) {
        close(fd);
        return nullptr;
    }
    *name = path;
    return fp;
}

// glibc's heap gives back only its top on free(), and a freed block
// lower down stays resident until malloc_trim.
void memory_give_back() {
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

// O_EXCL with O_CREAT fails on any existing name, a symbolic link included
// (even one that points nowhere), so the file is new and this run's own.
// Mode 0600 keeps its contents private until it gets the input's mode
// right before it replaces the input.
int temp_create(const std::string& name, std::FILE** fp, FileHold* hold) {
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno == EEXIST ? kTempTaken : kTempFailed;
    // The stream gets a descriptor of its own, so the held one outlives it.
    const int out = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    std::FILE* f = out >= 0 ? fdopen(out, "wb") : nullptr;
    if (f == nullptr) {
        if (out >= 0) close(out);
        unlink(name.c_str());
        close(fd);
        return kTempFailed;
    }
    *fp = f;
    *hold = fd;
    return kTempOk;
}

bool hold_named(FileHold hold, const std::string& name) {
    return hold != kNoHold && fd_named(static_cast<int>(hold), name.c_str());
}

void hold_remove(FileHold hold, const char* name) {
    if (hold != kNoHold && fd_named(static_cast<int>(hold), name)) unlink(name);
}

// The attributes go before the mode: setting the ACL sets the group bits,
// which the mode then gives their final value (the ACL's mask follows).
int hold_copy_mode(FileHold hold, const std::string& like) {
    struct stat st;
    if (stat(like.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 1;
    const int fd = static_cast<int>(hold);
    owner_copy(fd, st);
    attributes_copy_from(like, st, fd);
    return fchmod(fd, st.st_mode & 07777) == 0 ? 0 : -1;
}

bool hold_sync(FileHold hold) { return fsync(static_cast<int>(hold)) == 0; }

void hold_release(FileHold hold) {
    if (hold != kNoHold) close(static_cast<int>(hold));
}

bool name_taken(const std::string& name) {
    struct stat st;
    return lstat(name.c_str(), &st) == 0 || errno != ENOENT;
}

bool file_remove(const char* name) { return unlink(name) == 0 || errno == ENOENT; }

// A rename onto a directory fails; everything else is decided by the
// directory, which the renames of the temporaries share with the final names.
bool file_replaceable(const std::string& name) {
    struct stat st;
    if (lstat(name.c_str(), &st) != 0) return errno == ENOENT;
    return !S_ISDIR(st.st_mode);
}

// A hard link, and the copy too, leave the file under its name until the
// replacing rename, so at no moment is the name missing. The copy is taken
// where the file system has no hard links, refuses one to this file
// (protected hard links, a network share), or where the link could not be
// removed again.
Aside file_keep_aside(const std::string& name, const std::string& aside, const std::string& copy) {
    struct stat st, other;
    if (lstat(name.c_str(), &st) != 0) return errno == ENOENT ? Aside::kNoFile : Aside::kFailed;
    if (lstat(aside.c_str(), &other) == 0 || errno != ENOENT) return Aside::kFailed;
    if (link_removable(name, st)) {
        if (link(name.c_str(), aside.c_str()) == 0) return Aside::kLinked;
        if (errno == EEXIST) return Aside::kFailed;
    }
    return file_copy(name, st, aside, copy) ? Aside::kCopied : Aside::kFailed;
}

bool file_replace(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

// A rename is durable only once the directory has reached the disk. Some
// file systems refuse fsync() on a directory; the renames are done by then,
// so that is not a failure of the run.
void dir_sync(const std::string& name) {
    int fd = open(dir_of(name).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)!fsync(fd);
    close(fd);
}

bool file_stamp(std::FILE* fp, FileStamp* stamp) {
    struct stat st;
    if (fp == nullptr || fstat(fileno(fp), &st) != 0) return false;
    stamp->dev = static_cast<uint64_t>(st.st_dev);
    stamp->ino = static_cast<uint64_t>(st.st_ino);
    stamp->size = static_cast<uint64_t>(st.st_size);
    stamp->mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

// Huge pages cover only whole, aligned 2 MiB stretches of a block, so a
// block of that size or more is placed on such a boundary: a larger
// mapping is made and what lies before and after the aligned block is given
// back.
void* table_memory_grow(void* old, size_t old_bytes, size_t new_bytes) {
    constexpr size_t kHuge = size_t{2} << 20;
#ifdef __linux__
    // A block that is already of huge-page size grows where it lies or moves
    // with its pages, without a copy.
    if (old != nullptr && old_bytes >= kHuge) {
        void* p = mremap(old, old_bytes, new_bytes, MREMAP_MAYMOVE);
        if (p == MAP_FAILED) return nullptr;
        madvise(p, new_bytes, MADV_HUGEPAGE);
        return p;
    }
#endif
    const size_t extra = new_bytes >= kHuge ? kHuge : 0;
    void* m = mmap(nullptr, new_bytes + extra, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return nullptr;
    char* p = static_cast<char*>(m);
    if (extra != 0) {
        char* const aligned = p + ((kHuge - reinterpret_cast<uintptr_t>(p) % kHuge) % kHuge);
        if (aligned > p) munmap(p, static_cast<size_t>(aligned - p));
        if (aligned + new_bytes < p + new_bytes + extra)
            munmap(aligned + new_bytes, static_cast<size_t>(p + new_bytes + extra - (aligned + new_bytes)));
        p = aligned;
#ifdef MADV_HUGEPAGE
        madvise(p, new_bytes, MADV_HUGEPAGE);
#endif
    }
    if (old != nullptr) {
        std::memcpy(p, old, old_bytes);
        munmap(old, old_bytes);
    }
    return p;
}

void table_memory_free(void* block, size_t bytes) {
    if (block != nullptr) munmap(block, bytes);
}

namespace {

// The input mappings the fault handler watches: where each lies (its pages,
// rounded up to whole pages) and whether reading it has faulted. Written
// only outside the handler, and only while no byte of the mapping is read.
struct MapWatch {
    volatile uintptr_t begin, end;
    volatile std::sig_atomic_t faulted;
};
constexpr int kWatches = 8;
MapWatch map_watch[kWatches];
int map_watch_count = 0;
uintptr_t page_size = 4096;
struct sigaction bus_before;  // SIGBUS's action before the first mapping

// A page of a watched mapping beyond the end of its file (another process
// cut the file short) faults with SIGBUS. From the faulting page to the end
// of the mapping, anonymous zero pages take the file's place, the mapping
// is marked, and the read is made again and finds zeros; the reader stops
// at the mark. This is safe where a jump out of the read is not: the fault
// may come in the middle of a copy or a search of any function (memchr, a
// string being assigned, a write to the kernel), and only returning leaves
// each of them as it was. mmap is a plain system call. Any other SIGBUS
// gets the action it had before: a fault repeats when the handler returns,
// a signal sent by another process is raised again.
void on_bus(int sig, siginfo_t* info, void*) {
    const int saved = errno;
    if (info != nullptr && info->si_code > 0) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
        for (MapWatch& w : map_watch) {
            if (w.begin == 0 || at < w.begin || at >= w.end) continue;
            const uintptr_t page = at & ~(page_size - 1);
            void* got = mmap(reinterpret_cast<void*>(page), w.end - page, PROT_READ,
                             MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
            if (got != MAP_FAILED) {
                w.faulted = 1;
                errno = saved;
                return;
            }
            break;
        }
    }
    sigaction(SIGBUS, &bus_before, nullptr);
    if (info == nullptr || info->si_code <= 0) raise(sig);
    errno = saved;
}

// The handler is there only while a mapping is.
void bus_handler_install() {
    const long size = sysconf(_SC_PAGESIZE);
    if (size > 0) page_size = static_cast<uintptr_t>(size);
    struct sigaction sa {};
    sa.sa_sigaction = on_bus;
    sa.sa_flags = SA_SIGINFO;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGBUS, &sa, &bus_before);
}

}  // namespace

bool input_map(std::FILE* fp, InputPass, InputMap* map) {
    struct stat st;
    if (!kMapInputs || fp == nullptr || fstat(fileno(fp), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
        static_cast<uint64_t>(st.st_size) > SIZE_MAX / 2)
        return false;
    int watch = 0;
    while (watch < kWatches && map_watch[watch].begin != 0) ++watch;
    if (watch == kWatches) return false;
    const size_t size = static_cast<size_t>(st.st_size);
    void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fileno(fp), 0);
    if (p == MAP_FAILED) return false;
    if (map_watch_count++ == 0) bus_handler_install();
    const uintptr_t begin = reinterpret_cast<uintptr_t>(p);
    map_watch[watch].faulted = 0;
    map_watch[watch].end = begin + ((size + page_size - 1) & ~(page_size - 1));
    map_watch[watch].begin = begin;
    map->data = static_cast<const char*>(p);
    map->size = size;
    map->watch = watch;
    return true;
}

void input_unmap(InputMap* map) {
    if (map->data == nullptr) return;
    helper_join();
    MapWatch& w = map_watch[map->watch];
    munmap(const_cast<char*>(map->data), map->size);
    w.begin = 0;
    w.end = 0;
    if (--map_watch_count == 0) sigaction(SIGBUS, &bus_before, nullptr);
    *map = InputMap{};
}

bool input_map_faulted(const InputMap& map) { return map.data != nullptr && map_watch[map.watch].faulted != 0; }

namespace {

pthread_t helper;
bool helper_running = false;
struct HelperCall {
    void (*fn)(void*);
    void* arg;
} helper_call;

void* helper_main(void* call) {
    const HelperCall& c = *static_cast<HelperCall*>(call);
    c.fn(c.arg);
    return nullptr;
}

}  // namespace

// The thread inherits the signal mask of the one that makes it: the
// interrupts are blocked around its making.
bool helper_start(void (*fn)(void*), void* arg) {
    if (helper_running) return false;
    sigset_t set, before;
    interrupt_set(&set);
    pthread_sigmask(SIG_BLOCK, &set, &before);
    helper_call = HelperCall{fn, arg};
    helper_running = pthread_create(&helper, nullptr, helper_main, &helper_call) == 0;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return helper_running;
}

void helper_join() {
    if (!helper_running) return;
    pthread_join(helper, nullptr);
    helper_running = false;
}

#endif
