// fault_shim.cpp: a library preloaded into mrl85 by the tests, to bring about
// at one exact moment what the operating system does only now and then: a
// close that reports a delayed write error, a rename that is refused, a
// temporary output that another process swaps for a file of its own, a
// symbol file that changes between the two passes, a full disk under one
// output, a link planted under an output's name just before it is opened.
//
// MRL_SHIM="ACTION:SUFFIX" picks one fault, for the file whose name ends in
// SUFFIX:
//   fail-fclose     fclose of its stream closes it and reports EIO
//   fail-rename     a rename onto it fails with EACCES
//   fail-fsync      fsync of it fails with EIO
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
// Without MRL_SHIM every call goes straight to the C library.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
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

int wanted(const char* action, const char* name) {
    const char* chosen = getenv("MRL_SHIM");
    size_t n = strlen(action);
    if (chosen == nullptr || name == nullptr || strncmp(chosen, action, n) != 0 || chosen[n] != ':') return 0;
    const char* suffix = chosen + n + 1;
    size_t a = strlen(name), b = strlen(suffix);
    return b > 0 && a >= b && strcmp(name + a - b, suffix) == 0;
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
int open_next(int (*&slot)(const char*, int, ...), const char* fn, const char* name, int flags, va_list ap) {
    auto real = next(slot, fn);
    const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(ap, int)) : 0;
    plant_link(name, (flags & O_ACCMODE) != O_RDONLY);
    return real(name, flags, mode);
}

}  // namespace

extern "C" {

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

}  // extern "C"
