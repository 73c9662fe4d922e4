// fault_shim.cpp: a library preloaded into mrl85 by the tests, to bring about
// at one exact moment what the operating system does only now and then: a
// close that reports a delayed write error, a rename that is refused, a
// temporary output that another process swaps for a file of its own, a
// symbol file that changes between the two passes.
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
//   full-at-flush   every flush of its stream meets a full disk
//   full-at-second-flush
//                   the second flush of its stream meets a full disk, the
//                   others go through (a disk that was full for a while)
// Without MRL_SHIM every call goes straight to the C library.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

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

}  // namespace

extern "C" {

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
