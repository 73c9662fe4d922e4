// floor.cpp: the least I/O each pass of mrl85 needs, as a yardstick for the
// benchmark. A pass of mrl85 is measured against this program doing the same
// reads and writes with nothing else, so that its figure means the same on
// any machine and file system.
//
//   floor hex IN OUT_HEX OUT_HXH   the HEX pass: one read() per 128 KiB block,
//                                  every line end found 64 bytes at a time,
//                                  each record routed low or high as mrl85
//                                  routes it, written straight from the block
//                                  (an output that gets nothing is removed)
//   floor sym IN OUT               the symbol pass: two passes of the same
//                                  reads, each finding every line end; the
//                                  second writes every byte once
//   floor both IN_HEX OUT_HEX OUT_HXH IN_SYM OUT_SYM
//                                  both passes in one process, as mrl85
//                                  converts a program without -H or -S
//
// With "--map" before the mode the input is mapped (mmap) instead of read:
// lines are found in place in the mapping and every run is written straight
// from it, 128 KiB at most per write in the symbol pass, one write per run of
// records in the HEX pass. That is the least a pass can do on a platform that
// maps files; the read-based form is the least where it cannot map. The
// outputs of both forms are the same bytes.
//
// Only well-formed input is handled (the generated files of the benchmark);
// the HEX outputs are byte-identical to mrl85's for those.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "run/lineends.h"

namespace {

constexpr size_t kBlock = size_t{1} << 17;

[[noreturn]] void fail(const char* what) {
    std::perror(what);
    std::exit(1);
}

int open_out(const char* name) {
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) fail(name);
    return fd;
}

void write_all(int fd, const char* p, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w <= 0) fail("write");
        p += w;
        n -= static_cast<size_t>(w);
    }
}

// Moves the unread tail of the block to its front and reads the next block
// behind it; false at the end of the file.
bool refill(int fd, char* buf, size_t& used, size_t keep_from) {
    const size_t keep = used - keep_from;
    std::memmove(buf, buf + keep_from, keep);
    const ssize_t got = ::read(fd, buf + keep, kBlock - keep);
    if (got < 0) fail("read");
    used = keep + static_cast<size_t>(got);
    return got > 0;
}

// Every line end of the file, block by block; with `out` >= 0 each block's
// whole lines are written out as they are.
size_t sym_pass(int in, int out, char* buf) {
    size_t used = 0, lines = 0, done = 0;
    while (refill(in, buf, used, done)) {
        LineEnds ends(buf, buf + used);
        const char* last = nullptr;
        for (const char* lf = ends.next(); lf != nullptr; lf = ends.next()) {
            ++lines;
            last = lf;
        }
        done = last != nullptr ? static_cast<size_t>(last + 1 - buf) : 0;
        if (out >= 0) write_all(out, buf, done);
    }
    if (out >= 0) write_all(out, buf, used);  // a last line without a line end
    return lines;
}

int sym_floor(const char* in_name, const char* out_name) {
    static char buf[kBlock];
    const int in = ::open(in_name, O_RDONLY);
    if (in < 0) fail(in_name);
    const int out = open_out(out_name);
    const size_t first = sym_pass(in, -1, buf);
    if (::lseek(in, 0, SEEK_SET) != 0) fail("lseek");
    const size_t second = sym_pass(in, out, buf);
    if (first != second || ::close(out) != 0) fail(out_name);
    ::close(in);
    return 0;
}

// One output of the HEX pass: where a run of records bound for it begins.
struct Out {
    int fd;
    bool used = false;
};

// Routes the whole lines of [begin, end) exactly as mrl85 routes records,
// each run of records bound for one output written with one write. Returns
// the end of the last line taken; `ended` is set at the end record, after
// which nothing more is taken.
const char* hex_route(const char* begin, const char* end, Out& low, Out& high, bool& to_high, bool& ended) {
    const char* line = begin;
    const char* run = begin;
    Out* run_to = nullptr;
    LineEnds ends(begin, end);
    for (const char* lf = ends.next(); lf != nullptr && !ended; lf = ends.next()) {
        Out* to = nullptr;
        if (line[8] == '2') {
            to_high = line[9] != '0';
            to = to_high ? &high : nullptr;
        } else if (line[7] == '0' && line[8] == '1') {
            // The end record: to each output that got a record, then stop.
            if (run_to != nullptr) write_all(run_to->fd, run, static_cast<size_t>(line - run));
            run_to = nullptr;
            for (Out* o : {&low, &high})
                if (o->used) write_all(o->fd, line, static_cast<size_t>(lf + 1 - line));
            ended = true;
            run = line = lf + 1;
            break;
        } else {
            to = to_high ? &high : &low;
        }
        if (to != run_to) {
            if (run_to != nullptr) write_all(run_to->fd, run, static_cast<size_t>(line - run));
            run_to = to;
            run = line;
        }
        if (to != nullptr) to->used = true;
        line = lf + 1;
    }
    if (run_to != nullptr) write_all(run_to->fd, run, static_cast<size_t>(line - run));
    return line;
}

// The outputs closed; one that got no record is removed, as mrl85 removes it.
void hex_outputs_close(const Out& low, const Out& high, const char* low_name, const char* high_name) {
    if (::close(low.fd) != 0 || ::close(high.fd) != 0) fail("close");
    if (!low.used) std::remove(low_name);
    if (!low.used || !high.used) std::remove(high_name);
}

int hex_floor(const char* in_name, const char* low_name, const char* high_name) {
    static char buf[kBlock];
    const int in = ::open(in_name, O_RDONLY);
    if (in < 0) fail(in_name);
    Out low{open_out(low_name)}, high{open_out(high_name)};
    bool to_high = false, ended = false;
    size_t used = 0, done = 0;
    while (!ended && refill(in, buf, used, done))
        done = static_cast<size_t>(hex_route(buf, buf + used, low, high, to_high, ended) - buf);
    ::close(in);
    hex_outputs_close(low, high, low_name, high_name);
    return 0;
}

// The whole input, mapped read-only for a sequential read; an empty file
// gives an empty stretch (a file of no bytes cannot be mapped).
struct Mapping {
    const char* begin = nullptr;
    size_t size = 0;
};

Mapping map_input(const char* name) {
    const int fd = ::open(name, O_RDONLY);
    if (fd < 0) fail(name);
    struct stat st {};
    if (::fstat(fd, &st) != 0) fail(name);
    Mapping m;
    m.size = static_cast<size_t>(st.st_size);
    if (m.size > 0) {
        void* p = ::mmap(nullptr, m.size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) fail("mmap");
        ::madvise(p, m.size, MADV_SEQUENTIAL);
        m.begin = static_cast<const char*>(p);
    }
    ::close(fd);
    return m;
}

void unmap(const Mapping& m) {
    if (m.size > 0) ::munmap(const_cast<char*>(m.begin), m.size);
}

// Every line end of the mapped file; with `out` >= 0 the whole lines are
// written straight from the mapping, 128 KiB or a little less at a time,
// and a last line without a line end after them.
size_t sym_pass_mapped(const Mapping& m, int out) {
    const char* const end = m.begin + m.size;
    const char* done = m.begin;
    size_t lines = 0;
    LineEnds ends(m.begin, end);
    for (const char* lf = ends.next(); lf != nullptr; lf = ends.next()) {
        ++lines;
        if (out >= 0 && static_cast<size_t>(lf + 1 - done) >= kBlock) {
            write_all(out, done, static_cast<size_t>(lf + 1 - done));
            done = lf + 1;
        }
    }
    if (out >= 0) write_all(out, done, static_cast<size_t>(end - done));
    return lines;
}

int sym_floor_mapped(const char* in_name, const char* out_name) {
    const Mapping m = map_input(in_name);
    const int out = open_out(out_name);
    const size_t first = sym_pass_mapped(m, -1);
    const size_t second = sym_pass_mapped(m, out);
    if (first != second || ::close(out) != 0) fail(out_name);
    unmap(m);
    return 0;
}

// The HEX pass over the mapped file: the same routing as hex_floor, each run
// of records bound for one output written with one write.
int hex_floor_mapped(const char* in_name, const char* low_name, const char* high_name) {
    const Mapping m = map_input(in_name);
    Out low{open_out(low_name)}, high{open_out(high_name)};
    bool to_high = false, ended = false;
    hex_route(m.begin, m.begin + m.size, low, high, to_high, ended);
    unmap(m);
    hex_outputs_close(low, high, low_name, high_name);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool map = argc > 1 && std::string(argv[1]) == "--map";
    if (map) {
        --argc;
        ++argv;
    }
    const auto hex = map ? hex_floor_mapped : hex_floor;
    const auto sym = map ? sym_floor_mapped : sym_floor;
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "hex" && argc == 5) return hex(argv[2], argv[3], argv[4]);
    if (mode == "sym" && argc == 4) return sym(argv[2], argv[3]);
    if (mode == "both" && argc == 7) return hex(argv[2], argv[3], argv[4]) | sym(argv[5], argv[6]);
    std::fputs(
        "usage: floor [--map] hex IN OUT_HEX OUT_HXH | floor [--map] sym IN OUT\n"
        "       floor [--map] both IN_HEX OUT_HEX OUT_HXH IN_SYM OUT_SYM\n",
        stderr);
    return 2;
}
