// symtest.h: small helpers shared by the unit tests of the symbol conversion:
// a clean start, a trace log captured into a string, tables filled from
// literal records, and death tests that see the message and the exit place.
#ifndef MRL_SYMTEST_H
#define MRL_SYMTEST_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "mrlpro.h"
#include "run/trace.h"
#include "sym/fields.h"
#include "sym/table.h"
#include "testutil.h"

namespace symtest {

// Every global back to its start-up value; the symbol file is called in.sym.
inline void reset() {
    if (open_flag[S_TRACE] && trace_fp != nullptr) std::fclose(trace_fp);
    init_globals();
    input_sym = "in.sym";
    output_sym = "out.sym";
}

// Switches the trace log on into a temporary file; text() returns what has
// been written so far. The trace is switched off again on destruction.
class Trace {
public:
    Trace() : path_(dir_ / "mrl.ifd") {
        trace_fp = std::fopen(path_.c_str(), "w");
        open_flag[S_TRACE] = 1;
    }
    ~Trace() {
        if (open_flag[S_TRACE] && trace_fp != nullptr) std::fclose(trace_fp);
        open_flag[S_TRACE] = 0;
        trace_fp = nullptr;
    }
    std::string text() {
        std::fflush(trace_fp);
        return testutil::slurp(path_);
    }

private:
    testutil::TempDir dir_;  // first: path_ is made from it
    std::filesystem::path path_;
};

// A number as the symbol file writes it (num_to_hex), as a string.
inline std::string hex(uint32_t value) {
    char digits[9];
    return std::string(num_to_hex(value, digits));
}

struct Unit {
    uint32_t no, start, length;
    const char* name;
};
struct Func {
    uint32_t no, unit;
};
// Adds literal unit records as the first pass would. Section names are kept
// only while the trace is on, and tests that trace later look at them: the
// trace lines of adding go to a log of their own.
inline void add_units(std::initializer_list<Unit> units) {
    std::optional<Trace> names;
    if (!trace_on()) names.emplace();
    for (const Unit& u : units) unit_record_set(u.no, u.start, u.length, u.name);
}

// Builds both tables from literal records and renumbers them, as the first
// pass and the renumbering of a run would.
inline void build(std::initializer_list<Unit> units, std::initializer_list<Func> funcs = {}) {
    add_units(units);
    for (const Func& f : funcs) {
        const std::string line = "# FUNC " + hex(f.no) + " x " + hex(f.unit) + "\n";
        func_data_make(line);
    }
    table_order();
    unit_replac();
    func_replace();
}

// The regular expression that matches exactly `text`.
inline std::string exactly(const std::string& text) {
    std::string re = "^";
    for (char c : text) {
        if (std::string_view(".[]{}()\\*+?^$|").find(c) != std::string_view::npos) re.push_back('\\');
        re.push_back(c);
    }
    return re + "$";
}

// For the statement of a death test: standard output and a trace log both go
// to standard error, where the death test looks. The trace shows the place of
// the error exit.
inline void to_stderr() {
    std::fflush(stdout);
    dup2(2, 1);
    trace_fp = fdopen(dup(2), "w");
    open_flag[S_TRACE] = 1;
}

// What standard error holds after a format error (error 9) at `place`,
// after the trace lines `before`.
inline std::string format_error_at(int place, const std::string& before = "") {
    const std::string msg = " Error : File format error (in.sym)\n";
    return exactly(before + msg + msg + "++++++++++ Error exit at " + std::to_string(place) + " ++++++++++\n" +
                   "======= end =======\n");
}

}  // namespace symtest

#endif
