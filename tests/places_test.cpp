// places_test.cpp: every place at which a run can end with an error, each
// reached by the built program from an input or an environment that a user
// can meet, with the message it shows, its exit status and the place that
// the trace log records ("Error exit at N").
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "run/trace.h"
#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::Outcome;
using testutil::Process;
using testutil::slurp;
using testutil::spit;
using testutil::TempDir;

// What the run meets besides its files.
enum class Env {
    kPlain,
    kFifoSym,    // prog.sym is a FIFO, written once while the program runs
    kTinyFiles,  // no file may grow beyond 16 bytes
    kMemory,     // the address space only a little larger than a small run needs
    kHeldTemp,   // another process holds the lock of prog_tmp.hex
    kFailSync,   // the sync of prog_tmp.hex fails (a preloaded library)
    kSwapTemp,   // another process swaps prog_tmp.hex for its own file right then
};

struct Place {
    const char* what;
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> files;  // name, bytes
    std::vector<std::string> full;                           // a full disk under it (at most one)
    std::vector<std::string> dirs;                           // directories
    Env env;
    const char* message;  // the end of standard output
    int status;
    int place;  // 0: no log can show it (see below); a number of the log format, so written out
};

const std::string kData = ":10000000000102030405060708090A0B0C0D0E0F00\n";  // 44 bytes
const std::string kHighSeg = ":020000021000EC\n";                           // 16 bytes
const std::string kEnd = ":00000001FF\n";                                   // 12 bytes
const std::string kSym = "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000010 a.o\n\n# FUNC 1 f 1 0\n";

std::string times(const std::string& s, int n) {
    std::string all;
    all.reserve(s.size() * static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) all += s;
    return all;
}

// A symbol file of `units` units with names long enough that each needs
// memory of its own.
std::string many_units(int units) {
    std::string s = "# SECTION INFORMATION\n";
    char buf[128];
    for (int u = 1; u <= units; ++u) {
        std::snprintf(buf, sizeof buf, "%04X section_name_long_enough_for_the_heap_%06d 0 0 0 %08X 00000010 m%d.o\n", u,
                      u, (u * 16u) & 0xFFFFu, u);
        s += buf;
    }
    return s;
}

// The output block holds 128 KiB (kTextBlock); a write that finds it full
// goes to the file. With the trace on, each HEX line is written on its own,
// so the sizes below decide which write is the first to reach a full disk:
// 8193 segment records of 16 bytes; 2978 data records of 44 bytes and one of
// 32 (131064 bytes) before the 12-byte end record; two segment records and
// 2978 data records (131064) before it on the high side.
const std::string kHighSegments = times(kHighSeg, 9000) + kEnd;
const std::string kLowData = times(kData, 4000) + kEnd;
const std::string kHighData = kHighSeg + times(kData, 4000) + kEnd;
const std::string kLowEndOverflows = times(kData, 2978) + ":0A0000000102030405060708090A00\n" + kEnd;
const std::string kHighEndOverflows = kHighSeg + kHighSeg + times(kData, 2978) + kEnd;
const std::string kLowAndHigh = kData + kHighSeg + kData + kEnd;

const char kCantCreateHex[] = " Error : Can't create 'out.hex' file\n";
const char kCantCreateHxh[] = " Error : Can't create 'out.hxh' file\n";
const char kCantCreateSym[] = " Error : Can't create 'out.sym' file\n";
const char kHexFormat[] = " Error : File format error (prog.hex)\n";
const char kSymFormat[] = " Error : File format error (prog.sym)\n";
const char kNoMemory[] = " Error : Not enough memory\n";
const char kNoTrace[] = " Error : Can't create temporary file\n";

const std::vector<std::string> kHex = {"prog", "-Oout", "-H", "+info"};
const std::vector<std::string> kSymOnly = {"prog", "-Oout", "-S", "+info"};

// Places that no test can show, and why:
//   250 (no arguments) and 374 (the trace log cannot be created): the trace
//       is not open, so nothing records the place; their rows check the
//       message and the status alone.
//   374 also when the log would be an input (prog.hex a link to mrl.ifd).
//   384 (the trace header cannot be written): the log that failed cannot take
//       the place line either, nor its end line, which adds error 7 naming
//       the log; its row, too, checks message and status.
//   1979 and 1982 are no error exits: they mark the end of each pass in the
//       log of a run that goes on.
// The rows of 2033 and 2034 need a fault at one exact moment, which a
// library preloaded into the program brings about (shim/fault_shim.cpp);
// they run where the program is a POSIX one.
std::vector<Place> places() {
    const std::string long_line =
        "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000010 " + std::string(8u << 20, 'm') + ".o\n";
    const std::string sym_head = "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000010 a.o\n\n";
    // clang-format off
    return {
        // The command line and the trace log.
        {"no arguments", {}, {}, {}, {}, Env::kPlain,
         " Error : No input files specified\n\n  Usage: mrl85 Input-filename -Ooutput-filename [-S or -H]<cr>\n\n", 4, 0},
        {"an unknown option", {"prog", "+info", "-Oout", "-X"}, {}, {}, {}, Env::kPlain,
         " Error : Invalid option '-X' is used\n", 4, 279},
        {"the trace log name is a directory", {"prog", "-Oout", "+info"}, {}, {}, {"mrl.ifd"}, Env::kPlain,
         kNoTrace, 2, 0},
        {"the trace header exceeds the file size limit", {"prog", "-Oout", "+info"}, {}, {}, {}, Env::kTinyFiles,
         " Error : Can't create temporary file\n Error : Can't create 'mrl.ifd' file\n", 2, 0},
        {"a dot in the input name", {"pro.g", "-Oout", "+info"}, {}, {}, {}, Env::kPlain,
         " Error : . is specified in the filename 'pro.g'\n", 4, 445},
        {"a dot in the output name", {"prog", "-Oou.t", "+info"}, {}, {}, {}, Env::kPlain,
         " Error : . is specified in the filename 'ou.t'\n", 4, 452},

        // Opening and creating the files.
        {"no input HEX file", kHex, {}, {}, {}, Env::kPlain,
         " Error : Can't open 'prog.hex' file\n", 4, 474},
        {"the output HEX name is a directory", kHex, {{"prog.hex", kLowData}}, {}, {"out.hex"}, Env::kPlain,
         kCantCreateHex, 2, 482},
        {"the high HEX name is a directory", kHex, {{"prog.hex", kLowData}}, {}, {"out.hxh"}, Env::kPlain,
         kCantCreateHxh, 2, 490},
        {"no input symbol file", kSymOnly, {}, {}, {}, Env::kPlain,
         " Error : Can't open 'prog.sym' file\n", 4, 500},
        {"the output symbol name is a directory", kSymOnly, {{"prog.sym", kSym}}, {}, {"out.sym"}, Env::kPlain,
         kCantCreateSym, 2, 508},

        // HEX records.
        {"a blank line", kHex, {{"prog.hex", kData + "\n" + kEnd}}, {}, {}, Env::kPlain, kHexFormat, 3, 537},
        {"a line of 10 characters", kHex, {{"prog.hex", ":0000001F\n"}}, {}, {}, Env::kPlain, kHexFormat, 3, 541},
        {"record type 82", kHex, {{"prog.hex", ":02000082AABB99\n"}}, {}, {}, Env::kPlain, kHexFormat, 3, 553},
        {"record type 80", kHex, {{"prog.hex", ":02000080AABB99\n"}}, {}, {}, Env::kPlain, kHexFormat, 3, 561},
        {"record type 11", kHex, {{"prog.hex", ":02000011AABB99\n"}}, {}, {}, Env::kPlain, kHexFormat, 3, 571},
        {"record type 04", kHex, {{"prog.hex", ":02000004AABB99\n"}}, {}, {}, Env::kPlain, kHexFormat, 3, 576},

        // Reading the inputs.
        {"the input HEX name is a directory", kHex, {}, {}, {"prog.hex"}, Env::kPlain,
         " Error : Can't open 'prog.hex' file\n", 4, 2001},
        {"the input symbol name is a directory", kSymOnly, {}, {}, {"prog.sym"}, Env::kPlain,
         " Error : Can't open 'prog.sym' file\n", 4, 2011},
        {"the symbol input is a FIFO, read only once", kSymOnly, {}, {}, {}, Env::kFifoSym,
         " Error : Can't open 'prog.sym' file\n", 4, 2012},

        // A full disk under one output at each write of the HEX pass.
        {"full disk at a segment record to the high HEX file", kHex, {{"prog.hex", kHighSegments}}, {"out.hxh"}, {},
         Env::kPlain, kCantCreateHxh, 3, 624},
        {"full disk at a data record to the output HEX file", kHex, {{"prog.hex", kLowData}}, {"out.hex"}, {},
         Env::kPlain, kCantCreateHex, 3, 635},
        {"full disk at a data record to the high HEX file", kHex, {{"prog.hex", kHighData}}, {"out.hxh"}, {},
         Env::kPlain, kCantCreateHxh, 3, 642},
        {"full disk at the end record to the output HEX file", kHex, {{"prog.hex", kLowEndOverflows}}, {"out.hex"}, {},
         Env::kPlain, kCantCreateHex, 3, 650},
        {"full disk at the end record to the high HEX file", kHex, {{"prog.hex", kHighEndOverflows}}, {"out.hxh"}, {},
         Env::kPlain, kCantCreateHxh, 2, 656},
        {"full disk at the last flush of the output HEX file", kHex, {{"prog.hex", kLowAndHigh}}, {"out.hex"}, {},
         Env::kPlain, kCantCreateHex, 3, 2002},
        {"full disk at the last flush of the high HEX file", kHex, {{"prog.hex", kLowAndHigh}}, {"out.hxh"}, {},
         Env::kPlain, kCantCreateHxh, 3, 2003},

        // The symbol file: its numbers and references, its writes, memory.
        {"a number with a non-hex digit", kSymOnly, {{"prog.sym", sym_head + "# CALL 1G\n"}}, {}, {}, Env::kPlain,
         kSymFormat, 3, 1082},
        {"a number of nine significant digits", kSymOnly, {{"prog.sym", sym_head + "# CALL 100000000\n"}}, {}, {},
         Env::kPlain, kSymFormat, 3, 1092},
        {"a function of a unit not in the file", kSymOnly, {{"prog.sym", sym_head + "# FUNC 1 f 2 0\n"}}, {}, {},
         Env::kPlain, kSymFormat, 3, 1385},
        {"a call of a function not in the file", kSymOnly, {{"prog.sym", kSym + "\n# CALL 5\n"}}, {}, {},
         Env::kPlain, kSymFormat, 3, 1417},
        {"line ends of carriage returns alone", kSymOnly, {{"prog.sym", "# SECTION INFORMATION\r0001 P\r"}}, {}, {},
         Env::kPlain, kSymFormat, 3, 2014},
        {"a LOCAL SYMBOL range without a dash", kSymOnly, {{"prog.sym", sym_head + "# LOCAL SYMBOL 1\n"}}, {}, {},
         Env::kPlain, kSymFormat, 3, 1626},
        {"full disk at a header line", kSymOnly, {{"prog.sym", sym_head + times("# GLOBAL LABEL\n", 9000)}},
         {"out.sym"}, {}, Env::kPlain, kCantCreateSym, 2, 1501},
        {"full disk at a data line", kSymOnly, {{"prog.sym", sym_head + "# GLOBAL LABEL\n" + times("g 10\n", 40000)}},
         {"out.sym"}, {}, Env::kPlain, kCantCreateSym, 2, 1557},
        {"full disk at the last flush of the output symbol file", kSymOnly, {{"prog.sym", kSym}}, {"out.sym"}, {},
         Env::kPlain, kCantCreateSym, 2, 2013},
        {"memory runs out while the tables grow", kSymOnly, {{"prog.sym", many_units(60000)}}, {}, {}, Env::kMemory,
         kNoMemory, 3, 1054},
        {"memory runs out for a long line", kSymOnly, {{"prog.sym", long_line}}, {}, {}, Env::kMemory,
         kNoMemory, 3, 2021},

        // In place: the temporary outputs and the replacement of the inputs.
        {"in place, the temporary HEX name is a directory", {"prog", "-Oprog", "-H", "+info"},
         {{"prog.hex", kLowData}}, {}, {"prog_tmp.hex"}, Env::kPlain,
         " Error : Can't create 'prog_tmp.hex' file\n", 2, 2032},
        {"in place, another run holds the temporary HEX file", {"prog", "-Oprog", "-H", "+info"},
         {{"prog.hex", kLowData}}, {}, {}, Env::kHeldTemp,
         " Error : Can't create 'prog_tmp.hex' file\n", 2, 2032},
        {"in place, the high HEX name is a directory", {"prog", "-Oprog", "-H", "+info"},
         {{"prog.hex", kLowAndHigh}}, {}, {"prog.hxh"}, Env::kPlain,
         " Error : Can't create 'prog.hxh' file\n", 2, 2031},
        {"in place, a temporary does not reach stable storage", {"prog", "-Oprog", "-H", "+info"},
         {{"prog.hex", kLowData}}, {}, {}, Env::kFailSync,
         " Error : Can't create 'prog_tmp.hex' file\n", 2, 2033},
        {"in place, a temporary's name no longer names it", {"prog", "-Oprog", "-H", "+info"},
         {{"prog.hex", kLowData}}, {}, {}, Env::kSwapTemp,
         " Error : Can't create 'prog_tmp.hex' file\n", 2, 2034},
    };
    // clang-format on
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The smallest address space, in whole MB, in which a small run succeeds.
[[maybe_unused]] rlim_t smallest_address_space() {
    const TempDir tmp;
    spit(tmp / "small.sym", kSym);
    for (rlim_t mb = 4; mb <= 256; ++mb)
        if (Process(tmp.path(), {"small", "-Osmall", "-S"}, mb << 20).finish().status == 0) return mb << 20;
    return 0;
}

// Runs one row in a fresh directory.
Outcome run_place(const Place& k, const fs::path& dir, rlim_t address_space) {
    for (const auto& [name, bytes] : k.files) spit(dir / name, bytes);
    for (const std::string& name : k.dirs) fs::create_directory(dir / name);
    if (k.env == Env::kFifoSym && mkfifo((dir / "prog.sym").c_str(), 0644) != 0) return {};
    int held = -1;
    if (k.env == Env::kHeldTemp) {
        held = open((dir / "prog_tmp.hex").c_str(), O_RDWR | O_CREAT, 0644);
        if (held < 0 || flock(held, LOCK_EX) != 0) return {};
    }
#ifdef MRL_FAULT_SHIM
    // A preloaded library brings about a failed sync, a swapped temporary,
    // or a full disk under one output.
    const std::string action = k.env == Env::kFailSync   ? "fail-fsync:prog_tmp.hex"
                               : k.env == Env::kSwapTemp ? "swap-at-fsync:prog_tmp.hex"
                               : !k.full.empty()         ? "full-disk:" + k.full.front()
                                                         : "";
    std::optional<testutil::ShimSet> shim;
    if (!action.empty()) shim.emplace(action);
#endif
    const rlim_t space = k.env == Env::kMemory ? address_space : 0;
    const rlim_t size = k.env == Env::kTinyFiles ? 16 : 0;
    Process p(dir, k.args, space, std::chrono::seconds(120), size);
#ifdef MRL_FAULT_SHIM
    shim.reset();
#endif
    if (k.env == Env::kFifoSym) {
        EXPECT_TRUE(testutil::fifo_write(dir / "prog.sym", kSym)) << "the program never opened prog.sym";
    }
    Outcome r = p.finish();
    if (held >= 0) close(held);
    return r;
}

TEST(ErrorExit, EveryPlaceShowsItsMessageStatusAndPlace) {
#ifdef MRL_ASAN
    const rlim_t address_space = 0;  // address space limits do not work under AddressSanitizer
#else
    const rlim_t address_space = smallest_address_space();
    ASSERT_NE(address_space, 0u);
#endif
    for (const Place& k : places()) {
        SCOPED_TRACE(k.what);
        if (k.env == Env::kMemory && address_space == 0) continue;
#ifndef MRL_FAULT_SHIM
        if (k.env == Env::kFailSync || k.env == Env::kSwapTemp || !k.full.empty()) continue;
#endif
        const TempDir tmp;
        // A little more than a small run needs: enough to start, far too
        // little for the input.
        const Outcome r = run_place(k, tmp.path(), address_space + (2u << 20));
        EXPECT_EQ(r.status, k.status);
        EXPECT_TRUE(ends_with(r.out, k.message)) << r.out.substr(r.out.size() > 300 ? r.out.size() - 300 : 0);
        const fs::path log = tmp / kTraceName;
        const std::string trace = fs::is_regular_file(log) ? slurp(log) : "";
        if (k.place != 0) {
            EXPECT_TRUE(ends_with(trace, k.message + ("++++++++++ Error exit at " + std::to_string(k.place) +
                                                      " ++++++++++\n======= end =======\n")))
                << trace.substr(trace.size() > 300 ? trace.size() - 300 : 0);
        } else {
            EXPECT_EQ(trace.find("Error exit"), std::string::npos) << trace;
        }
    }
}

}  // namespace
