// compare.h: two builds compared (mrl85-report --compare=OLD NEW). Each build
// is analysed as a lone report is (analyse.cpp); right after its analysis,
// while the library's tables hold that build, build_taken keeps what the
// comparison needs of it: the usage figures, and each unit line and each
// function with its name, place and fate. The comparison then works on the
// two Builds alone, and the summary, the JSON document and the page show it.
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
#include <string>
#include <string_view>
#include <vector>

#include "report/report.h"
#include "sym/table.h"

namespace report {

// The names the first pass reads, by reading order, for build_taken. Handed
// to the analysis through Report::names. The names are kept one after
// another, each ending in a NUL (names are fields, which hold no byte below
// "!").
class NameTaker final : public TableObserver {
public:
    NameTaker() { clear(); }
    void unit_read(std::string_view rest) override;
    void unit_line_passed(std::string_view line) override;
    void func_read(std::string_view name) override;
    // Where the module of the unit record read `seq`-th, and the name of the
    // function read `seq`-th, begin in text(); 0 (an empty name) when not
    // known.
    uint32_t module_at(uint32_t seq) const { return seq < units_.size() ? units_[seq] : 0; }
    uint32_t function_at(uint32_t seq) const { return seq < funcs_.size() ? funcs_[seq] : 0; }
    // The names, handed over whole (the taker is empty after).
    std::string text_taken();
    void clear();

private:
    uint32_t kept(std::string_view name);
    std::string text_;
    std::vector<uint32_t> units_, funcs_;
    bool library_line_ = false;  // the last line read was a library line, and nothing came since
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

// What the comparison keeps of one build.
struct Build {
    std::string hex_name, sym_name;  // the files read through ("" for one not read)
    Usage usage;
    std::string text;                    // the modules and function names (NameTaker)
    std::vector<std::string> sections;   // each section name once
    std::vector<Item> units, functions;  // in table order
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

// The Build of the report `r`, analysed just now (the library's tables hold
// it) with `names` as its Report::names, whose names it takes over.
Build build_taken(const Report& r, NameTaker& names);

// A unit or function of the earlier build (`before`) and its match in the
// later one (`after`); -1 where there is none (added, removed).
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
};

// The two builds compared (each taken with build_taken).
void compare_builds(Comparison& c);

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
