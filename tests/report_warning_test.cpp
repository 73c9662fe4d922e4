// report_warning_test.cpp: the warnings of mrl85-report about a HEX file
// that mrl85 converts all the same: each at its line and column on standard
// error, counted in the totals, and no change of status. mrl85 itself
// converts each of these files with status 0.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

using testutil::spit;
using testutil::TempDir;

// A record from its bytes (count, address, type, data), with its checksum.
std::string record(const std::vector<unsigned>& bytes) {
    std::string r = ":";
    unsigned sum = 0;
    char pair[3];
    for (const unsigned b : bytes) {
        std::snprintf(pair, sizeof pair, "%02X", b & 0xFF);
        r += pair;
        sum += b;
    }
    std::snprintf(pair, sizeof pair, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
    return r + pair + "\n";
}

const std::string kEnd = ":00000001FF\n";

TEST(ReportWarning, EachKindAtItsPlaceCountedWithoutChangingTheStatus) {
    const std::string low = record({2, 0x00, 0x10, 0, 0xAA, 0xBB});
    struct Case {
        const char* what;
        std::string hex;
        std::string err;     // standard error, whole
        std::string totals;  // the totals' warnings line; "" for none
    };
    const std::string w = "prog.hex:";
    const std::vector<Case> cases = {
        {"clean", low + record({2, 0, 0, 2, 0x10, 0}) + record({4, 0, 0x20, 0, 1, 2, 3, 4}) + kEnd, "", ""},
        {"checksum", ":02001000AABB88\n" + kEnd,
         w + "1:14: warning: checksum 88 does not match the record, whose bytes need 89; mrl85 copies it as it is\n",
         "checksum 1, byte count 0, CR-only line ends 0, low data past FFFF 0, lines after the end record 0"},
        // A byte count that does not fit is told, not the checksum that then
        // cannot be found.
        {"byte count", ":030000000102030400\n" + kEnd,
         w + "1:2: warning: byte count 03 does not match the record's length: it holds 4 data bytes (04); mrl85 "
             "copies it as it is\n",
         "checksum 0, byte count 1,"},
        {"CR alone", ":02001000AABB89\r:00000001FF\r",
         w + "1:16: warning: a line ends with a CR alone; only a line feed ends a line for mrl85, so what follows "
             "is read as part of this line\n",
         "CR-only line ends 1,"},
        {"CR LF", ":02001000AABB89\r\n:00000001FF\r\n", "", ""},
        // Segment 0F00 (base F000) at offset F000 reaches 1E003; a record of
        // segment 0 that ends at FFFF exactly is inside; high data is not
        // the low output's.
        {"past FFFF",
         record({2, 0xFF, 0xFE, 0, 1, 2}) + record({2, 0, 0, 2, 0x0F, 0}) + record({4, 0xF0, 0, 0, 1, 2, 3, 4}) +
             record({2, 0, 0, 2, 0x10, 0}) + record({4, 0xFF, 0xFE, 0, 1, 2, 3, 4}) + kEnd,
         w + "3:4: warning: data of the low output runs past FFFF, to 1E003; mrl85 routes by segment and copies it "
             "to the low output\n",
         "low data past FFFF 1,"},
        {"past FFFF in segment 0", record({4, 0xFF, 0xFE, 0, 1, 2, 3, 4}) + kEnd,
         w + "1:4: warning: data of the low output runs past FFFF, to 10001; mrl85 routes by segment and copies it "
             "to the low output\n",
         "low data past FFFF 1,"},
        {"after the end", low + kEnd + "rest\n:02001000AABB88\n",
         w + "3:1: warning: this line and those after it follow the end record; mrl85 does not copy them\n",
         "lines after the end record 1"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const TempDir tmp;
        spit(tmp / "prog.hex", k.hex);
        const testutil::Outcome conv = testutil::run(tmp.path(), {"prog", "-Oout", "-H"});
        EXPECT_EQ(conv.status, 0) << conv.out << conv.err;
        const testutil::Outcome r = testutil::run_report(tmp.path(), {"--hex", "prog"});
        const std::string out = testutil::lf_text(r.out, testutil::windows_program(testutil::report_tool().path));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(testutil::lf_text(r.err, testutil::windows_program(testutil::report_tool().path)), k.err);
        const size_t at = out.find("\n  warnings  ");
        if (k.totals.empty()) {
            EXPECT_EQ(at, std::string::npos) << out;
        } else {
            EXPECT_NE(out.find("  warnings                        1   "), std::string::npos) << out;
            EXPECT_NE(out.find(k.totals), std::string::npos) << out;
        }
    }
}

// Many warnings of one kind: the first 20 are shown, then how many more;
// the totals count them all.
TEST(ReportWarning, ManyOfAKindAreCountedAndCut) {
    const TempDir tmp;
    std::string hex;
    for (int i = 0; i < 23; ++i) hex += ":01000000AA00\n";
    spit(tmp / "prog.hex", hex + kEnd);
    const testutil::Outcome r = testutil::run_report(tmp.path(), {"--hex", "prog"});
    EXPECT_EQ(r.status, 0);
    const std::string err = testutil::lf_text(r.err, testutil::windows_program(testutil::report_tool().path));
    size_t shown = 0;
    for (size_t at = err.find(": warning: checksum"); at != std::string::npos;
         at = err.find(": warning: checksum", at + 1))
        ++shown;
    EXPECT_EQ(shown, 20u) << err;
    EXPECT_NE(err.find("prog.hex:20:12: warning: checksum 00"), std::string::npos) << err;
    EXPECT_NE(err.find("\nprog.hex: warning: 3 more checksum mismatches\n"), std::string::npos) << err;
    EXPECT_NE(r.out.find("  warnings                       23   checksum 23,"), std::string::npos) << r.out;
}

}  // namespace
