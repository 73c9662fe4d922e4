// report_options_test.cpp: mrl85-report's command line. Help and version go
// to standard output with status 0; a usage error is said on standard error,
// with nothing on standard output, and ends with status 4, as does an input
// that cannot be read. The inputs are only ever read, and the page is never
// written over one of them nor after a refused input.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

namespace fs = std::filesystem;
using testutil::Outcome;
using testutil::slurp;
using testutil::spit;
using testutil::TempDir;

const std::string kHex = ":020000020000FC\n:10000000000102030405060708090A0B0C0D0E0F78\n:00000001FF\n";
const std::string kSym = "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000010 a.o\n\n# FUNC 1 f 1 0\n";
const std::string kBadSym = "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000010 a.o\n\n# CALL 1G\n";

void inputs(const TempDir& tmp) {
    spit(tmp / "prog.hex", kHex);
    spit(tmp / "prog.sym", kSym);
}

TEST(ReportOptions, HelpVersionAndUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        int status;
        const char* out;  // a piece of standard output; "" for none at all
        const char* err;  // a piece of standard error; "" for none at all
    };
    // clang-format off
    const std::vector<Case> cases = {
        {{"--help"}, 0, "Usage: mrl85-report [OPTION]... INPUT", ""},
        {{"--version"}, 0, "mrl85-report", ""},
        {{"prog", "--help"}, 0, "--html=FILE", ""},
        {{"--frobnicate", "prog"}, 4, "", "unrecognized option '--frobnicate'"},
        {{"-x", "prog"}, 4, "", "unrecognized option '-x'"},
        {{}, 4, "", "no input"},
        {{"prog", "other"}, 4, "", "more than one input"},
        {{"prog.hex"}, 4, "", "'.' in the input name 'prog.hex'"},
        {{"pro.g"}, 4, "", "'.' in the input name"},
        {{"prog", "--html"}, 4, "", "option '--html' requires an argument"},
        {{"--html=", "prog"}, 4, "", "option '--html' requires a file name"},
        // A long option may be cut to a start that names it alone.
        {{"--ve"}, 0, "Copyright (c) 2026 The mrl85 authors\nReleased under the MIT License\n", ""},
        {{"--hel", "prog"}, 0, "Usage: mrl85-report", ""},
        {{"--he", "prog"}, 4, "", "option '--he' is ambiguous; possibilities: '--help' '--hex'"},
        {{"--h", "prog"}, 4, "", "option '--h' is ambiguous; possibilities: '--help' '--hex' '--html'"},
        {{"--hex=1", "prog"}, 4, "", "option '--hex' doesn't allow an argument"},
        {{"--helpx"}, 4, "", "unrecognized option '--helpx'"},
        {{"--=x", "prog"}, 4, "", "unrecognized option '--=x'"},
        {{"--s", "prog"}, 0, "SYM file prog.sym", ""},
        {{"--list", "prog"}, 4, "", "invalid kind 'prog' for '--list'; valid kinds are: units, functions,"},
        {{"prog", "--list"}, 4, "", "option '--list' requires an argument"},
        {{"--list=units,", "prog"}, 4, "", "invalid kind '' for '--list'"},
        {{"--list=unit", "prog"}, 4, "", "invalid kind 'unit' for '--list'"},
        {{"--all=units", "prog"}, 4, "", "option '--all' doesn't allow an argument"},
        {{"--list", "functions,units", "prog"}, 0, "\nunit kept     0001 -> 0001  P ", ""},
        {{"--a", "prog"}, 0, "\nunit kept     0001 -> 0001  P ", ""},
    };
    // clang-format on
    for (const Case& k : cases) {
        std::string line;
        for (const std::string& a : k.args) line += " " + a;
        SCOPED_TRACE("mrl85-report" + line);
        const TempDir tmp;
        inputs(tmp);
        Outcome r = testutil::run_report(tmp.path(), k.args);
        r.out = testutil::lf_text(r.out, testutil::windows_program(testutil::report_tool().path));
        EXPECT_EQ(r.status, k.status);
        if (*k.out == '\0') {
            EXPECT_EQ(r.out, "");
        } else {
            EXPECT_NE(r.out.find(k.out), std::string::npos) << r.out;
        }
        if (*k.err == '\0') {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find(k.err), std::string::npos) << r.err;
        }
        if (k.status == 4) {
            EXPECT_NE(r.err.find("--help"), std::string::npos) << "no hint at --help: " << r.err;
        }
        EXPECT_FALSE(fs::exists(tmp / "out.hex"));
    }
}

// --hex and --sym read that file alone: the other may be missing. Without
// either, both are read, and a missing one is status 4.
TEST(ReportOptions, HexAndSymReadOneInputAlone) {
    struct Case {
        std::vector<std::string> args;
        bool hex, sym;  // which inputs exist
        int status;
    };
    const std::vector<Case> cases = {
        {{"--hex", "prog"}, true, false, 0}, {{"--sym", "prog"}, false, true, 0},
        {{"--hex", "prog"}, false, true, 4}, {{"--sym", "prog"}, true, false, 4},
        {{"prog"}, true, false, 4},          {{"prog"}, false, true, 4},
        {{"prog"}, false, false, 4},         {{"--hex", "--sym", "prog"}, true, true, 0},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.args[0] + (k.hex ? " with prog.hex" : "") + (k.sym ? " with prog.sym" : ""));
        const TempDir tmp;
        if (k.hex) spit(tmp / "prog.hex", kHex);
        if (k.sym) spit(tmp / "prog.sym", kSym);
        const Outcome r = testutil::run_report(tmp.path(), k.args);
        EXPECT_EQ(r.status, k.status) << r.err;
        if (k.status == 0) {
            EXPECT_EQ(r.err, "");
            const bool hex_read = k.args[0] == "--hex" || k.args.size() == 3;
            const bool sym_read = k.args[0] == "--sym" || k.args.size() == 3;
            EXPECT_EQ(r.out.find("HEX file prog.hex") != std::string::npos, hex_read) << r.out;
            EXPECT_EQ(r.out.find("SYM file prog.sym") != std::string::npos, sym_read) << r.out;
        } else {
            EXPECT_NE(r.err.find(k.hex ? "prog.sym" : "prog.hex"), std::string::npos) << r.err;
        }
    }
}

// A page named like an input, or another name of an input's file, is
// refused before anything is written: status 4, the input as it was. That
// holds for the input that --hex or --sym leaves unread as well.
TEST(ReportOptions, ThePageIsNeverAnInput) {
    struct Case {
        const char* what;
        std::vector<std::string> args;
    };
    const std::vector<Case> cases = {
        {"the HEX file", {"--html=prog.hex", "prog"}},
        {"the symbol file", {"--html", "prog.sym", "prog"}},
        {"another link to the symbol file", {"--html=page.html", "prog"}},
        {"the symbol file, only the HEX file read", {"--hex", "--html=prog.sym", "prog"}},
        {"the HEX file, only the symbol file read", {"--sym", "--html=prog.hex", "prog"}},
        {"another link to the symbol file, only the HEX file read", {"--hex", "--html=page.html", "prog"}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const TempDir tmp;
        inputs(tmp);
        fs::create_hard_link(tmp / "prog.sym", tmp / "page.html");
        const Outcome r = testutil::run_report(tmp.path(), k.args);
        EXPECT_EQ(r.status, 4);
        EXPECT_NE(r.err.find("is an input"), std::string::npos) << r.err;
        EXPECT_EQ(slurp(tmp / "prog.hex"), kHex);
        EXPECT_EQ(slurp(tmp / "prog.sym"), kSym);
    }
}

// The page is written after a successful reading, in either option form,
// and after a refused input too (it shows the diagnosis); the inputs keep
// their bytes and their times in every case.
TEST(ReportOptions, ThePageIsWrittenAndTheInputsAreOnlyRead) {
    struct Case {
        const char* what;
        std::string sym;
        std::vector<std::string> args;
        int status;
        bool page;
    };
    const std::vector<Case> cases = {
        {"--html=FILE", kSym, {"--html=page.html", "prog"}, 0, true},
        {"--html FILE", kSym, {"prog", "--html", "page.html"}, 0, true},
        {"--ht=FILE, shortened", kSym, {"--ht=page.html", "prog"}, 0, true},
        {"no page asked for", kSym, {"prog"}, 0, false},
        {"a format error", kBadSym, {"--html=page.html", "prog"}, 3, true},
    };
    const auto then = fs::file_time_type::clock::now() - std::chrono::hours(48);
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const TempDir tmp;
        spit(tmp / "prog.hex", kHex);
        spit(tmp / "prog.sym", k.sym);
        fs::last_write_time(tmp / "prog.hex", then);
        fs::last_write_time(tmp / "prog.sym", then);
        const Outcome r = testutil::run_report(tmp.path(), k.args);
        EXPECT_EQ(r.status, k.status) << r.err;
        EXPECT_EQ(fs::exists(tmp / "page.html"), k.page);
        EXPECT_EQ(slurp(tmp / "prog.hex"), kHex);
        EXPECT_EQ(slurp(tmp / "prog.sym"), k.sym);
        EXPECT_EQ(fs::last_write_time(tmp / "prog.hex"), then);
        EXPECT_EQ(fs::last_write_time(tmp / "prog.sym"), then);
        // Nothing else appears beside the inputs (and the page).
        for (const auto& e : fs::directory_iterator(tmp.path())) {
            const std::string name = e.path().filename().string();
            EXPECT_TRUE(name == "prog.hex" || name == "prog.sym" || name == "page.html") << name;
        }
    }
}

}  // namespace

// A page name that bears a link is never written through: a symbolic link
// (also one to the input left unread) is replaced by a new page, as is a
// file with another name; the file behind it keeps its bytes.
TEST(ReportOptions, APageNameThatIsALinkIsReplaced) {
    const bool windows = testutil::windows_program(testutil::report_tool().path);
    struct Case {
        const char* what;
        bool symbolic;
        const char* target;
        std::vector<std::string> args;
        int status;
    };
    const std::vector<Case> cases = {
        {"a hard link to another file", false, "keep.html", {"prog", "--html=page.html"}, 0},
        {"a symbolic link to another file", true, "keep.html", {"prog", "--html=page.html"}, 0},
        {"a symbolic link to the unread input", true, "prog.sym", {"--hex", "prog", "--html=page.html"}, 4},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        if (windows && k.symbolic) continue;  // symbolic links are made by POSIX calls
        const TempDir tmp;
        inputs(tmp);
        spit(tmp / "keep.html", "another page\n");
        if (k.symbolic)
            fs::create_symlink(k.target, tmp / "page.html");
        else
            fs::create_hard_link(tmp / k.target, tmp / "page.html");
        const Outcome r = testutil::run_report(tmp.path(), k.args);
        EXPECT_EQ(r.status, k.status) << r.err;
        EXPECT_EQ(slurp(tmp / "keep.html"), "another page\n");
        EXPECT_EQ(slurp(tmp / "prog.hex"), kHex);
        EXPECT_EQ(slurp(tmp / "prog.sym"), kSym);
        if (k.status == 0) {
            EXPECT_FALSE(fs::is_symlink(tmp / "page.html"));
            EXPECT_EQ(fs::hard_link_count(tmp / "page.html"), 1u);
            EXPECT_NE(slurp(tmp / "page.html").find("<html"), std::string::npos);
        }
    }
}

// /dev/stdout is a link, but a page named so goes to standard output as
// it always did, also when that is a file, and the link stays where it is.
TEST(ReportOptions, APageNamedDevStdoutGoesToStandardOutput) {
    if (testutil::windows_program(testutil::report_tool().path)) GTEST_SKIP() << "/dev/stdout is POSIX";
    const TempDir tmp;
    inputs(tmp);
    const std::string cmd =
        "cd '" + tmp.path().string() + "' && '" + testutil::report_tool().path + "' prog --html=/dev/stdout > out.txt";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    EXPECT_EQ(slurp(tmp / "out.txt").rfind("<!DOCTYPE html>", 0), 0u);
    EXPECT_TRUE(fs::is_symlink("/dev/stdout"));
}

// A page that cannot be written whole ends the run with status 2 and is
// removed when it is a file; a device named as the page is written to and
// never removed.
TEST(ReportOptions, APageThatCannotBeWrittenWholeIsRemovedButNoDevice) {
    if (testutil::windows_program(testutil::report_tool().path))
        GTEST_SKIP() << "file size limits and /dev/full are POSIX";
    TempDir tmp;
    inputs(tmp);
    const std::vector<std::string> args = {"prog", "--html=page.html"};
    const Outcome cut =
        testutil::Process(tmp.path(), args, 0, std::chrono::seconds(120), 1024, testutil::report_tool()).finish();
    EXPECT_EQ(cut.status, 2) << cut.err;
    EXPECT_NE(cut.err.find("page.html"), std::string::npos) << cut.err;
    EXPECT_FALSE(fs::exists(tmp / "page.html"));

    const Outcome full = testutil::run_report(tmp.path(), {"prog", "--html=/dev/full"});
    EXPECT_EQ(full.status, 2) << full.err;
    EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

namespace {

// Runs mrl85-report in `dir` with standard output on `out_fd` (standard
// error collected from a file); the exit status and standard error.
Outcome run_report_to(const TempDir& dir, const std::vector<std::string>& args, int out_fd) {
    const std::string err_name = (dir / "err.txt").string();
    const std::string path = testutil::report_tool().path;
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.path().c_str()) != 0) _exit(127);
        const int err = open(err_name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || dup2(err, 2) < 0) _exit(127);
        if (out_fd < 0) {
            close(1);
        } else if (dup2(out_fd, 1) < 0) {
            _exit(127);
        }
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    Outcome r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.err = slurp(dir / "err.txt");
    fs::remove(dir / "err.txt");
    return r;
}

// Standard output that fails: a pipe whose reader has gone ends the run
// quietly with status 2, as filters before "head" end; a full disk, or
// standard output closed from the start, says so, also with status 2. That
// holds for the summary, the page on standard output and the help.
TEST(ReportOptions, AFailedStandardOutputIsStatus2QuietOnlyForAClosedPipe) {
    if (testutil::windows_program(testutil::report_tool().path)) GTEST_SKIP() << "POSIX pipes and /dev/full";
    enum Out { kClosedPipe, kFull, kClosed };
    struct Case {
        Out out;
        std::vector<std::string> args;
        const char* err;  // a piece of standard error; "" for none at all
    };
    const std::vector<Case> cases = {
        {kClosedPipe, {"prog"}, ""},
        {kClosedPipe, {"--html=-", "prog"}, ""},
        {kClosedPipe, {"--help"}, ""},
        {kFull, {"prog"}, "mrl85-report: the summary could not be written whole: "},
        {kFull, {"--html=-", "prog"}, "mrl85-report: the page could not be written whole: "},
        {kFull, {"--version"}, "mrl85-report: the version could not be written whole: "},
        {kClosed, {"prog"}, "mrl85-report: standard output is closed"},
        {kClosed, {"--help"}, "mrl85-report: standard output is closed"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.out) + " " + k.args[0]);
        const TempDir tmp;
        inputs(tmp);
        int fd = -1;
        int ends[2] = {-1, -1};
        if (k.out == kClosedPipe) {
            ASSERT_EQ(pipe(ends), 0);
            close(ends[0]);
            fd = ends[1];
        } else if (k.out == kFull) {
            fd = open("/dev/full", O_WRONLY);
            ASSERT_GE(fd, 0);
        }
        const Outcome r = run_report_to(tmp, k.args, fd);
        if (fd >= 0) close(fd);
        EXPECT_EQ(r.status, 2);
        if (*k.err == '\0') {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_EQ(r.err.rfind(k.err, 0), 0u) << r.err;
        }
        EXPECT_FALSE(fs::exists(tmp / "-"));
    }
}

}  // namespace

// --html=- writes the page to standard output, and nothing else goes there:
// the same bytes as the page written to a file, no summary, and no file "-".
TEST(ReportOptions, APageNamedDashGoesToStandardOutputAlone) {
    const TempDir tmp;
    inputs(tmp);
    const Outcome to_file = testutil::run_report(tmp.path(), {"prog", "--html=page.html"});
    ASSERT_EQ(to_file.status, 0) << to_file.err;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--html=-", "prog"}, std::vector<std::string>{"prog", "--html", "-"}}) {
        SCOPED_TRACE(args[0]);
        Outcome r = testutil::run_report(tmp.path(), args);
        // Standard output on Windows ends its lines in CR LF.
        r.out = testutil::lf_text(r.out, testutil::windows_program(testutil::report_tool().path));
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, slurp(tmp / "page.html"));
        EXPECT_FALSE(fs::exists(tmp / "-"));
    }
    // A refused input: the diagnosis on standard error, and the page that
    // shows it alone on standard output.
    spit(tmp / "prog.sym", kBadSym);
    const Outcome bad = testutil::run_report(tmp.path(), {"--html=-", "prog"});
    EXPECT_EQ(bad.status, 3);
    EXPECT_EQ(bad.out.rfind("<!DOCTYPE html>", 0), 0u) << bad.out;
    EXPECT_NE(bad.out.find("prog.sym:4:"), std::string::npos) << bad.out;
    EXPECT_NE(bad.err.find("prog.sym:4:"), std::string::npos) << bad.err;
}

// --version ends with the copyright and licence lines of mrl85's banner,
// as mrl85 prints them when it converts.
TEST(ReportOptions, VersionShowsTheBannersCopyrightAndLicence) {
    const TempDir tmp;
    inputs(tmp);
    const bool win = testutil::windows_program(testutil::report_tool().path);
    const std::string version = testutil::lf_text(testutil::run_report(tmp.path(), {"--version"}).out, win);
    const std::string banner =
        testutil::lf_text(testutil::run(tmp.path(), {"prog", "-Oout"}).out, testutil::windows_program());
    const size_t first = version.find('\n');
    ASSERT_NE(first, std::string::npos) << version;
    EXPECT_EQ(version.rfind("mrl85-report (mrl85) ", 0), 0u) << version;
    const std::string rest = version.substr(first + 1);
    EXPECT_EQ(std::count(rest.begin(), rest.end(), '\n'), 2) << version;
    EXPECT_NE(banner.find("\n" + rest), std::string::npos) << "banner:\n" << banner << "version:\n" << version;
}
