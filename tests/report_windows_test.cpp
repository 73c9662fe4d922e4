// report_windows_test.cpp: mrl85-report on names beyond ASCII, the case
// that differs between the platforms: on Windows such a name reaches the
// program as UTF-8 only through its manifest (the UTF-8 code page). Run on
// Linux against this build's mrl85-report, and by scripts/mingw against
// mrl85-report.exe under wine (MRL85_REPORT_EXE). Each test runs in a fresh
// directory that is removed afterwards, also when it fails.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::slurp;
using testutil::spit;
using testutil::TempDir;

const fs::path kExamples = fs::path(MRL_E2E_DIR).parent_path().parent_path() / "examples";

// The shipped example under the base name "prögram" in `dir`.
void copy_example(const fs::path& dir) {
    spit(dir / "prögram.hex", slurp(kExamples / "prog.hex"));
    spit(dir / "prögram.sym", slurp(kExamples / "prog.sym"));
}

// The names of the files in `dir`.
std::set<std::string> names_in(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// The summary names both inputs as given, and reads them whole: a name that
// was mangled on the way would name a file that is not there (status 4).
TEST(ReportPlatform, Utf8NameGivesTheSummary) {
    TempDir dir;
    copy_example(dir.path());
    const testutil::Outcome r = testutil::run_report(dir.path(), {"prögram"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("HEX file prögram.hex"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("SYM file prögram.sym"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("unit deleted  0003"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"prögram.hex", "prögram.sym"}));
}

// The page goes to the UTF-8 name asked for, and to no other file.
TEST(ReportPlatform, Utf8PageNameIsWritten) {
    TempDir dir;
    copy_example(dir.path());
    const testutil::Outcome r = testutil::run_report(dir.path(), {"--html=página.html", "prögram"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(names_in(dir.path()), (std::set<std::string>{"prögram.hex", "prögram.sym", "página.html"}));
    ASSERT_TRUE(fs::exists(dir / "página.html"));
    EXPECT_EQ(slurp(dir / "página.html").rfind("<!DOCTYPE html", 0), 0u);
}

// A diagnosis names the file by its UTF-8 name, where an editor can find it,
// on standard error and on the page of the refused input.
TEST(ReportPlatform, Utf8NameInTheDiagnosis) {
    TempDir dir;
    copy_example(dir.path());
    std::string sym = slurp(dir / "prögram.sym");
    const std::string func = "# FUNC 0004 putc 0006";
    const size_t at = sym.find(func);
    ASSERT_NE(at, std::string::npos);
    sym.replace(at, func.size(), "# FUNC 0004 putc 0009");
    spit(dir / "prögram.sym", sym);
    const testutil::Outcome r = testutil::run_report(dir.path(), {"--html=página.html", "prögram"});
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_EQ(r.err.rfind("prögram.sym:13:18: ", 0), 0u) << r.err;
    EXPECT_NE(slurp(dir / "página.html").find("prögram.sym:13:18: "), std::string::npos);
}

}  // namespace
