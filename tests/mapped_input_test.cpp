// mapped_input_test.cpp: inputs read in place through a mapping. The
// reader gives the same lines, pieces and bytes as when it reads a file
// into its block (here: through a FIFO, which cannot be mapped); a file cut
// short under the reader is a read error, never a crash; and a run whose
// input another process cuts short in the middle of a pass ends as a read
// error does, while a mapping that cannot be made changes nothing.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "run/textfile.h"
#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::slurp;
using testutil::spit;
using testutil::TempDir;

// Everything a reader gives, as text: each get_line result, or each
// get_long_line and get_more result with its `more` mark, or each line
// get_long_line_starting('#') finds.
enum class Way { kLines, kPieces, kHeaders };

std::string read_all(InFile& f, Way way) {
    std::string seen;
    std::string_view text;
    bool more = false;
    for (;;) {
        const int got = way == Way::kLines    ? f.get_line(text)
                        : way == Way::kPieces ? f.get_long_line(text, more)
                                              : f.get_long_line_starting('#', text, more);
        if (got <= 0) return seen + std::to_string(got);
        seen += (more ? "+" : ".") + std::string(text) + "|";
        while (way == Way::kPieces && more) {
            const int piece = f.get_more(text, more);
            if (piece <= 0) {
                seen += "p" + std::to_string(piece) + "|";
                break;
            }
            seen += (more ? "p+" : "p.") + std::string(text) + "|";
        }
    }
}

#ifndef _WIN32
// What the reader gives for `bytes` read from a FIFO, written by a thread.
std::string read_through_fifo(const fs::path& dir, const std::string& bytes, Way way) {
    const fs::path p = dir / "in.fifo";
    fs::remove(p);
    if (mkfifo(p.c_str(), 0600) != 0) return "no FIFO";
    std::thread writer([&] {
        const int fd = open(p.c_str(), O_WRONLY);
        for (size_t at = 0; fd >= 0 && at < bytes.size();) {
            const ssize_t n = write(fd, bytes.data() + at, bytes.size() - at);
            if (n <= 0) break;
            at += static_cast<size_t>(n);
        }
        if (fd >= 0) close(fd);
    });
    InFile f;
    std::string seen = f.open(p.string(), InputPass::kSym) ? read_all(f, way) : "not opened";
    EXPECT_FALSE(f.mapped());
    // Whatever is left unread goes, so that the writer ends.
    std::string_view rest;
    while (f.get_line(rest) > 0) {
    }
    f.close();
    writer.join();
    return seen;
}
#endif

// Inputs where a mapped reader could part from a reading one: line ends of
// every kind, a CR LF across the end of a block, lines of exactly a block
// and around it, NUL bytes, no final line end, an empty file.
std::vector<std::pair<std::string, std::string>> edge_inputs() {
    const size_t b = kTextBlock;
    std::string nul("a\0b\n\0\0\n:10\0\n", 12);
    return {
        {"empty", ""},
        {"one line without a line end", "# FUNC 0001"},
        {"CR LF, lone CR, LF", "a\r\nb\rc\n\r\n\r\rd\r\n#x\r\n"},
        {"NUL bytes", nul},
        {"a line of exactly a block, then more", std::string(b - 1, 'x') + "\n#y\n"},
        {"a line of a block and one", std::string(b, 'x') + "\n#y\n"},
        {"CR LF across the end of a block", std::string(b - 1, 'x') + "\r\n#y\r\n"},
        {"a CR at the end of a block without a line feed", std::string(b - 1, 'x') + "\rz\n"},
        {"a last line of exactly a block without a line end", "#a\n" + std::string(b, 'x')},
        {"a last line of a block ending in CR", "#a\n" + std::string(b - 1, 'x') + "\r"},
        {"three blocks of one line", std::string(3 * b + 7, 'y') + "\n"},
        {"lines of 255 and 256 characters", std::string(255, 'h') + "\n" + std::string(256, 'h') + "\r\n" +
                                                std::string(254, 'h') + "\r\n" + std::string(600, 'h')},
    };
}

TEST(MappedInput, GivesTheSameLinesAndPiecesAsReadingIntoTheBlock) {
#ifdef _WIN32
    GTEST_SKIP() << "compared with a FIFO";
#else
    const TempDir tmp;
    const fs::path file = tmp / "in.txt";
    std::vector<std::pair<std::string, std::string>> inputs = edge_inputs();
    // And text in which each kind of line end meets the end of a block.
    std::string mixed;
    for (int i = 0; mixed.size() < 3 * kTextBlock; ++i)
        mixed += std::string(static_cast<size_t>(i * 7919 % 3000), '#') + (i % 3 == 0 ? "\r\n" : i % 3 ? "\n" : "\r");
    inputs.emplace_back("mixed", mixed);
    for (const auto& [what, bytes] : inputs) {
        SCOPED_TRACE(what);
        spit(file, bytes);
        for (const Way way : {Way::kLines, Way::kPieces, Way::kHeaders}) {
            InFile f;
            ASSERT_TRUE(f.open(file.string(), InputPass::kSym));
            const std::string mapped = read_all(f, way);
#ifndef MRL_NO_INPUT_MAP
            EXPECT_EQ(f.mapped(), !bytes.empty());
#endif
            f.close();
            EXPECT_EQ(mapped, read_through_fifo(tmp.path(), bytes, way)) << "way " << static_cast<int>(way);
        }
        // The head of the file, and what rewinding gives again.
        InFile f;
        ASSERT_TRUE(f.open(file.string(), InputPass::kSym));
        EXPECT_EQ(std::string(f.head()), bytes.substr(0, kTextBlock));
        const std::string first = read_all(f, Way::kPieces);
        ASSERT_TRUE(f.rewind());
        EXPECT_EQ(read_all(f, Way::kPieces), first);
        EXPECT_TRUE(f.unchanged());
        f.close();
    }
#endif
}

// A file cut short while it is read through its mapping: the pages beyond
// its new end fault, the reader never crashes, and what follows the cut is a
// read error, whether the lines are taken one by one or a block at a time.
TEST(MappedInput, AFileCutShortUnderTheReaderIsAReadError) {
#if defined(_WIN32) || defined(MRL_NO_INPUT_MAP)
    GTEST_SKIP() << "no mapping to cut";
#else
    const TempDir tmp;
    const fs::path file = tmp / "in.hex";
    std::string bytes;
    for (int i = 0; bytes.size() < 40 * 4096; ++i)
        bytes += ":10000000000102030405060708090A0B0C0D0E0F" + std::to_string(i) + "\n";
    for (const size_t cut : {size_t{0}, size_t{4096}, size_t{20000}}) {
        for (const Way way : {Way::kLines, Way::kPieces, Way::kHeaders}) {
            SCOPED_TRACE("cut at " + std::to_string(cut) + ", way " + std::to_string(static_cast<int>(way)));
            spit(file, bytes);
            InFile f;
            ASSERT_TRUE(f.open(file.string(), InputPass::kSym));
            std::string_view line;
            bool more = false;
            ASSERT_EQ(f.get_line(line), 1);
            ASSERT_TRUE(f.mapped());
            ASSERT_EQ(truncate(file.c_str(), static_cast<off_t>(cut)), 0);
            EXPECT_TRUE(f.cut());
            // A pass's fast path scans what is left in place first.
            const std::string_view rest = f.unread();
            size_t lfs = 0;
            for (const char c : rest) lfs += c == '\n';
            EXPECT_LE(lfs, cut / 40 + 1) << "lines past the cut";
            int got = 1;
            for (int n = 0; got == 1 && n < 100000; ++n)
                got = way == Way::kLines    ? f.get_line(line)
                      : way == Way::kPieces ? f.get_long_line(line, more)
                                            : f.get_long_line_starting('#', line, more);
            EXPECT_EQ(got, -1);
            EXPECT_FALSE(f.unchanged());
            f.close();
        }
    }
#endif
}

#ifdef MRL_FAULT_SHIM
const char kBanner[] =
    "HEX, SYM file converter for ZQ50 Series V.1.00.00\n"
    "Copyright (c) 2026 The mrl85 authors\n"
    "Released under the MIT License\n\n";

using Files = std::map<std::string, std::string>;

Files files_in(const fs::path& dir) {
    Files all;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename() != "mrl.ifd") all[e.path().filename().string()] = slurp(e.path());
    return all;
}
#endif

// Another process cuts an input to half its size in the middle of the pass
// that reads it: the HEX pass (at its first write to an output), the symbol
// file's first pass (right after it is mapped, when the pass begins to
// read it, so that the pass reads up to the cut) and its rewriting pass (at its first write to the output). Each ends
// as a read error: error 6 for that input, status 4; with the trace off no
// output and no temporary is left; with +info the log ends at the read
// error's place. In place and not.
TEST(MappedInput, AnInputCutShortInTheMiddleOfAPassIsAReadError) {
#if !defined(MRL_FAULT_SHIM) || defined(MRL_NO_INPUT_MAP)
    GTEST_SKIP() << "no preload library, or no mapping, on this platform";
#else
    if (testutil::windows_program()) GTEST_SKIP() << "a library preloaded into a POSIX program";
    const std::string hex = testutil::big_hex(60000), sym = testutil::big_sym(20000, false);
    struct Case {
        const char* what;
        const char* option;  // -H or -S
        const char* shim;    // its suffix is the output's name without the base
        const char* input;
        const char* before;  // standard output before the error
        int place;
    };
    const Case cases[] = {
        {"HEX pass", "-H", "truncate-at-write:@out.hex", "prog.hex",
         "\n== HEX file convert now == ( prog.hex --> @final.hex )\n", 2001},
        {"symbol file, first pass", "-S", "truncate-at-map:prog.sym", "prog.sym",
         "== SYM file convert now == ( prog.sym --> @final.sym )\n", 2011},
        {"symbol file, rewriting pass", "-S", "truncate-at-write:@out.sym", "prog.sym",
         "== SYM file convert now == ( prog.sym --> @final.sym )\n", 2011},
    };
    const auto with = [](std::string s, const std::string& x, const std::string& y) {
        for (size_t at; (at = s.find(x)) != std::string::npos;) s.replace(at, x.size(), y);
        return s;
    };
    for (const Case& c : cases) {
        for (const bool in_place : {false, true}) {
            for (const bool traced : {false, true}) {
                SCOPED_TRACE(std::string(c.what) + (in_place ? ", in place" : "") + (traced ? ", +info" : ""));
                const TempDir tmp;
                const fs::path& dir = tmp.path();
                spit(dir / "prog.hex", hex);
                spit(dir / "prog.sym", sym);
                const std::string output = in_place ? "prog_tmp" : "out";
                const testutil::ShimSet shim(with(c.shim, "@out", output), (dir / c.input).string());
                std::vector<std::string> args = {"prog", in_place ? "-Oprog" : "-Oout", c.option};
                if (traced) args.push_back("+info");
                const testutil::Outcome r = testutil::run(dir, args);
                EXPECT_EQ(r.status, 4) << r.out << r.err;
                EXPECT_EQ(r.out, kBanner + with(c.before, "@final", in_place ? "prog" : "out") +
                                     " Error : Can't open '" + c.input + "' file\n");
                EXPECT_EQ(r.err, "");
                // The input is what the other process made of it.
                const std::string& whole = std::string(c.input) == "prog.hex" ? hex : sym;
                EXPECT_EQ(slurp(dir / c.input), whole.substr(0, whole.size() / 2));
                Files left = files_in(dir);
                if (traced) {
                    const std::string log = slurp(dir / "mrl.ifd");
                    const std::string line = "++++++++++ Error exit at " + std::to_string(c.place) + " ++++++++++\n";
                    EXPECT_NE(log.find(line), std::string::npos)
                        << log.substr(log.size() > 2000 ? log.size() - 2000 : 0);
                    continue;  // the outputs stay for inspection
                }
                left.erase(c.input);
                EXPECT_EQ(left.size(), 1u) << "an output or a temporary was left";
                EXPECT_EQ(left.count(std::string(c.input) == "prog.hex" ? "prog.sym" : "prog.hex"), 1u);
            }
        }
    }
#endif
}

// A run of plain lines is written straight from the mapping. When another
// process cuts the file after the pass read the run and before it is written,
// the system refuses the write of the bytes past the cut: the run ends as a
// read error of the symbol file, not as a failed write of the output.
TEST(MappedInput, AWriteStraightFromAMappingCutShortIsAReadError) {
#if !defined(MRL_FAULT_SHIM) || defined(MRL_NO_INPUT_MAP)
    GTEST_SKIP() << "no preload library, or no mapping, on this platform";
#else
    if (testutil::windows_program()) GTEST_SKIP() << "a library preloaded into a POSIX program";
    // One header block, then 1.7 MB of lines that no rewriter sees: the
    // first write is the header block, the second the run of data lines.
    std::string sym = "# SECTION INFORMATION\n0001 P 0 0 0 00001000 00000010 a.o\n\n# DATA\n";
    for (int i = 0; i < 60000; ++i) sym += "data line " + std::to_string(100000 + i) + " of the program's listing\n";
    for (const bool in_place : {false, true}) {
        SCOPED_TRACE(in_place ? "in place" : "to another name");
        const TempDir tmp;
        spit(tmp / "prog.sym", sym);
        const std::string output = in_place ? "prog_tmp.sym" : "out.sym";
        const testutil::ShimSet shim("truncate-at-second-write:" + output, (tmp / "prog.sym").string());
        const testutil::Outcome r = testutil::run(tmp.path(), {"prog", in_place ? "-Oprog" : "-Oout", "-S"});
        EXPECT_EQ(r.status, 4) << r.out << r.err;
        EXPECT_EQ(r.out, std::string(kBanner) + "== SYM file convert now == ( prog.sym --> " +
                             (in_place ? "prog" : "out") + ".sym )\n Error : Can't open 'prog.sym' file\n");
        Files left = files_in(tmp.path());
        EXPECT_EQ(left.size(), 1u) << "an output or a temporary was left";
        EXPECT_EQ(left["prog.sym"], sym.substr(0, sym.size() / 2));
    }
#endif
}

// mrl85-report reads its inputs in place as mrl85 does: an input cut short
// while it is read is told as the read error mrl85 would end with (status
// 4, at its place), never diagnosed from the zeros read past the cut.
TEST(MappedInput, TheReportTellsAnInputCutShortAsAReadError) {
#if !defined(MRL_FAULT_SHIM) || defined(MRL_NO_INPUT_MAP)
    GTEST_SKIP() << "no preload library, or no mapping, on this platform";
#else
    if (testutil::windows_program(testutil::report_tool().path))
        GTEST_SKIP() << "a library preloaded into a POSIX program";
    const std::string hex = testutil::big_hex(60000), sym = testutil::big_sym(20000, false);
    const struct {
        const char* input;
        const char* said;
    } cases[] = {
        {"prog.hex",
         "prog.hex: error: cannot read the HEX file: it changed while it was read\n"
         "  mrl85 stops here too: status 4, error exit at 2001\n"},
        {"prog.sym",
         "prog.sym: error: cannot read the symbol file\n"
         "  mrl85 stops here too: status 4, error exit at 2011\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.input);
        const TempDir tmp;
        spit(tmp / "prog.hex", hex);
        spit(tmp / "prog.sym", sym);
        const testutil::ShimSet shim(std::string("truncate-at-map:") + c.input);
        const testutil::Outcome r = testutil::run_report(tmp.path(), {"prog"});
        EXPECT_EQ(r.status, 4) << r.out << r.err;
        // (The generated records' checksums are warned of before.)
        EXPECT_TRUE(r.err.ends_with(c.said)) << r.err.substr(r.err.size() > 400 ? r.err.size() - 400 : 0);
    }
#endif
}

// A mapping that cannot be made (no address space for it) leaves the run
// as it is: the input is read into the block, with the same messages,
// status and outputs as a run that maps it.
TEST(MappedInput, AMappingRefusedChangesNothing) {
#ifndef MRL_FAULT_SHIM
    GTEST_SKIP() << "no preload library on this platform";
#else
    if (testutil::windows_program()) GTEST_SKIP() << "a library preloaded into a POSIX program";
    const fs::path fixtures = fs::path(MRL_E2E_DIR) / "fixtures" / "worked";
    const std::vector<std::vector<std::string>> runs = {
        {"prog", "-Oout"}, {"prog", "-Oprog"}, {"prog", "-Oout", "+info"}};
    for (const auto& args : runs) {
        SCOPED_TRACE(args[1] + (args.size() > 2 ? " " + args[2] : ""));
        std::vector<std::pair<testutil::Outcome, Files>> seen;
        for (const char* shim : {"", "refuse-map:prog.hex,refuse-map:prog.sym"}) {
            const TempDir tmp;
            const fs::path& dir = tmp.path();
            spit(dir / "prog.hex", slurp(fixtures / "prog.hex"));
            spit(dir / "prog.sym", slurp(fixtures / "prog.sym"));
            const testutil::ShimSet chosen(shim);
            seen.emplace_back(testutil::run(dir, args), files_in(dir));
        }
        EXPECT_EQ(seen[0].first.status, 0);
        EXPECT_EQ(seen[1].first.status, seen[0].first.status);
        EXPECT_EQ(seen[1].first.out, seen[0].first.out);
        EXPECT_EQ(seen[1].second, seen[0].second);
    }
#endif
}

}  // namespace
