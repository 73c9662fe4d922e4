// compare.h: two builds compared (mrl85-report --compare=OLD NEW). Each build
// is analysed as a lone report is (analyse.cpp). Right after the earlier
// build's analysis, while the library's tables hold it, earlier_taken keeps
// its usage figures and writes its unit lines and functions, each with its
// name, place and fate, in table order to a scratch file, so that it holds
// no memory while the later build is analysed. compare_builds then indexes
// the later build's units and functions by name, from the library's tables
// as its analysis left them, looks up each item of the earlier build read
// back, and keeps only the items that a change list shows. The summary, the
// JSON document and the page show the comparison.
//
// Units are matched by name: the section name and the module, which is the
// first field after the length on the unit's line, or, for a library line
// (one with ".LIB" in it, any case), the first field of its continuation
// line (the member, as "libc.lib(io.o)"). Functions are matched by the name
// on their "# FUNC" line. Names that occur more than once are matched in
// table order (by number, as the summary lists them): the first unit line of
// a name in the earlier build with the first of that name in the later one,
// and so on.
#ifndef MRL_REPORT_COMPARE_H
#define MRL_REPORT_COMPARE_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "report/report.h"
#include "sym/table.h"

namespace report {

// The names the first pass reads, by reading order, for the comparison.
// Handed to the analysis through Report::names. The modules and the
// function names are kept apart, so that the modules can be given back
// once the units are compared; in each text the names are kept one after
// another, each ending in a NUL (names are fields, which hold no byte below
// "!").
class NameTaker final : public TableObserver {
public:
    NameTaker() { clear(); }
    void unit_read(std::string_view rest) override;
    void unit_line_passed(std::string_view line) override;
    void func_read(std::string_view name) override;
    // The module of the unit record read `seq`-th, and the name of the
    // function read `seq`-th; empty when not known.
    std::string_view module(uint32_t seq) const {
        return std::string_view(modules_.c_str() + (seq < units_.size() ? units_[seq] : 0));
    }
    std::string_view function(uint32_t seq) const {
        return std::string_view(functions_.c_str() + (seq < funcs_.size() ? funcs_[seq] : 0));
    }
    // Forgets the modules (each is empty from now on), for a caller done
    // with the units.
    void modules_forget();
    void clear();

private:
    static uint32_t kept(std::string& text, std::string_view name);
    std::string modules_, functions_;
    std::vector<uint32_t> units_, funcs_;  // where each name begins in its text, by reading order
    bool library_line_ = false;            // the last line read was a library line, and nothing came since
};

// No section: the item is a function.
constexpr uint32_t kNoSection = UINT32_MAX;

// One unit line or one function of a build.
struct Item {
    uint32_t name_at = 0;            // its module (a unit) or name (a function) in Build::text
    uint32_t section = kNoSection;   // a unit: its section name, in Build::sections
    uint32_t number = 0;             // unit or function number
    uint32_t start = 0, length = 0;  // a unit's start and length; a function's unit in `start`
    uint8_t fate = 0;                // a unit's fate (UnitFate); a function: U_KEPT or U_ENDS_HIGH
    bool kept() const { return fate == U_KEPT; }
};

// What the comparison keeps of one build: its files and usage, how many
// units and functions it has, and the items the change lists show.
struct Build {
    std::string hex_name, sym_name;  // the files read through ("" for one not read)
    Usage usage;
    uint64_t unit_count = 0, function_count = 0;
    std::string text;                    // the modules and function names of the items below
    std::vector<std::string> sections;   // each section name of the items below once
    std::vector<Item> units, functions;  // the items of the change lists (Pair points into them)
    // A function's name, a unit's module.
    std::string_view module(const Item& i) const { return std::string_view(text.c_str() + i.name_at); }
    std::string_view section(const Item& i) const {
        return i.section == kNoSection ? std::string_view() : std::string_view(sections[i.section]);
    }
    // The name as shown: "SECTION MODULE" for a unit.
    std::string shown(const Item& i) const {
        std::string t;
        if (i.section != kNoSection) t.append(sections[i.section]).append(" ");
        return t.append(module(i));
    }
};

// A unit or function of the earlier build (`before`) and its match in the
// later one (`after`); -1 where there is none (added, removed). Each points
// into its Build's units or functions.
struct Pair {
    int64_t before = -1, after = -1;
};

// The kinds of change, each a list of the comparison.
enum ChangeKind {
    kUnitAdded,
    kUnitRemoved,
    kUnitMoved,
    kUnitGrown,
    kUnitShrunk,
    kUnitNowDeleted,
    kUnitNowKept,
    kFuncAdded,
    kFuncRemoved,
    kFuncNowDeleted,
    kFuncNowKept,
    kChangeKinds,
};

struct Comparison {
    bool done = false;  // both builds were read through and compared
    Build before, after;
    std::vector<Pair> changes[kChangeKinds];  // each in the order of the later build, removed ones last
    // The earlier build's units and its functions, each in table order
    // (earlier_taken), until compare_builds has read them.
    ScratchStore stored_units, stored_functions;
    // Why the builds could not be compared ("" when nothing went wrong).
    std::string fault;
};

// The earlier build of `c`, of the report `r` analysed just now (the
// library's tables hold it) with `names` as its Report::names: its usage
// into c.before, and, when `stored` (it is to be compared), its units and
// functions into c.stored_units and c.stored_functions. The names are
// cleared.
void earlier_taken(Comparison& c, const Report& r, NameTaker& names, bool stored);

// The later build, of the report `r` analysed just now with `names`,
// compared with the earlier one (earlier_taken): its usage into c.after,
// and the changes. The names are cleared. On a fault of the scratch file
// c.fault says what failed and c.done stays false.
void compare_builds(Comparison& c, const Report& r, NameTaker& names);

// The text summary of the comparison: the usage of each area before and
// after and the difference, the counts of each kind of change, then the
// rows, kShortRows of each kind with none of `lists`, else every row of
// the kinds named (units: kListUnits, functions: kListFunctions).
void compare_print(std::FILE* out, const Comparison& c, unsigned lists);

// The comparison as the value of the JSON document's "compare" member;
// `quoted` writes a text as a JSON string.
void compare_json_write(std::FILE* out, const Comparison& c, std::string (*quoted)(std::string_view));

// The page's section of the comparison, appended to `s`; `text` appends
// text from the inputs as the page escapes it.
void compare_page(std::string& s, const Comparison& c, void (*text)(std::string&, std::string_view));

}  // namespace report

#endif
