// report_summary_test.cpp: the text summary of mrl85-report, through the
// built program. Names and labels are file content and go to a terminal:
// no byte of them may act on it.
#include <gtest/gtest.h>

#include <string>

#include "testutil.h"

namespace {

using testutil::spit;
using testutil::TempDir;

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
    for (const char* row : {"unit kept     0001 -> 0001  ctl?[31m   00000100  00000040\n",
                            "unit deleted  0002          far?]0;x?  00010000  00000040  ends above FFFF\n",
                            "label dropped  hi?[5m? 10000\n", "# LOCAL LABEL 0002\n"})
        EXPECT_NE(out.find(row), std::string::npos) << row << "\nin:\n" << out;
    for (const char c : out) EXPECT_FALSE((c >= 0 && c < ' ' && c != '\n') || c == 0x7f) << int(c);
}

}  // namespace
