// report_json_test.cpp: mrl85-report --format=json, through the built
// program. The document is parsed by Python's json module (a strict parser:
// a stray control byte or a byte that is not UTF-8 fails it), which turns
// its rows back into the lines of the text summary; each must be a line of
// the text of --all, and each kind must have as many rows as the text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "testutil.h"

namespace {

namespace fs = std::filesystem;
using testutil::spit;
using testutil::TempDir;

// Reads the document and writes, one per line: "status N", "version N",
// "count KIND N" for each kind of row, and the rows as the text summary
// shows them.
const char* const kRows = R"PY(
import json, sys
d = json.load(open(sys.argv[1], encoding="utf-8"))
out = open(sys.argv[2], "w", encoding="utf-8")
def p(s): out.write(s + "\n")
p("version %d" % d["version"])
p("status %d" % d["status"])
p("count diagnoses %d" % len(d["diagnoses"]))
for x in d["diagnoses"]:
    p("diagnosis %s:%d:%d: %s" % (x["file"], x["line"], x["column"], x["message"]))
for x in d["warnings"]:
    p("warning %s:%d:%d: warning: %s" % (x["file"], x["line"], x["column"], x["message"]))
h = d["hex"]
if h is not None:
    p("count segments %d" % len(h["segments"]))
    for s in h["segments"]:
        p("segment %-4s  %s  base %05X  %8d records %10d bytes %s" % (
            s["value"] or "none", "high" if s["high"] else "low ", s["base"], s["records"], s["bytes"],
            "".join(" %04X-%04X" % (x["first"], x["last"]) for x in s["spans"])))
s = d["sym"]
if s is not None:
    kept = [u for u in s["units"] if u["kept"]]
    unread_kept = [u for u in s["unread_unit_lines"] if u["kept"]]
    p("count kept %d" % (len(kept) + len(unread_kept)))
    p("count deleted %d" % (len(s["units"]) + len(s["unread_unit_lines"]) - len(kept) - len(unread_kept)))
    p("total kept %d %d" % (len(kept), s["units_kept"]))
    p("total deleted %d %d" % (len(s["units"]) - len(kept), s["units_deleted"]))
    def at(line):
        return "  line %d" % line if line is not None else ""
    for u in s["units"]:
        if u["kept"]:
            p("unit kept     %04X -> %04X  %s" % (u["number"], u["new_number"], u["name"]))
        else:
            p("unit deleted  %04X          %s" % (u["number"], u["name"]))
    for u in s["unread_unit_lines"]:
        if u["kept"]:
            p("unit kept     %04X -> %04X  %s%s" % (u["number"], u["new_number"], u["reason"], at(u["line"])))
        else:
            p("unit deleted  %04X          %s%s" % (u["number"], u["reason"], at(u["line"])))
    p("count functions %d %d" % (len(s["functions_dropped"]), s["functions_deleted"]))
    for f in s["functions_dropped"]:
        p("function deleted  %04X  unit %04X%s" % (f["number"], f["unit"], at(f["line"])))
    p("count labels %d" % len(s["labels_dropped"]))
    for x in s["labels_dropped"]:
        p("label dropped  %s %s%s" % (x["label"], x["address"], at(x["line"])))
    p("count blocks %d" % len(s["blocks_dropped"]))
    for x in s["blocks_dropped"]:
        span = ("line %d" % x["first_line"] if x["first_line"] == x["last_line"]
                else "lines %d-%d" % (x["first_line"], x["last_line"]))
        p("block dropped  %-16s  %s  %s" % (x["kind"], x["header"], span))
    p("count lines %d" % len(s["lines"]))
    for x in s["lines"]:
        span = ("%d" % x["first_line"] if x["first_line"] == x["last_line"]
                else "%d-%d" % (x["first_line"], x["last_line"]))
        p("line %-9s  %-12s  %s" % (x["action"], span, x["what"]))
    p("usage %s %d" % (d["usage"]["low"]["units"], d["usage"]["low"]["used"]))
)PY";

// The lines of `text`.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) all.push_back(l);
    return all;
}

// The lines of `text` that begin with `start`.
size_t count_starting(const std::string& text, const std::string& start) {
    size_t n = 0;
    for (const std::string& l : lines(text)) n += l.starts_with(start) ? 1 : 0;
    return n;
}

// The document's rows as kRows writes them; empty (with a failure) when
// Python cannot parse it.
std::string rows_of(const TempDir& tmp, const std::string& document) {
    spit(tmp / "doc.json", document);
    spit(tmp / "rows.py", kRows);
    const std::string cmd = "python3 '" + (tmp / "rows.py").string() + "' '" + (tmp / "doc.json").string() + "' '" +
                            (tmp / "rows.txt").string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << document;
    return fs::exists(tmp / "rows.txt") ? testutil::slurp(tmp / "rows.txt") : std::string();
}

// mrl85-report run in `dir`, its standard output and error with LF line
// ends also where it is a Windows program.
testutil::Outcome report(const fs::path& dir, const std::vector<std::string>& args) {
    testutil::Outcome r = testutil::run_report(dir, args);
    const bool windows = testutil::windows_program(testutil::report_tool().path);
    r.out = testutil::lf_text(r.out, windows);
    r.err = testutil::lf_text(r.err, windows);
    return r;
}

bool python_missing() { return std::system("python3 -c '' >/dev/null 2>&1") != 0; }

// Every row of the JSON document of the example is a row of the text of
// --all, in the same numbers, and the usage figures agree.
TEST(ReportJson, ExampleRowsMatchTheText) {
    if (python_missing()) GTEST_SKIP() << "no python3";
    const fs::path examples = fs::path(MRL_E2E_DIR).parent_path().parent_path() / "examples";
    const testutil::Outcome json = report(examples, {"--form=json", "prog"});
    const testutil::Outcome text = report(examples, {"--all", "prog"});
    ASSERT_EQ(json.status, 0) << json.err;
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(json.err, text.err);
    const TempDir tmp;
    const std::string rows = rows_of(tmp, json.out);
    ASSERT_NE(rows, "");
    const std::vector<std::string> text_lines = lines(text.out);
    for (const std::string& row : lines(rows)) {
        if (row.starts_with("count ")) {
            std::istringstream in(row.substr(6));
            std::string kind;
            size_t listed = 0, total = 0;
            in >> kind >> listed;
            const bool has_total = static_cast<bool>(in >> total);
            const char* start = kind == "segments"    ? "segment "
                                : kind == "kept"      ? "unit kept "
                                : kind == "deleted"   ? "unit deleted "
                                : kind == "functions" ? "function deleted "
                                : kind == "labels"    ? "label dropped "
                                : kind == "blocks"    ? "block dropped "
                                : kind == "lines"     ? "line "
                                                      : "no such row";
            if (kind != "diagnoses") {
                EXPECT_EQ(listed, count_starting(text.out, start)) << row;
            }
            if (has_total) {
                EXPECT_EQ(listed, total) << row;
            }
        } else if (row.starts_with("total ")) {
            std::istringstream in(row.substr(6));
            std::string kind;
            size_t listed = 0, total = 0;
            in >> kind >> listed >> total;
            EXPECT_EQ(listed, total) << row;
        } else if (row.starts_with("usage ")) {
            std::istringstream in(row.substr(6));
            std::string units, used;
            in >> units >> used;
            EXPECT_NE(text.out.find("  low  .hex"), std::string::npos);
            bool found = false;
            for (const std::string& l : text_lines) {
                if (!l.starts_with("  low  .hex")) continue;
                std::istringstream t(l.substr(11));
                std::string data, ext, use;
                t >> data >> ext >> use;
                found = ext == units && use == used;
            }
            EXPECT_TRUE(found) << row << "\n" << text.out;
        } else if (row.starts_with("unit ") || row.starts_with("segment ") || row.starts_with("function ") ||
                   row.starts_with("label ") || row.starts_with("block ") || row.starts_with("line ")) {
            bool found = false;
            for (const std::string& l : text_lines) found = found || l.starts_with(row);
            EXPECT_TRUE(found) << "not in the text: " << row << "\n" << text.out;
        }
    }
    EXPECT_NE(rows.find("version 1\nstatus 0\ncount diagnoses 0\n"), std::string::npos) << rows;
}

// A refused input still gives one document, with the diagnosis at the place
// the text names on standard error (which stays as it is); the status is
// that of the text. Names with an escape byte and a byte that is not UTF-8
// come out as \u00XX.
TEST(ReportJson, RefusedInputAndOddBytes) {
    if (python_missing()) GTEST_SKIP() << "no python3";
    const TempDir tmp;
    spit(tmp / "bad.hex", ":02001000AABB89\n:0X\n:00000001FF\n");
    spit(tmp / "bad.sym", "# SECTION INFORMATION\n0001 P 0 0 0 00000008 00000020 m.o\n");
    const testutil::Outcome json = report(tmp.path(), {"--format", "json", "bad"});
    const testutil::Outcome text = report(tmp.path(), {"bad"});
    EXPECT_EQ(json.status, 3) << json.err;
    EXPECT_EQ(json.status, text.status);
    EXPECT_EQ(json.err, text.err);
    const std::string rows = rows_of(tmp, json.out);
    EXPECT_NE(rows.find("status 3\ncount diagnoses 1\ndiagnosis bad.hex:2:"), std::string::npos) << rows;
    const std::string place =
        rows.substr(rows.find("diagnosis ") + 10, rows.find(':', rows.find(":2:") + 3) - rows.find("diagnosis ") - 10);
    EXPECT_NE(text.err.find(place), std::string::npos) << place << "\n" << text.err;

    spit(tmp / "odd.hex", ":00000001FF\n");
    spit(tmp / "odd.sym",
         "# SECTION INFORMATION\n0001 P 0 0 0 00000008 00000020 m.o\n"
         "\n# GLOBAL LABEL\nlo 0  h\x1b[2J\xff\xc3\xa9 10000\n");
    const testutil::Outcome odd = report(tmp.path(), {"--format=json", "odd"});
    ASSERT_EQ(odd.status, 0) << odd.err;
    EXPECT_NE(odd.out.find("\"label\":\"h\\u001B[2J\\u00FF\xc3\xa9\",\"address\":\"10000\""), std::string::npos)
        << odd.out;
    EXPECT_NE(rows_of(tmp, odd.out).find("count labels 1\n"), std::string::npos);
}

// --format takes text or json only, and JSON and a page cannot share
// standard output.
TEST(ReportJson, FormatUsageErrors) {
    const TempDir tmp;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"--format=xml", "prog"}, {"--format=json", "--html=-", "prog"}, {"--format"}}) {
        const testutil::Outcome r = testutil::run_report(tmp.path(), args);
        EXPECT_EQ(r.status, 4) << args[0];
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("--format"), std::string::npos) << r.err;
    }
}

}  // namespace
