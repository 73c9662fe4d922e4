// report_twice_test.cpp: mrl85-report's analysis run as a library, over
// several input pairs one after the other in one process. Each analysis
// starts from nothing (the library's state is reset whole), so each result
// is what a fresh mrl85-report process prints for the same pair.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "report/report.h"
#include "testutil.h"

namespace {

namespace fs = std::filesystem;

// What `f` holds from its start.
std::string contents(std::FILE* f) {
    std::string s;
    std::rewind(f);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    return s;
}

// The summary with every row (--all) and the diagnoses of the pair `input`
// (a base name), and the status, as mrl85-report's main gives them,
// analysed in this process.
testutil::Outcome analyse_here(const std::string& input) {
    report::Report r;
    r.hex.name = input + ".hex";
    r.sym.name = input + ".sym";
    testutil::Outcome o;
    o.status = report::analyse(r);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    EXPECT_NE(out, nullptr);
    EXPECT_NE(err, nullptr);
    if (out == nullptr || err == nullptr) return o;
    report::summary_print(out, r, report::kListAll);
    report::diagnoses_print(err, r.problems);
    o.out = contents(out);
    o.err = contents(err);
    std::fclose(out);
    std::fclose(err);
    return o;
}

TEST(ReportInOneProcess, EachAnalysisEqualsAFreshProcess) {
    if (testutil::windows_program(testutil::report_tool().path)) GTEST_SKIP() << "compares with this build's binary";
    const testutil::TempDir tmp;
    const fs::path fixtures = fs::path(MRL_E2E_DIR) / "fixtures";
    const fs::path examples = fs::path(MRL_E2E_DIR) / ".." / ".." / "examples";
    // Pairs that differ in every table (units, functions, dropped labels and
    // blocks), one refused; the first comes again after the others.
    const std::vector<fs::path> pairs = {examples, fixtures / "mixed", fixtures / "func-of-missing-unit",
                                         fixtures / "worked", examples};
    int n = 0;
    for (const fs::path& from : pairs) {
        const std::string base = "pair" + std::to_string(n++);
        for (const char* ext : {".hex", ".sym"})
            if (fs::exists(from / (std::string("prog") + ext)))
                fs::copy_file(from / (std::string("prog") + ext), tmp / (base + ext));
        const std::string input = (tmp / base).string();
        SCOPED_TRACE(from.string());
        const testutil::Outcome here = analyse_here(input);
        const testutil::Outcome fresh = testutil::run_report(tmp.path(), {"--all", input});
        EXPECT_EQ(here.status, fresh.status);
        EXPECT_EQ(here.out, fresh.out);
        EXPECT_EQ(here.err, fresh.err);
    }
}

}  // namespace

// The report keeps the line of each unit and FUNC line in 32 bits while the
// numbers fit; a file of more lines than that widens them, and no number
// kept before or after may lose its high bits.
TEST(ReportLineNumbers, APastThirtyTwoBitsNumberWidensTheRest) {
    report::LineNumbers n;
    n.assign(3);
    n.set(0, 7);
    n.set(2, UINT32_MAX);
    EXPECT_EQ(n[0], 7u);
    EXPECT_EQ(n[1], 0u);
    EXPECT_EQ(n[2], uint64_t{UINT32_MAX});
    n.set(1, uint64_t{UINT32_MAX} + 2);
    n.push_back(uint64_t{1} << 40);
    const std::vector<uint64_t> want = {7, uint64_t{UINT32_MAX} + 2, UINT32_MAX, uint64_t{1} << 40};
    ASSERT_EQ(n.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_EQ(n[i], want[i]) << i;
    n.assign(2);
    n.set(1, 9);
    EXPECT_EQ(n.size(), 2u);
    EXPECT_EQ(n[0], 0u);
    EXPECT_EQ(n[1], 9u);
}

// The unit lines are kept as runs a fixed step apart while that is smaller,
// then one by one: every line must come back as added, across both forms.
TEST(ReportLineNumbers, UnitLinesComeBackAsAddedInRunsAndOneByOne) {
    std::vector<uint64_t> want;
    uint64_t line = 2;
    for (int i = 0; i < 100; ++i) want.push_back(line++);     // a block, one a line
    for (int i = 0; i < 100; ++i) want.push_back(line += 2);  // library lines, every other line
    want.push_back(line += 1000);                             // a lone record after a gap
    want.push_back(uint64_t{UINT32_MAX} + 7);                 // a step past 32 bits
    line = uint64_t{UINT32_MAX} + 9;
    for (int i = 0; i < 5000; ++i) want.push_back(line += 1 + (i * 7919) % 5);  // no runs: one by one
    report::UnitLines u;
    for (size_t i = 0; i < want.size(); ++i) {
        u.add(want[i]);
        if (i == 250) {  // while still in runs
            for (size_t k = 0; k <= i; ++k) ASSERT_EQ(u[k], want[k]) << k;
        }
    }
    ASSERT_EQ(u.size(), want.size());
    for (size_t k = 0; k < want.size(); ++k) ASSERT_EQ(u[k], want[k]) << k;
    EXPECT_EQ(u[want.size()], 0u);
    u.clear();
    EXPECT_EQ(u.size(), 0u);
    EXPECT_EQ(u[0], 0u);
}
