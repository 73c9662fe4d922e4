// fault_test.cpp: failures that case folders cannot arrange: exhausted
// memory, Ctrl-C at random moments during in-place runs, a symbol input that
// cannot be read a second time, and a full disk in the middle of large
// outputs. Each runs the built mrl85 binary in a fresh directory.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::Outcome;
using testutil::Process;
using testutil::run;
using testutil::slurp;
using testutil::spit;
using testutil::TempDir;

std::optional<std::string> maybe(const fs::path& p) {
    if (!fs::exists(p)) return std::nullopt;
    return slurp(p);
}

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

const char kNoMemory[] = " Error : Not enough memory\n";

// Memory runs out while the tables grow: every limit either lets the run
// finish or ends it with error 4 and status 3, the output removed and the
// input untouched; never an abort.
TEST(Fault, ExhaustedMemoryIsErrorFourAtEveryLimit) {
#ifdef MRL_ASAN
    GTEST_SKIP() << "address space limits do not work under AddressSanitizer";
#else
    const TempDir tmp;
    const fs::path& dir = tmp.path();
    spit(dir / "small.sym", "# SECTION INFORMATION\n0001 P 0 0 0 00000000 00000010 a.o\n");
    // The smallest limit at which the program runs at all.
    rlim_t base = 0;
    for (rlim_t mb = 4; mb <= 256 && base == 0; ++mb)
        if (run(dir, {"small", "-Osmall", "-S"}, mb << 20).status == 0) base = mb << 20;
    ASSERT_NE(base, 0u);

    const std::string sym = testutil::big_sym(150000);
    spit(dir / "prog.sym", sym);
    int out_of_memory = 0;
    for (rlim_t extra = 0; extra <= (48u << 20); extra += 3u << 20) {
        const Outcome r = run(dir, {"prog", "-Oprog", "-S"}, base + extra);
        SCOPED_TRACE("limit " + std::to_string((base + extra) >> 20) + " MB");
        ASSERT_TRUE(r.status == 0 || r.status == 3) << "status " << r.status << "\n" << r.out;
        if (r.status == 3) {
            ++out_of_memory;
            EXPECT_TRUE(ends_with(r.out, kNoMemory)) << r.out;
            EXPECT_EQ(slurp(dir / "prog.sym"), sym);
            EXPECT_FALSE(fs::exists(dir / "prog_tmp.sym"));
        } else {
            spit(dir / "prog.sym", sym);
        }
    }
    EXPECT_GT(out_of_memory, 0) << "no limit was low enough";
#endif
}

// Under address-space limits too small for a whole run, from the smallest
// at which the program starts at all: every run either converts or ends
// with an error, leaving no output behind: error 4 and status 3, or, when
// even a file cannot be opened for lack of memory, the error of that file.
// It never aborts (status 134) and never leaves an empty file.
TEST(Fault, TooLittleMemoryNeverAbortsNorLeavesAnOutput) {
#ifdef MRL_ASAN
    GTEST_SKIP() << "address space limits do not work under AddressSanitizer";
#else
    const TempDir tmp;
    const fs::path& dir = tmp.path();
    const std::string hex = testutil::big_hex(200), sym = testutil::big_sym(200);
    int converted = 0, refused = 0;
    for (rlim_t kb = 1024; kb <= 16384; kb += 128) {
        SCOPED_TRACE("limit " + std::to_string(kb) + " KB");
        for (const auto& e : fs::directory_iterator(dir)) fs::remove(e.path());
        spit(dir / "prog.hex", hex);
        spit(dir / "prog.sym", sym);
        const Outcome r = run(dir, {"prog", "-Oout"}, kb << 10);
        ASSERT_NE(r.status, 128 + SIGABRT) << r.out << r.err;
        if (r.out.empty() && r.status != 0) continue;  // too little to start the program
        ASSERT_TRUE(r.status == 0 || r.status == 2 || r.status == 3 || r.status == 4) << "status " << r.status << "\n"
                                                                                      << r.out << r.err;
        EXPECT_EQ(r.err, "");
        if (r.status == 0) {
            ++converted;
            continue;
        }
        if (r.status == 3) {
            ++refused;
            EXPECT_TRUE(ends_with(r.out, kNoMemory)) << r.out;
        } else {
            EXPECT_NE(r.out.find(r.status == 2 ? " Error : Can't create '" : " Error : Can't open '"),
                      std::string::npos)
                << r.out;
        }
        for (const char* name : {"out.hex", "out.hxh", "out.sym"}) {
            if (!fs::exists(dir / name)) continue;
            // Only a HEX output that its pass finished before the symbol
            // pass ran out may stay, and then it is whole.
            EXPECT_NE(std::string(name), "out.sym");
            EXPECT_GT(fs::file_size(dir / name), 0u) << name;
        }
    }
    EXPECT_GT(refused, 0) << "no limit was low enough";
    EXPECT_GT(converted, 0) << "no limit was high enough";
#endif
}

// At the edge of start-up: from below the smallest address-space limit at
// which a program gets through a run, in steps finer than what one
// allocation takes, neither program ever aborts (status 134, "terminate
// called"): below the edge it is not loaded at all, at the edge it reports
// the lack of memory in its own way, above it it runs.
TEST(Fault, NeitherProgramAbortsAtTheEdgeOfStartUp) {
#ifdef MRL_ASAN
    GTEST_SKIP() << "address space limits do not work under AddressSanitizer";
#else
    const TempDir tmp;
    const fs::path& dir = tmp.path();
    spit(dir / "prog.hex", testutil::big_hex(50));
    spit(dir / "prog.sym", testutil::big_sym(50));
    struct Program {
        testutil::Tool tool;
        std::vector<std::string> args;
    };
    for (const Program& p :
         {Program{testutil::mrl85_tool(), {"prog", "-Oout"}}, Program{testutil::report_tool(), {"prog"}}}) {
        SCOPED_TRACE(p.tool.name);
        const auto run_at = [&](rlim_t kb) {
            for (const char* name : {"out.hex", "out.hxh", "out.sym", "mrl.ifd"}) fs::remove(dir / name);
            return Process(dir, p.args, kb << 10, std::chrono::seconds(120), 0, p.tool).finish();
        };
        rlim_t first = 0;  // the smallest limit, in 64 KB steps, at which the run succeeds
        for (rlim_t kb = 512; kb <= 65536 && first == 0; kb += 64)
            if (run_at(kb).status == 0) first = kb;
        ASSERT_NE(first, 0u);
        for (rlim_t kb = first / 2; kb <= first + 1024; kb += 8) {
            const Outcome r = run_at(kb);
            ASSERT_NE(r.status, 128 + SIGABRT) << "limit " << kb << " KB\n" << r.out << r.err;
            EXPECT_EQ(r.err.find("terminate called"), std::string::npos) << "limit " << kb << " KB\n" << r.err;
        }
    }
#endif
}

// Ctrl-C at random moments of in-place runs on large inputs: afterwards each
// input name holds either its original bytes or the whole converted file,
// and a high HEX file, if present, is whole.
TEST(Fault, InterruptedInPlaceRunNeverLosesAnInput) {
    const TempDir ref_tmp, tmp;
    const fs::path &ref = ref_tmp.path(), &dir = tmp.path();
    const std::string hex = testutil::big_hex(30000), sym = testutil::big_sym(10000);
    spit(ref / "prog.hex", hex);
    spit(ref / "prog.sym", sym);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_EQ(run(ref, {"prog", "-Oprog"}).status, 0);
    const auto took = std::chrono::steady_clock::now() - t0;
    const std::string hex_out = slurp(ref / "prog.hex"), hxh_out = slurp(ref / "prog.hxh"),
                      sym_out = slurp(ref / "prog.sym");
    ASSERT_NE(hex_out, hex);
    ASSERT_NE(sym_out, sym);

    std::mt19937 rng(12345);
    const long long span = std::chrono::duration_cast<std::chrono::microseconds>(took).count() * 5 / 4 + 1;
    std::uniform_int_distribution<long long> delay(0, span);
    int interrupted = 0;
#ifdef MRL_ASAN
    const int rounds = 20;  // each run is many times slower there
#else
    const int rounds = 60;
#endif
    for (int round = 0; round < rounds; ++round) {
        for (const auto& e : fs::directory_iterator(dir)) fs::remove(e.path());
        spit(dir / "prog.hex", hex);
        spit(dir / "prog.sym", sym);
        Process p(dir, {"prog", "-Oprog"});
        std::this_thread::sleep_for(std::chrono::microseconds(delay(rng)));
        kill(p.pid(), SIGINT);
        const Outcome r = p.finish();
        SCOPED_TRACE("round " + std::to_string(round) + ", status " + std::to_string(r.status));
        // 0 finished, 1 interrupted, 128 + SIGINT before the handler was set.
        ASSERT_TRUE(r.status == 0 || r.status == 1 || r.status == 128 + SIGINT);
        if (r.status != 0) ++interrupted;
        const auto now_hex = maybe(dir / "prog.hex"), now_sym = maybe(dir / "prog.sym"),
                   now_hxh = maybe(dir / "prog.hxh");
        ASSERT_TRUE(now_hex.has_value()) << "prog.hex lost";
        ASSERT_TRUE(now_sym.has_value()) << "prog.sym lost";
        EXPECT_TRUE(*now_hex == hex || *now_hex == hex_out) << "prog.hex partial";
        EXPECT_TRUE(*now_sym == sym || *now_sym == sym_out) << "prog.sym partial";
        if (now_hxh) {
            EXPECT_EQ(*now_hxh, hxh_out) << "prog.hxh partial";
        }
        if (r.status == 0) {
            EXPECT_EQ(*now_hex, hex_out);
            EXPECT_EQ(*now_sym, sym_out);
        }
    }
    EXPECT_GT(interrupted, 0);
}

// A symbol input that can be read only once (a pipe) cannot be read again
// for the rewriting pass: error 6, status 4, the output removed. Reading what
// the second pass finds instead would write an empty output and report success.
TEST(Fault, SymbolInputThatCannotBeReadAgain) {
    const TempDir tmp;
    const fs::path& dir = tmp.path();
    ASSERT_EQ(mkfifo((dir / "prog.sym").c_str(), 0644), 0);
    Process p(dir, {"prog", "-Oout", "-S"});
    EXPECT_TRUE(testutil::fifo_write(dir / "prog.sym", "# SECTION INFORMATION\n0001 P 0 0 0 00000000 00000010 a.o\n"))
        << "the program never opened prog.sym";
    const Outcome r = p.finish();
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(ends_with(r.out, " Error : Can't open 'prog.sym' file\n")) << r.out;
    EXPECT_FALSE(fs::exists(dir / "out.sym"));
}

// A HEX file of `lines` data records, all of them after a segment record
// that selects the high HEX file, behind one low record.
std::string big_high_hex(int lines) {
    std::string s = ":0400000001020304F2\n:020000021000EC\n";
    char buf[64];
    for (int i = 0; i < lines; ++i) {
        std::snprintf(buf, sizeof buf, ":10%04X00000102030405060708090A0B0C0D0E0F00\n", (i * 16) & 0xFFFF);
        s += buf;
    }
    return s + ":00000001FF\n";
}

// While it exists, the programs started get a limit on the size of each file
// they write (a lower soft limit of this process, which they inherit).
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit lim{bytes, saved_.rlim_max};
        active_ = bytes != 0 && setrlimit(RLIMIT_FSIZE, &lim) == 0;
    }
    ~FileSizeLimit() {
        if (active_) setrlimit(RLIMIT_FSIZE, &saved_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit saved_{};
    bool active_ = false;
};

// A full disk, or the file size limit, in the middle of outputs larger than
// the write buffer: the write itself fails, not just the last flush. Error 7
// naming the output, the status of that output, nothing left behind, in
// place the inputs intact. An ordinary output gets a full disk under it from
// the preloaded fault library; in place the limit on the file size stands in
// for the full disk. That limit must not kill the
// run with its signal, which would leave a record cut in half.
TEST(Fault, FullDiskInTheMiddleOfLargeOutputs) {
    struct Case {
        const char* full;  // the output that cannot be written
        bool size_limit;   // false: the fault library puts a full disk under it
        std::vector<std::string> args;
        int status;
    };
    // clang-format off
    const std::vector<Case> cases = {
        {"out.hex",      false, {"prog", "-Oout", "-H"},   3},
        {"out.hxh",      false, {"prog", "-Oout", "-H"},   3},
        {"out.sym",      false, {"prog", "-Oout", "-S"},   2},
        {"prog_tmp.hex", true,  {"prog", "-Oprog", "-H"},  3},
        {"high_tmp.hxh", true,  {"high", "-Ohigh", "-H"},  3},
        {"prog_tmp.sym", true,  {"prog", "-Oprog", "-S"},  2},
    };
    // clang-format on
    const std::string hex = testutil::big_hex(120000), high = big_high_hex(60000), sym = testutil::big_sym(30000);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.full);
        const TempDir tmp;
        const fs::path& dir = tmp.path();
        spit(dir / "prog.hex", hex);
        spit(dir / "prog.sym", sym);
        spit(dir / "high.hex", high);
#ifdef MRL_FAULT_SHIM
        std::optional<testutil::ShimSet> shim;
        if (!k.size_limit) shim.emplace(std::string("full-disk:") + k.full);
#else
        if (!k.size_limit) continue;
#endif
        const Outcome r = [&] {
            const FileSizeLimit limit(k.size_limit ? rlim_t{1} << 20 : 0);
            return run(dir, k.args);
        }();
        EXPECT_EQ(r.status, k.status);
        EXPECT_TRUE(ends_with(r.out, std::string(" Error : Can't create '") + k.full + "' file\n")) << r.out;
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, (std::vector<std::string>{"high.hex", "prog.hex", "prog.sym"}));
        EXPECT_EQ(slurp(dir / "prog.hex"), hex);
        EXPECT_EQ(slurp(dir / "prog.sym"), sym);
        EXPECT_EQ(slurp(dir / "high.hex"), high);
    }
}

}  // namespace
