// platform_posix.cpp: the operating-system services of platform.h on Linux
// and other POSIX systems.
#ifndef _WIN32

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "run/platform.h"

namespace {

// A file opened for writing without following a link and without waiting
// for a reader (a FIFO without one fails at once instead of hanging the
// run); the descriptor is made blocking again for the writes.
int open_no_follow(const char* name) {
    int fd = open(name, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return -1;
    int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// True when the open file is a regular file that has no other name.
bool single_regular(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1;
}

// True when `name` still names the open file `fd` (same device and inode).
bool still_named(int fd, const char* name) {
    struct stat a, b;
    return fstat(fd, &a) == 0 && lstat(name, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Removes `name` when it is a symbolic link or a file with another hard
// link: such a name must never be written through. False when it cannot be
// removed.
bool unlink_if_linked(const char* name) {
    struct stat st;
    if (lstat(name, &st) != 0) return true;
    if (!S_ISLNK(st.st_mode) && !(S_ISREG(st.st_mode) && st.st_nlink > 1)) return true;
    return unlink(name) == 0 || errno == ENOENT;
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

void write_signals_ignore() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

void signal_safe_write(const char* text, size_t n) { (void)!write(1, text, n); }

// Opened without O_TRUNC: whether the file may be written is decided from
// the open file itself, and only then is it emptied.
std::FILE* trace_create(const char* name) {
    int fd = open_no_follow(name);
    if (fd < 0) return nullptr;
    if (!single_regular(fd) || ftruncate(fd, 0) != 0) {
        close(fd);
        return nullptr;
    }
    std::FILE* fp = fdopen(fd, "w");
    if (fp == nullptr) close(fd);
    return fp;
}

// The lock is flock(): it belongs to the open file, so it lasts while the
// held descriptor is open, also after the stream (on a duplicate of the
// descriptor) is closed. Between opening and locking, another run may have
// renamed the file onto its final name and let it go; the name is checked
// again after the lock, and such a file is left alone and the name tried
// anew. A file system without locks still gets the other checks.
int temp_create(const std::string& name, std::FILE** fp, FileHold* hold) {
    const char* path = name.c_str();
    for (int tries = 0; tries < 4; ++tries) {
        if (!unlink_if_linked(path)) return kTempFailed;
        int fd = open_no_follow(path);
        if (fd < 0) {
            if (errno == ELOOP) continue;  // a link appeared after the check
            return kTempFailed;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
            close(fd);
            return kTempHeld;
        }
        if (!still_named(fd, path)) {
            close(fd);
            continue;
        }
        struct stat st;
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            close(fd);
            return kTempFailed;
        }
        if (st.st_nlink != 1) {  // a hard link appeared after the check
            close(fd);
            continue;
        }
        // The stream gets a descriptor of its own; closing it keeps the lock.
        const int out = ftruncate(fd, 0) == 0 ? fcntl(fd, F_DUPFD_CLOEXEC, 3) : -1;
        std::FILE* f = out >= 0 ? fdopen(out, "wb") : nullptr;
        if (f == nullptr) {
            if (out >= 0) close(out);
            close(fd);
            return kTempFailed;
        }
        *fp = f;
        *hold = fd;
        return kTempOk;
    }
    // The name kept changing under this run: another run is at work on it.
    return kTempHeld;
}

// The owner first: changing it may clear the set-user-ID bits, which the
// mode then puts back. A process that may not give a file away keeps its own
// owner and still tries the group.
bool hold_copy_mode(FileHold hold, const std::string& like) {
    struct stat st;
    if (stat(like.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const int fd = static_cast<int>(hold);
    if (fchown(fd, st.st_uid, st.st_gid) != 0) (void)!fchown(fd, static_cast<uid_t>(-1), st.st_gid);
    (void)!fchmod(fd, st.st_mode & 07777);
    return true;
}

bool hold_sync(FileHold hold) { return fsync(static_cast<int>(hold)) == 0; }

void hold_release(FileHold hold) {
    if (hold != kNoHold) close(static_cast<int>(hold));
}

bool file_replace(const std::string& from, const std::string& to) { return std::rename(from.c_str(), to.c_str()) == 0; }

// A rename is durable only once the directory has reached the disk. Some
// file systems refuse fsync() on a directory; the renames are done by then,
// so that is not a failure of the run.
void dir_sync(const std::string& name) {
    const size_t slash = name.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : name.substr(0, slash);
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)!fsync(fd);
    close(fd);
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

#endif
