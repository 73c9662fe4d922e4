// renum_test.cpp: which units and functions are deleted, the new numbers of
// the others, and the lookups by old number.
#include <set>
#include <vector>

#include "symtest.h"

namespace {

using symtest::exactly;
using symtest::to_stderr;

// Fills the tables without renumbering them.
void fill(std::initializer_list<symtest::Unit> units, std::initializer_list<symtest::Func> funcs = {}) {
    symtest::add_units(units);
    for (const symtest::Func& f : funcs)
        func_data_make("# FUNC " + symtest::hex(f.no) + " x " + symtest::hex(f.unit) + "\n");
    table_order();
}

struct Answer {
    int deleted;
    uint32_t new_no;
    bool operator==(const Answer&) const = default;
};
Answer unit_answer(uint32_t no) {
    Answer a{0, 0};
    a.deleted = unit_search(no, &a.new_no);
    return a;
}
struct FuncAnswer {
    int deleted;
    uint32_t new_func, new_unit;
    bool operator==(const FuncAnswer&) const = default;
};
FuncAnswer func_answer(uint32_t no) {
    FuncAnswer a{0, 0, 0};
    a.deleted = func_search(no, &a.new_func, &a.new_unit);
    return a;
}

TEST(Renumber, DeletedUnitsAndTheirFunctionsCloseTheGaps) {
    symtest::reset();
    fill({{1, 0x8000, 0x100, "P"}, {2, 0, 0, "E"}, {3, 0xFFF8, 0x10, "P"}, {4, 0x9000, 0x20, "P"}},
         {{1, 1}, {2, 2}, {3, 4}});
    symtest::Trace trace;
    unit_replac();
    func_replace();
    EXPECT_EQ(trace.text(),
              "=== unit_replac() ===\n"
              "Unit = 0001  Section name = P  Start addr. = 00008000  Length = 00000100\n"
              "[ Unit No Delete ]\n"
              "   new unit number = 1\n"
              "Unit = 0002  Section name = E  Start addr. = 00000000  Length = 00000000\n"
              "[ Unit Delete !! ]\n"
              " Section E data delete!\n"
              "Unit = 0003  Section name = P  Start addr. = 0000FFF8  Length = 00000010\n"
              "[ Unit Delete !! ]\n"
              "   unit_del_count = 2\n"
              "Unit = 0004  Section name = P  Start addr. = 00009000  Length = 00000020\n"
              "[ Unit No Delete ]\n"
              "   new unit number = 2\n"
              "=== func_replace() ===\n"
              "  Func = 0001  Unit No. = 0001\n"
              "  Func = 0002  Unit No. = 0002\n"
              "  Func = 0003  Unit No. = 0004\n");
    EXPECT_EQ(unit_del_count, 2u);
    EXPECT_EQ(func_del_count, 1u);
    EXPECT_EQ(unit_answer(1), (Answer{0, 1}));
    EXPECT_EQ(unit_answer(2), (Answer{1, 0}));
    EXPECT_EQ(unit_answer(3), (Answer{1, 0}));
    EXPECT_EQ(unit_answer(4), (Answer{0, 2}));
    EXPECT_EQ(func_answer(1), (FuncAnswer{0, 1, 1}));
    EXPECT_EQ(func_answer(2), (FuncAnswer{1, 0, 0}));
    EXPECT_EQ(func_answer(3), (FuncAnswer{0, 2, 2}));
}

TEST(Renumber, UnitIsDeletedWhenItEndsAboveFFFFOrIsAnEmptyHighOrSectionEUnit) {
    struct Case {
        uint32_t start, length;
        const char* name;
        int deleted;
    } cases[] = {
        {0xFFFF, 1, "P", 0},         {0xFFFF, 2, "P", 1},   {0x10000, 0, "P", 1},
        {0x100, 0, "EE", 0},         {0x100, 0, "P", 0},    {0x100, 0, "e", 1},
        {0x100, 0, "E", 1},          {0x100, 0x10, "E", 0},  // section E with data stays
        {0xFFFFFFF0, 0x20, "P", 1},                          // the last address does not wrap into the low area
        {0x100, 0xFFFFFFFF, "P", 1},
    };
    for (const Case& c : cases) {
        symtest::reset();
        fill({{1, c.start, c.length, c.name}});
        unit_replac();
        EXPECT_EQ(unit_answer(1).deleted, c.deleted) << c.start << " " << c.length << " " << c.name;
    }
}

TEST(Renumber, EmptyHighUnitIsTracedLikeSectionE) {
    symtest::reset();
    fill({{1, 0x10000, 0, "P"}});
    symtest::Trace trace;
    unit_replac();
    EXPECT_EQ(trace.text(),
              "=== unit_replac() ===\n"
              "Unit = 0001  Section name = P  Start addr. = 00010000  Length = 00000000\n"
              "[ Unit Delete !! ]\n"
              " Section E data delete!\n");
}

TEST(Renumber, NewNumbersAreTracedInDecimalAndUnitsInLowerCaseHex) {
    symtest::reset();
    fill({{1, 0, 0, "E"}});
    symtest::Trace trace;
    for (uint32_t no = 2; no <= 0xB; ++no) unit_record_set(no, 0, 0, "P");
    table_order();
    unit_replac();
    EXPECT_NE(trace.text().find("Unit = 000b  Section name = P  Start addr. = 00000000  Length = 00000000\n"
                                "[ Unit No Delete ]\n"
                                "  new unit number = 10\n"),
              std::string::npos);
}

// Unit 2 has two sections above FFFF, unit 3 one section above FFFF after a
// kept one. Each unit counts once, so the survivors stay distinct and dense.
TEST(Renumber, SeveralRecordsPerUnitCountOncePerDeletedUnit) {
    symtest::reset();
    fill({{1, 0x100, 0x10, "P"},
          {2, 0x10000, 0x10, "P"},
          {2, 0x20000, 0x10, "Q"},
          {3, 0x200, 0x10, "P"},
          {3, 0x10000, 0x10, "Q"},
          {4, 0x300, 0x10, "P"},
          {5, 0x400, 0x10, "P"}},
         {{1, 1}, {2, 2}, {2, 2}, {3, 3}, {4, 5}});
    symtest::Trace trace;
    unit_replac();
    func_replace();
    EXPECT_EQ(unit_answer(1), (Answer{0, 1}));
    EXPECT_EQ(unit_answer(2), (Answer{1, 0}));
    EXPECT_EQ(unit_answer(3), (Answer{0, 2}));
    EXPECT_EQ(unit_answer(4), (Answer{0, 3}));
    EXPECT_EQ(unit_answer(5), (Answer{0, 4}));
    EXPECT_EQ(unit_del_count, 1u);
    EXPECT_EQ(func_answer(1), (FuncAnswer{0, 1, 1}));
    EXPECT_EQ(func_answer(2), (FuncAnswer{1, 0, 0}));
    EXPECT_EQ(func_answer(3), (FuncAnswer{0, 2, 2}));
    EXPECT_EQ(func_answer(4), (FuncAnswer{0, 3, 4}));
    EXPECT_EQ(func_del_count, 1u);
    // Every record keeps its own mark and trace; a deletion that did not
    // count shows the count unchanged.
    EXPECT_EQ(trace.text(),
              "=== unit_replac() ===\n"
              "Unit = 0001  Section name = P  Start addr. = 00000100  Length = 00000010\n"
              "[ Unit No Delete ]\n"
              "   new unit number = 1\n"
              "Unit = 0002  Section name = P  Start addr. = 00010000  Length = 00000010\n"
              "[ Unit Delete !! ]\n"
              "   unit_del_count = 1\n"
              "Unit = 0002  Section name = Q  Start addr. = 00020000  Length = 00000010\n"
              "[ Unit Delete !! ]\n"
              "   unit_del_count = 1\n"
              "Unit = 0003  Section name = P  Start addr. = 00000200  Length = 00000010\n"
              "[ Unit No Delete ]\n"
              "   new unit number = 2\n"
              "Unit = 0003  Section name = Q  Start addr. = 00010000  Length = 00000010\n"
              "[ Unit Delete !! ]\n"
              "   unit_del_count = 1\n"
              "Unit = 0004  Section name = P  Start addr. = 00000300  Length = 00000010\n"
              "[ Unit No Delete ]\n"
              "   new unit number = 3\n"
              "Unit = 0005  Section name = P  Start addr. = 00000400  Length = 00000010\n"
              "[ Unit No Delete ]\n"
              "   new unit number = 4\n"
              "=== func_replace() ===\n"
              "  Func = 0001  Unit No. = 0001\n"
              "  Func = 0002  Unit No. = 0002\n"
              "  Func = 0002  Unit No. = 0002\n"
              "  Func = 0003  Unit No. = 0003\n"
              "  Func = 0004  Unit No. = 0005\n");
}

// The first record of a unit number in table order decides for the unit,
// and only its deletion moves the later units down.
TEST(Renumber, FirstRecordInTableOrderDecidesForTheUnit) {
    // Read order 3, 2 deleted, 2 kept: unit 3 is the anchor, so the unit-2
    // records come in reverse reading order and the kept one answers.
    symtest::reset();
    fill({{3, 0x300, 0x10, "P"}, {2, 0x10000, 0x10, "P"}, {2, 0x200, 0x10, "Q"}, {4, 0x400, 0x10, "P"}});
    unit_replac();
    EXPECT_EQ(unit_answer(2), (Answer{0, 2}));
    EXPECT_EQ(unit_answer(3), (Answer{0, 3}));
    EXPECT_EQ(unit_answer(4), (Answer{0, 4}));

    // Read order 3, 2 kept, 2 deleted: now the deleted record answers.
    symtest::reset();
    fill({{3, 0x300, 0x10, "P"}, {2, 0x200, 0x10, "Q"}, {2, 0x10000, 0x10, "P"}, {4, 0x400, 0x10, "P"}});
    unit_replac();
    EXPECT_EQ(unit_answer(2), (Answer{1, 0}));
    EXPECT_EQ(unit_answer(3), (Answer{0, 2}));
    EXPECT_EQ(unit_answer(4), (Answer{0, 3}));
}

// Lookups answer from the first record of a number in table order, whether
// each number is there once (the table is its own index), the numbers are
// dense enough to be indexed by number or so sparse that the ordered table
// is searched. Every other record of the file is deleted, so
// records of one number answer differently.
TEST(Renumber, LookupsAnswerFromTheFirstRecordDenseOrSparse) {
    enum Way { kDirect, kIndexed, kSearched };
    struct Shape {
        const char* what;
        std::vector<uint32_t> units;  // in reading order
        Way way;
    };
    const Shape shapes[] = {
        {"each number once", {7, 5, 6, 9, 8}, kDirect},
        {"dense", {9, 5, 6, 6, 8, 9, 12, 9, 5}, kIndexed},
        {"sparse", {0x100, 1, 0x10000, 0x100, 0xFFFFFFFE, 0xFFFFFFFF, 1}, kSearched},
    };
    for (const Shape& shape : shapes) {
        SCOPED_TRACE(shape.what);
        symtest::reset();
        std::set<uint32_t> numbers;
        for (size_t i = 0; i < shape.units.size(); ++i) {
            unit_record_set(shape.units[i], i % 2 ? 0x10000 : 0x100, 0x10, "P");
            if (numbers.insert(shape.units[i]).second)
                func_data_make("# FUNC " + symtest::hex(shape.units[i]) + " x " + symtest::hex(shape.units[i]) + "\n");
        }
        table_order();
        unit_replac();
        func_replace();
        // Make sure both ways of looking up are the ones under test here.
        ASSERT_EQ(unit_index.direct, shape.way == kDirect);
        ASSERT_EQ(func_index.direct, shape.way == kDirect);
        ASSERT_EQ(!unit_index.place.empty(), shape.way == kIndexed);
        ASSERT_EQ(!func_index.place.empty(), shape.way == kIndexed);
        for (uint32_t no : numbers) {
            const unit_record* u = nullptr;  // the first from the head, as a walk finds it
            for (const unit_record& r : unit_table)
                if (u == nullptr && r.unit_no == no) u = &r;
            const func_record* f = nullptr;
            for (const func_record& r : func_table)
                if (f == nullptr && r.func_no == no) f = &r;
            EXPECT_EQ(unit_answer(no), (Answer{u->delete_mode, u->new_unit_no})) << no;
            // Function `no` lies in unit `no`: a kept one takes that unit's new number.
            const uint32_t new_unit = f->delete_mode == 1 ? 0 : u->new_unit_no;
            EXPECT_EQ(func_answer(no), (FuncAnswer{f->delete_mode, f->new_func_no, new_unit})) << no;
        }
    }
}

TEST(Renumber, EmptyTablesOnlyTraceTheHeaders) {
    symtest::reset();
    symtest::Trace trace;
    unit_replac();
    func_replace();
    EXPECT_EQ(trace.text(), "=== unit_replac() ===\n=== func_replace() ===\n");
}

TEST(RenumberDeathTest, FunctionOfAMissingUnitEndsTheRunAt1385) {
    symtest::reset();
    fill({{1, 0x100, 0x10, "P"}}, {{1, 9}});
    unit_replac();
    const std::string msg = " Error : File format error (in.sym)\n";
    EXPECT_EXIT((to_stderr(), func_replace()), testing::ExitedWithCode(3),
                exactly("=== func_replace() ===\n  Func = 0001  Unit No. = 0009\n" + msg + msg +
                        "++++++++++ Error exit at 1385 ++++++++++\n======= end =======\n"));
}

TEST(RenumberDeathTest, LookupOfAMissingNumberEndsTheRun) {
    symtest::reset();
    fill({{1, 0x100, 0x10, "P"}}, {{1, 1}});
    unit_replac();
    func_replace();
    uint32_t a = 0, b = 0;
    EXPECT_EXIT((to_stderr(), unit_search(2, &a)), testing::ExitedWithCode(3), symtest::format_error_at(1385));
    EXPECT_EXIT((to_stderr(), func_search(0, &a, &b)), testing::ExitedWithCode(3), symtest::format_error_at(1417));
}

// Numbers below, between and above those of the tables are missing, with the
// tables indexed by number (dense) and searched (sparse).
TEST(RenumberDeathTest, MissingNumbersDenseOrSparse) {
    struct Case {
        std::initializer_list<uint32_t> present, missing;
    } cases[] = {
        {{5, 6, 8, 9}, {0, 4, 7, 10, 0xFFFFFFFF}},
        {{1, 0x10000, 0xFFFFFFFE}, {0, 2, 0xFFFF, 0xFFFFFFFF}},
    };
    for (const Case& c : cases) {
        symtest::reset();
        for (uint32_t no : c.present) {
            unit_record_set(no, 0x100, 0x10, "P");
            func_data_make("# FUNC " + symtest::hex(no) + " x " + symtest::hex(no) + "\n");
        }
        table_order();
        unit_replac();
        func_replace();
        uint32_t a = 0, b = 0;
        for (uint32_t no : c.missing) {
            EXPECT_EXIT((to_stderr(), unit_search(no, &a)), testing::ExitedWithCode(3), symtest::format_error_at(1385))
                << no;
            EXPECT_EXIT((to_stderr(), func_search(no, &a, &b)), testing::ExitedWithCode(3),
                        symtest::format_error_at(1417))
                << no;
        }
    }
}

}  // namespace
