// report_compare_test.cpp: mrl85-report --compare=OLD NEW, through the built
// program. A small pair of builds holds every kind of change: units moved
// across FFFF both ways (so also now deleted and now kept), a library
// member that changes places with another of the same library (matched by
// the member its continuation line names, not by the library), two units of
// one name (matched in the order of the file), a unit removed and one added,
// functions that follow their units. Statuses: each of the four inputs
// refused or missing, and the page never written over one of them. Names
// that the comparison's index hashes alike, and the scratch file that holds
// the earlier build while the later one is read.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

namespace fs = std::filesystem;
using testutil::Outcome;
using testutil::slurp;
using testutil::spit;
using testutil::TempDir;

const std::string kOldHex = ":10000000000102030405060708090A0B0C0D0E0F78\n:00000001FF\n";
const std::string kNewHex =
    ":10000000000102030405060708090A0B0C0D0E0F78\n:10001000000102030405060708090A0B0C0D0E0F68\n"
    ":020000021000EC\n:04000000AABBCCDDEE\n:00000001FF\n";
const std::string kOldSym =
    "# SECTION INFORMATION\n"
    "0001 P        0 0 0 00000000 00000400 main.o\n"
    "0002 C        0 0 0 0000C000 00000040 main.o\n"
    "0003 FAR      0 0 0 0000E000 00000040 bank.o\n"
    "0004 P        0 0 0 00001000 00000100 gone.o\n"
    "0005 D        0 0 0 0000F000 00000100 util.lib\n"
    "      util.lib(io.o) continuation\n"
    "0006 D        0 0 0 0000F100 00000080 util.lib\n"
    "      util.lib(fmt.o) continuation\n"
    "0007 P        0 0 0 00002000 00000100 dup.o\n"
    "0008 P        0 0 0 00003000 00000100 dup.o\n"
    "0009 FAR      0 0 0 00020000 00000010 hi.o\n"
    "\n"
    "# FUNC 0001 main 0001 00000000 00000100\n"
    "# FUNC 0002 far_read 0003 0000E000 00000020\n"
    "# FUNC 0003 old_only 0004 00001000 00000020\n"
    "# FUNC 0004 hi_fn 0009 00020000 00000010\n";
const std::string kNewSym =
    "# SECTION INFORMATION\n"
    "0001 P        0 0 0 00000000 00000400 main.o\n"
    "0002 C        0 0 0 0000C000 00000040 main.o\n"
    "0003 FAR      0 0 0 00010000 00000040 bank.o\n"
    "0004 D        0 0 0 0000F100 000000C0 util.lib\n"
    "      util.lib(fmt.o) continuation\n"
    "0005 D        0 0 0 0000F000 00000100 util.lib\n"
    "      util.lib(io.o) continuation\n"
    "0006 P        0 0 0 00002000 00000100 dup.o\n"
    "0007 P        0 0 0 00003000 00000080 dup.o\n"
    "0008 FAR      0 0 0 00004000 00000010 hi.o\n"
    "0009 P        0 0 0 00005000 00000200 new.o\n"
    "\n"
    "# FUNC 0001 main 0001 00000000 00000100\n"
    "# FUNC 0002 far_read 0003 00010000 00000020\n"
    "# FUNC 0003 hi_fn 0008 00004000 00000010\n"
    "# FUNC 0004 fresh 0009 00005000 00000020\n";
const std::string kBadSym = "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000010 a.o\n\n# CALL 1G\n";

void builds(const TempDir& tmp) {
    spit(tmp / "old.hex", kOldHex);
    spit(tmp / "old.sym", kOldSym);
    spit(tmp / "new.hex", kNewHex);
    spit(tmp / "new.sym", kNewSym);
}

bool windows() { return testutil::windows_program(testutil::report_tool().path); }

Outcome report(const TempDir& tmp, const std::vector<std::string>& args) {
    Outcome r = testutil::run_report(tmp.path(), args);
    r.out = testutil::lf_text(r.out, windows());
    r.err = testutil::lf_text(r.err, windows());
    return r;
}

// The whole summary of the pair, every kind of change in it.
TEST(ReportCompare, TheSummaryOfTwoBuilds) {
    const TempDir tmp;
    builds(tmp);
    const Outcome r = report(tmp, {"--compare=old", "new"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out,
              "before   old.hex, old.sym\n"
              "after    new.hex, new.sym\n"
              "\n"
              "area        figure               before        after   difference\n"
              "  low  .hex HEX data                 16           32          +16\n"
              "  low  .hex units' extent          2304         2448         +144\n"
              "  low  .hex used                   2304         2448         +144\n"
              "  high .hxh HEX data                  0            4           +4\n"
              "  high .hxh used                      0            4           +4\n"
              "\n"
              "units      before 9, after 9: added 1, removed 1, moved 2, grown 1, shrunk 1, now deleted 1, "
              "now kept 1\n"
              "functions  before 4, after 4: added 1, removed 1, now deleted 1, now kept 1\n"
              "\n"
              "unit added            0009          P new.o            00005000  00000200  kept\n"
              "\n"
              "unit removed          0004          P gone.o           00001000  00000100  kept\n"
              "\n"
              "unit moved            0003 -> 0003  FAR bank.o         0000E000 -> 00010000\n"
              "unit moved            0009 -> 0008  FAR hi.o           00020000 -> 00004000\n"
              "\n"
              "unit grown            0006 -> 0004  D util.lib(fmt.o)  length 00000080 -> 000000C0  (+64)\n"
              "\n"
              "unit shrunk           0008 -> 0007  P dup.o            length 00000100 -> 00000080  (-128)\n"
              "\n"
              "unit now deleted      0003 -> 0003  FAR bank.o         00010000  00000040  ends above FFFF\n"
              "\n"
              "unit now kept         0009 -> 0008  FAR hi.o           00004000  00000010  was: ends above FFFF\n"
              "\n"
              "function added        0004          fresh              unit 0009  kept\n"
              "\n"
              "function removed      0003          old_only           unit 0004  kept\n"
              "\n"
              "function now deleted  0002 -> 0002  far_read           unit 0003 -> 0003\n"
              "\n"
              "function now kept     0004 -> 0003  hi_fn              unit 0009 -> 0008\n");
}

// The member on a library line's continuation names the unit only where
// the rewriting pass takes the continuation as the unit's: from 21
// characters with its line end (CR LF counts as one, as the reader drops
// the CR).
TEST(ReportCompare, AContinuationNamesTheUnitFromTheLengthThePassTakesIt) {
    const struct {
        const char* continuation;
        const char* name;
    } cases[] = {
        {"      x.lib(a.o) pa\n", "D x.lib  "},
        {"      x.lib(a.o) pad\n", "D x.lib(a.o)"},
        {"      x.lib(a.o) pad\r\n", "D x.lib(a.o)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.continuation);
        const TempDir tmp;
        const auto sym = [&](const char* length) {
            return std::string("# SECTION INFORMATION\n0001 D 0 0 0 0000F000 ") + length + " x.lib\n" + c.continuation;
        };
        spit(tmp / "old.sym", sym("00000100"));
        spit(tmp / "new.sym", sym("00000180"));
        const Outcome r = report(tmp, {"--sym", "--compare=old", "new"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("unit grown            0001 -> 0001  " + std::string(c.name)), std::string::npos) << r.out;
    }
}

// A build compared with itself changes nothing; --hex compares the HEX
// files alone; the rows of a kind are cut after 20 by default ("N more")
// and listed whole with --list or --all.
TEST(ReportCompare, UnchangedHexOnlyAndLongLists) {
    const TempDir tmp;
    builds(tmp);
    const Outcome same = report(tmp, {"--compare", "new", "new"});
    EXPECT_EQ(same.status, 0) << same.err;
    EXPECT_NE(same.out.find("  low  .hex used                   2448         2448            0\n"), std::string::npos)
        << same.out;
    EXPECT_NE(same.out.find("units      before 9, after 9: added 0, removed 0, moved 0, grown 0, shrunk 0, "
                            "now deleted 0, now kept 0\n"),
              std::string::npos)
        << same.out;
    EXPECT_EQ(same.out.find("\nunit "), std::string::npos) << same.out;

    const Outcome hex = report(tmp, {"--hex", "--compare=old", "new"});
    EXPECT_EQ(hex.status, 0) << hex.err;
    EXPECT_EQ(hex.out,
              "before   old.hex\nafter    new.hex\n\n"
              "area        figure               before        after   difference\n"
              "  low  .hex HEX data                 16           32          +16\n"
              "  low  .hex used                     16           32          +16\n"
              "  high .hxh HEX data                  0            4           +4\n"
              "  high .hxh used                      0            4           +4\n");

    // 25 units of one name grow, each matched with its namesake in order.
    std::string small = "# SECTION INFORMATION\n", big = small;
    for (int u = 1; u <= 25; ++u) {
        char line[80];
        std::snprintf(line, sizeof line, "%04X P 0 0 0 %08X 00000010 same.o\n", u, u * 0x100);
        small += line;
        std::snprintf(line, sizeof line, "%04X P 0 0 0 %08X 00000020 same.o\n", u, u * 0x100);
        big += line;
    }
    spit(tmp / "small.sym", small);
    spit(tmp / "big.sym", big);
    const Outcome cut = report(tmp, {"--sym", "--compare=small", "big"});
    EXPECT_EQ(cut.status, 0) << cut.err;
    EXPECT_NE(cut.out.find("grown 25, shrunk 0"), std::string::npos) << cut.out;
    EXPECT_NE(cut.out.find("unit grown            0014 -> 0014  P same.o"), std::string::npos) << cut.out;
    EXPECT_EQ(cut.out.find("unit grown            0015 -> 0015"), std::string::npos) << cut.out;
    EXPECT_NE(cut.out.find("\n5 more: --list=units\n"), std::string::npos) << cut.out;
    for (const char* list : {"--list=units", "--all"}) {
        const Outcome whole = report(tmp, {"--sym", "--compare=small", list, "big"});
        EXPECT_NE(whole.out.find("unit grown            0019 -> 0019  P same.o"), std::string::npos) << list;
        EXPECT_EQ(whole.out.find("more:"), std::string::npos) << whole.out;
    }
}

// Each of the four inputs refused is diagnosed (status 3), one that cannot
// be read is status 4; no comparison is printed then. Usage errors of the
// option's value.
TEST(ReportCompare, StatusesOfTheFourInputs) {
    struct Case {
        const char* what;
        const char* bad;      // the input written as kBadSym, "" for none
        const char* missing;  // the input left out, "" for none
        std::vector<std::string> args;
        int status;
        std::vector<const char*> err;  // pieces of standard error
    };
    const std::vector<Case> cases = {
        {"the earlier symbol file refused", "old.sym", "", {"--compare=old", "new"}, 3, {"old.sym:4:"}},
        {"the later symbol file refused", "new.sym", "", {"--compare=old", "new"}, 3, {"new.sym:4:"}},
        {"both symbol files refused", "both", "", {"--compare=old", "new"}, 3, {"old.sym:4:", "new.sym:4:"}},
        {"the earlier HEX file missing", "", "old.hex", {"--compare=old", "new"}, 4, {"old.hex"}},
        {"the later HEX file missing", "", "new.hex", {"--compare=old", "new"}, 4, {"new.hex"}},
        {"one refused, one missing", "old.sym", "new.hex", {"--compare=old", "new"}, 4, {"old.sym:4:", "new.hex"}},
        {"the missing one not read", "", "old.hex", {"--sym", "--compare=old", "new"}, 0, {}},
        {"no earlier build named", "", "", {"new", "--compare"}, 4, {"option '--compare' requires an argument"}},
        {"an empty name", "", "", {"--compare=", "new"}, 4, {"option '--compare' requires a base name"}},
        {"a name with a dot", "", "", {"--compare=old.sym", "new"}, 4, {"'.' in the name 'old.sym' of '--compare'"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const TempDir tmp;
        builds(tmp);
        const std::string bad = k.bad;
        if (bad == "both") {
            spit(tmp / "old.sym", kBadSym);
            spit(tmp / "new.sym", kBadSym);
        } else if (!bad.empty()) {
            spit(tmp / bad, kBadSym);
        }
        if (*k.missing != '\0') fs::remove(tmp / k.missing);
        const Outcome r = report(tmp, k.args);
        EXPECT_EQ(r.status, k.status) << r.err;
        if (k.status != 0) {
            EXPECT_EQ(r.out, "");
        }
        for (const char* piece : k.err) EXPECT_NE(r.err.find(piece), std::string::npos) << piece << "\n" << r.err;
    }
}

// The page is checked against all four inputs, also those that --hex or
// --sym leave unread, and another name of one (a hard link); a page written
// has the comparison's section, well-formed.
TEST(ReportCompare, ThePageIsNoneOfTheFourInputsAndHasTheSection) {
    const std::vector<std::vector<std::string>> refused = {
        {"--compare=old", "new", "--html=old.hex"},
        {"--compare=old", "new", "--html=old.sym"},
        {"--hex", "--compare=old", "new", "--html=old.sym"},
        {"--compare=old", "new", "--html=page.html"},  // a hard link to old.sym
    };
    for (const std::vector<std::string>& args : refused) {
        SCOPED_TRACE(args.back());
        const TempDir tmp;
        builds(tmp);
        fs::create_hard_link(tmp / "old.sym", tmp / "page.html");
        const Outcome r = report(tmp, args);
        EXPECT_EQ(r.status, 4);
        EXPECT_NE(r.err.find("is an input"), std::string::npos) << r.err;
        EXPECT_EQ(slurp(tmp / "old.hex"), kOldHex);
        EXPECT_EQ(slurp(tmp / "old.sym"), kOldSym);
    }
    const TempDir tmp;
    builds(tmp);
    const Outcome r = report(tmp, {"--compare=old", "new", "--html=page.html"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string page = slurp(tmp / "page.html");
    EXPECT_NE(page.find("<h2 id=\"compare\">"), std::string::npos);
    EXPECT_NE(page.find("<h3>Unit moved: 2</h3>"), std::string::npos);
    EXPECT_NE(page.find("<td>0009</td><td>0008</td><td>FAR hi.o</td><td>00020000 -&gt; 00004000</td>"),
              std::string::npos);
    EXPECT_EQ(page.find("<h3>Unit moved"), page.rfind("<h3>Unit moved"));
    const Outcome lone = report(tmp, {"new", "--html=lone.html"});
    ASSERT_EQ(lone.status, 0) << lone.err;
    EXPECT_EQ(slurp(tmp / "lone.html").find("id=\"compare\""), std::string::npos);
    if (std::system("python3 -c '' >/dev/null 2>&1") == 0) {
        const std::string cmd = "python3 -c 'import sys, xml.dom.minidom as m; m.parse(sys.argv[1])' '" +
                                (tmp / "page.html").string() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << "the page is not well-formed XML";
    }
}

// The rows of the JSON document's compare member, as the text shows them,
// and the usage differences (Python's json module reads the document).
const char* const kCompareRows = R"PY(
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
out = open(sys.argv[2], "w", encoding="utf-8")
c = d["compare"]
if c is None:
    out.write("compare null\n")
    for x in d["diagnoses"]:
        out.write("diagnosis %s:%d\n" % (x["file"], x["line"]))
    sys.exit(0)
for area in ("low", "high"):
    for k, v in c["usage"][area].items():
        out.write("usage %s %s %s %s %s\n" % (area, k, v["before"], v["after"], v["difference"]))
for what in ("units", "functions"):
    kind = "unit" if what == "units" else "function"
    for k, rows in c[what].items():
        if not isinstance(rows, list):
            continue
        for x in rows:
            side = x["after"] or x["before"]
            name = x["name"] + (" " + x["module"] if what == "units" else "")
            nums = "%04X -> %04X" % (x["before"]["number"], x["after"]["number"]) \
                if x["before"] and x["after"] else "%04X        " % side["number"]
            out.write("%-22s%s  %s\n" % (kind + " " + k.replace("_", " "), nums, name))
)PY";

TEST(ReportCompare, JsonHasTheRowsOfTheText) {
    if (std::system("python3 -c '' >/dev/null 2>&1") != 0) GTEST_SKIP() << "no python3";
    const TempDir tmp;
    builds(tmp);
    const Outcome json = report(tmp, {"--compare=old", "--format=json", "new"});
    const Outcome text = report(tmp, {"--compare=old", "--all", "new"});
    ASSERT_EQ(json.status, 0) << json.err;
    spit(tmp / "doc.json", json.out);
    spit(tmp / "rows.py", kCompareRows);
    const std::string cmd = "python3 '" + (tmp / "rows.py").string() + "' '" + (tmp / "doc.json").string() + "' '" +
                            (tmp / "rows.txt").string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << json.out;
    const std::string rows = slurp(tmp / "rows.txt");
    EXPECT_NE(rows.find("usage low units 2304 2448 144\n"), std::string::npos) << rows;
    EXPECT_NE(rows.find("usage high data 0 4 4\n"), std::string::npos) << rows;
    size_t listed = 0;
    std::istringstream in(rows);
    for (std::string row; std::getline(in, row);) {
        if (row.starts_with("usage ")) continue;
        ++listed;
        EXPECT_NE(text.out.find("\n" + row), std::string::npos) << "not in the text: " << row << "\n" << text.out;
    }
    EXPECT_EQ(listed, 12u) << rows;

    // Both symbol files refused: a document all the same, with no
    // comparison and the diagnoses of both builds.
    spit(tmp / "old.sym", kBadSym);
    spit(tmp / "new.sym", kBadSym);
    const Outcome bad = report(tmp, {"--compare=old", "--format=json", "new"});
    EXPECT_EQ(bad.status, 3);
    fs::remove(tmp / "rows.txt");
    spit(tmp / "doc.json", bad.out);
    ASSERT_EQ(std::system(cmd.c_str()), 0) << bad.out;
    EXPECT_EQ(slurp(tmp / "rows.txt"), "compare null\ndiagnosis old.sym:4\ndiagnosis new.sym:4\n");
}

// Names that hash alike in the comparison's index (c005001.o and c099387.o
// in section P, c050737.o and c119883.o, and, as function names, c000878.o
// and c035770.o), some of them more than once in a build: each still pairs
// only with its own name, the n-th of a name in the earlier build with the
// n-th in the later one.
TEST(ReportCompare, NamesThatHashAlikeAreToldApart) {
    const TempDir tmp;
    spit(tmp / "a.sym",
         "# SECTION INFORMATION\n"
         "0001 P 0 0 0 00000100 00000010 c005001.o\n"
         "0002 P 0 0 0 00000200 00000010 c099387.o\n"
         "0003 P 0 0 0 00000300 00000010 c099387.o\n"
         "0004 P 0 0 0 00000400 00000010 c005001.o\n"
         "0005 P 0 0 0 00000500 00000010 c050737.o\n"
         "0006 D 0 0 0 00000600 00000010 c099387.o\n"
         "\n"
         "# FUNC 0001 c000878.o 0001 00000000 00000010\n"
         "# FUNC 0002 c035770.o 0002 00000000 00000010\n"
         "# FUNC 0003 c000878.o 0003 00000000 00000010\n"
         "# FUNC 0004 c043257.o 0004 00000000 00000010\n");
    spit(tmp / "b.sym",
         "# SECTION INFORMATION\n"
         "0001 P 0 0 0 00000200 00000020 c099387.o\n"
         "0002 P 0 0 0 00000110 00000010 c005001.o\n"
         "0003 P 0 0 0 00000300 00000010 c119883.o\n"
         "0004 P 0 0 0 00000400 00000008 c005001.o\n"
         "0005 P 0 0 0 00000380 00000010 c099387.o\n"
         "0006 P 0 0 0 00000390 00000010 c099387.o\n"
         "0007 D 0 0 0 00000600 00000010 c099387.o\n"
         "\n"
         "# FUNC 0001 c035770.o 0001 00000000 00000010\n"
         "# FUNC 0002 c000878.o 0002 00000000 00000010\n"
         "# FUNC 0003 c062978.o 0003 00000000 00000010\n"
         "# FUNC 0004 c035770.o 0004 00000000 00000010\n");
    const Outcome r = report(tmp, {"--sym", "--compare=a", "--all", "b"});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string rows = r.out.substr(std::min(r.out.find("\nunits "), r.out.size()));
    EXPECT_EQ(rows,
              "\nunits      before 6, after 7: added 2, removed 1, moved 2, grown 1, shrunk 1, now deleted 0, "
              "now kept 0\n"
              "functions  before 4, after 4: added 2, removed 2, now deleted 0, now kept 0\n"
              "\n"
              "unit added            0003          P c119883.o  00000300  00000010  kept\n"
              "unit added            0006          P c099387.o  00000390  00000010  kept\n"
              "\n"
              "unit removed          0005          P c050737.o  00000500  00000010  kept\n"
              "\n"
              "unit moved            0001 -> 0002  P c005001.o  00000100 -> 00000110\n"
              "unit moved            0003 -> 0005  P c099387.o  00000300 -> 00000380\n"
              "\n"
              "unit grown            0002 -> 0001  P c099387.o  length 00000010 -> 00000020  (+16)\n"
              "\n"
              "unit shrunk           0004 -> 0004  P c005001.o  length 00000010 -> 00000008  (-8)\n"
              "\n"
              "function added        0003          c062978.o    unit 0003  kept\n"
              "function added        0004          c035770.o    unit 0004  kept\n"
              "\n"
              "function removed      0003          c000878.o    unit 0003  kept\n"
              "function removed      0004          c043257.o    unit 0004  kept\n");
}

// The earlier build waits in a scratch file in the folder TMPDIR names
// while the later one is read, and the file is gone after the run. Where no
// file can be made, or the disk under it is full, the builds are compared
// in memory instead, with the same result.
TEST(ReportCompare, TheEarlierBuildsScratchFile) {
    if (windows()) GTEST_SKIP() << "TMPDIR is a POSIX program's";
    const TempDir tmp;
    builds(tmp);
    const Outcome plain = report(tmp, {"--compare=old", "--all", "new"});
    ASSERT_EQ(plain.status, 0) << plain.err;
    fs::create_directory(tmp / "scratch");
    {
        const testutil::EnvSet tmpdir("TMPDIR", (tmp / "scratch").string());
        const Outcome r = report(tmp, {"--compare=old", "--all", "new"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, plain.out);
#ifdef MRL_FAULT_SHIM
        const testutil::ShimSet shim("full-at-flush: (deleted)");
        const Outcome full = report(tmp, {"--compare=old", "--all", "new"});
        EXPECT_EQ(full.status, 0) << full.err;
        EXPECT_EQ(full.out, plain.out);
#endif
    }
    EXPECT_TRUE(fs::is_empty(tmp / "scratch"));
    const testutil::EnvSet tmpdir("TMPDIR", (tmp / "none").string());
    const Outcome none = report(tmp, {"--compare=old", "--all", "new"});
    EXPECT_EQ(none.status, 0) << none.err;
    EXPECT_EQ(none.out, plain.out);
}

}  // namespace
