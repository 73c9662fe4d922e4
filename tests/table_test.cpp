// table_test.cpp: the first pass over the symbol file, the order of the unit
// and function tables and their listing in the trace log.
#include "symtest.h"

namespace {

namespace fs = std::filesystem;
using symtest::format_error_at;
using symtest::to_stderr;

// Runs the first pass over a symbol file with the given text.
class FirstPass : public testing::Test {
protected:
    void SetUp() override { symtest::reset(); }
    void TearDown() override {
        in_sym_fp.close();
        open_flag[S_IN_SYM] = 0;
    }
    void read(const std::string& text) {
        std::ofstream(path_, std::ios::binary) << text;
        ASSERT_TRUE(in_sym_fp.open(path_.string(), InputPass::kSym));
        open_flag[S_IN_SYM] = 1;
        sec_func_read();
    }
    testutil::TempDir tmp_;
    fs::path path_ = tmp_ / "in.sym";
};

std::string units_as_text() {
    std::string s;
    for (const unit_record& r : unit_table)
        s += symtest::hex(r.unit_no) + " " + std::string(unit_name(r)) + " " + symtest::hex(r.start_addr) + " " +
             symtest::hex(r.length) + "\n";
    return s;
}

TEST_F(FirstPass, ReadsSectionInformationLinesAndFuncHeaders) {
    symtest::Trace trace;
    read(
        "# SECTION INFORMATION\n"
        "0001 P 0 0 0 C000 100\n"
        "0002 DATA 0 0\n"             // missing fields read as 0
        "  0009 SKIPPED 0 0 0 0 0\n"  // begins with a blank: not read
        "0003 Q 1 2 3 ab 0 more fields\n"
        "0006\n"  // missing name reads as empty
        "\n"      // ends the section for the tables
        "0004 AFTER 0 0 0 0 0\n"
        "# SECTION INFORMATION\n"
        "0005 S 0 0 0 10 1\n"
        "# FUNC 7 x 5\n"  // ends the section and is read as a FUNC header
        "# FUNC 1A x 3 more\n"
        "# CALL 1A\n");
    EXPECT_EQ(units_as_text(),
              "1 P C000 100\n"
              "2 DATA 0 0\n"
              "3 Q AB 0\n"
              "5 S 10 1\n"
              "6  0 0\n");
    ASSERT_EQ(func_table.size(), 2u);
    EXPECT_EQ(func_table[0].func_no, 7u);
    EXPECT_EQ(func_table[0].unit_no, 5u);
    EXPECT_EQ(func_table[1].func_no, 0x1Au);
    EXPECT_EQ(func_table[1].unit_no, 3u);
    EXPECT_EQ(trace.text(),
              "=== sec_func_read() ===\n"
              "=== sec_data_make() ===\n"
              "=== unit_record_set() ===\n"
              "    set datas : unit = 0001  name = P  addr = 0000C000  length = 00000100\n"
              "=== unit_record_set() ===\n"
              "    set datas : unit = 0002  name = DATA  addr = 00000000  length = 00000000\n"
              "=== unit_record_set() ===\n"
              "    set datas : unit = 0003  name = Q  addr = 000000AB  length = 00000000\n"
              "=== unit_record_set() ===\n"
              "    set datas : unit = 0006  name =   addr = 00000000  length = 00000000\n"
              "=== sec_data_make() ===\n"
              "=== unit_record_set() ===\n"
              "    set datas : unit = 0005  name = S  addr = 00000010  length = 00000001\n"
              "=== func_data_make() ===\n"
              " input data # FUNC 7 x 5\n"
              "=== func_data_make() ===\n"
              " input data # FUNC 1A x 3 more\n");
}

// A SECTION INFORMATION header right after the last line of a block opens
// the next block; one at the very end of the file opens an empty one.
TEST_F(FirstPass, HeaderRightAfterABlockOpensTheNextBlock) {
    symtest::Trace trace;
    read(
        "# SECTION INFORMATION\n"
        "0001 P 0 0 0 100 10\n"
        "# SECTION INFORMATION\n"
        "0002 Q 0 0 0 200 20\n"
        "# SECTION INFORMATION");
    EXPECT_EQ(units_as_text(), "1 P 100 10\n2 Q 200 20\n");
    EXPECT_EQ(trace.text(),
              "=== sec_func_read() ===\n"
              "=== sec_data_make() ===\n"
              "=== unit_record_set() ===\n"
              "    set datas : unit = 0001  name = P  addr = 00000100  length = 00000010\n"
              "=== sec_data_make() ===\n"
              "=== unit_record_set() ===\n"
              "    set datas : unit = 0002  name = Q  addr = 00000200  length = 00000020\n"
              "=== sec_data_make() ===\n");
}

// Every line is read whole, however long: a unit line or a FUNC header
// longer than the reader's block gives one record with all its fields, and
// a "#" inside a long line, even at the start of a block, is no header.
TEST_F(FirstPass, LongLinesAreReadWhole) {
    symtest::Trace trace;
    const std::string pad(kTextBlock, 'n');
    read(
        "# SECTION INFORMATION\n"
        "0001 " +
        pad +
        " 0 0 0 100 10\n"
        "   blank-led " +
        pad +
        "# FUNC 9 x 9\n"
        "0002 Q 0 0 0 200 20 " +
        pad +
        "\n"
        "\n"
        "text " +
        std::string(250, 't') +
        "# FUNC 8 x 8\n"
        "text " +
        pad.substr(5) +
        "# FUNC 8 x 8\n"
        "# FUNC 3 x 2 " +
        pad +
        "\n"
        "# FUNC 4 x 1\n");
    ASSERT_EQ(unit_table.size(), 2u);
    EXPECT_EQ(unit_name(unit_table[0]), pad);
    EXPECT_EQ(unit_table[0].start_addr, 0x100u);
    EXPECT_EQ(unit_table[0].length, 0x10u);
    EXPECT_EQ(unit_name(unit_table[1]), "Q");
    EXPECT_EQ(unit_table[1].length, 0x20u);
    std::string funcs;
    for (const func_record& r : func_table) funcs += symtest::hex(r.func_no) + "/" + symtest::hex(r.unit_no) + " ";
    EXPECT_EQ(funcs, "3/2 4/1 ");
}

// Section names are kept once each; past 65,536 distinct names each new
// one is kept as it comes. Every unit finds its own name either way.
TEST_F(FirstPass, EveryUnitKeepsItsSectionNameHoweverManyDistinctNames) {
    keep_unit_names = true;
    std::string text = "# SECTION INFORMATION\n";
    std::vector<std::string> names;
    for (int i = 0; i < 70000; ++i) {
        // Appended, not "D" + number: GCC 12 at -O3 warns falsely on that form.
        std::string name(i % 3 == 0 ? "P" : i % 3 == 1 ? "D" : "N");
        if (i % 3 != 0) name.append(std::to_string(i % 3 == 1 ? i % 100 : i));
        names.push_back(name);
        text += symtest::hex(static_cast<uint32_t>(i + 1)) + " " + names.back() + " 0 0 0 0 1\n";
    }
    for (const char* late : {"P", "D7", "N5", "LATE"}) {
        names.push_back(late);
        text += symtest::hex(static_cast<uint32_t>(names.size())) + " " + late + " 0 0 0 0 1\n";
    }
    read(text);
    ASSERT_EQ(unit_table.size(), names.size());
    for (const unit_record& r : unit_table) ASSERT_EQ(unit_name(r), names[r.seq]) << "unit " << r.unit_no;
}

TEST_F(FirstPass, FileWithoutSectionsLeavesBothTablesEmpty) {
    read("plain text\n\n# GLOBAL LABEL\nA 1\n");
    EXPECT_TRUE(unit_table.empty());
    EXPECT_TRUE(func_table.empty());
    EXPECT_EQ(unit_head(), nullptr);
    EXPECT_EQ(unit_tail(), nullptr);
}

// A reset between two runs leaves nothing of the first: not its records, not
// the section names it kept, not its switches or counters. The second file
// has no names kept, so a name seen there can only be a leftover.
TEST_F(FirstPass, AResetStartsTheNextRunFromNothing) {
    keep_unit_names = true;
    read("# SECTION INFORMATION\n0001 FIRST 0 0 0 100 10\n0002 OTHER 0 0 0 200 20\n# FUNC 7 x 1\n");
    ASSERT_EQ(unit_name(unit_table[0]), "FIRST");
    unit_del_count = func_del_count = 3;
    in_sym_fp.close();

    symtest::reset();
    EXPECT_TRUE(unit_table.empty());
    EXPECT_TRUE(func_table.empty());
    EXPECT_FALSE(keep_unit_names);
    EXPECT_EQ(unit_del_count + func_del_count, 0u);
    EXPECT_EQ(unit_lookups, 0u);

    read("# SECTION INFORMATION\n0005 FIVE 0 0 0 300 30\n");
    ASSERT_EQ(unit_table.size(), 1u);
    EXPECT_EQ(unit_name(unit_table[0]), "");
    EXPECT_EQ(unit_first(1), nullptr);
    EXPECT_NE(unit_first(5), nullptr);
    EXPECT_TRUE(func_table.empty());
}

TEST_F(FirstPass, FormatErrorsInNumberFields) {
    const std::string section = "=== sec_func_read() ===\n=== sec_data_make() ===\n";
    struct Case {
        std::string text, trace;
        int place;
    } cases[] = {
        {"# SECTION INFORMATION\n\t0001 P 0 0 0 0 0\n", section, 1082},  // a tab is part of the unit field
        {"# SECTION INFORMATION\n0001 P 0 0 0 0x10 0\n", section, 1082},
        {"# SECTION INFORMATION\n0001 P 0 0 0 0 100000000\n", section, 1092},
        {"# FUNC 1 x 3G\n", "=== sec_func_read() ===\n=== func_data_make() ===\n input data # FUNC 1 x 3G\n", 1082},
        {"# FUNC F00000000 x 3\n",
         "=== sec_func_read() ===\n=== func_data_make() ===\n input data # FUNC F00000000 x 3\n", 1092},
    };
    for (const Case& c : cases)
        EXPECT_EXIT((to_stderr(), read(c.text)), testing::ExitedWithCode(3), format_error_at(c.place, c.trace))
            << c.text;
}

// Names the records by the line they were read from (the section names are
// kept while the trace is on).
std::string order_of_units() {
    std::string s;
    for (const unit_record& r : unit_table) s += std::string(unit_name(r)) + " ";
    return s;
}

TEST(TableOrder, EqualKeysBelowTheAnchorComeInReverseReadingOrder) {
    symtest::reset();
    symtest::Trace trace;
    // Units 5, 3, 5, 3, 7 in this order; the first unit 5 is the anchor.
    unit_record_set(5, 0x100, 0x10, "line1");
    unit_record_set(3, 0x200, 0x10, "line2");
    unit_record_set(5, 0x300, 0x10, "line3");
    unit_record_set(3, 0x10000, 0x10, "line4");  // above FFFF: deleted
    unit_record_set(7, 0x400, 0x10, "line5");
    table_order();
    EXPECT_EQ(order_of_units(), "line4 line2 line1 line3 line5 ");
    EXPECT_EQ(unit_head()->unit_no, 3u);
    EXPECT_EQ(unit_tail()->unit_no, 7u);
    table_order();  // ordering again changes nothing
    EXPECT_EQ(order_of_units(), "line4 line2 line1 line3 line5 ");

    // A lookup of unit 3 answers from the record of the fourth line.
    unit_replac();
    uint32_t new_no = 99;
    EXPECT_EQ(unit_search(3, &new_no), 1);
    EXPECT_EQ(new_no, 0u);
    EXPECT_EQ(unit_search(5, &new_no), 0);
}

TEST(TableOrder, AscendingInputKeepsReadingOrderDescendingReversesEqualKeys) {
    symtest::reset();
    symtest::Trace trace;
    for (const char* name : {"a", "b"}) unit_record_set(1, 0, 0, name);
    for (const char* name : {"c", "d"}) unit_record_set(2, 0, 0, name);
    table_order();
    EXPECT_EQ(order_of_units(), "a b c d ");

    symtest::reset();
    symtest::Trace again;
    unit_record_set(3, 0, 0, "a");
    for (const char* name : {"b", "c"}) unit_record_set(2, 0, 0, name);
    for (const char* name : {"d", "e"}) unit_record_set(1, 0, 0, name);
    unit_record_set(3, 0, 0, "f");
    table_order();
    EXPECT_EQ(order_of_units(), "e d c b a f ");
}

TEST(TableOrder, FunctionTableFollowsTheSameRule) {
    symtest::reset();
    // Functions 5, 3, 5, 3 told apart by their unit numbers 1 to 4.
    for (const char* line : {"# FUNC 5 x 1\n", "# FUNC 3 x 2\n", "# FUNC 5 x 3\n", "# FUNC 3 x 4\n"})
        func_data_make(line);
    table_order();
    std::string units;
    for (const func_record& r : func_table) units += symtest::hex(r.unit_no);
    EXPECT_EQ(units, "4213");
}

TEST(TableDump, ListsKeptAndDeletedRecordsOfBothTables) {
    symtest::reset();
    symtest::build({{1, 0x8000, 0x100, "P"}, {2, 0, 0, "E"}, {0x10000, 0x100, 0x10, "W"}},
                   {{1, 1}, {2, 2}, {3, 0x10000}});
    symtest::Trace trace;
    table_dump();
    EXPECT_EQ(trace.text(),
              "********** UNIT record data **********\n"
              "    unit number = 0001  Start addr. = 00008000  Length = 00000100  mode = NO DELETE  "
              "new unit number = 0001  section name = P\n"
              "    unit number = 0002  Start addr. = 00000000  Length = 00000000  mode = DELETE  section name = E\n"
              "    unit number = 10000  Start addr. = 00000100  Length = 00000010  mode = NO DELETE  "
              "new unit number = FFFF  section name = W\n"
              "********** Func record data **********\n"
              "   Func number = 0001  unit number = 0001  mode = NO DELETE  new func number = 0001  "
              "new unit number = 0001\n"
              "   Func number = 0002  unit number = 0002  mode = DELETE\n"
              "   Func number = 0003  unit number = 10000  mode = NO DELETE  new func number = 0002  "
              "new unit number = FFFF\n"
              "*********************************************************\n");
}

TEST(TableDump, EmptyFunctionTableEndsAfterTheUnitLines) {
    symtest::reset();
    symtest::build({{1, 0x8000, 0x100, "P"}});
    symtest::Trace trace;
    table_dump();
    EXPECT_EQ(trace.text(),
              "********** UNIT record data **********\n"
              "    unit number = 0001  Start addr. = 00008000  Length = 00000100  mode = NO DELETE  "
              "new unit number = 0001  section name = P\n");
}

TEST(TableDump, EmptyUnitTableBeginsWithTheFunctionLines) {
    symtest::reset();
    func_data_make("# FUNC 2 x 1\n");
    table_order();
    symtest::Trace trace;
    table_dump();
    EXPECT_EQ(trace.text(),
              "********** Func record data **********\n"
              "   Func number = 0002  unit number = 0001  mode = NO DELETE  new func number = 0000  "
              "new unit number = 0000\n"
              "*********************************************************\n");
}

TEST(TableDump, BothTablesEmptyWritesNothing) {
    symtest::reset();
    symtest::Trace trace;
    table_dump();
    EXPECT_EQ(trace.text(), "");
}

}  // namespace
