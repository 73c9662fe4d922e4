// table.h: the unit and function tables of the symbol pass. The first pass
// (table.cpp) reads the symbol file and fills them; the renumbering
// (renum.cpp) decides which records are deleted and numbers the survivors
// densely, and answers the lookups of the rewriters by number. The tables
// themselves are part of the run's state (mrlpro.h).
#ifndef MRL_TABLE_H
#define MRL_TABLE_H

#include <cstdint>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "sym/record_table.h"

class SymObserver;

// The unit and function tables. Records are kept in table order: ascending
// number, and among equal numbers in the order the insertion rule gives.
// Records are small, since a large file has millions of them.
struct unit_record {
    uint32_t unit_no;
    uint32_t seq;  // reading order: for the insertion rule, and the name (unit_name)
    uint32_t start_addr;
    uint32_t length;
    uint32_t new_unit_no;
    // In the first record of each unit number: the highest and the lowest
    // number of the run of consecutive, present, deleted unit numbers that
    // holds it, or its own number. A walk over unit numbers jumps over such a
    // run in one step.
    uint32_t run_up, run_down;
    uint8_t delete_mode;
    uint8_t section_e;  // the section name is "E" or "e"
};

// The new unit number of a function is that of its unit (unit_new_number).
struct func_record {
    uint32_t func_no;
    uint32_t unit_no;
    uint32_t seq;  // reading order, for the insertion rule
    uint32_t new_func_no;
    uint8_t delete_mode;
};

// The first record of each number in its table: place[n - base] is one more
// than the place in the table of the first record numbered n, or 0. Built by
// table_order when the numbers are dense (at most about two slots for each
// record), so that a lookup takes one step; left empty otherwise, and a
// lookup then searches the ordered table. Adding a record empties it until
// the table is ordered again.
// When the ordered table holds each number from the base on exactly once,
// `direct` is set instead: the record numbered n is the table's record
// n - base, and no index memory is needed.
template <class Record>
struct number_index {
    uint32_t base = 0;
    std::vector<uint32_t> place;
    bool direct = false;
};

// The section names of the units, by reading order. Only the trace log (and
// a caller that sets keep_unit_names) shows them; without it the one thing a
// name decides, whether the section is "E", is kept in the record. A file
// has few distinct section names and may have millions of units, so each
// name is kept once and each unit holds the number of its name (0: none).
// The store starts empty and takes memory only with the first name: it is
// part of the run's state (mrlpro.h), built before main, where no allocation
// may fail without ending the process, and before the out-of-memory handler
// is set.
struct NameStore {
    record_table<uint32_t> of_unit;       // by reading order
    std::vector<std::string_view> names;  // names[0] is "": no name; empty until the first name
    std::unordered_map<std::string_view, uint32_t> numbers;
    void clear() {
        of_unit.clear();
        names.clear();
        numbers.clear();
    }
};

// What the first pass reads of each unit and function line beyond the
// numbers, told to a caller that names units and functions (the report's
// comparison of two builds); the passes themselves keep none of it. The
// calls come in reading order, so the n-th unit_read is the unit record of
// reading order (seq) n, and the n-th func_read the function record of seq n.
class TableObserver {
public:
    // The fields of a SECTION INFORMATION line after the length.
    virtual void unit_read(std::string_view rest) = 0;
    // A line of a SECTION INFORMATION block that begins with a blank (the
    // continuation line of a library line, for one).
    virtual void unit_line_passed(std::string_view line) = 0;
    // The name field of a "# FUNC" line.
    virtual void func_read(std::string_view name) = 0;

protected:
    ~TableObserver() = default;
};

// First pass (table.cpp)
// sym/: tables
// The first pass; the second form tells `observer` (when not null) where the
// unit table's reading leaves lines out.
void sec_func_read();
void sec_func_read(SymObserver* observer);
bool sec_data_make(std::string_view& line, bool& more);
void func_data_make(std::string_view line);
// Adds the record of function `func_no` in unit `unit_no`, read next.
void func_record_add(uint32_t func_no, uint32_t unit_no);
// The function number and the unit number of a "# FUNC" line.
void func_line_numbers(std::string_view line, uint32_t* func_no, uint32_t* unit_no);
void unit_record_set(uint32_t unit_no, uint32_t start_addr, uint32_t length, std::string_view name);
std::string_view unit_name(const unit_record& r);
void table_order();
void table_dump();
const unit_record* unit_head();
const unit_record* unit_tail();

// Renumbering and lookups (renum.cpp)
// sym/: renumbering and lookups
// Whether a unit record is kept, and if not, why.
enum UnitFate : int { U_KEPT = 0, U_ENDS_HIGH = 1, U_EMPTY_HIGH = 2, U_EMPTY_E = 3 };
int unit_fate(const unit_record& r);
void unit_replac();
void func_replace();
int unit_search(uint32_t unit_no, uint32_t* new_unit_no);
uint32_t unit_deleted_run_end(uint32_t unit_no, int step);
int func_search(uint32_t func_no, uint32_t* new_func_no, uint32_t* new_unit_no);
// The record that decides for every line numbered `unit_no` (`func_no`):
// the first of that number in table order; null when there is none.
const unit_record* unit_first(uint32_t unit_no);
const func_record* func_first(uint32_t func_no);
// The new number of the unit `unit_no` (its first record), 0 when it has none.
uint32_t unit_new_number(uint32_t unit_no);

#endif
