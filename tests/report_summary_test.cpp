// report_summary_test.cpp: the text summary of mrl85-report, through the
// built program. Names and labels are file content and go to a terminal:
// no byte of them may act on it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testutil.h"

namespace {

using testutil::spit;
using testutil::TempDir;

// Standard output of mrl85-report with `args` in `dir`, line ends as LF.
testutil::Outcome report(const TempDir& dir, const std::vector<std::string>& args) {
    testutil::Outcome r = testutil::run_report(dir.path(), args);
    r.out = testutil::lf_text(r.out, testutil::windows_program(testutil::report_tool().path));
    return r;
}

// A small pair with the traps of a real one: two data records that touch
// but come in the wrong order, a unit whose extent overlaps the HEX data
// only in part (the used bytes count each address once), a high segment,
// a GLOBAL LABEL line with a pair above FFFF, the LOCAL LABEL block of a
// deleted unit, and a line of blanks and a unit number that the unit table
// does not read. The short summary, whole: the totals, the usage table and
// what is cut, nothing kept.
TEST(ReportSummary, ShortSummaryOfATrickyPair) {
    const TempDir tmp;
    spit(tmp / "prog.hex",
         ":02001000AABB89\n"
         ":10000000000102030405060708090A0B0C0D0E0F78\n"
         ":020000021000EC\n"
         ":0400200001020304D2\n"
         ":00000001FF\n");
    spit(tmp / "prog.sym",
         "# SECTION INFORMATION\n"
         "0001 P 0 0 0 00000008 00000020 m.o\n"
         "                 0003\n"
         "0003 FAR 0 0 0 00010000 00000010 m.o\n"
         "\n# FUNC 0001 main 0001\n# FUNC 0002 far 0003\n"
         "\n# GLOBAL LABEL\nlo 0  hi 10000\n"
         "\n# LOCAL LABEL 0003\nz 10000\n");
    const testutil::Outcome r = report(tmp, {"prog"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "HEX file prog.hex\n"
              "  records                         5   data 3, segment 1, end 1\n"
              "  low output                      3   lines, kept as .hex, 2 data records, 18 data bytes\n"
              "  high output                     3   lines, kept as .hxh, 1 data records, 4 data bytes\n"
              "SYM file prog.sym\n"
              "  units                           2   kept 1, deleted 1 (ends above FFFF 1, empty above FFFF 0, "
              "empty \"E\" 0)\n"
              "  functions                       2   kept 1, deleted 1\n"
              "  global labels dropped           1\n"
              "  blocks dropped                  1\n"
              "  lines dropped                   5   rewritten 2\n"
              "\n"
              "area             HEX data  units' extent       used       size   used %\n"
              "  low  .hex            18             32         40      65536    0.06%\n"
              "  high .hxh             4                         4\n"
              "\n"
              "segment 1000  high  base 10000         1 records          4 bytes  0020-0023\n"
              "\n"
              "unit deleted  0003          FAR   00010000  00000010  ends above FFFF  line 4\n"
              "unit deleted  0003          (not read into the unit table: the line begins with a blank)  line 3\n"
              "\n"
              "function deleted  0002  unit 0003  line 7\n"
              "\n"
              "label dropped  hi 10000  line 10\n"
              "\n"
              "block dropped  LOCAL LABEL       # LOCAL LABEL 0003  lines 12-13\n");
    // With one file only, the other's column of the usage table is "-" and
    // the used bytes are those of the file read.
    const testutil::Outcome hex = report(tmp, {"--hex", "prog"});
    EXPECT_NE(hex.out.find("  low  .hex            18              -         18      65536    0.03%\n"),
              std::string::npos)
        << hex.out;
    const testutil::Outcome sym = report(tmp, {"--sym", "prog"});
    EXPECT_NE(sym.out.find("  low  .hex             -             32         32      65536    0.05%\n"),
              std::string::npos)
        << sym.out;
    EXPECT_EQ(sym.out.find("high .hxh"), std::string::npos) << sym.out;
}

// The number of lines of `text` that start with `start`.
size_t rows(const std::string& text, const std::string& start) {
    size_t n = 0;
    for (size_t at = 0; at < text.size(); at = text.find('\n', at) + 1) {
        if (text.compare(at, start.size(), start) == 0) ++n;
        if (text.find('\n', at) == std::string::npos) break;
    }
    return n;
}

// A list longer than 20 rows is cut after 20, with how many more and the
// option that shows them; --list shows the kinds named whole and no other
// list; --all shows every row of every kind. The labels come from a scratch
// file, the units from the tables: both are cut alike.
TEST(ReportSummary, LongListsAreCutAndListedOnRequest) {
    const TempDir tmp;
    std::string sym = "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000040 m.o\n";
    std::string labels = "\n# GLOBAL LABEL\n";
    for (int i = 0; i < 25; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "%04X F%d 0 0 0 000%X0000 00000010 m.o\n", i + 2, i, i % 15 + 1);
        sym += line;
    }
    for (int i = 0; i < 23; ++i) labels += "hi" + std::to_string(i) + " 10000\n";
    spit(tmp / "prog.sym", sym + labels);
    struct Case {
        std::vector<std::string> args;
        size_t kept, deleted, labels;
        const char* more;  // the "more" lines, in order
    };
    const std::vector<Case> cases = {
        {{"--sym", "prog"}, 0, 20, 20, "5 more: --list=units\n3 more: --list=labels\n"},
        {{"--sym", "--list=units", "prog"}, 1, 25, 0, ""},
        {{"--sym", "--list=labels", "prog"}, 0, 0, 23, ""},
        {{"--sym", "--list=labels,units", "prog"}, 1, 25, 23, ""},
        {{"--sym", "--all", "prog"}, 1, 25, 23, ""},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.args[1]);
        const testutil::Outcome r = report(tmp, k.args);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(rows(r.out, "unit kept "), k.kept) << r.out;
        EXPECT_EQ(rows(r.out, "unit deleted "), k.deleted) << r.out;
        EXPECT_EQ(rows(r.out, "label dropped "), k.labels) << r.out;
        std::string more;
        for (size_t at = r.out.find(" more: --list="); at != std::string::npos; at = r.out.find(" more: ", at + 1))
            more += r.out.substr(r.out.rfind('\n', at) + 1, r.out.find('\n', at) - r.out.rfind('\n', at));
        EXPECT_EQ(more, k.more) << r.out;
        // The totals count every row, however many are shown.
        EXPECT_NE(r.out.find("  global labels dropped          23\n"), std::string::npos) << r.out;
    }
}

// Escape sequences in unit names, in a label dropped and in a block dropped
// come out with each control byte as "?" (or not at all); the rest of each
// row is as it was.
TEST(ReportSummary, ControlBytesFromTheInputsAreShownAsQuestionMarks) {
    const TempDir tmp;
    spit(tmp / "prog.sym",
         "# SECTION INFORMATION\n"
         "0001 ctl\x1b[31m 0 0 0 00000100 00000040 m.o\n"
         "0002 far\x1b]0;x\x07 0 0 0 00010000 00000040 m.o\n"
         "\n# GLOBAL LABEL\nlo 100  hi\x1b[5m\x7f 10000\n"
         "\n# LOCAL LABEL 0002\nz\x1b"
         "c 10000\n");
    const testutil::Outcome r = testutil::run_report(tmp.path(), {"--all", "--sym", "prog"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = testutil::lf_text(r.out, testutil::windows_program(testutil::report_tool().path));
    for (const char* row : {"unit kept     0001 -> 0001  ctl?[31m   00000100  00000040  line 2\n",
                            "unit deleted  0002          far?]0;x?  00010000  00000040  ends above FFFF  line 3\n",
                            "label dropped  hi?[5m? 10000  line 6\n", "# LOCAL LABEL 0002  lines 8-9\n"})
        EXPECT_NE(out.find(row), std::string::npos) << row << "\nin:\n" << out;
    for (const char c : out) EXPECT_FALSE((c >= 0 && c < ' ' && c != '\n') || c == 0x7f) << int(c);
}

}  // namespace
