// symmake_test.cpp: the whole symbol pass (first pass, renumbering, rewriting
// pass) over lines longer than the reader's block, which come in pieces:
// every line must be handled whole, whether it is rewritten, copied, dropped
// or passed over, and no piece may be taken for a line of its own.
#include <algorithm>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "sym/symmake.h"
#include "symtest.h"
#include "testutil.h"

namespace {

namespace fs = std::filesystem;

class SymPass : public testing::Test {
protected:
    void SetUp() override { symtest::reset(); }
    void TearDown() override {
        in_sym_fp.close();
        out_sym_fp.close();
        open_flag[S_IN_SYM] = open_flag[S_OUT_SYM] = 0;
    }
    // The output of the pass over `text`.
    std::string convert(const std::string& text) {
        testutil::spit(dir_ / "in.sym", text);
        EXPECT_TRUE(in_sym_fp.open((dir_ / "in.sym").string(), InputPass::kSym));
        EXPECT_TRUE(out_sym_fp.open((dir_ / "out.sym").string()));
        open_flag[S_IN_SYM] = open_flag[S_OUT_SYM] = 1;
        sec_func_read();
        unit_replac();
        func_replace();
        del_data();
        EXPECT_TRUE(out_sym_fp.close());
        open_flag[S_OUT_SYM] = 0;
        return testutil::slurp(dir_ / "out.sym");
    }
    testutil::TempDir dir_;
};

// Units 1 (kept), 2 (above FFFF, deleted) and 3 (kept, new 2); functions 1
// in unit 1, 2 in unit 2 (deleted) and 3 in unit 3 (new 2). Each kind of
// line appears longer than two blocks, most of them ending in text that
// would be read as a line of its own if a piece were taken for one.
TEST_F(SymPass, LinesLongerThanTheBlockAreHandledWhole) {
    const std::string big(2 * kTextBlock + 77, 'z');
    const std::string tail = "0002 P 0 0 0 0 0\n";  // a deleted unit's line, were it a line
    std::string labels, rebuilt;                    // as read, and as written: two blanks after each pair
    for (int i = 0; labels.size() < 2 * kTextBlock; ++i) {
        labels += "L" + std::to_string(i) + " 100 ";
        rebuilt += "L" + std::to_string(i) + " 100  ";
    }
    enum Fate { kKept, kDropped, kBecomes };
    struct Line {
        std::string in;
        Fate fate = kKept;
        std::string out = {};  // for kBecomes: the line as written
    };
    const Line lines[] = {
        {"free " + big + tail},  // before any header
        {"# SECTION INFORMATION " + big + "\n"},
        {"0001 P 0 0 0 100 10 " + big + ".lib " + tail},    // kept library line
        {"   " + big + tail},                               // its continuation
        {"0002 P 0 0 0 10000 10 " + big + tail, kDropped},  // deleted unit
        {"0003 P 0 0 0 200 10\n", kBecomes, "0002 P 0 0 0 200 10\n"},
        {"\n"},
        {"# FUNC 3 f 3 " + big + tail, kBecomes, "# FUNC 2 f 2 " + big + tail},
        {"# FUNC 1 g 1\n"},
        {"# FUNC 2 h 2 " + big + "\n", kDropped},     // dropped alone
        {"text " + big + "# FUNC 9 x 9\n"},           // no header inside a line
        {"# LOCAL LABEL 2 " + big + "\n", kDropped},  // dropped with its block
        {"lab " + big + tail, kDropped},
        {"\n"},
        {"# LOCAL LABEL 3\n", kBecomes, "# LOCAL LABEL 2\n"},
        {"lab " + big + tail},
        {"\n"},
        {"# GLOBAL LABEL\n"},
        {labels + "HI 10000 " + labels + "\n", kBecomes, rebuilt + rebuilt + "\n"},  // one line, rebuilt whole
        {"# GLOBAL SYMBOL\n"},
        {"sym " + big + tail},
    };
    std::string in, want;
    for (const Line& l : lines) {
        in += l.in;
        if (l.fate != kDropped) want += l.fate == kBecomes ? l.out : l.in;
    }
    const std::string out = convert(in);
    EXPECT_EQ(out.size(), want.size());
    EXPECT_TRUE(out == want) << "the output differs from byte "
                             << std::mismatch(out.begin(), out.end(), want.begin(), want.end()).first - out.begin();
    EXPECT_EQ(unit_table.size(), 3u);
    EXPECT_EQ(func_table.size(), 3u);
}

// The lines of GLOBAL SYMBOL and GLOBAL BIT SYMBOL blocks pass as they are,
// whatever addresses they name, a line of one character too.
TEST_F(SymPass, GlobalSymbolLinesPassUnchanged) {
    const std::string in =
        "# SECTION INFORMATION\n0001 P 0 0 0 0 10\n\n"
        "# GLOBAL SYMBOL\nSYM 12345 xyz\nx\n\n"
        "# GLOBAL BIT SYMBOL\nBIT 1FFFFF.3\nx\n";
    EXPECT_EQ(convert(in), in);
}

// A symbol file of several input blocks with every kind of section: units
// kept and deleted (with library lines and their continuations), blocks kept
// and dropped, runs of blank lines, lines before any header and after an
// unknown header, blank-led lines, long lines and blank lines inside GLOBAL
// LABEL blocks.
std::string varied_sym(unsigned seed) {
    std::mt19937 rng(seed);
    const auto pick = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
    const auto hex = [](unsigned n) { return symtest::hex(n); };
    const auto blanks = [&] { return std::string(pick(4) == 0 ? pick(4) : 1, '\n'); };
    const auto data = [&] {
        std::string d;
        for (unsigned k = pick(5); k > 0; --k) {
            d += pick(8) == 0 ? "  lead " : "d";
            d += std::to_string(pick(100000));
            if (pick(40) == 0) d.append(300 + pick(900), 'w');
            d += '\n';
        }
        return d;
    };
    const unsigned units = 2000;
    // Built piece by piece: "literal" + std::string trips a false
    // -Werror=restrict of g++ 12 at -O3.
    std::string s;
    const auto put = [&s](std::initializer_list<std::string_view> parts) {
        for (std::string_view part : parts) s += part;
    };
    put({"before any header\n\n# SECTION INFORMATION\n"});
    for (unsigned u = 1; u <= units; ++u) {
        put({hex(u), " P 0 0 0 ", pick(5) == 0 ? "10000" : "100", " 10 "});
        if (pick(6) == 0)
            put({"m.Lib\n   continuation ", std::to_string(u), "\n"});
        else
            put({"m.o\n"});
    }
    put({"\n"});
    for (unsigned f = 1; f <= units; ++f) put({"# FUNC ", hex(f), " fn ", hex(f), " 0 10\n", data()});
    for (int i = 0; i < 9000; ++i) {
        const unsigned n = 1 + pick(units);
        switch (pick(9)) {
            case 0: put({"# CALL ", hex(n), "\n", data(), blanks()}); break;
            case 1: put({"# SOURCE ", hex(n), " a.c 1\n", data(), blanks()}); break;
            case 2: put({"# LOCAL LABEL ", hex(n), "\n", data(), blanks()}); break;
            case 3:
                put({"# LOCAL SYMBOL ", hex(n), "-", hex(std::min(units, n + pick(4))), "\n", data(), blanks()});
                break;
            case 4: put({"#unknown ", std::to_string(n), "\n", data(), blanks()}); break;
            case 5:
                put({"# GLOBAL LABEL\n"});
                for (unsigned k = pick(4); k > 0; --k) {
                    put({"g", hex(n), " ", hex(pick(2) ? 0x100 : 0x10000), " h ", hex(n * 16), "\n"});
                    if (pick(4) == 0) put({"\nafter blank 1 2\n"});
                }
                put({blanks()});
                break;
            case 6: put({"# GLOBAL SYMBOL\n", data(), blanks()}); break;
            default: put({data(), blanks()}); break;
        }
    }
    return s;
}

// The copy that takes whole lines in the input block and the line-by-line
// way must agree on every line. A file with CR LF line ends takes the
// line-by-line way throughout (the reader drops each CR), so it must come out
// as the same file with LF line ends does, with the same trace.
TEST_F(SymPass, BlockCopyAndLineByLineAgree) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const std::string lf = varied_sym(seed);
        ASSERT_GT(lf.size(), 3 * kTextBlock);
        std::string crlf;
        for (char c : lf) crlf += c == '\n' ? "\r\n" : std::string(1, c);
        std::string out[2], trace[2];
        for (int i = 0; i < 2; ++i) {
            symtest::reset();
            symtest::Trace t;
            out[i] = convert(i == 0 ? lf : crlf);
            trace[i] = t.text();
            in_sym_fp.close();
        }
        ASSERT_NE(out[0], lf);
        EXPECT_TRUE(out[0] == out[1])
            << "seed " << seed << ": the outputs differ from byte "
            << std::mismatch(out[0].begin(), out[0].end(), out[1].begin(), out[1].end()).first - out[0].begin();
        EXPECT_TRUE(trace[0] == trace[1]) << "seed " << seed << ": the traces differ";
    }
}

// The first pass over a large mapped file leaves the FUNC headers of its
// second half to a helper thread, and the rewriting pass rewrites every other
// stretch on the helper, from the state it guesses. Cut into stretches of 4 KiB, files with
// blank lines before headers, library continuations and long lines, the same
// files with some lines ending in CR LF (which send a helper's stretch back to
// the pass's own thread), and a file where the guess is often wrong (a
// dropped header after a blank line leaves no blank line to be written before
// the next one, which is dropped too), and a file with FUNC headers all
// through it, come out as they do on one thread, with
// as many lookups and the same function table.
TEST_F(SymPass, StretchesRewrittenByAHelperComeOutAsOnOneThread) {
    std::vector<std::pair<std::string, std::string>> inputs;
    for (unsigned seed = 1; seed <= 3; ++seed) {
        const std::string lf = varied_sym(seed);
        std::string some_crlf;
        size_t lines = 0;
        for (char c : lf) some_crlf += c == '\n' && ++lines % 997 == 0 ? "\r\n" : std::string(1, c);
        inputs.emplace_back("seed " + std::to_string(seed), lf);
        inputs.emplace_back("seed " + std::to_string(seed) + ", some lines in CR LF", some_crlf);
    }
    std::string guessed_wrong =
        "# SECTION INFORMATION\n0001 P 0 0 0 0100 10 m.o\n0002 P 0 0 0 10000 10 m.o\n\n"
        "# FUNC 1 f 1 0 10\n# FUNC 2 g 2 0 10\n";
    for (int i = 0; i < 20000; ++i) {
        guessed_wrong += "# CALL 2\n# CALL 2\n\n";
        guessed_wrong.append(1 + i % 13, 'd') += '\n';
    }
    inputs.emplace_back("dropped headers after blank lines", guessed_wrong);
    std::string functions = "# SECTION INFORMATION\n";
    for (unsigned u = 1; u <= 500; ++u)
        functions += symtest::hex(u) + (u % 5 == 0 ? " P 0 0 0 10000 10 m.o\n" : " P 0 0 0 100 10 m.o\n");
    for (unsigned f = 1; f <= 20000; ++f) {
        functions += "\n# FUNC " + symtest::hex(f) + " fn " + symtest::hex(1 + f % 500) + " 0 10\n";
        functions += "# CALL " + symtest::hex(f) + "\n " + symtest::hex(1 + (f * 7) % f) + "\n";
    }
    inputs.emplace_back("functions all through the file", functions);
    for (const auto& [what, in] : inputs) {
        SCOPED_TRACE(what);
        std::string out[2];
        uint64_t lookups[2];
        uint32_t taken[2];
        std::vector<uint32_t> funcs[2];  // each function record's fields, in table order
        for (int i = 0; i < 2; ++i) {
            symtest::reset();
            sym_stretch = i == 0 ? 0 : 4096;
            out[i] = convert(in);
            lookups[i] = unit_lookups;
            taken[i] = sym_stretches_taken;
            for (const func_record& f : func_table)
                funcs[i].insert(funcs[i].end(), {f.func_no, f.unit_no, f.seq, f.new_func_no, f.delete_mode});
            in_sym_fp.close();
        }
        EXPECT_TRUE(funcs[0] == funcs[1]) << "the function tables differ";
        EXPECT_TRUE(out[0] == out[1])
            << "the outputs differ from byte "
            << std::mismatch(out[0].begin(), out[0].end(), out[1].begin(), out[1].end()).first - out[0].begin();
        EXPECT_EQ(lookups[0], lookups[1]);
        EXPECT_EQ(taken[0], 0u);
        EXPECT_GT(taken[1], 20u) << "the helper's work was hardly ever taken";
    }
}

// A failed check in a stretch that the helper tried ends the run as on one
// thread: the helper's try is given up, and the pass's own thread meets the
// same line and stops at the same check.
TEST_F(SymPass, AFailedCheckInAHelpersStretchStopsTheRunAsOnOneThread) {
    const std::string base = varied_sym(4);
    const char* const failing[] = {"# LOCAL LABEL FFFFF\n", "# LOCAL SYMBOL 1\n", "# GLOBAL LABEL\nB ZZ\n"};
    for (const char* line : failing) {
        // At several places, so that some fall in the helper's stretches.
        for (const size_t at : {base.size() / 3, base.size() / 2, base.size() * 2 / 3}) {
            SCOPED_TRACE(std::string(line) + " at " + std::to_string(at));
            const size_t header = base.find("\n#", at) + 1;
            const std::string in = base.substr(0, header) + line + base.substr(header);
            run_stopped stop[2];
            for (int i = 0; i < 2; ++i) {
                symtest::reset();
                run_embedded = true;
                sym_stretch = i == 0 ? 0 : 4096;
                try {
                    convert(in);
                    ADD_FAILURE() << "no failed check";
                } catch (const run_stopped& s) {
                    stop[i] = s;
                }
                out_sym_fp.close();
                in_sym_fp.close();
            }
            EXPECT_EQ(stop[0].status, stop[1].status);
            EXPECT_EQ(stop[0].place, stop[1].place);
            EXPECT_EQ(stop[0].text, stop[1].text);
            EXPECT_EQ(stop[0].number, stop[1].number);
        }
    }
}

// A format error in the rewriting pass with the trace on keeps the output for
// inspection. It must hold every line handled before the failing one, exactly
// as a run over those lines alone writes them: copied data lines, a blank
// line, a dropped block, lines a rewriter keeps as they are, rebuilt lines,
// and a file of several blocks. The failing line is a header or a data line.
TEST(SymPassErrors, KeptOutputHoldsEveryLineBeforeTheFailingOne) {
    const std::string head =
        "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000010 m.o\n0002 P 0 0 0 00010000 10 m.o\n\n# FUNC 1 f 1 0\n";
    const std::string befores[] = {
        head + "# SOURCE 1 a.c\n  000A _crc16\n  764 007A73\n\n",
        head + "# LOCAL LABEL 2\nx 1\ny 2\n",
        head + "# GLOBAL SYMBOL\ns 1\nt 2\n",
        head + "# GLOBAL LABEL\nA 100\nB 10000\n",
        varied_sym(1),
    };
    struct Failing {
        const char* lead;  // lines that are handled before the failing one
        const char* line;
    };
    const Failing failing[] = {
        {"", "# LOCAL LABEL FFFFF\n"},        // no such unit
        {"", "# LOCAL SYMBOL 1\n"},           // a range without "-"
        {"# GLOBAL LABEL\nA 1\n", "B ZZ\n"},  // an address that is no number
    };
    testutil::TempDir dir;
    for (const std::string& before : befores) {
        for (const Failing& f : failing) {
            const std::string lines = before + f.lead;
            testutil::spit(dir / "good.sym", lines);
            ASSERT_EQ(testutil::run(dir.path(), {"good", "-Ogood_out", "-S"}).status, 0);
            testutil::spit(dir / "bad.sym", lines + f.line + "after 1\n");
            const testutil::Outcome r = testutil::run(dir.path(), {"+info", "bad", "-Obad_out", "-S"});
            EXPECT_EQ(r.status, 3) << f.line;
            EXPECT_TRUE(testutil::slurp(dir / "bad_out.sym") == testutil::slurp(dir / "good_out.sym"))
                << "before " << f.line << "after " << before.substr(0, 60);
            fs::remove(dir / "bad_out.sym");
            fs::remove(dir / "mrl.ifd");
        }
    }
}

// A line that a rewriter needs is held whole, so memory bounds its length:
// a 64 MB GLOBAL LABEL line under a limit that a small file runs in with
// 16 MB to spare ends with error 4 and status 3, and the run in place leaves
// its input as it was. Without the limit it converts.
TEST(SymPassLimits, ALineLargerThanMemoryIsErrorFour) {
#ifdef MRL_ASAN
    GTEST_SKIP() << "address space limits do not work under AddressSanitizer";
#else
    if (testutil::windows_program()) GTEST_SKIP() << "address space limits apply to this platform's program only";
    testutil::TempDir dir;
    testutil::spit(dir / "small.sym", "# GLOBAL LABEL\nA 1\n");
    rlim_t base = 0;  // the smallest limit at which the program runs at all
    for (rlim_t mb = 4; mb <= 256 && base == 0; ++mb)
        if (testutil::run(dir.path(), {"small", "-Osmall", "-S"}, mb << 20).status == 0) base = mb << 20;
    ASSERT_NE(base, 0u);

    std::string sym = "# GLOBAL LABEL\n";
    while (sym.size() < (size_t{64} << 20)) sym += "LABEL 100 ";
    sym += "\n";
    testutil::spit(dir / "prog.sym", sym);
    const testutil::Outcome r = testutil::run(dir.path(), {"prog", "-Oprog", "-S"}, base + (rlim_t{16} << 20));
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.out.find(" Error : Not enough memory\n"), std::string::npos) << r.out;
    EXPECT_TRUE(testutil::slurp(dir / "prog.sym") == sym);
    EXPECT_FALSE(fs::exists(dir / "prog_tmp.sym"));

    EXPECT_EQ(testutil::run(dir.path(), {"prog", "-Oout", "-S"}).status, 0);
    EXPECT_EQ(fs::file_size(dir / "out.sym"), sym.size() + (sym.size() - 16) / 10);
#endif
}

}  // namespace
