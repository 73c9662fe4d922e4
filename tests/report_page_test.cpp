// report_page_test.cpp: the page of mrl85-report --html, through the built
// program. Unit names are file content: whatever bytes they hold, the page
// must stay well-formed markup and run nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::slurp;
using testutil::spit;
using testutil::TempDir;

void write(const fs::path& p, const std::string& text) {
    std::ofstream f(p, std::ios::binary);
    f << text;
}

// Sums the data-units of the map's bars.
unsigned long units_drawn(const std::string& page) {
    unsigned long sum = 0;
    const std::string key = "data-units=\"";
    for (size_t at = page.find(key); at != std::string::npos; at = page.find(key, at + 1))
        sum += std::strtoul(page.c_str() + at + key.size(), nullptr, 10);
    return sum;
}

TEST(ReportPage, HostileUnitNamesAreEscaped) {
    struct Case {
        std::string name, shown, raw;  // the name, how the page shows it, bytes that must not appear
    };
    const Case cases[] = {
        {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;", "<script"},
        {"a&b\"c'd", "a&amp;b&quot;c&#39;d", "a&b"},
        {"ctl\x01\x1bx", "ctl\\x01\\x1Bx", "\x01"},
        {"bad\xff\xc0\xed\xa0\x80utf", "bad\\xFF\\xC0\\xED\\xA0\\x80utf", "\xff"},
        {"ok\xc3\xa9\xef\xbf\xbe", "ok\xc3\xa9\\xEF\\xBF\\xBE", "\xef\xbf\xbe"},
    };
    // Each name once low (kept: in the map and in the table of kept units)
    // and once above FFFF (deleted: in the map and in the table of deleted
    // units).
    std::string sym = "# SECTION INFORMATION\n";
    int no = 1;
    for (const Case& c : cases) {
        char line[160];
        std::snprintf(line, sizeof line, "%04X %s 0 0 0 %08X 00000040 m.o\n", no, c.name.c_str(), no * 0x100);
        sym += line;
        std::snprintf(line, sizeof line, "%04X %s 0 0 0 %08X 00000040 m.o\n", no + 1, c.name.c_str(),
                      0x10000 + no * 0x100);
        sym += line;
        no += 2;
    }
    sym += "\n# FUNC 0001 main 0001 00000100 00000010\n";
    TempDir dir;
    write(dir / "prog.sym", sym);

    const testutil::Outcome r = testutil::run_report(dir.path(), {"--sym", "prog", "--html=page.html"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string page = slurp(dir / "page.html");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        size_t seen = 0;
        for (size_t at = page.find(c.shown); at != std::string::npos; at = page.find(c.shown, at + 1)) ++seen;
        EXPECT_EQ(seen, 4u);  // two bar titles and two table rows
        EXPECT_EQ(page.find(c.raw), std::string::npos);
    }
    size_t controls = 0;
    for (unsigned char ch : page) controls += ch < 0x20 && ch != '\n';
    EXPECT_EQ(controls, 0u);
    EXPECT_EQ(units_drawn(page), 10u);
}

// A symbol file of many small units packed tightly: the map merges what is
// too narrow to see, and every unit is still counted once.
TEST(ReportPage, NarrowUnitsMergeIntoCountedRuns) {
    std::string sym = "# SECTION INFORMATION\n";
    for (int u = 1; u <= 3000; ++u) {
        char line[96];
        std::snprintf(line, sizeof line, "%04X P 0 0 0 %08X 00000010 m.o\n", u, (u - 1) * 0x10);
        sym += line;
    }
    TempDir dir;
    write(dir / "prog.sym", sym);
    const testutil::Outcome r = testutil::run_report(dir.path(), {"--sym", "prog", "--html", "page.html"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string page = slurp(dir / "page.html");
    EXPECT_EQ(units_drawn(page), 3000u);
    size_t bars = 0;
    for (size_t at = page.find("data-units="); at != std::string::npos; at = page.find("data-units=", at + 1)) ++bars;
    EXPECT_LT(bars, 100u);
    EXPECT_NE(page.find("units, kept, merged"), std::string::npos);
}

bool python_missing() { return std::system("python3 -c '' >/dev/null 2>&1") != 0; }

// Reads a page with an XML parser (which refuses it unless it is
// well-formed and valid UTF-8) and checks that every link within the page
// leads to an element and that no id is given twice. Prints what is wrong.
const char* const kXmlCheck = R"PY(
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
ids, hrefs = [], []
for e in root.iter():
    if "id" in e.attrib:
        ids.append(e.attrib["id"])
    h = e.attrib.get("href", "")
    if h.startswith("#"):
        hrefs.append(h[1:])
bad = sorted({i for i in ids if ids.count(i) > 1}) if len(ids) != len(set(ids)) else []
if bad:
    print("ids given twice:", bad[:5])
missing = sorted(set(hrefs) - set(ids))
if missing:
    print("links to no element:", missing[:5])
print("links", len(hrefs))
)PY";

// What kXmlCheck says of the page `name` in `dir`: "" with a failure when
// the page is no well-formed XML, else its findings.
std::string xml_check(const TempDir& dir, const std::string& name) {
    spit(dir / "check.py", kXmlCheck);
    const std::string cmd = "python3 '" + (dir / "check.py").string() + "' '" + (dir / name).string() + "' >'" +
                            (dir / "check.txt").string() + "' 2>&1";
    const int status = std::system(cmd.c_str());
    const std::string said = fs::exists(dir / "check.txt") ? slurp(dir / "check.txt") : std::string();
    EXPECT_EQ(status, 0) << said;
    return said;
}

// Names, labels and block headers beyond ASCII: well-formed characters of
// two, three and four bytes appear as they are, wherever the page shows
// them (bar titles, the unit tables, the labels and blocks dropped); bytes
// that are no UTF-8 are shown as \xNN; and the page stays well-formed XML
// whose every link leads somewhere.
TEST(ReportPage, Utf8RowsAreShownAsTheyAreAndThePageStaysWellFormed) {
    if (python_missing()) GTEST_SKIP();
    struct Case {
        std::string raw, shown;
    };
    const Case cases[] = {
        {"caf\xc3\xa9", "caf\xc3\xa9"},  // two bytes
        {"\xe2\x82\xac"
         "uro",
         "\xe2\x82\xac"
         "uro"},  // three bytes
        {"\xf0\x9f\x98\x80"
         "go",
         "\xf0\x9f\x98\x80"
         "go"},                                                // four bytes
        {"cut\xe2\x82", "cut\\xE2\\x82"},                      // a sequence cut short
        {"over\xf4\x90\x80\x80", "over\\xF4\\x90\\x80\\x80"},  // above 10FFFF
        {"sur\xed\xb2\x80", "sur\\xED\\xB2\\x80"},             // a surrogate
        {"long\xe0\x80\xaf", "long\\xE0\\x80\\xAF"},           // an overlong form
    };
    std::string units = "# SECTION INFORMATION\n", funcs, labels = "\n# GLOBAL LABEL\n", blocks;
    int no = 1;
    for (const Case& c : cases) {
        char line[200];
        // A kept unit, and a deleted one whose function's SOURCE block goes.
        std::snprintf(line, sizeof line, "%04X %s 0 0 0 %08X 00000010 m.o\n", no, c.raw.c_str(), no * 0x100);
        units += line;
        std::snprintf(line, sizeof line, "%04X %s 0 0 0 %08X 00000010 m.o\n", no + 1, c.raw.c_str(),
                      0x10000 + no * 0x100);
        units += line;
        std::snprintf(line, sizeof line, "# FUNC %04X f%d %04X\n", no, no, no + 1);
        funcs += line;
        std::snprintf(line, sizeof line, "\n# SOURCE %04X %s.c 1\n", no, c.raw.c_str());
        blocks += line;
        labels += c.raw + " 10000\n";
        no += 2;
    }
    TempDir dir;
    spit(dir / "prog.sym", units + "\n" + funcs + labels + blocks);
    const testutil::Outcome r = testutil::run_report(dir.path(), {"--sym", "prog", "--html=page.html"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string page = slurp(dir / "page.html");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.shown);
        size_t seen = 0;
        for (size_t at = page.find(c.shown); at != std::string::npos; at = page.find(c.shown, at + 1)) ++seen;
        // Two bar titles, two unit rows, the label and the SOURCE header.
        EXPECT_EQ(seen, 6u);
        EXPECT_NE(page.find("<td class=\"pre\">" + c.shown + " 10000</td>"), std::string::npos);
        EXPECT_NE(page.find(" " + c.shown + ".c 1</td>"), std::string::npos);
    }
    const std::string said = xml_check(dir, "page.html");
    EXPECT_EQ(said.find("links to no element"), std::string::npos) << said;
    EXPECT_EQ(said.find("ids given twice"), std::string::npos) << said;
}

// The y of the bar that links to `href`; -1 when there is none.
double bar_y(const std::string& page, const std::string& href) {
    const size_t at = page.find("<a href=\"" + href + "\">");
    if (at == std::string::npos) return -1;
    const size_t y = page.find(" y=\"", at);
    return y == std::string::npos ? -1 : std::strtod(page.c_str() + y + 4, nullptr);
}

// Units that overlap are drawn in different lanes of their band, and a
// unit that overlaps none before it goes back to the first lane; a deleted
// unit is drawn in its own band. Each bar links to its unit's row, which
// gives the old number and the new.
TEST(ReportPage, OverlappingUnitsTakeDifferentLanes) {
    TempDir dir;
    spit(dir / "prog.sym",
         "# SECTION INFORMATION\n"
         "0001 A 0 0 0 00000000 00001000 m.o\n"  // u0
         "0002 B 0 0 0 00000800 00001000 m.o\n"  // u1, overlaps A
         "0003 C 0 0 0 00000C00 00000100 m.o\n"  // u2, overlaps A and B
         "0004 D 0 0 0 00002000 00000800 m.o\n"  // u3, overlaps nothing
         "0005 X 0 0 0 00010000 00000100 m.o\n"  // u4, deleted
         "0006 Y 0 0 0 00010080 00000100 m.o\n"  // u5, deleted, overlaps X
         "0007 E 0 0 0 00003000 00000100 m.o\n");
    const testutil::Outcome r = testutil::run_report(dir.path(), {"--sym", "prog", "--html=page.html"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string page = slurp(dir / "page.html");
    std::map<std::string, double> y;
    for (const char* u : {"#u0", "#u1", "#u2", "#u3", "#u4", "#u5"}) {
        y[u] = bar_y(page, u);
        EXPECT_GE(y[u], 0) << u;
    }
    EXPECT_NE(y["#u0"], y["#u1"]);
    EXPECT_NE(y["#u2"], y["#u0"]);
    EXPECT_NE(y["#u2"], y["#u1"]);
    EXPECT_EQ(y["#u3"], y["#u0"]);
    EXPECT_NE(y["#u4"], y["#u5"]);
    EXPECT_GT(y["#u4"], y["#u1"]);  // the deleted band lies below the kept one
    // The kept rows give old and new numbers: the deleted 0005 and 0006
    // leave 0007 as 0005.
    EXPECT_NE(page.find("<tr id=\"u6\"><td>0007</td><td>0005</td><td>E</td>"), std::string::npos);
    EXPECT_NE(page.find("<tr id=\"u4\"><td>0005</td><td>X</td>"), std::string::npos);
}

// Segments are shown by absolute address (base plus offset): in the table,
// on the map (the HEX data's bars, each linking to its segment's row), and
// with ticks above FFFF up to the highest address. Sections with nothing to
// show are left out: no unit tables without a symbol file, and no table of
// deleted units or functions when none is deleted.
TEST(ReportPage, SegmentsByAbsoluteAddressAndNoEmptySections) {
    TempDir dir;
    spit(dir / "prog.hex",
         ":0400100001020304E2\n"
         ":020000021000EC\n"
         ":0400200001020304D2\n"
         ":020000023000CC\n"
         ":04FFF0000102030403\n"
         ":00000001FF\n");
    spit(dir / "prog.sym", "# SECTION INFORMATION\n0001 P 0 0 0 00000000 00000040 m.o\n");
    const testutil::Outcome hex = testutil::run_report(dir.path(), {"--hex", "prog", "--html=hex.html"});
    ASSERT_EQ(hex.status, 0) << hex.err;
    const std::string page = slurp(dir / "hex.html");
    EXPECT_NE(page.find("<tr id=\"g1\"><td>1000</td><td>high .hxh</td><td>10000</td><td>1</td><td>4</td>"
                        "<td>10020-10023</td></tr>"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<td>3FFF0-3FFF3</td>"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"#g1\"><rect class=\"data high\""), std::string::npos);
    EXPECT_NE(page.find("addresses 00010020 to 00010023"), std::string::npos);
    EXPECT_NE(page.find("<a href=\"#g0\"><rect class=\"data low\""), std::string::npos);
    for (const char* tick : {">20000</text>", ">30000</text>", ">00040000</text>"})
        EXPECT_NE(page.find(tick), std::string::npos) << tick;
    for (const char* absent : {"id=\"kept\"", "id=\"deleted\"", "id=\"unit-tables\"", "id=\"functions\"",
                               "id=\"labels\"", "id=\"blocks\"", "id=\"diagnoses\"", "id=\"warnings\""})
        EXPECT_EQ(page.find(absent), std::string::npos) << absent;

    const testutil::Outcome sym = testutil::run_report(dir.path(), {"--sym", "prog", "--html=sym.html"});
    ASSERT_EQ(sym.status, 0) << sym.err;
    const std::string units = slurp(dir / "sym.html");
    EXPECT_NE(units.find("id=\"kept\""), std::string::npos);
    for (const char* absent :
         {"id=\"deleted\"", "id=\"functions\"", "id=\"segments\"", "id=\"data\"", "Deleted units", ": 0<"})
        EXPECT_EQ(units.find(absent), std::string::npos) << absent;

    // A record whose checksum does not fit: the warnings section says where.
    std::string bad = slurp(dir / "prog.hex");
    bad.replace(bad.find("0403\n"), 4, "04E3");
    spit(dir / "prog.hex", bad);
    const testutil::Outcome warned = testutil::run_report(dir.path(), {"--hex", "prog", "--html=hex.html"});
    ASSERT_EQ(warned.status, 0) << warned.err;
    const std::string with = slurp(dir / "hex.html");
    EXPECT_NE(with.find("<section id=\"warnings\">\n<h2>Warnings: 1</h2>"), std::string::npos) << with;
    EXPECT_NE(with.find("<li>prog.hex:5:"), std::string::npos) << with;
}

// A refused input gets a page with its diagnosis: where, what, the line
// with the column marked, the hint, and the status stays 3. An input that
// cannot be read gets none.
TEST(ReportPage, ARefusedInputGetsAPageWithItsDiagnosis) {
    TempDir dir;
    spit(dir / "prog.hex", ":020000040000FA\n:00000001FF\n");
    spit(dir / "prog.sym", "# SECTION INFORMATION\n0001 P<x> 0 0 0 00000000 00000040 m.o\n");
    const testutil::Outcome r = testutil::run_report(dir.path(), {"prog", "--html=page.html"});
    EXPECT_EQ(r.status, 3) << r.err;
    ASSERT_TRUE(fs::exists(dir / "page.html"));
    const std::string page = slurp(dir / "page.html");
    EXPECT_NE(page.find("<p class=\"where\">prog.hex:1:8: <span class=\"error\">error:</span> record type"),
              std::string::npos)
        << page;
    EXPECT_NE(page.find("<pre class=\"line\">1 | :020000<mark>0</mark>40000FA</pre>"), std::string::npos) << page;
    EXPECT_NE(page.find("<p>hint: use segment (02) records"), std::string::npos);
    EXPECT_NE(page.find("status 3, error exit at"), std::string::npos);
    // The symbol file was read: its units are drawn and listed.
    EXPECT_NE(page.find("<tr id=\"u0\"><td>0001</td><td>0001</td><td>P&lt;x&gt;</td>"), std::string::npos);
    if (!python_missing()) xml_check(dir, "page.html");

    fs::remove(dir / "page.html");
    fs::remove(dir / "prog.sym");
    const testutil::Outcome gone = testutil::run_report(dir.path(), {"prog", "--html=page.html"});
    EXPECT_EQ(gone.status, 4) << gone.err;
    EXPECT_FALSE(fs::exists(dir / "page.html"));
}

}  // namespace
