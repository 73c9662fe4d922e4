// report_page_test.cpp: the page of mrl85-report --html, through the built
// program. Unit names are file content: whatever bytes they hold, the page
// must stay well-formed markup and run nothing.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::slurp;
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

}  // namespace
