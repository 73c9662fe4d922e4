// fault_shim.cpp: a library preloaded into mrl85 by the tests, to bring about
// at one exact moment what the operating system does only now and then: a
// close that reports a delayed write error, a rename that is refused, a
// temporary output that another process swaps for a file of its own, a
// symbol file that changes between the two passes, a full disk under one
// output, a link planted under an output's name just before it is opened.
//
// MRL_SHIM="ACTION:SUFFIX" picks one fault, for the file whose name ends in
// SUFFIX; several, separated by commas, all apply:
//   fail-fclose     fclose of its stream closes it and reports EIO
//   fail-rename     a rename onto it fails with EACCES
//   fail-fsync      fsync of it fails with EIO
//   fail-unlink     unlink of it fails with EACCES
//   refuse-link     a hard link under its name fails with EPERM (as
//                   protected hard links refuse one)
//   no-links        a hard link under its name fails with EOPNOTSUPP (a
//                   file system without hard links)
//   swap-at-fsync   before fsync of it, the file is renamed to NAME.moved
//                   and a new file holding "foreign\n" takes its name
//   grow-at-rewind  before a seek of its stream back to the start, a line
//                   is appended to it
//   full-disk       a stream opened over a descriptor of it (fdopen) writes
//                   to /dev/full instead: every write fails as on a full
//                   disk, while the file itself stays where it was made
//   symlink-at-open before the first time it is opened for writing (open or
//   hardlink-at-open fopen), whatever bears its name is removed and a
//                   symbolic link to (a hard link of) the file named by
//                   MRL_SHIM_TARGET takes its place: another process planting
//                   a link between a check of the name and its opening
//   full-at-flush   every flush of its stream meets a full disk
//   full-at-second-flush
//                   the second flush of its stream meets a full disk, the
//                   others go through (a disk that was full for a while)
//   refuse-map      a mapping of it fails with ENOMEM (no address space)
//   truncate-at-map right after it is mapped, another process cuts it to
//                   half its size: the reader meets the cut in the middle
//   truncate-at-write
//                   at the first write to its stream, the file named by
//                   MRL_SHIM_TARGET is cut to half its size: an input cut
//                   short while the pass that writes this output reads it
//   truncate-at-second-write
//                   the same at the second write to its stream: when that
//                   write is taken straight from the input's mapping, the
//                   cut falls in the middle of the bytes being written
// and "kill-at:N" kills the process with SIGKILL right before its Nth call
// that changes a name or a file's state on disk (open with O_CREAT, link,
// symlink, rename, renameat2, unlink, fsync), counted from its start.
// Without MRL_SHIM every call goes straight to the C library.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The next definition of `name` after this library's, the C library's.
template <class Fn>
Fn next(Fn& slot, const char* name) {
    if (slot == nullptr) slot = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
    return slot;
}

// True when MRL_SHIM asks for `action` on `name`.
int wanted(const char* action, const char* name) {
    const char* chosen = getenv("MRL_SHIM");
    if (chosen == nullptr || name == nullptr) return 0;
    const size_t n = strlen(action), a = strlen(name);
    for (const char* entry = chosen; *entry != '\0';) {
        const char* end = strchr(entry, ',');
        if (end == nullptr) end = entry + strlen(entry);
        if (static_cast<size_t>(end - entry) > n && strncmp(entry, action, n) == 0 && entry[n] == ':') {
            const char* suffix = entry + n + 1;
            const size_t b = static_cast<size_t>(end - suffix);
            if (b > 0 && a >= b && strncmp(name + a - b, suffix, b) == 0) return 1;
        }
        entry = *end == ',' ? end + 1 : end;
    }
    return 0;
}

// Counts one call that changes the disk, and ends the process before it
// when it is the one "kill-at:N" names.
void step() {
    static long count = 0;
    const char* chosen = getenv("MRL_SHIM");
    const char* at = chosen != nullptr ? strstr(chosen, "kill-at:") : nullptr;
    if (at != nullptr && ++count == strtol(at + 8, nullptr, 10)) kill(getpid(), SIGKILL);
}

// The name the open descriptor was opened under, or nullptr.
const char* fd_name(int fd, char* buf, size_t size) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, buf, size - 1);
    if (n < 0) return nullptr;
    buf[n] = '\0';
    return buf;
}

void write_file(const char* name, const char* text, int flags) {
    int fd = open(name, O_WRONLY | O_CREAT | flags, 0644);
    if (fd < 0) return;
    (void)!write(fd, text, strlen(text));
    close(fd);
}

// Flushes `fp` as on a full disk: for this one call its descriptor points
// at /dev/full, then it gets its own file back.
int flush_to_full(FILE* fp, int (*real)(FILE*)) {
    const int fd = fileno(fp);
    const int saved = dup(fd);
    const int full = open("/dev/full", O_WRONLY);
    if (saved < 0 || full < 0 || dup2(full, fd) < 0) {
        if (saved >= 0) close(saved);
        if (full >= 0) close(full);
        return real(fp);
    }
    close(full);
    const int got = real(fp);
    const int err = errno;
    dup2(saved, fd);
    close(saved);
    errno = err;
    return got;
}

// Cuts the file `name` to half its size, as another process would.
void cut_in_half(const char* name) {
    struct stat st;
    if (name != nullptr && stat(name, &st) == 0) (void)!truncate(name, st.st_size / 2);
}

// The mmap() that follows this library's, refused or followed by a cut of
// the mapped file as MRL_SHIM asks.
void* map_next(void* (*&slot)(void*, size_t, int, int, int, off_t), const char* fn, void* addr, size_t len, int prot,
               int flags, int fd, off_t off) {
    auto real = next(slot, fn);
    char buf[4096];
    const char* name = fd >= 0 ? fd_name(fd, buf, sizeof buf) : nullptr;
    if (wanted("refuse-map", name)) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    void* got = real(addr, len, prot, flags, fd, off);
    if (got != MAP_FAILED && wanted("truncate-at-map", name)) cut_in_half(name);
    return got;
}

// Plants the link that MRL_SHIM asks for at `name`, once per process, when
// `name` is being opened for writing.
void plant_link(const char* name, bool writing) {
    static int planted;
    if (!writing || planted) return;
    const int soft = wanted("symlink-at-open", name);
    if (!soft && !wanted("hardlink-at-open", name)) return;
    const char* target = getenv("MRL_SHIM_TARGET");
    if (target == nullptr) return;
    planted = 1;
    unlink(name);
    if (soft)
        (void)!symlink(target, name);
    else
        (void)!link(target, name);
}

// The open() that follows this library's, under the name the caller used.
// open and open64 take a mode only with O_CREAT (or O_TMPFILE); such an
// open changes the disk.
int open_next(int (*&slot)(const char*, int, ...), const char* fn, const char* name, int flags, va_list ap) {
    auto real = next(slot, fn);
    mode_t mode = 0;
    if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) {
        mode = static_cast<mode_t>(va_arg(ap, int));
        step();
    }
    plant_link(name, (flags & O_ACCMODE) != O_RDONLY);
    return real(name, flags, mode);
}

}  // namespace

extern "C" {

FILE* fopen(const char* name, const char* mode) {
    static FILE* (*slot)(const char*, const char*);
    auto real = next(slot, "fopen");
    plant_link(name, mode != nullptr && (mode[0] == 'w' || mode[0] == 'a' || strchr(mode, '+') != nullptr));
    return real(name, mode);
}

FILE* fdopen(int fd, const char* mode) {
    static FILE* (*slot)(int, const char*);
    auto real = next(slot, "fdopen");
    char buf[4096];
    if (wanted("full-disk", fd_name(fd, buf, sizeof buf))) {
        const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
        if (full >= 0) {
            dup2(full, fd);
            close(full);
        }
    }
    return real(fd, mode);
}

size_t fwrite(const void* data, size_t size, size_t n, FILE* fp) {
    static size_t (*slot)(const void*, size_t, size_t, FILE*);
    static int cut, writes;
    auto real = next(slot, "fwrite");
    char buf[4096];
    const char* name = fd_name(fileno(fp), buf, sizeof buf);
    if (!cut && (wanted("truncate-at-write", name) || (wanted("truncate-at-second-write", name) && ++writes == 2))) {
        cut = 1;
        cut_in_half(getenv("MRL_SHIM_TARGET"));
    }
    return real(data, size, n, fp);
}

void* mmap(void* addr, size_t len, int prot, int flags, int fd, off_t off) {
    static void* (*slot)(void*, size_t, int, int, int, off_t);
    return map_next(slot, "mmap", addr, len, prot, flags, fd, off);
}

void* mmap64(void* addr, size_t len, int prot, int flags, int fd, off_t off) {
    static void* (*slot)(void*, size_t, int, int, int, off_t);
    return map_next(slot, "mmap64", addr, len, prot, flags, fd, off);
}

int fflush(FILE* fp) {
    static int (*slot)(FILE*);
    static int flushes;
    auto real = next(slot, "fflush");
    if (fp == nullptr) return real(fp);
    char buf[4096];
    const char* name = fd_name(fileno(fp), buf, sizeof buf);
    if (wanted("full-at-flush", name) || (wanted("full-at-second-flush", name) && ++flushes == 2))
        return flush_to_full(fp, real);
    return real(fp);
}

int fclose(FILE* fp) {
    static int (*slot)(FILE*);
    auto real = next(slot, "fclose");
    char buf[4096];
    int fail = wanted("fail-fclose", fd_name(fileno(fp), buf, sizeof buf));
    int got = real(fp);
    if (fail) {
        errno = EIO;
        return EOF;
    }
    return got;
}

int rename(const char* from, const char* to) {
    static int (*slot)(const char*, const char*);
    auto real = next(slot, "rename");
    step();
    if (wanted("fail-rename", to)) {
        errno = EACCES;
        return -1;
    }
    return real(from, to);
}

int fsync(int fd) {
    static int (*slot)(int);
    auto real = next(slot, "fsync");
    char buf[4096];
    const char* name = fd_name(fd, buf, sizeof buf);
    step();
    if (wanted("fail-fsync", name)) {
        errno = EIO;
        return -1;
    }
    if (wanted("swap-at-fsync", name)) {
        char moved[4200];
        snprintf(moved, sizeof moved, "%s.moved", name);
        rename(name, moved);
        write_file(name, "foreign\n", O_TRUNC);
    }
    return real(fd);
}

int fseek(FILE* fp, long offset, int whence) {
    static int (*slot)(FILE*, long, int);
    auto real = next(slot, "fseek");
    char buf[4096];
    const char* name = fd_name(fileno(fp), buf, sizeof buf);
    if (offset == 0 && whence == SEEK_SET && wanted("grow-at-rewind", name)) write_file(name, "\n", O_APPEND);
    return real(fp, offset, whence);
}

int renameat2(int from_dir, const char* from, int to_dir, const char* to, unsigned flags) {
    static int (*slot)(int, const char*, int, const char*, unsigned);
    auto real = next(slot, "renameat2");
    step();
    if (wanted("fail-rename", to)) {
        errno = EACCES;
        return -1;
    }
    return real(from_dir, from, to_dir, to, flags);
}

int link(const char* from, const char* to) {
    static int (*slot)(const char*, const char*);
    auto real = next(slot, "link");
    step();
    if (wanted("refuse-link", to) || wanted("no-links", to)) {
        errno = wanted("refuse-link", to) ? EPERM : EOPNOTSUPP;
        return -1;
    }
    return real(from, to);
}

int symlink(const char* target, const char* name) {
    static int (*slot)(const char*, const char*);
    auto real = next(slot, "symlink");
    step();
    return real(target, name);
}

int unlink(const char* name) {
    static int (*slot)(const char*);
    auto real = next(slot, "unlink");
    step();
    if (wanted("fail-unlink", name)) {
        errno = EACCES;
        return -1;
    }
    return real(name);
}

int open(const char* name, int flags, ...) {
    static int (*slot)(const char*, int, ...);
    va_list ap;
    va_start(ap, flags);
    const int fd = open_next(slot, "open", name, flags, ap);
    va_end(ap);
    return fd;
}

int open64(const char* name, int flags, ...) {
    static int (*slot)(const char*, int, ...);
    va_list ap;
    va_start(ap, flags);
    const int fd = open_next(slot, "open64", name, flags, ap);
    va_end(ap);
    return fd;
}

}  // extern "C"
