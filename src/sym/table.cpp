// table.cpp: the first pass over the symbol file, which builds the unit table
// (one record per SECTION INFORMATION line) and the function table (one record
// per FUNC header), and the listing of both in the trace log. On a large
// mapped file a helper thread gathers the FUNC headers of its second half.
//
// Table order. Records are ordered by number. The first record ever inserted
// is the anchor; among records of equal number, those numbered at or above
// the anchor stay in reading order and those below it come in reverse reading
// order (as an insertion walk that starts at the anchor places them). Records
// are collected in reading order and put into that order once, when the first
// pass ends, so building costs O(n log n). An index by number is made at the
// same time, with which a lookup (renum.cpp) finds the first record of a
// number in one step instead of walking the table.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "mrlpro.h"
#include "run/message.h"
#include "run/platform.h"
#include "run/textfile.h"
#include "run/trace.h"
#include "sym/fields.h"
#include "sym/symlines.h"
#include "sym/symmake.h"
#include "sym/table.h"

namespace {

template <class Record, class Key>
void order_by_anchor(record_table<Record>& table, Key key) {
    if (table.empty()) return;
    // The anchor is the record read first. Looked up by reading number, not
    // by place, so that ordering an already ordered table changes nothing;
    // before the first ordering it is the first record.
    const Record* first = &table.front();
    if (first->seq != 0)
        for (const Record& r : table)
            if (r.seq < first->seq) first = &r;
    const uint32_t anchor = key(*first);
    auto before = [&](const Record& a, const Record& b) {
        if (key(a) != key(b)) return key(a) < key(b);
        return key(a) < anchor ? a.seq > b.seq : a.seq < b.seq;
    };
    if (!std::is_sorted(table.begin(), table.end(), before)) std::sort(table.begin(), table.end(), before);
}

// Indexes an ordered table by number, when its numbers are dense enough for
// the index to stay small. The index only saves time: without memory for it,
// the lookups search the table.
template <class Record, class Key>
void index_by_number(const record_table<Record>& table, number_index<Record>& index, Key key) {
    index.place.clear();
    index.direct = false;
    if (table.empty()) return;
    const uint32_t low = key(table.front());
    const uint64_t span = uint64_t{key(table.back())} - low + 1;
    index.base = low;
    if (span == table.size()) {
        // Ordered, as many records as numbers: direct when none repeats.
        index.direct = true;
        for (size_t i = 1; i < table.size() && index.direct; ++i) index.direct = key(table[i]) != key(table[i - 1]);
        if (index.direct) return;
    }
    if (span > 2 * uint64_t{table.size()} + 64) return;
    // Without room for it, the lookups search the table: the memory is
    // tried first, so that its lack ends nothing.
    void* room = std::malloc(span * sizeof(uint32_t));
    if (room == nullptr) return;
    std::free(room);
    index.place.assign(span, 0);
    // From the back, so that the first record of each number is the one kept.
    for (size_t i = table.size(); i > 0; --i) index.place[key(table[i - 1]) - low] = static_cast<uint32_t>(i);
}

// A copy of a section name that stays where it is for the whole run. Names
// are short and never freed; they are packed into blocks, which saves the
// memory (and the first touch of each page of it) of a string for each.
std::string_view keep_name(std::string_view name) {
    static std::vector<std::unique_ptr<char[]>> blocks;
    static char* next = nullptr;
    static size_t left = 0;
    constexpr size_t kBlock = size_t{1} << 16;
    if (next == nullptr || name.size() > left) {
        const size_t size = name.size() > kBlock ? name.size() : kBlock;
        blocks.push_back(std::unique_ptr<char[]>(new char[size]));
        next = blocks.back().get();
        left = size;
    }
    char* const copy = next;
    copy_bytes(copy, name.data(), name.size());
    next += name.size();
    left -= name.size();
    return {copy, name.size()};
}

// The tables cannot grow: error 4. They grow a small chunk at a time, so
// when one more chunk fails there is no room left for anything; they are
// of no more use then, and freeing them first leaves the message room.
[[noreturn]] void tables_exhausted() {
    unit_table.clear();
    func_table.clear();
    unit_names.clear();
    error_msg(E_NO_MEMORY);
    error_exit(kStatusFormat, L_NO_MEMORY);
}

// Adds the record that `make` builds to a table. The memory of the tables is
// the one resource a large symbol file can exhaust; running out, for the
// record or for the copy of its name, is error 4, never an abort.
template <class Record, class Make>
void table_alloc(record_table<Record>& table, number_index<Record>& index, Make make) {
    index.place.clear();
    index.direct = false;
    memory_place = L_NO_MEMORY;
    const bool added = table.push_back(make());
    memory_place = L_OUT_OF_MEMORY;
    if (!added) tables_exhausted();
}

// Records the section name of the unit read as number `seq`; the names of
// units read while the trace was off stay empty. Running out of memory here
// is what it is for the tables.
void unit_name_set(uint32_t seq, std::string_view name) {
    // Past this many distinct names, a file is not one of few names, and
    // each further new name is kept as it comes.
    constexpr size_t kLookedUp = size_t{1} << 16;
    memory_place = L_NO_MEMORY;
    NameStore& n = unit_names;
    if (n.names.empty()) n.names.emplace_back();
    auto it = n.numbers.find(name);
    uint32_t number = it != n.numbers.end() ? it->second : static_cast<uint32_t>(n.names.size());
    if (it == n.numbers.end()) {
        const std::string_view kept = keep_name(name);
        n.names.push_back(kept);
        if (n.numbers.size() < kLookedUp) n.numbers.emplace(kept, number);
    }
    bool ok = true;
    while (ok && n.of_unit.size() < seq) ok = n.of_unit.push_back(0);
    if (ok) ok = n.of_unit.push_back(number);
    memory_place = L_OUT_OF_MEMORY;
    if (!ok) tables_exhausted();
}

// The next "#" from `line` on (which begins a line) that begins a line, or
// null when there is none before `end`.
const char* next_header(const char* line, const char* const end) {
    const char* at = line;
    for (;;) {
        at = static_cast<const char*>(std::memchr(at, '#', static_cast<size_t>(end - at)));
        if (at == nullptr || at == line || at[-1] == '\n') return at;
        ++at;
    }
}

// The whole lines at the start of `block`, for the first pass: each FUNC
// header goes to `on_func`, and the lines between the "#" lines are passed
// over without being looked at one by one. Stops at a SECTION INFORMATION
// header, at a header ending in CR LF (whose CR the reader drops) and at a
// line that the block does not hold whole, which are left to the reader.
// Returns the bytes it took; `cut` is set when it stopped only because the
// block ends inside a line (so the next block may go on).
template <class OnFunc>
size_t scan_headers(const std::string_view block, bool& cut, OnFunc on_func) {
    const char* const start = block.data();
    const char* const end = start + block.size();
    const char* line = start;
    cut = false;
    for (;;) {
        const char* const hash = line < end && *line == '#' ? line : next_header(line, end);
        if (hash == nullptr) {
            // No header begins in the rest of the block: pass over its whole
            // lines, up to the line the block ends in.
            const char* q = end;
            while (q > line && q[-1] != '\n') --q;
            line = q;
            cut = true;
            break;
        }
        line = hash;
        const char* const lf = static_cast<const char*>(std::memchr(line, '\n', static_cast<size_t>(end - line)));
        if (lf == nullptr) {
            cut = true;
            break;
        }
        if (lf[-1] == '\r') break;
        const std::string_view text(line, static_cast<size_t>(lf + 1 - line));
        const SecKind kind = sec_kind(text);
        if (kind == SEC_SECTION_INFO) break;
        if (kind == SEC_FUNC) on_func(text);
        line = lf + 1;
    }
    return static_cast<size_t>(line - start);
}

// scan_headers over the unread input block, which gives back what it took.
bool scan_block(const std::string_view block) {
    bool cut = false;
    const size_t taken = scan_headers(block, cut, func_data_make);
    in_sym_fp.advance(taken);
    return cut && taken > 0;
}

// The first pass over a large mapped file takes a helper (run/platform.h):
// while it reads the first half, the helper gathers the FUNC headers of the
// second half, from a header line on. Its list is taken when it scanned the
// whole half (no SECTION INFORMATION header, no CR LF header, no failed
// check) and the pass reached the half's first line at the end of a line of
// its own; otherwise the pass reads on through the second half itself. The
// tables come out the same either way.
struct FuncScan {
    std::string_view text;                             // whole lines, the first a header
    std::vector<std::pair<uint32_t, uint32_t>> funcs;  // function and unit numbers, in reading order
    bool whole = false;
};

void func_scan(void* arg) {
    FuncScan& f = *static_cast<FuncScan*>(arg);
    messages_hold();
    try {
        bool cut = false;
        const size_t taken = scan_headers(f.text, cut, [&f](std::string_view line) {
            uint32_t func_no = 0, unit_no = 0;
            func_line_numbers(line, &func_no, &unit_no);
            f.funcs.emplace_back(func_no, unit_no);
        });
        f.whole = taken == f.text.size();
    } catch (...) {
        f.whole = false;
    }
}

// The second half of the unread file for func_scan: from the first header
// line at or after its middle to the end of its last whole line; empty when
// the file is too small to share, or is not read in a way a helper can.
std::string_view second_half(const SymObserver* observer) {
    if (sym_stretch == 0 || observer != nullptr || table_observer != nullptr || trace_on() || lines_one_by_one)
        return {};
    // The file is mapped, if at all, when it is first read.
    const std::string_view all = in_sym_fp.unread();
    if (!in_sym_fp.mapped() || all.size() < 2 * sym_stretch) return {};
    size_t at = all.size() / 2;
    for (;;) {
        at = all.find('#', at);
        if (at == std::string_view::npos) return {};
        if (all[at - 1] == '\n') break;
        ++at;
    }
    const size_t last = all.rfind('\n');
    if (last == std::string_view::npos || last < at) return {};
    return all.substr(at, last + 1 - at);
}

}  // namespace

// First pass: reads the whole symbol file and fills both tables. Only "#"
// lines and the lines of SECTION INFORMATION blocks are looked at: most of
// the file is passed over a block at a time (scan_block), and the reader
// jumps from one "#" line to the next over what is left. A header line that
// ends a SECTION INFORMATION block is classified like any other: a FUNC
// header right after the last unit line enters the function table, and a
// SECTION INFORMATION header there opens the next block.
void sec_func_read() { sec_func_read(nullptr); }

void sec_func_read(SymObserver* observer) {
    trace_str("=== sec_func_read() ===\n");
    const SymObserving observing(observer);
    FuncScan scan;
    scan.text = second_half(observer);
    // However this pass ends, the helper has ended first.
    const struct HelperWait {
        ~HelperWait() { helper_join(); }
    } wait;
    const char* split = !scan.text.empty() && helper_start(func_scan, &scan) ? scan.text.data() : nullptr;
    std::string_view line;
    bool more = false;
    for (;;) {
        while (!lines_one_by_one) {
            std::string_view block = in_sym_fp.unread();
            if (split != nullptr) {
                // Up to the second half only.
                if (block.data() >= split) break;
                block = block.substr(0, std::min(block.size(), static_cast<size_t>(split - block.data())));
            }
            if (!scan_block(block)) break;
        }
        if (split != nullptr && in_sym_fp.unread().data() >= split) {
            helper_join();
            if (in_sym_fp.unread().data() == split && scan.whole) {
                for (const auto& [func_no, unit_no] : scan.funcs) func_record_add(func_no, unit_no);
                in_sym_fp.advance(scan.text.size());
                ++sym_stretches_taken;
            }
            split = nullptr;
            continue;
        }
        if (!read_sym_line(line, more, !lines_one_by_one)) break;
        SecKind kind = sec_kind(line);
        while (kind == SEC_SECTION_INFO && sec_data_make(line, more)) kind = sec_kind(line);
        if (kind == SEC_FUNC) func_data_make(sym_line_whole(line, more));
    }
    table_order();
}

// The lines after a SECTION INFORMATION header: one unit record per line, up
// to the first line without a first field (false) or the next "#" line, which
// is left in `line` for sec_func_read to classify (true). Lines that begin
// with a blank are not unit lines and are passed over.
bool sec_data_make(std::string_view& line, bool& more) {
    trace_str("=== sec_data_make() ===\n");
    // The lines of a block are read one after another: the count of lines
    // read, at the header and at a line, gives the line its place in the
    // block.
    if (sym_observer != nullptr) sym_observer->unit_block_read(in_sym_fp.lines());
    while (read_sym_line(line, more)) {
        if (line[0] == '#') return true;
        if (line[0] == ' ') {
            if (sym_observer != nullptr) sym_observer->unit_line_passed_over(in_sym_fp.lines());
            if (table_observer != nullptr) table_observer->unit_line_passed(line);
            continue;
        }
        std::string_view rest = sym_line_whole(line, more);
        const HexField unit = get_hex_token(rest);
        if (unit.text.empty()) {
            if (sym_observer != nullptr) sym_observer->unit_table_ended(in_sym_fp.lines(), line);
            return false;
        }
        uint32_t unit_no = hex_value(unit);
        std::string_view name = get_token(rest);
        for (int skip = 0; skip < 3; ++skip) get_token(rest);
        uint32_t start = get_long_number(rest);
        uint32_t length = get_long_number(rest);
        unit_record_set(unit_no, start, length, name);
        if (table_observer != nullptr) table_observer->unit_read(rest);
    }
    return false;
}

void func_data_make(std::string_view line) {
    if (trace_on()) {
        trace_str("=== func_data_make() ===\n");
        trace_str(" input data ");
        trace_str(line);
    }
    uint32_t func_no = 0, unit_no = 0;
    func_line_numbers(line, &func_no, &unit_no);
    func_record_add(func_no, unit_no);
    if (table_observer != nullptr) {
        std::string_view rest = line.substr(sec_header[SEC_FUNC].size());
        get_token(rest);
        table_observer->func_read(get_token(rest));
    }
}

void func_record_add(uint32_t func_no, uint32_t unit_no) {
    table_alloc(func_table, func_index, [&] {
        return func_record{func_no, unit_no, static_cast<uint32_t>(func_table.size()), 0, 0};
    });
}

void func_line_numbers(std::string_view line, uint32_t* func_no, uint32_t* unit_no) {
    std::string_view rest = line.substr(sec_header[SEC_FUNC].size());
    *func_no = get_number(rest);
    get_token(rest);
    *unit_no = get_number(rest);
}

void unit_record_set(uint32_t unit_no, uint32_t start_addr, uint32_t length, std::string_view name) {
    if (trace_on()) {
        trace_str("=== unit_record_set() ===\n");
        trace_fmt("    set datas : unit = %04X  name = ", unit_no);
        trace_str(name);
        trace_fmt("  addr = %08lX  length = %08lX\n", static_cast<unsigned long>(start_addr),
                  static_cast<unsigned long>(length));
    }
    const uint32_t seq = static_cast<uint32_t>(unit_table.size());
    const uint8_t section_e = name == "E" || name == "e";
    table_alloc(unit_table, unit_index, [&] {
        if (seq == 0) unit_names.clear();  // a new table
        return unit_record{unit_no, seq, start_addr, length, 0, 0, 0, 0, section_e};
    });
    if (trace_on() || keep_unit_names) unit_name_set(seq, name);
}

std::string_view unit_name(const unit_record& r) {
    return r.seq < unit_names.of_unit.size() ? unit_names.names[unit_names.of_unit[r.seq]] : "";
}

// Puts both tables into table order and indexes them (see the top of this
// file).
void table_order() {
    const auto unit_key = [](const unit_record& r) { return r.unit_no; };
    const auto func_key = [](const func_record& r) { return r.func_no; };
    order_by_anchor(unit_table, unit_key);
    order_by_anchor(func_table, func_key);
    index_by_number(unit_table, unit_index, unit_key);
    index_by_number(func_table, func_index, func_key);
}

const unit_record* unit_head() { return unit_table.empty() ? nullptr : &unit_table.front(); }
const unit_record* unit_tail() { return unit_table.empty() ? nullptr : &unit_table.back(); }

// Lists both tables in the trace log, in table order.
void table_dump() {
    if (!unit_table.empty()) {
        trace_str("********** UNIT record data **********\n");
        for (const unit_record& r : unit_table) {
            trace_fmt("    unit number = %04X  Start addr. = %08lX  Length = %08lX  ", r.unit_no,
                      static_cast<unsigned long>(r.start_addr), static_cast<unsigned long>(r.length));
            if (r.delete_mode == 1)
                trace_str("mode = DELETE  ");
            else
                trace_fmt("mode = NO DELETE  new unit number = %04X  ", r.new_unit_no);
            trace_str("section name = ");
            trace_str(unit_name(r));
            trace_str("\n");
        }
    }
    if (func_table.empty()) return;
    trace_str("********** Func record data **********\n");
    for (const func_record& r : func_table) {
        trace_fmt("   Func number = %04X  unit number = %04X  ", r.func_no, r.unit_no);
        if (r.delete_mode == 1) {
            trace_str("mode = DELETE\n");
        } else {
            trace_fmt("mode = NO DELETE  new func number = %04X  new unit number = %04X\n", r.new_func_no,
                      unit_new_number(r.unit_no));
        }
    }
    trace_str("*********************************************************\n");
}
