// e2e_test.cpp: runs every case folder under tests/e2e/cases against the
// program (see testutil.h for which program and how it is started), each in
// a fresh temporary directory that is removed afterwards, pass or fail; and,
// the same way, a table of cases that differ only in a few bytes (the HEX
// format errors, at the end of this file).
//
// Shared input files are stored once under tests/e2e/fixtures/. A case
// folder states only what is its own:
//   args      the arguments after the program name, one per line (required);
//             the program is started as "mrl85"
//   inputs    fixtures to copy in, one per line: "<path below fixtures/>",
//             or "<path below fixtures/> <name in the run directory>"
//   in/       the case's own input files
//   setup     a POSIX sh script run in the run directory before the program
//             (links, permissions); links are made here, never committed
//   shim      one line "ACTION:SUFFIX": the run has the fault library
//             preloaded with that fault (see shim/fault_shim.cpp), for
//             example "full-disk:out.hex" for a full disk under out.hex;
//             such a case is skipped where the library is not built
//   stdout    the expected standard output after the banner (tests/e2e/banner,
//             which the harness puts in front); a run that prints no banner
//             has stdout-exact instead
//   status    the expected exit status; absent means 0
//   files/    the exact content of every file that is new or changed after
//             the run; the date line (line 2) of a trace log is compared as
//             "   <date>"
//   gone      names of files of the run directory that must be gone, one per
//             line; a name also in files/ is a new file in place of the old
//             entry (a link replaced by a file)
// Every other file of the run directory must be unchanged, and no other file
// may appear. Whenever a run in place (input name equal to the -O name) ends
// with a status other than 0, its input files must also be byte-identical to
// before.
//
// Against a Windows program every line that the program writes, to standard
// output or to a file, must end with CR LF; the expectations keep LF, and the
// comparison takes the CR of each CR LF away first. A case may have
//   windows   a file whose first line "skip: <reason>" skips the case there,
//             or a folder of expectations there that replace the case's:
//             stdout or stdout-exact; status; files/ and gone, which replace
//             the case's two together (an empty gone alone: nothing changes);
//             raw/, files compared byte for byte without that conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::slurp;

const fs::path kE2E = MRL_E2E_DIR;

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

// One entry of a directory listing: a file, a directory or a symbolic link
// (with its target), and the bytes a read through it gives ("" for a
// directory, or a link to anything but a regular file).
struct Entry {
    std::string kind;
    std::string bytes;
    bool operator==(const Entry&) const = default;
};
using Listing = std::map<std::string, Entry>;

// Every entry below `dir` by its relative path; links are listed, not followed.
Listing listing(const fs::path& dir) {
    Listing all;
    for (auto it = fs::recursive_directory_iterator(dir); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = it->path().lexically_relative(dir).generic_string();
        std::error_code ec;
        if (it->is_symlink()) {
            const bool regular = fs::is_regular_file(it->path(), ec);
            all[rel] = {"link to " + fs::read_symlink(it->path()).string(), regular ? slurp(it->path()) : ""};
        } else if (it->is_directory()) {
            all[rel] = {"directory", ""};
        } else if (it->is_regular_file()) {
            all[rel] = {"file", slurp(it->path())};
        } else {
            all[rel] = {"special file", ""};
        }
    }
    return all;
}

// A trace log with its date line (line 2) replaced by "   <date>"; any
// other text as it is. The line end of the date line stays.
std::string mask_date(std::string text) {
    if (text.rfind("===== HEX, SYM convertor", 0) != 0) return text;
    const size_t a = text.find('\n');
    if (a == std::string::npos || text.compare(a + 1, 3, "   ") != 0) return text;
    size_t b = text.find('\n', a + 1);
    if (b == std::string::npos) return text;
    if (text[b - 1] == '\r') --b;
    return text.replace(a + 4, b - a - 4, "<date>");
}

// Windows line ends: checks that every LF of `text` follows a CR, and takes
// that one CR away. A line's own CR before its CR LF stays.
std::string from_crlf(const std::string& text, const std::string& what) {
    std::string lf;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            ADD_FAILURE() << what << ": a line ends with LF alone, at byte " << i;
            return text;
        }
        lf += text[i];
    }
    return lf;
}

// What a case expects, from its folder and, for a Windows program, from
// its windows/ folder.
struct Expected {
    std::string out;
    int status = 0;
    fs::path files, raw;  // folders, or empty
    std::vector<std::string> gone;
};

Expected expected(const fs::path& c) {
    const fs::path w = c / "windows";
    const bool win = testutil::windows_program() && fs::is_directory(w);
    auto own = [&](const char* name) { return win && fs::exists(w / name); };
    Expected e;
    const fs::path out = own("stdout") || own("stdout-exact") ? w : c;
    if (fs::exists(out / "stdout-exact"))
        e.out = slurp(out / "stdout-exact");
    else
        e.out = slurp(kE2E / "banner") + slurp(out / "stdout");
    const fs::path status = own("status") ? w / "status" : c / "status";
    if (fs::exists(status)) e.status = std::stoi(slurp(status));
    // files/ and gone go together: a folder cannot be committed empty, so an
    // empty gone alone says that nothing changes.
    const fs::path dir = own("files") || own("gone") ? w : c;
    if (fs::is_directory(dir / "files")) e.files = dir / "files";
    if (fs::exists(dir / "gone")) e.gone = lines_of(slurp(dir / "gone"));
    if (own("raw")) e.raw = w / "raw";
    return e;
}

// Copies the fixtures named in `inputs` and the case's own in/ into `run`.
void copy_inputs(const fs::path& c, const fs::path& run) {
    if (fs::exists(c / "inputs")) {
        for (const std::string& line : lines_of(slurp(c / "inputs"))) {
            std::istringstream words(line);
            std::string from, to;
            words >> from >> to;
            if (from.empty()) continue;
            if (to.empty()) to = fs::path(from).filename().string();
            const fs::path src = kE2E / "fixtures" / from;
            ASSERT_TRUE(fs::exists(src)) << "inputs: no fixture " << from;
            fs::create_directories((run / to).parent_path());
            fs::copy(src, run / to, fs::copy_options::recursive);
        }
    }
    if (fs::exists(c / "in")) fs::copy(c / "in", run, fs::copy_options::recursive);
}

// The input and output base names of an argument list, as the program reads
// them: the first argument that is not an option, and the text after -O.
void base_names(const std::vector<std::string>& args, std::string& in, std::string& out) {
    for (const std::string& a : args) {
        if (a.size() > 2 && a[0] == '-' && (a[1] == 'O' || a[1] == 'o'))
            out = a.substr(2);
        else if (!a.empty() && a[0] != '-' && a[0] != '+' && in.empty())
            in = a;
    }
}

// Copies the inputs into `run` and runs the case's setup there.
void prepare(const fs::path& c, const fs::path& run) {
    ASSERT_NO_FATAL_FAILURE(copy_inputs(c, run));
    if (!fs::exists(c / "setup")) return;
    const std::string cmd = "cd '" + run.string() + "' && sh '" + (c / "setup").string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "setup failed";
}

// The directory the run must leave: as it was before, less what is gone,
// with the new and changed files. A file keeps the kind it had (a link stays
// a link), unless it is both gone and in files/: then a new file took the
// place of what bore its name. `written` receives the names whose lines must end with CR LF on
// Windows.
Listing goal_of(const Listing& before, const Expected& want, bool win, std::set<std::string>& written) {
    Listing goal = before;
    for (const std::string& g : want.gone) {
        EXPECT_TRUE(before.count(g)) << "gone: " << g << " was not there before the run";
        goal.erase(g);
    }
    for (const fs::path& folder : {want.files, want.raw}) {
        if (folder.empty()) continue;
        for (const auto& [name, entry] : listing(folder)) {
            const auto was = before.find(name);
            const bool replaced = std::count(want.gone.begin(), want.gone.end(), name) != 0;
            const bool link = was != before.end() && was->second.kind.rfind("link", 0) == 0 && !replaced;
            goal[name] = {link ? was->second.kind : entry.kind, entry.bytes};
            if (folder == want.files) written.insert(name);
            if (!win && was != before.end() && was->second == goal[name])
                ADD_FAILURE() << "files/" << name << " is not changed by the run; list only new or changed files";
        }
    }
    return goal;
}

// The directory the run left, made comparable: dates of trace logs masked
// and, on Windows, the line ends of every file the run wrote checked and
// turned into LF (except those expected raw).
Listing comparable(Listing after, const Listing& before, const Expected& want, bool win,
                   const std::set<std::string>& written) {
    for (auto& [name, entry] : after) {
        const auto was = before.find(name);
        const bool raw = !want.raw.empty() && fs::exists(want.raw / name);
        const bool changed = written.count(name) || was == before.end() || !(was->second == entry);
        if (win && !raw && entry.kind != "directory" && changed) entry.bytes = from_crlf(entry.bytes, name);
        entry.bytes = mask_date(entry.bytes);
    }
    return after;
}

void expect_same(const Listing& goal, const Listing& after) {
    for (const auto& [name, entry] : goal) {
        const auto got = after.find(name);
        if (got == after.end()) {
            ADD_FAILURE() << "missing: " << name;
            continue;
        }
        EXPECT_EQ(got->second.kind, entry.kind) << "kind of " << name;
        EXPECT_EQ(got->second.bytes, entry.bytes) << "content of " << name;
    }
    for (const auto& [name, entry] : after) EXPECT_TRUE(goal.count(name)) << "unexpected: " << name;
}

// In place, a run that fails never touches an input.
void expect_inputs_kept(const std::vector<std::string>& args, int status, const Listing& before, const Listing& after) {
    std::string in_name, out_name;
    base_names(args, in_name, out_name);
    if (status == 0 || in_name.empty() || in_name != out_name) return;
    for (const char* ext : {".hex", ".sym"}) {
        const std::string f = in_name + ext;
        if (!before.count(f)) continue;
        const auto now = after.find(f);
        if (now == after.end())
            ADD_FAILURE() << "a failed run in place lost " << f;
        else
            EXPECT_TRUE(now->second == before.at(f)) << "a failed run in place changed " << f;
    }
}

std::vector<std::string> case_names() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(kE2E / "cases"))
        if (e.is_directory()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Runs the program with `args` in `run`, which holds the inputs, and
// compares what it did with `want`.
void run_and_compare(const fs::path& run, const std::vector<std::string>& args, const Expected& want) {
    const bool win = testutil::windows_program();
    const Listing before = listing(run);
    const testutil::Outcome r = testutil::run(run, args);

    EXPECT_EQ(win ? from_crlf(r.out, "standard output") : r.out, want.out) << "standard output";
    EXPECT_EQ(r.status, want.status) << "exit status";
    EXPECT_EQ(r.err, "") << "standard error";
    const Listing after = listing(run);
    std::set<std::string> written;
    const Listing goal = goal_of(before, want, win, written);
    expect_same(goal, comparable(after, before, want, win, written));
    expect_inputs_kept(args, r.status, before, after);
}

class E2E : public ::testing::TestWithParam<std::string> {};

TEST_P(E2E, Case) {
    const fs::path c = kE2E / "cases" / GetParam();
    if (testutil::windows_program() && fs::is_regular_file(c / "windows")) {
        const std::string first = lines_of(slurp(c / "windows")).at(0);
        ASSERT_EQ(first.rfind("skip: ", 0), 0u) << "windows: the first line must be \"skip: <reason>\"";
        GTEST_SKIP() << first.substr(6);
    }
    const Expected want = expected(c);
#ifdef MRL_FAULT_SHIM
    std::optional<testutil::ShimSet> shim;
    if (fs::exists(c / "shim")) shim.emplace(lines_of(slurp(c / "shim")).at(0));
#else
    if (fs::exists(c / "shim")) GTEST_SKIP() << "the fault library is built for POSIX systems only";
#endif

    const testutil::TempDir tmp;
    ASSERT_NO_FATAL_FAILURE(prepare(c, tmp.path()));
    run_and_compare(tmp.path(), lines_of(slurp(c / "args")), want);
}

INSTANTIATE_TEST_SUITE_P(Cases, E2E, ::testing::ValuesIn(case_names()),
                         [](const ::testing::TestParamInfo<std::string>& param) {
                             std::string n = param.param;
                             std::replace_if(
                                 n.begin(), n.end(),
                                 [](char ch) { return !std::isalnum(static_cast<unsigned char>(ch)); }, '_');
                             return n;
                         });

// A HEX format error, each kind at its own place: the pass stops at the bad
// line with error 9 and status 3. With the trace on, the outputs keep the
// lines written before it and the log records each line read and the place.
struct HexFormat {
    const char* name;
    const char* hex;   // prog.hex
    const char* low;   // out.hex after the run
    const char* high;  // out.hxh after the run
    int records;       // lines read, the bad one included
    int place;
};

// clang-format off
const HexFormat kHexFormats[] = {
    {"no_record_mark_537", ":02000000AABB99\n\n:00000001FF\n", ":02000000AABB99\n", "", 2, 537},
    {"short_line_541", ":02000000AABB99\n:0000001\n", ":02000000AABB99\n", "", 2, 541},
    {"type_82_553", ":020000021000EC\n:048000001234567868\n:02000082AABB99\n", "",
     ":020000021000EC\n:048000001234567868\n", 3, 553},
    {"type_80_561", ":02000000AABB99\n:02000080AABB99\n", ":02000000AABB99\n", "", 2, 561},
    {"type_11_571", ":02000011AABB99\n", "", "", 1, 571},
    {"type_04_576", ":020000020000FC\n:02000000AABB99\n:02000004AABB99\n", ":02000000AABB99\n", "", 3, 576},
};
// clang-format on

void PrintTo(const HexFormat& k, std::ostream* os) { *os << k.name; }

class HexFormatError : public ::testing::TestWithParam<HexFormat> {};

TEST_P(HexFormatError, StopsAtItsPlace) {
    const HexFormat& k = GetParam();
    const testutil::TempDir run, files;
    testutil::spit(run / "prog.hex", k.hex);
    testutil::spit(files / "out.hex", k.low);
    testutil::spit(files / "out.hxh", k.high);
    std::string log =
        "===== HEX, SYM convertor V.1.00.00 =====\n   <date>\n\nargment : mrl85 prog -Oout -H +info \n"
        "-----------------------\n=== file_set() ===\n\tinput_name = prog\n\tinput_hex = prog.hex\n"
        "\tinput_sym = prog.sym\n\toutput_hex = out.hex\n\toutput_sym = out.sym\n\toutput_hihex = out.hxh\n"
        "=== data_make() ===\n";
    for (int i = 0; i < k.records; ++i) log += "=== record() ===\n";
    log += " Error : File format error (prog.hex)\n++++++++++ Error exit at " + std::to_string(k.place) +
           " ++++++++++\n======= end =======\n";
    testutil::spit(files / "mrl.ifd", log);
    Expected want;
    want.out = slurp(kE2E / "banner") +
               "\n== HEX file convert now == ( prog.hex --> out.hex )\n Error : File format error (prog.hex)\n";
    want.status = 3;
    want.files = files.path();
    run_and_compare(run.path(), {"prog", "-Oout", "-H", "+info"}, want);
}

// Named Cases/ like the case folders, so that every run of those runs these.
INSTANTIATE_TEST_SUITE_P(Cases, HexFormatError, ::testing::ValuesIn(kHexFormats),
                         [](const ::testing::TestParamInfo<HexFormat>& param) {
                             return std::string(param.param.name);
                         });

}  // namespace
