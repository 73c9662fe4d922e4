// renum.cpp: which units and functions are deleted, the new numbers of the
// others, and the lookups by old number that the rewriters use.
//
// A unit is deleted when it ends above FFFF, or is empty and starts above
// FFFF, or is an empty unit of the section "E". Survivors close the gaps.
// A unit or function number may have several records; every lookup answers
// from the first of them in table order, so only that record's deletion moves
// the later numbers down. Counting every deleted record instead would give two
// different survivors the same new number.
#include <algorithm>

#include "mrlpro.h"
#include "run/message.h"
#include "run/trace.h"
#include "sym/table.h"

namespace {

// The first record with number `no` in the ordered table, or null: from the
// index by number when there is one for this table, else by binary search.
template <class Record, class Key>
const Record* first_of(const record_table<Record>& table, const number_index<Record>& index, uint32_t no, Key key) {
    // An index left from tables that have since been emptied is not used.
    if (index.direct && !table.empty()) {
        const uint32_t off = no - index.base;  // a number below the base wraps to a large offset
        return off < table.size() ? &table[off] : nullptr;
    }
    if (!index.place.empty() && !table.empty()) {
        const uint32_t off = no - index.base;  // a number below the base wraps to a large offset
        const uint32_t at = off < index.place.size() ? index.place[off] : 0;
        return at != 0 ? &table[at - 1] : nullptr;
    }
    auto it = std::lower_bound(table.begin(), table.end(), no, [&](const Record& r, uint32_t n) { return key(r) < n; });
    if (it == table.end() || key(*it) != no) return nullptr;
    return &*it;
}

const unit_record* first_unit(uint32_t unit_no) {
    ++rewrite_carry->unit_lookups;
    return first_of(unit_table, unit_index, unit_no, [](const unit_record& u) { return u.unit_no; });
}

// Whether the record at `it` is the first of its number in the table.
template <class Iter, class Key>
bool first_of_number(Iter it, Iter begin, Key key) {
    return it == begin || key(*std::prev(it)) != key(*it);
}

// Marks, in the first record of every unit number, where the run of
// consecutive deleted numbers that follows it ends upward and downward.
void unit_runs_build() {
    const auto key = [](const unit_record& r) { return r.unit_no; };
    const unit_record* above = nullptr;  // first record of the next higher number
    for (auto it = unit_table.end(); it != unit_table.begin();) {
        --it;
        if (!first_of_number(it, unit_table.begin(), key)) continue;
        const bool joins = above != nullptr && above->delete_mode == 1 && uint64_t{it->unit_no} + 1 == above->unit_no;
        it->run_up = joins ? above->run_up : it->unit_no;
        above = it;
    }
    const unit_record* below = nullptr;  // first record of the next lower number
    for (auto it = unit_table.begin(); it != unit_table.end(); ++it) {
        if (!first_of_number(it, unit_table.begin(), key)) continue;
        const bool joins = below != nullptr && below->delete_mode == 1 && uint64_t{below->unit_no} + 1 == it->unit_no;
        it->run_down = joins ? below->run_down : it->unit_no;
        below = it;
    }
}

}  // namespace

// The deletion rule of a unit record: U_ENDS_HIGH when it ends above FFFF
// (its last address taken in 64 bits, so that a section near the top of the
// address space does not wrap around into the low area and stay),
// U_EMPTY_HIGH when it is empty and starts above FFFF, U_EMPTY_E when it is
// an empty unit of the section "E"; U_KEPT otherwise.
int unit_fate(const unit_record& r) {
    if (r.length == 0) {
        if (r.section_e != 0) return U_EMPTY_E;
        return r.start_addr > 0xFFFF ? U_EMPTY_HIGH : U_KEPT;
    }
    return uint64_t{r.start_addr} + r.length - 1 > 0xFFFF ? U_ENDS_HIGH : U_KEPT;
}

void unit_replac() {
    trace_str("=== unit_replac() ===\n");
    for (auto it = unit_table.begin(); it != unit_table.end(); ++it) {
        unit_record& r = *it;
        const bool first = first_of_number(it, unit_table.begin(), [](const unit_record& u) { return u.unit_no; });
        if (trace_on()) {
            trace_fmt("Unit = %04x  Section name = ", r.unit_no);
            trace_str(unit_name(r));
            trace_fmt("  Start addr. = %08lX  Length = %08lX\n", static_cast<unsigned long>(r.start_addr),
                      static_cast<unsigned long>(r.length));
        }
        // The trace words an empty unit's lines apart from the others'.
        const bool empty = r.length == 0;
        if (unit_fate(r) != U_KEPT) {
            r.delete_mode = 1;
            if (first) ++unit_del_count;
            if (empty) {
                trace_str("[ Unit Delete !! ]\n Section E data delete!\n");
            } else if (trace_on()) {
                trace_str("[ Unit Delete !! ]\n   unit_del_count = ");
                trace_int(unit_del_count);
                trace_str("\n");
            }
        } else {
            r.new_unit_no = r.unit_no - unit_del_count;
            if (trace_on()) {
                trace_str(empty ? "[ Unit No Delete ]\n  new unit number = "
                                : "[ Unit No Delete ]\n   new unit number = ");
                trace_int(r.new_unit_no);
                trace_str("\n");
            }
        }
    }
    unit_runs_build();
}

void func_replace() {
    trace_str("=== func_replace() ===\n");
    for (auto it = func_table.begin(); it != func_table.end(); ++it) {
        func_record& r = *it;
        const bool first = first_of_number(it, func_table.begin(), [](const func_record& f) { return f.func_no; });
        if (trace_on()) trace_fmt("  Func = %04x  Unit No. = %04x\n", r.func_no, r.unit_no);
        uint32_t new_unit = 0;
        if (unit_search(r.unit_no, &new_unit) == 1) {
            r.delete_mode = 1;
            if (first) ++func_del_count;
        } else {
            r.delete_mode = 0;
            r.new_func_no = r.func_no - func_del_count;
        }
    }
}

namespace {

// The record a lookup of the number `no` found; when there is none, the run
// ends with a format error at `place` that names the number.
template <class Record>
const Record& found_or_fail(const Record* r, uint32_t no, ExitPlace place) {
    if (r == nullptr) {
        error_msg(E_FORMAT, input_sym);
        error_exit(kStatusFormat, place, {}, no);
    }
    return *r;
}

}  // namespace

int unit_search(uint32_t unit_no, uint32_t* new_unit_no) {
    const unit_record& r = found_or_fail(first_unit(unit_no), unit_no, L_NO_UNIT);
    *new_unit_no = r.new_unit_no;
    return r.delete_mode;
}

int func_search(uint32_t func_no, uint32_t* new_func_no, uint32_t* new_unit_no) {
    const func_record* r = &found_or_fail(func_first(func_no), func_no, L_NO_FUNC);
    *new_func_no = r->new_func_no;
    *new_unit_no = r->delete_mode == 0 ? unit_new_number(r->unit_no) : 0;
    return r->delete_mode;
}

const unit_record* unit_first(uint32_t unit_no) { return first_unit(unit_no); }

const func_record* func_first(uint32_t func_no) {
    return first_of(func_table, func_index, func_no, [](const func_record& f) { return f.func_no; });
}

uint32_t unit_new_number(uint32_t unit_no) {
    const unit_record* r = first_unit(unit_no);
    return r != nullptr ? r->new_unit_no : 0;
}

// The far end of the run of consecutive deleted unit numbers that holds the
// deleted unit `unit_no`: its highest number for step +1, its lowest for -1.
// Every number in between is present and deleted, so a walk that would look
// each of them up may continue right after this one.
uint32_t unit_deleted_run_end(uint32_t unit_no, int step) {
    const unit_record* r = first_unit(unit_no);
    if (r == nullptr || r->delete_mode != 1) return unit_no;
    return step > 0 ? r->run_up : r->run_down;
}
