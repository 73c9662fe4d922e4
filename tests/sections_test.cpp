// sections_test.cpp: the rewriters of the symbol file's headers and section
// lines, called directly on tables built from literal records.
#include <functional>

#include "sym/sections/sections.h"
#include "symtest.h"

namespace {

using symtest::format_error_at;
using symtest::to_stderr;

// Units 1 to 5 with 2 (empty, section E) and 3 (ending above FFFF) deleted:
// unit 1 stays 1, unit 4 becomes 2, unit 5 becomes 3. Function 1 lies in
// unit 1, functions 2 and 3 in unit 2, function 4 in unit 4: functions 2 and
// 3 are deleted and function 4 becomes 2.
void five_units() {
    symtest::reset();
    symtest::build(
        {{1, 0x100, 0x10, "P"}, {2, 0, 0, "E"}, {3, 0xFFF8, 0x10, "P"}, {4, 0x200, 0x10, "P"}, {5, 0x300, 0x10, "P"}},
        {{1, 1}, {2, 2}, {3, 2}, {4, 4}});
}

using Rewriter = std::function<int(std::string_view, Rebuilt&)>;
const Rewriter local_label = loc_lab_chg;
const Rewriter local_symbol = [](std::string_view l, Rebuilt& out) { return loc_sym_chg(l, SEC_LOCAL_SYMBOL, out); };
const Rewriter local_bit_symbol = [](std::string_view l, Rebuilt& out) {
    return loc_sym_chg(l, SEC_LOCAL_BIT_SYMBOL, out);
};

// What a rewriter answers for a line, and the line that the rewriting pass
// then writes: the one rebuilt in the output's room, or else the line as read.
struct Outcome {
    int result;
    std::string line;
};

Outcome rewrite(const Rewriter& rewriter, const std::string& in) {
    static OutFile file;  // never opened: the rebuilt line stays in its room
    file.prepare();
    Rebuilt out{file, {}};
    const int result = rewriter(in, out);
    return {result, out.text.data() != nullptr ? std::string(out.text) : in};
}

// A line as read and what is written: the rewritten line, or nothing when
// the rewriter drops it (a dropped header is left as read).
struct Case {
    Rewriter rewrite;
    std::string in;
    const char* out;  // nullptr: dropped
};

void check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        const Outcome o = rewrite(c.rewrite, c.in);
        if (c.out == nullptr) {
            EXPECT_EQ(o.result, 1) << c.in;
            EXPECT_EQ(o.line, c.in) << c.in;
        } else {
            EXPECT_EQ(o.result, 0) << c.in;
            EXPECT_EQ(o.line, c.out) << c.in;
        }
    }
}

TEST(LocalHeaders, WorkedExample) {
    five_units();
    check({
        {local_label, "# LOCAL LABEL 0004\n", "# LOCAL LABEL 2\n"},
        {local_label, "# LOCAL LABEL 3\n", nullptr},
        {local_symbol, "# LOCAL SYMBOL 0001-0005\n", "# LOCAL SYMBOL 1-3\n"},
        {local_symbol, "# LOCAL SYMBOL 2-5\n", "# LOCAL SYMBOL 2-3\n"},              // upward walk: 3 deleted, 4 kept
        {local_bit_symbol, "# LOCAL BIT SYMBOL 1-3\n", "# LOCAL BIT SYMBOL 1-1\n"},  // downward: 2, then 1
        {local_symbol, "# LOCAL SYMBOL 2-3\n", nullptr},                             // walks meet crossed: 2 above 1
        {local_symbol, "# LOCAL SYMBOL 3-3\n", nullptr},
        {local_symbol, "# LOCAL SYMBOL 5-1\n", nullptr},  // high to low
    });
}

TEST(LocalHeaders, OnlyTheNumbersAreCarriedOver) {
    five_units();
    check({
        {local_label, "# LOCAL LABEL 4 more text\n", "# LOCAL LABEL 2\n"},
        {local_label, "# LOCAL LABEL    5\n", "# LOCAL LABEL 3\n"},
        {local_label, "# LOCAL LABEL 4", "# LOCAL LABEL 2\n"},
        {local_symbol, "# LOCAL SYMBOL 4-4 rest\n", "# LOCAL SYMBOL 2-2\n"},
        {local_bit_symbol, "# LOCAL BIT SYMBOL 4-5", "# LOCAL BIT SYMBOL 2-3\n"},
    });
}

TEST(LocalHeaders, TraceShowsTheHeaderAndTheUnitText) {
    five_units();
    symtest::Trace trace;
    check({
        {local_label, "# LOCAL LABEL 0004\n", "# LOCAL LABEL 2\n"},
        {local_symbol, "# LOCAL SYMBOL 2-5\n", "# LOCAL SYMBOL 2-3\n"},
    });
    EXPECT_EQ(trace.text(),
              "===== loc_lab_chg() =====\n"
              "  data : # LOCAL LABEL 0004\n"
              "unit number [0004]\n"
              "===== loc_sym_chg() =====\n"
              "  data : # LOCAL SYMBOL 2-5\n");
}

// Units 0 to 1A, none deleted, so every unit keeps its number.
void units_0_to_1A() {
    symtest::reset();
    for (uint32_t no = 0; no <= 0x1A; ++no) unit_record_set(no, 0x100 * no, 0x10, "P");
    table_order();
    unit_replac();
    func_replace();
}

TEST(LocalHeaders, NumbersAreWrittenUpperCaseWithoutLeadingZeros) {
    units_0_to_1A();
    check({
        {local_label, "# LOCAL LABEL 000a\n", "# LOCAL LABEL A\n"},
        {local_label, "# LOCAL LABEL \n", "# LOCAL LABEL 0\n"},  // the empty text is unit 0
        {local_symbol, "# LOCAL SYMBOL 000a-01a\n", "# LOCAL SYMBOL A-1A\n"},
    });
}

TEST(LocalSymbolWalks, DeletedEndsMoveInwardToTheNearestKeptUnit) {
    symtest::reset();
    // 1 kept, 2 deleted, 3 kept (new 2), 4 deleted, 5 kept (new 3).
    symtest::build({{1, 0x100, 0x10, "P"}, {2, 0, 0, "E"}, {3, 0x300, 0x10, "P"}, {4, 0, 0, "e"}, {5, 0x500, 1, "P"}});
    check({
        {local_symbol, "# LOCAL SYMBOL 2-4\n", "# LOCAL SYMBOL 2-2\n"},  // narrowed from both ends to unit 3
        {local_symbol, "# LOCAL SYMBOL 2-5\n", "# LOCAL SYMBOL 2-3\n"},
        {local_symbol, "# LOCAL SYMBOL 4-4\n", nullptr},
        {local_symbol, "# LOCAL SYMBOL 4-1\n", nullptr},  // walks up to 5 (new 3), which is above 1
        {local_symbol, "# LOCAL SYMBOL 1-2\n", "# LOCAL SYMBOL 1-1\n"},
    });
}

TEST(LocalSymbolWalks, WalksStopAtTheEndsOfTheTableAndNeverWrap) {
    // The lowest unit is deleted: the downward walk ends there and the range
    // has no kept unit; no number below it is looked up (0 is not a unit).
    symtest::reset();
    symtest::build({{1, 0, 0, "E"}, {2, 0, 0, "E"}, {3, 0x300, 0x10, "P"}});
    check({{local_symbol, "# LOCAL SYMBOL 1-2\n", nullptr}});

    // Unit 0 is the lowest and deleted: the walk down from 0 looks nowhere.
    symtest::reset();
    symtest::build({{0, 0, 0, "E"}, {1, 0x100, 0x10, "P"}});
    check({{local_symbol, "# LOCAL SYMBOL 1-0\n", nullptr}});

    // Units 1 and 2 deleted, 3 kept and the highest: the upward walk from 1
    // goes as far as the highest unit itself.
    symtest::reset();
    symtest::build({{1, 0, 0, "E"}, {2, 0, 0, "E"}, {3, 0x300, 0x10, "P"}});
    check({{local_symbol, "# LOCAL SYMBOL 1-3\n", "# LOCAL SYMBOL 1-1\n"}});

    // FFFFFFFF is the highest and deleted: the walk up from it looks nowhere.
    symtest::reset();
    symtest::build({{0, 0, 0, "P"}, {1, 0x100, 0x10, "P"}, {0xFFFFFFFF, 0x10000, 0x10, "P"}});
    check({{local_bit_symbol, "# LOCAL BIT SYMBOL FFFFFFFF-1\n", nullptr}});
}

TEST(LocalSymbolWalks, RunsOfDeletedUnitsAreCrossedWhole) {
    symtest::reset();
    // 1 kept; 2 to 6 deleted (unit 4's first record decides, its second is
    // kept); 7 kept (new 2); 8 and 9 deleted; A kept (new 3).
    symtest::build({{1, 0x100, 0x10, "P"},
                    {2, 0, 0, "E"},
                    {3, 0x10000, 1, "P"},
                    {4, 0x10000, 1, "P"},
                    {4, 0x400, 0x10, "C"},
                    {5, 0, 0, "E"},
                    {6, 0xFFFF, 2, "P"},
                    {7, 0x700, 0x10, "P"},
                    {8, 0, 0, "E"},
                    {9, 0, 0, "E"},
                    {10, 0xA00, 0x10, "P"}});
    check({
        {local_symbol, "# LOCAL SYMBOL 2-9\n", "# LOCAL SYMBOL 2-2\n"},  // both ends walk to unit 7
        {local_symbol, "# LOCAL SYMBOL 3-A\n", "# LOCAL SYMBOL 2-3\n"},  // first end walks 3..6 to 7
        {local_symbol, "# LOCAL SYMBOL 1-6\n", "# LOCAL SYMBOL 1-1\n"},  // last end walks 6..2 to 1
        {local_symbol, "# LOCAL SYMBOL 8-2\n", nullptr},                 // A (new 3) above 1
    });
}

// Unit 1 kept, units 2 to `run` + 1 deleted, unit `run` + 2 kept; with
// `sparse`, a kept unit far above makes the lookups search the ordered table
// instead of indexing it.
void deleted_run(uint32_t run, bool sparse) {
    symtest::reset();
    unit_record_set(1, 0x100, 0x10, "P");
    for (uint32_t no = 2; no <= run + 1; ++no) unit_record_set(no, 0x10000, 0x10, "P");
    unit_record_set(run + 2, 0x200, 0x10, "P");
    if (sparse) unit_record_set(0x100000, 0x300, 0x10, "P");
    table_order();
    EXPECT_EQ(unit_index.direct || !unit_index.place.empty(), !sparse);
    unit_replac();
}

// The lookups that one range header takes.
uint64_t lookups_of(const std::string& line, const char* want) {
    unit_lookups = 0;
    const Outcome o = rewrite(local_symbol, line);
    if (want == nullptr) {
        EXPECT_EQ(o.result, 1);
    } else {
        EXPECT_EQ(o.result, 0);
        EXPECT_EQ(o.line, want);
    }
    return unit_lookups;
}

TEST(LocalSymbolWalks, ALongRunOfDeletedUnitsTakesAsManyLookupsAsAShortOne) {
    struct Walk {
        const char* name;
        std::string (*line)(uint32_t run);  // the header for a run of `run` deleted units
        const char* want;
    };
    const Walk cases[] = {
        {"first end walks up", [](uint32_t run) { return "# LOCAL SYMBOL 2-" + symtest::hex(run + 2) + "\n"; },
         "# LOCAL SYMBOL 2-2\n"},
        {"last end walks down", [](uint32_t run) { return "# LOCAL SYMBOL 1-" + symtest::hex(run + 1) + "\n"; },
         "# LOCAL SYMBOL 1-1\n"},
        {"both ends walk", [](uint32_t run) { return "# LOCAL SYMBOL 2-" + symtest::hex(run + 1) + "\n"; }, nullptr},
    };
    for (const Walk& c : cases) {
        for (bool sparse : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (sparse ? ", sparse numbers" : ", dense numbers"));
            deleted_run(3, sparse);
            const uint64_t short_run = lookups_of(c.line(3), c.want);
            deleted_run(3000, sparse);
            EXPECT_EQ(lookups_of(c.line(3000), c.want), short_run);
        }
    }
}

TEST(LocalSymbolWalksDeathTest, GapAfterARunOfDeletedUnitsEndsTheRunAt1385) {
    symtest::reset();
    symtest::build({{1, 0x100, 0x10, "P"}, {2, 0, 0, "E"}, {3, 0, 0, "E"}, {4, 0, 0, "E"}, {6, 0x600, 0x10, "P"}});
    EXPECT_EXIT((to_stderr(), rewrite(local_symbol, "# LOCAL SYMBOL 2-6\n")), testing::ExitedWithCode(3),
                format_error_at(1385, "===== loc_sym_chg() =====\n  data : # LOCAL SYMBOL 2-6\n"));
}

TEST(LocalSymbolWalksDeathTest, GapInTheUnitNumbersEndsTheRunAt1385) {
    symtest::reset();
    symtest::build({{1, 0x100, 0x10, "P"}, {2, 0, 0, "E"}, {4, 0x400, 0x10, "P"}});
    EXPECT_EXIT((to_stderr(), rewrite(local_symbol, "# LOCAL SYMBOL 2-4\n")), testing::ExitedWithCode(3),
                format_error_at(1385, "===== loc_sym_chg() =====\n  data : # LOCAL SYMBOL 2-4\n"));
}

TEST(LocalHeadersDeathTest, MalformedRangesAndUnknownUnits) {
    five_units();
    struct Bad {
        std::string line;
        SecKind kind;
        int place;
    } cases[] = {
        {"# LOCAL SYMBOL 12\n", SEC_LOCAL_SYMBOL, 1626},
        {"# LOCAL BIT SYMBOL 1\n", SEC_LOCAL_BIT_SYMBOL, 1626},
        {"# LOCAL SYMBOL 1 -2\n", SEC_LOCAL_SYMBOL, 1082},  // a blank before the "-"
        {"# LOCAL SYMBOL  1-2\n", SEC_LOCAL_SYMBOL, 1082},  // a blank right after the literal
        {"# LOCAL SYMBOL 1-100000000\n", SEC_LOCAL_SYMBOL, 1092},
        {"# LOCAL SYMBOL 1-6\n", SEC_LOCAL_SYMBOL, 1385},
    };
    for (const Bad& c : cases) {
        const Rewriter range = [&c](std::string_view l, Rebuilt& out) { return loc_sym_chg(l, c.kind, out); };
        EXPECT_EXIT((to_stderr(), rewrite(range, c.line)), testing::ExitedWithCode(3),
                    format_error_at(c.place, std::string("===== loc_sym_chg() =====\n  data : ") + c.line))
            << c.line;
    }
    EXPECT_EXIT((to_stderr(), rewrite(local_label, "# LOCAL LABEL 9\n")), testing::ExitedWithCode(3),
                format_error_at(1385, "===== loc_lab_chg() =====\n  data : # LOCAL LABEL 9\nunit number [9]\n"));
}

TEST(FunctionHeaders, WorkedExample) {
    five_units();
    check({
        {func_chg, "# FUNC 0004 xyz 0004 rest of line\n", "# FUNC 2 xyz 2 rest of line\n"},
        {func_chg, "# FUNC 3 xyz 2 rest\n", nullptr},
        {call_chg, "# CALL 0004\n", "# CALL 2\n"},
        {call_chg, "# CALL 0002\n", nullptr},
        {src_chg, "# SOURCE 0004 main.c 12\n", "# SOURCE 2 main.c 12\n"},
        {src_chg, "# SOURCE 0003 main.c\n", nullptr},
    });
}

TEST(FunctionHeaders, FieldsAreRebuiltAndTheRemainderKept) {
    five_units();
    check({
        // The unit written is the function's new unit; the third field is not read.
        {func_chg, "# FUNC 4 Ab_c 999 r\n", "# FUNC 2 Ab_c 2 r\n"},
        // Blanks before the first three fields shrink; those in the remainder stay.
        {func_chg, "# FUNC   4   second   9   rest  here\n", "# FUNC 2 second 2   rest  here\n"},
        {call_chg, "# CALL 4 more text\n", "# CALL 2\n"},
        {call_chg, "# CALL 4", "# CALL 2\n"},
        {src_chg, "# SOURCE 04  two  blanks\n", "# SOURCE 2  two  blanks\n"},
    });
}

// With nothing after the last rewritten field, the line keeps its own line
// end: it ends in a line feed exactly when the line as read had one.
TEST(FunctionHeaders, NoLineEndIsLostOrAdded) {
    five_units();
    check({
        {func_chg, "# FUNC 4 xyz 4\n", "# FUNC 2 xyz 2\n"},
        {func_chg, "# FUNC 4 xyz 4", "# FUNC 2 xyz 2"},
        {func_chg, "# FUNC 4 xyz\n", "# FUNC 2 xyz 2\n"},
        {func_chg, "# FUNC 4 xyz 4 ", "# FUNC 2 xyz 2"},
        {src_chg, "# SOURCE 0004\n", "# SOURCE 2\n"},
        {src_chg, "# SOURCE 0004", "# SOURCE 2"},
        {src_chg, "# SOURCE 4 a.c", "# SOURCE 2 a.c"},
    });
}

TEST(FunctionHeaders, TraceNamesTheRewriter) {
    five_units();
    symtest::Trace trace;
    check({
        {func_chg, "# FUNC 1 x 1 r\n", "# FUNC 1 x 1 r\n"},
        {call_chg, "# CALL 2\n", nullptr},
        {src_chg, "# SOURCE 1 r\n", "# SOURCE 1 r\n"},
    });
    EXPECT_EQ(trace.text(), "===== func_chg() =====\n===== call_chg() =====\n===== src_chg() =====\n");
}

TEST(FunctionHeadersDeathTest, UnknownOrMalformedFunctionNumbers) {
    five_units();
    struct Bad {
        Rewriter rewrite;
        std::string line, trace;
        int place;
    } cases[] = {
        {call_chg, "# CALL \n", "===== call_chg() =====\n", 1417},  // empty: function 0
        {func_chg, "# FUNC 9 x 1\n", "===== func_chg() =====\n", 1417},
        {src_chg, "# SOURCE 4x a.c\n", "===== src_chg() =====\n", 1082},
        {call_chg, "# CALL 123456789\n", "===== call_chg() =====\n", 1092},
    };
    for (const Bad& c : cases) {
        EXPECT_EXIT((to_stderr(), rewrite(c.rewrite, c.line)), testing::ExitedWithCode(3),
                    format_error_at(c.place, c.trace))
            << c.line;
    }
}

TEST(SectionInformation, WorkedExampleWithLibraryContinuations) {
    five_units();
    check({
        {sec_chg, "0001 P 0 0 0 0100 10\n", "0001 P 0 0 0 0100 10\n"},
        {sec_chg, "2 E 0 0 0 0 0\n", nullptr},
        {sec_chg, "0004 P 0 0 0 0200 10 X.lib\n", "0002 P 0 0 0 0200 10 X.lib\n"},
        {sec_chg, "  continuation of X\n", "  continuation of X\n"},
        {sec_chg, "0003 P 0 0 0 FFF8 10 Y.LIB\n", nullptr},
        {sec_chg, "  continuation of Y\n", nullptr},
        {sec_chg, "00005 P 0 0 0 0300 10\n", "0003 P 0 0 0 0300 10\n"},
    });
    EXPECT_EQ(run_state.carry.sec_parse_next, 1);
    EXPECT_EQ(run_state.carry.sec_lib_deleted, 0);
}

TEST(SectionInformation, TraceOfALibraryLineAndItsContinuation) {
    five_units();
    symtest::Trace trace;
    check({
        {sec_chg, "0004 P 0 0 0 0200 10 X.lib\n", "0002 P 0 0 0 0200 10 X.lib\n"},
        {sec_chg, " cont\n", " cont\n"},
        {sec_chg, "3 P 0 0 0 FFF8 10\n", nullptr},
    });
    EXPECT_EQ(trace.text(),
              "===== sec_chg() =====\n"
              " Read Unit No. = 0004\n"
              "  Unit No.0004 ==> 0002 Change\n"
              "===== sec_chg() =====\n"
              "===== sec_chg() =====\n"
              " Read Unit No. = 3\n"
              "  Unit No.0003 Delete\n");
}

// A continuation begins with a blank and directly follows its library line;
// a unit line in its place is read as a unit line and shares no fate with
// the library line.
TEST(SectionInformation, OnlyABlankLedLineContinuesALibraryLine) {
    five_units();
    check({
        {sec_chg, "0003 P 0 0 0 FFF8 10 Y.LIB\n", nullptr},
        {sec_chg, "0004 P 0 0 0 0200 10\n", "0002 P 0 0 0 0200 10\n"},  // kept, though after a deleted library
        {sec_chg, "0004 P 0 0 0 0200 10 X.lib\n", "0002 P 0 0 0 0200 10 X.lib\n"},
        {sec_chg, "2 E 0 0 0 0 0\n", nullptr},  // deleted, though after a kept library
        {sec_chg, "0002 P lib.LIBx\n", nullptr},
        {sec_chg, " not a number at all\n", nullptr},           // continuation of a deleted library: dropped unread
        {sec_chg, "0001 P a.Library\n", "0001 P a.Library\n"},  // ".LIB" as the start of a longer word
        {sec_chg, " 0003 anything\n", " 0003 anything\n"},      // continuation of a kept library: as read
        {sec_chg, "   0005 P no library pending\n", "0003 P no library pending\n"},  // parsed
        {sec_chg, "0005 P x.LiB\n", "0003 P x.LiB\n"},  // written from the copy, not upper-cased
    });
}

// A library line holds ".LIB" in any letter case, wherever it stands; what
// only comes close names none, and the blank-led line after it is parsed.
TEST(SectionInformation, LibraryNameInAnyLetterCase) {
    five_units();
    check({
        {sec_chg, "0003 P ..lIb\n", nullptr},  // after another dot
        {sec_chg, " continued\n", nullptr},
        {sec_chg, "0003 P x.LI\n", nullptr},  // cut off by the line end
        {sec_chg, " 0005 P\n", "0003 P\n"},
        {sec_chg, "0003 P x.L1B x. LIB\n", nullptr},
        {sec_chg, " 0005 P\n", "0003 P\n"},
    });
}

// The block ends (the pass calls sec_block_end at a blank line or a header):
// a library line at its end has no continuation, and the next line that
// reaches the rewriter, in a later block, is parsed.
TEST(SectionInformation, PendingContinuationEndsWithItsBlock) {
    five_units();
    check({{sec_chg, "0003 P 0 0 0 FFF8 10 Z.LIB\n", nullptr}});
    EXPECT_EQ(run_state.carry.sec_parse_next, 0);
    EXPECT_EQ(run_state.carry.sec_lib_deleted, 1);
    sec_block_end();
    check({{sec_chg, "   0001 P 0 0 0 0100 10\n", "0001 P 0 0 0 0100 10\n"}});
}

// The lines the first pass reads into the unit table, which the rewriting
// pass therefore hands to sec_chg whatever their length.
TEST(SectionInformation, UnitLinesAreThoseTheFirstPassReads) {
    struct Row {
        std::string line;
        bool unit;
    } rows[] = {
        {"2 E 0 0 0 0 0\n", true},
        {"2\n", true},
        {"\t2 E\n", true},  // a tab is part of the field
        {" 2 E 0 0 0 0 0\n", false},
        {"\r\n", false},
        {std::string("\0 2\n", 4), false},
        {"", false},
    };
    for (const Row& r : rows) EXPECT_EQ(sec_unit_line(r.line), r.unit) << r.line;
}

TEST(SectionInformation, UnitFieldIsFourDigitsOrMore) {
    units_0_to_1A();
    check({
        {sec_chg, "0 P 0 0 0 0 10\n", "0000 P 0 0 0 0 10\n"},
        {sec_chg, "1a P\n", "001A P\n"},
        {sec_chg, "   0004  P  x\n", "0004  P  x\n"},  // leading blanks go, later blanks stay
        {sec_chg, "0004\n", "0004\n"},                 // empty remainder: no blank, line end kept
        {sec_chg, "0004", "0004"},
        {sec_chg, "0004 ", "0004"},
    });
    symtest::reset();
    symtest::build({{0x12345, 0x100, 0x10, "P"}});
    check({{sec_chg, "000012345 P 0 0 0 100 10\n", "12345 P 0 0 0 100 10\n"}});
}

TEST(SectionInformationDeathTest, UnknownOrMalformedUnitNumbers) {
    five_units();
    struct Bad {
        std::string line, unit_text;
        int place;
    } cases[] = {
        {"0009 P 0 0 0 0 0\n", "0009", 1385},
        {"\tP 0 0 0 0 0\n", "\tP", 1082},
        {"1.LIB P\n", "1.LIB", 1082},
        {"100000001 P\n", "100000001", 1092},
    };
    for (const Bad& c : cases) {
        EXPECT_EXIT((to_stderr(), rewrite(sec_chg, c.line)), testing::ExitedWithCode(3),
                    format_error_at(c.place, "===== sec_chg() =====\n Read Unit No. = " + c.unit_text + "\n"))
            << c.line;
    }
}

TEST(GlobalLabels, PairsAboveFFFFAreLeftOut) {
    symtest::reset();
    struct LabelCase {
        std::string in;
        const char* out;  // nullptr: dropped
    } cases[] = {
        {"START 0100 MAIN 8000 HIDATA 12000\n", "START 0100  MAIN 8000  \n"},
        {"BANK1 1F000 BANK2 20000\n", nullptr},
        {"ONE 00ffff\n", "ONE 00ffff  \n"},
        {"A FFFF B 10000\n", "A FFFF  \n"},
        {"  X   0001    Y  2 \n", "X 0001  Y 2  \n"},
        {"LONE\n", "LONE   \n"},  // odd token count: the missing address reads as 0
        {"A 1 B\n", "A 1  B   \n"},
        {"A 1", "A 1  \n"},
        {"L1 1 L2 2 L3 3 L4 4 L5 5 L6 6 L7 7 L8 8 L9 9 L10 10000 L11 B\n",
         "L1 1  L2 2  L3 3  L4 4  L5 5  L6 6  L7 7  L8 8  L9 9  L11 B  \n"},
    };
    for (const LabelCase& c : cases) {
        const Outcome o = rewrite(glb_lab_chg, c.in);
        EXPECT_EQ(o.result, c.out == nullptr ? 1 : 0) << c.in;
        EXPECT_EQ(o.line, c.out == nullptr ? "\n" : c.out) << c.in;
    }
}

TEST(GlobalLabels, LongLineComesBackLongerAndWhole) {
    symtest::reset();
    std::string in, out;
    for (int i = 0; i < 23; ++i) {
        const std::string label = "LABEL_" + std::to_string(i);
        in += label + " " + symtest::hex(static_cast<uint32_t>(i)) + " ";
        out += label + " " + symtest::hex(static_cast<uint32_t>(i)) + "  ";
    }
    in.back() = '\n';
    ASSERT_LE(in.size(), 255u);
    ASSERT_GT(out.size() + 1, 264u);  // more than a fixed 265-byte buffer could hold
    const Outcome o = rewrite(glb_lab_chg, in);
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.line, out + "\n");
}

TEST(GlobalLabels, TraceListsEveryPairAndTheOutput) {
    symtest::reset();
    symtest::Trace trace;
    rewrite(glb_lab_chg, "START 0100 MAIN 8000 HIDATA 12000\n");
    rewrite(glb_lab_chg, "HI 10000\n");
    EXPECT_EQ(trace.text(),
              "===== glb_lab_chg() =====\n"
              "  Label = START Addr = 0100\n"
              "  Label = MAIN Addr = 8000\n"
              "  Label = HIDATA Addr = 12000\n"
              "  Output data : START 0100  MAIN 8000  \n"
              "===== glb_lab_chg() =====\n"
              "  Label = HI Addr = 10000\n"
              "  Output data : \n");
}

TEST(GlobalLabelsDeathTest, MalformedAddressEndsTheRun) {
    symtest::reset();
    EXPECT_EXIT((to_stderr(), rewrite(glb_lab_chg, "A 1 B 12G\n")), testing::ExitedWithCode(3),
                format_error_at(1082, "===== glb_lab_chg() =====\n  Label = A Addr = 1\n  Label = B Addr = 12G\n"));
}

}  // namespace
