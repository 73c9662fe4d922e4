// report_diagnose_test.cpp: for every place at which mrl85 refuses an input
// as a format error, mrl85-report names the file, line and column of the
// fault, says what is wrong, ends with status 3 as mrl85 does, and names the
// same error exit that mrl85's trace log records for the same input. An input
// that cannot be read ends both programs with status 4.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run/trace.h"
#include "testutil.h"

namespace {

using testutil::Outcome;
using testutil::slurp;
using testutil::spit;
using testutil::TempDir;

bool report_on_windows() { return testutil::windows_program(testutil::report_tool().path); }

struct Refusal {
    const char* what;
    bool hex;           // the fault is in prog.hex (read alone), else in prog.sym
    std::string input;  // the faulty file
    std::string where;  // the start of the diagnosis: "file:line:column:"
    std::string says;   // a piece of its message (or of its hint)
    int place;          // mrl85's "Error exit at" place
};

const std::string kData = ":10000000000102030405060708090A0B0C0D0E0F00\n";
const std::string kEnd = ":00000001FF\n";
const std::string kHead = "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000010 a.o\n\n";

std::vector<Refusal> refusals() {
    // A data record of 308 characters: the HEX pass reads it in pieces of
    // 255, and the second piece is no record.
    const std::string long_record = ":10000000" + std::string(300, '0') + "\n";
    // clang-format off
    return {
        {"a blank line", true, kData + "\n" + kEnd, "prog.hex:2:1:", "begins with \":\"", 537},
        {"the rest of a line longer than 255 characters", true, long_record + kEnd, "prog.hex:1:256:",
         "the line is 309 characters long: mrl85 reads a line in pieces of 255 characters", 537},
        // Its line end alone is the second piece.
        {"a line of exactly 255 characters", true, ":7F000000" + std::string(246, '0') + "\n" + kEnd,
         "prog.hex:1:256:", "the line is 255 characters long", 537},
        {"a tab before the record", true, "\t" + kData + kEnd, "prog.hex:1:1:", "this line begins with a tab", 537},
        {"a record of 9 characters", true, ":0000001F\n", "prog.hex:1:10:", "record too short: 9 characters;", 541},
        {"a record of 9 characters and CR LF", true, ":0000001F\r\n", "prog.hex:1:10:",
         "record too short: 9 characters;", 541},
        // The type is read at its column; the byte count says the record is
        // cut short.
        {"a byte count that does not match the length", true, ":4577984B41\n", "prog.hex:1:2:",
         "the byte count 45 says 69 data bytes, a record of 149 characters, but this one has 11", 576},
        {"record type 04, with a hint", true, ":02000004AABB99\n", "prog.hex:1:8:",
         "hint: use segment (02) records: mrl85 routes by segment", 576},
        {"record type 82", true, kData + ":02000082AABB99\n", "prog.hex:2:8:", "record type \"82\"", 553},
        {"record type 80", true, ":02000080AABB99\n", "prog.hex:1:8:", "record type \"80\"", 561},
        {"record type 11", true, kData + kData + ":02000011AABB99\n", "prog.hex:3:8:", "record type \"11\"", 571},
        {"record type 04", true, ":02000004AABB99\n", "prog.hex:1:8:", "record type \"04\"", 576},

        {"a number with a non-hex digit", false, kHead + "# CALL 1G\n", "prog.sym:4:9:",
         "\"1G\" is not a hexadecimal number", 1082},
        {"a number with a tab in it", false, kHead + "# CALL 1\t2\n", "prog.sym:4:9:",
         "\"1\\t2\" is not a hexadecimal number: it holds a tab", 1082},
        {"a FUNC line without a unit field", false, kHead + "# FUNC 1 _init\n", "prog.sym:4:15:",
         "the \"# FUNC\" line has no unit number, which mrl85 reads as 0000", 1385},
        {"a LOCAL LABEL without a unit", false, kHead + "# LOCAL LABEL \nx 0\n", "prog.sym:4:15:",
         "the \"# LOCAL LABEL\" line has no unit number, which mrl85 reads as 0000: unit 0000 is not in "
         "SECTION INFORMATION\n", 1385},
        {"a SOURCE line without a function", false, kHead + "# SOURCE \n", "prog.sym:4:10:",
         "the \"# SOURCE\" line has no function number, which mrl85 reads as 0000", 1417},
        {"a number of nine significant digits", false, kHead + "# CALL 100000000\n", "prog.sym:4:8:",
         "more than 8 significant digits", 1092},
        {"a FUNC line naming a missing unit", false, kHead + "# FUNC 1 f 2 0\n", "prog.sym:4:12:",
         "unit 0002 is not in SECTION INFORMATION", 1385},
        {"a FUNC line naming a missing unit of its own function's number", false,
         kHead + "# FUNC 1 f 1 0\n# FUNC 2 g 2 0\n", "prog.sym:5:12:", "unit 0002", 1385},
        {"a LOCAL LABEL of a missing unit", false, kHead + "# LOCAL LABEL 5\nx 0\n", "prog.sym:4:15:",
         "unit 0005", 1385},
        {"a LOCAL SYMBOL range ending at a missing unit", false, kHead + "# LOCAL SYMBOL 1-7\nx 0\n",
         "prog.sym:4:18:", "unit 0007", 1385},
        {"a LOCAL SYMBOL range passing over a missing unit", false,
         "# SECTION INFORMATION\n0001 P 0 0 0 00010000 00000010 a.o\n0003 P 0 0 0 00000100 00000010 b.o\n\n"
         "# LOCAL SYMBOL 1-3\nx 0\n",
         "prog.sym:5:16:",
         "unit 0002 is not in SECTION INFORMATION: the range's first end 0001 is deleted, and mrl85 looks upward "
         "from it for a kept unit through every number",
         1385},
        // The walk from a deleted first end goes on past the range's end.
        {"a LOCAL SYMBOL walk that goes past the range's end", false,
         "# SECTION INFORMATION\n0008 P 0 0 0 00010000 00000010 a.o\n0009 P 0 0 0 00010000 00000010 b.o\n"
         "000B P 0 0 0 00000100 00000010 c.o\n\n# LOCAL SYMBOL 8-9\nx 0\n",
         "prog.sym:6:16:", "unit 000A is not in SECTION INFORMATION: the range's first end 0008 is deleted, and mrl85 "
         "looks upward from it for a kept unit, past the range's other end 0009,", 1385},
        // The first pass passes over a line that begins with a blank; the
        // rewrite reads it as a unit line, since no library line precedes it.
        {"a SECTION INFORMATION line the first pass did not read", false,
         "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000010 a.o\n 0002 Q 0 0 0 00000200 00000010 b.o\n",
         "prog.sym:3:2:", "unit 0002 is not in SECTION INFORMATION: this line begins with a blank", 1385},
        // A line with no first field (a NUL, or a CR that ends no line) ends
        // the unit table's reading of its block; the rewrite goes on to the
        // block's end, and the diagnosis names the line that ended the table.
        {"a unit line after a NUL line", false,
         "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000010 a.o\n" + std::string(1, '\0') + "x\n"
         "0101 Q 0 0 0 00000200 00000010 b.o\n",
         "prog.sym:4:1:", "unit 0101 is not in SECTION INFORMATION: line 3 begins with a NUL byte, which ends the "
         "unit table's reading of this block", 1385},
        {"a unit line after a CR-only line", false,
         "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000010 a.o\n\r\r\n0001 Q 0 0 0 00000200 00000010 b.o\n"
         "0101 Q 0 0 0 00000200 00000010 b.o\n",
         "prog.sym:5:1:", "line 3 begins with a carriage return, which ends the unit table's reading", 1385},
        {"a CALL of a missing function", false, kHead + "# FUNC 1 f 1 0\n\n# CALL 5\n", "prog.sym:6:8:",
         "function 0005 has no \"# FUNC\" line", 1417},
        {"a LOCAL SYMBOL range without a dash", false, kHead + "# LOCAL SYMBOL 1\n", "prog.sym:4:16:",
         "no \"-\"", 1626},
        {"carriage returns and no line feed", false, "# SECTION INFORMATION\r0001 P 0 0 0 00000100 00000010 a.o\r",
         "prog.sym:1:22:", "carriage returns alone", 2014},
    };
    // clang-format on
}

TEST(ReportDiagnose, EveryFormatErrorIsPlacedAndNamesMrl85sErrorExit) {
    for (const Refusal& k : refusals()) {
        SCOPED_TRACE(k.what);
        const TempDir tmp;
        const std::string file = k.hex ? "prog.hex" : "prog.sym";
        spit(tmp / file, k.input);

        Outcome r = testutil::run_report(tmp.path(), {k.hex ? "--hex" : "--sym", "prog"});
        r.err = testutil::lf_text(r.err, report_on_windows());
        EXPECT_EQ(r.status, 3);
        EXPECT_EQ(r.err.rfind(k.where + " error: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(k.says), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("mrl85 refuses this file: File format error, status 3, error exit at " +
                             std::to_string(k.place) + "\n"),
                  std::string::npos)
            << r.err;

        // mrl85 itself, on the same input, stops at that place.
        const Outcome m = testutil::run(tmp.path(), {"prog", "-Oout", k.hex ? "-H" : "-S", "+info"});
        EXPECT_EQ(m.status, r.status);
        const std::string trace = testutil::lf_text(slurp(tmp / kTraceName), testutil::windows_program());
        EXPECT_NE(trace.find("++++++++++ Error exit at " + std::to_string(k.place) + " ++++++++++\n"),
                  std::string::npos)
            << trace.substr(trace.size() > 300 ? trace.size() - 300 : 0);
        EXPECT_EQ(slurp(tmp / file), k.input) << "the input was changed";
    }
}

// The caret stands under the column named: the line is shown as read, with
// its number, and the mark below it.
TEST(ReportDiagnose, ShowsTheLineWithAMarkUnderTheColumn) {
    const TempDir tmp;
    spit(tmp / "prog.sym", kHead + "# CALL 1G\n");
    Outcome r = testutil::run_report(tmp.path(), {"--sym", "prog"});
    r.err = testutil::lf_text(r.err, report_on_windows());
    EXPECT_EQ(r.err,
              "prog.sym:4:9: error: \"1G\" is not a hexadecimal number\n"
              " 4 | # CALL 1G\n"
              "   |         ^\n"
              "  mrl85 refuses this file: File format error, status 3, error exit at 1082\n");
    EXPECT_EQ(r.status, 3);
}

// A long line is shown around the column, "..." where it is cut, with the
// mark under the column still.
TEST(ReportDiagnose, ALongLineIsShownAroundTheColumn) {
    const TempDir tmp;
    spit(tmp / "prog.hex", ":10000000" + std::string(250, '0') + "ABCDEFGH" + std::string(100, '1') + "\n" + kEnd);
    Outcome r = testutil::run_report(tmp.path(), {"--hex", "prog"});
    r.err = testutil::lf_text(r.err, report_on_windows());
    EXPECT_EQ(r.status, 3);
    const std::string want = " 1 | ..." + std::string(40, '0') + "ABCDEFGH" + std::string(28, '1') +
                             "...\n"
                             "   |" +
                             std::string(40, ' ') + "^\n";
    EXPECT_NE(r.err.find("prog.hex:1:256: error: the line is 367 characters long"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(want), std::string::npos) << r.err;
}

// mrl85 opens both inputs before it reads either: with the HEX file
// missing it stops there, and a later fault is one it never reaches.
TEST(ReportDiagnose, OnlyTheFirstFaultIsWhereMrl85Stops) {
    struct Case {
        const char* what;
        bool hex;            // prog.hex exists (a good one)
        std::string sym;     // prog.sym, "" for none
        const char* first;   // the end of the first diagnosis
        const char* second;  // the end of the second
    };
    const std::vector<Case> cases = {
        {"both missing", false, "", "mrl85 stops here too: status 4, error exit at 474\n",
         "mrl85 does not get here: it stops earlier, at error exit 474\n"},
        {"HEX file missing, symbol file refused", false, kHead + "# CALL 1G\n",
         "mrl85 stops here too: status 4, error exit at 474\n",
         "mrl85 does not get here: it stops earlier, at error exit 474\n"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const TempDir tmp;
        if (k.hex) spit(tmp / "prog.hex", kData + kEnd);
        if (!k.sym.empty()) spit(tmp / "prog.sym", k.sym);
        Outcome r = testutil::run_report(tmp.path(), {"prog"});
        r.err = testutil::lf_text(r.err, report_on_windows());
        EXPECT_EQ(r.status, 4);
        const size_t first = r.err.find(k.first);
        ASSERT_NE(first, std::string::npos) << r.err;
        EXPECT_EQ(r.err.find(k.second, first), r.err.size() - std::string(k.second).size()) << r.err;
        EXPECT_NE(r.err.find("prog.sym"), std::string::npos) << r.err;
        const Outcome m = testutil::run(tmp.path(), {"prog", "-Oout", "+info"});
        EXPECT_EQ(m.status, 4);
        const std::string trace = testutil::lf_text(slurp(tmp / kTraceName), testutil::windows_program());
        EXPECT_NE(trace.find("++++++++++ Error exit at 474 ++++++++++\n"), std::string::npos) << trace;
    }
}

// Both inputs are read: a fault in one is diagnosed whatever the other holds,
// and a fault in each gives two diagnoses.
TEST(ReportDiagnose, BothInputsAreDiagnosed) {
    const TempDir tmp;
    spit(tmp / "prog.hex", ":02000004AABB99\n");
    spit(tmp / "prog.sym", kHead + "# CALL 1G\n");
    const Outcome r = testutil::run_report(tmp.path(), {"prog"});
    EXPECT_EQ(r.status, 3);
    EXPECT_NE(r.err.find("prog.hex:1:8: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("prog.sym:4:9: "), std::string::npos) << r.err;
}

// An input that cannot be read: status 4 from both programs, a message on
// standard error naming the file.
TEST(ReportDiagnose, AnInputThatCannotBeReadIsAUsageFault) {
    struct Missing {
        const char* what;
        std::vector<std::string> report_args, mrl85_args;
        bool make_hex, make_sym;
        const char* named;
    };
    const std::vector<Missing> cases = {
        {"no HEX file", {"prog"}, {"prog", "-Oout"}, false, true, "prog.hex"},
        {"no symbol file", {"prog"}, {"prog", "-Oout"}, true, false, "prog.sym"},
        {"no HEX file, read alone", {"--hex", "prog"}, {"prog", "-Oout", "-H"}, false, true, "prog.hex"},
        {"no symbol file, read alone", {"--sym", "prog"}, {"prog", "-Oout", "-S"}, true, false, "prog.sym"},
    };
    for (const Missing& k : cases) {
        SCOPED_TRACE(k.what);
        const TempDir tmp;
        if (k.make_hex) spit(tmp / "prog.hex", kData + kEnd);
        if (k.make_sym) spit(tmp / "prog.sym", kHead);
        const Outcome r = testutil::run_report(tmp.path(), k.report_args);
        EXPECT_EQ(r.status, 4);
        EXPECT_NE(r.err.find(k.named), std::string::npos) << r.err;
        EXPECT_EQ(testutil::run(tmp.path(), k.mrl85_args).status, 4);
    }
}

}  // namespace
