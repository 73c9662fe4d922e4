// summary.cpp: the text summary. Totals first, then the usage of the low
// and high areas, then the lists: by default only what is cut, a few rows of
// each kind; whole for the kinds asked for. Every row of a list begins with
// what it is ("unit kept", "unit deleted", "function deleted", "label
// dropped", "block dropped", "segment"), so that grep finds each kind, and
// the columns are aligned.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "mrlpro.h"
#include "report/report.h"
#include "sym/fields.h"
#include "sym/table.h"

namespace report {

namespace {

void output_line(std::FILE* out, const char* title, const char* ext, const HexOutput& o) {
    std::fprintf(out, "  %-22s %10llu   lines, %s, %llu data records, %llu data bytes\n", title, ull(o.lines),
                 o.kept ? (std::string("kept as ") + ext).c_str() : "not kept", ull(o.data_records), ull(o.data_bytes));
}

void hex_summary(std::FILE* out, const HexReport& h) {
    std::fprintf(out, "HEX file %s\n", printable(h.name).c_str());
    std::fprintf(out, "  %-22s %10llu   data %llu, segment %llu, end %llu\n", "records", ull(h.lines),
                 ull(h.data_records), ull(h.segment_records), ull(h.end_records));
    output_line(out, "low output", ".hex", h.low);
    output_line(out, "high output", ".hxh", h.high);
    uint64_t warnings = 0;
    for (const uint64_t n : h.warning_counts) warnings += n;
    if (warnings > 0)
        std::fprintf(out,
                     "  %-22s %10llu   checksum %llu, byte count %llu, CR-only line ends %llu, low data past FFFF "
                     "%llu, lines after the end record %llu\n",
                     "warnings", ull(warnings), ull(h.warning_counts[kWarnChecksum]),
                     ull(h.warning_counts[kWarnByteCount]), ull(h.warning_counts[kWarnCrOnly]),
                     ull(h.warning_counts[kWarnPastFfff]), ull(h.warning_counts[kWarnAfterEnd]));
    if (h.end_records == 0) std::fprintf(out, "  no end record\n");
    if (h.after_end > 0) std::fprintf(out, "  %llu lines after the end record are not copied\n", ull(h.after_end));
}

void sym_summary(std::FILE* out, const SymReport& s) {
    std::fprintf(out, "SYM file %s\n", printable(s.name).c_str());
    std::fprintf(out,
                 "  %-22s %10llu   kept %llu, deleted %llu (ends above FFFF %llu, empty above FFFF %llu, "
                 "empty \"E\" %llu)\n",
                 "units", ull(s.unit_records), ull(s.units_kept), ull(s.units_deleted), ull(s.units_ends_high),
                 ull(s.units_empty_high), ull(s.units_empty_e));
    std::fprintf(out, "  %-22s %10llu   kept %llu, deleted %llu\n", "functions", ull(s.func_records),
                 ull(s.func_records - s.funcs_deleted), ull(s.funcs_deleted));
    std::fprintf(out, "  %-22s %10llu\n", "global labels dropped", ull(s.labels_dropped.size()));
    std::fprintf(out, "  %-22s %10llu\n", "blocks dropped", ull(s.blocks_dropped.size()));
    std::fprintf(out, "  %-22s %10llu   rewritten %llu\n", "lines dropped", ull(s.lines_dropped),
                 ull(s.lines_rewritten));
}

// An inclusive range of addresses.
struct Range {
    uint64_t first, last;
};

// The number of addresses the ranges cover together (each counted once).
uint64_t covered(std::vector<Range>& ranges) {
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
    uint64_t total = 0, next = 0;  // next: the first address not yet counted
    for (const Range& g : ranges) {
        const uint64_t from = std::max(g.first, next);
        if (g.last >= from) {
            total += g.last - from + 1;
            next = g.last + 1;
        }
    }
    return total;
}

constexpr uint64_t kLowSize = 0x10000;

// The addresses the data records of one output cover (segment base plus
// offset); for the low output only those below 10000.
void hex_ranges(const HexReport& h, bool high, std::vector<Range>& ranges) {
    for (const Segment& s : h.segments) {
        if (s.high != high) continue;
        for (const Span& sp : s.spans) {
            const uint64_t first = uint64_t{s.base} + sp.first;
            const uint64_t last = uint64_t{s.base} + sp.last;
            if (!high && first >= kLowSize) continue;
            ranges.push_back({first, high ? last : std::min(last, kLowSize - 1)});
        }
    }
}

// The low area's addresses, each with how many ranges begin there less how
// many ended just before: a running sum over it counts the ranges that
// hold an address. Millions of units need no list of ranges this way.
using LowMarks = std::vector<int32_t>;

// Marks the addresses first..last of the low area (both below 10000).
void low_mark(LowMarks& marks, uint64_t first, uint64_t last) {
    ++marks[first];
    --marks[last + 1];
}

// The addresses the kept units take (start and length from each unit line
// whose number is kept), below 10000.
void unit_marks(LowMarks& marks) {
    for (const unit_record& u : unit_table) {
        if (unit_fate(unit_deciding(u)) != U_KEPT || u.length == 0 || u.start_addr >= kLowSize) continue;
        const uint64_t last = uint64_t{u.start_addr} + u.length - 1;
        low_mark(marks, u.start_addr, std::min(last, kLowSize - 1));
    }
}

// The number of low addresses that the ranges marked in `a` or in `b` hold.
uint64_t low_covered(const LowMarks& a, const LowMarks& b) {
    uint64_t total = 0;
    int32_t in_a = 0, in_b = 0;
    for (uint64_t at = 0; at < kLowSize; ++at) {
        in_a += a[at];
        in_b += b[at];
        if (in_a > 0 || in_b > 0) ++total;
    }
    return total;
}

// A figure of the usage table, or "-" when its file was not read.
std::string figure(bool known, uint64_t n) { return known ? std::to_string(n) : std::string("-"); }

// The usage of the two areas as mrl85 routes them, as link editors print
// memory regions (see usage()).
void usage_table(std::FILE* out, const Report& r) {
    const Usage u = usage(r);
    std::fprintf(out, "%-12s %12s %14s %10s %10s %8s\n", "area", "HEX data", "units' extent", "used", "size", "used %");
    std::fprintf(out, "%-12s %12s %14s %10llu %10llu %7.2f%%\n", "  low  .hex", figure(u.hex, u.low_data).c_str(),
                 figure(u.sym, u.low_units).c_str(), ull(u.low_used), ull(kLowSize),
                 100.0 * static_cast<double>(u.low_used) / static_cast<double>(kLowSize));
    if (!u.hex) return;
    std::fprintf(out, "%-12s %12llu %14s %10llu\n", "  high .hxh", ull(u.high_data), "", ull(u.high_used));
}

// The rows of the segments, or only of those whose data goes to the high
// output (what .hex does not get), the first `limit` of them.
uint64_t segment_rows(std::FILE* out, const HexReport& h, bool high_only, uint64_t limit) {
    uint64_t shown = 0, left_out = 0;
    for (const Segment& s : h.segments) {
        if (high_only && !s.high) continue;
        if (shown++ >= limit) {
            ++left_out;
            continue;
        }
        std::fprintf(out, "segment %-4s  %s  base %05X  %8llu records %10llu bytes ",
                     s.value.empty() ? "none" : printable(s.value).c_str(), s.high ? "high" : "low ",
                     static_cast<unsigned>(s.base), ull(s.records), ull(s.bytes));
        for (const Span& sp : s.spans) std::fprintf(out, " %04X-%04X", sp.first, sp.last);
        if (s.unreadable > 0) std::fprintf(out, "  (%llu records unreadable)", ull(s.unreadable));
        std::fputc('\n', out);
    }
    return left_out;
}

// A row of a list, put together in one buffer and written with one call: a
// large file has millions of rows.
class Row {
public:
    Row& text(std::string_view t) {
        line_.append(t);
        return *this;
    }
    // At least `digits` hexadecimal digits (upper case), more when needed.
    Row& hex(uint32_t n, unsigned digits) {
        char d[9];
        const std::string_view all = num_to_hex(n, d);
        if (all.size() < digits) line_.append(digits - all.size(), '0');
        line_.append(all);
        return *this;
    }
    // A name from the inputs, control bytes shown as "?".
    Row& name(std::string_view t) {
        const size_t from = line_.size();
        line_.append(t);
        controls_shown(line_, from);
        return *this;
    }
    // A name, then blanks up to `width` characters.
    Row& padded(std::string_view t, size_t width) {
        name(t);
        if (t.size() < width) line_.append(width - t.size(), ' ');
        return *this;
    }
    // "  line N" when the line is known.
    Row& line(uint64_t n) {
        if (n != 0) line_.append("  line ").append(std::to_string(n));
        return *this;
    }
    void put(std::FILE* out) {
        line_.push_back('\n');
        std::fwrite(line_.data(), 1, line_.size(), out);
        line_.clear();
    }

private:
    std::string line_;
};

// The rows of the units, kept ones first; with `deleted_only`, only the
// first `limit` deleted ones. Returns the deleted rows left out.
uint64_t unit_rows(std::FILE* out, const SymReport& s, bool deleted_only, uint64_t limit) {
    size_t width = 4;
    for (const unit_record& u : unit_table) width = std::max(width, std::min<size_t>(unit_name(u).size(), 24));
    const auto line_of = [&](const unit_record& u) { return s.unit_line_of[u.seq]; };
    Row row;
    for (const unit_record& u : unit_table) {
        const unit_record& d = unit_deciding(u);
        if (deleted_only || unit_fate(d) != U_KEPT) continue;
        row.text("unit kept     ").hex(u.unit_no, 4).text(" -> ").hex(d.new_unit_no, 4).text("  ");
        row.padded(unit_name(u), width).text("  ").hex(u.start_addr, 8).text("  ").hex(u.length, 8);
        row.line(line_of(u)).put(out);
    }
    for (const UnreadUnitLine& u : s.unread) {
        if (deleted_only || u.dropped) continue;
        row.text("unit kept     ").hex(u.unit_no, 4).text(" -> ").hex(u.new_unit, 4).text("  ");
        row.text(unread_why(u)).line(u.line).put(out);
    }
    uint64_t shown = 0, left_out = 0;
    for (const unit_record& u : unit_table) {
        const unit_record& d = unit_deciding(u);
        const int fate = unit_fate(d);
        if (fate == U_KEPT) continue;
        if (shown++ >= limit) {
            ++left_out;
            continue;
        }
        row.text("unit deleted  ").hex(u.unit_no, 4).text("          ").padded(unit_name(u), width).text("  ");
        row.hex(u.start_addr, 8).text("  ").hex(u.length, 8).text("  ").text(why_deleted(fate));
        // Another line of the same number decided: say so, since this
        // line's own start and length do not show why.
        if (&d != &u)
            row.text(" (the line of ").name(unit_name(d)).text(" decides for number ").hex(d.unit_no, 4).text(")");
        row.line(line_of(u)).put(out);
    }
    for (const UnreadUnitLine& u : s.unread) {
        if (!u.dropped) continue;
        if (shown++ >= limit) {
            ++left_out;
            continue;
        }
        row.text("unit deleted  ").hex(u.unit_no, 4).text("          ").text(unread_why(u)).line(u.line).put(out);
    }
    return left_out;
}

// The first `limit` deleted functions: a FUNC line goes with the first
// record of its number.
void function_rows(std::FILE* out, const SymReport& s, uint64_t limit) {
    Row row;
    uint64_t shown = 0;
    for (const func_record& f : func_table) {
        if (func_deciding(f).delete_mode != 1) continue;
        if (shown++ >= limit) return;
        row.text("function deleted  ").hex(f.func_no, 4).text("  unit ").hex(f.unit_no, 4);
        row.line(s.func_line_of(f.seq)).put(out);
    }
}

// The rows of labels and blocks dropped, as kept: the line (labels), or the
// first and last line (blocks), then the text shown.
bool dropped_rows(std::FILE* out, const RowList& rows, const char* prefix, bool span, uint64_t limit) {
    Row row;
    uint64_t left = limit;
    return rows.each_while([&](std::string_view r) {
        if (left == 0) return false;
        --left;
        const uint64_t first = row_number(r);
        const uint64_t last = span ? row_number(r) : first;
        row.text(prefix).name(r).text("  ").text(lines_text(first, last)).put(out);
        return left > 0;
    });
}

// The rows of every line dropped or rewritten, in file order.
bool line_rows_print(std::FILE* out, const SymReport& s, uint64_t limit) {
    Row row;
    uint64_t left = limit;
    return line_rows(s, [&](const LineRow& l) {
        if (left == 0) return false;
        --left;
        char where[48];
        std::snprintf(where, sizeof where, "%-12s",
                      lines_text(l.first, l.last).substr(l.first == l.last ? 5 : 6).c_str());
        row.text(l.dropped ? "line dropped    " : "line rewritten  ").text(where).text("  ").name(l.what).put(out);
        return left > 0;
    });
}

// Where a shortened list leaves rows out: how many, and how to see them.
void more_line(std::FILE* out, uint64_t more, const char* kind) {
    if (more > 0) std::fprintf(out, "%llu more: --list=%s\n", ull(more), kind);
}

}  // namespace

uint64_t row_number(std::string_view& row) {
    uint64_t n = 0;
    size_t i = 0;
    while (i < row.size() && row[i] >= '0' && row[i] <= '9') n = n * 10 + static_cast<uint64_t>(row[i++] - '0');
    row.remove_prefix(std::min(row.size(), i + 1));
    return n;
}

BlockRow block_row(std::string_view row) {
    BlockRow b;
    b.first = row_number(row);
    b.last = row_number(row);
    b.kind = row.substr(0, std::min<size_t>(16, row.size()));
    while (!b.kind.empty() && b.kind.back() == ' ') b.kind.remove_suffix(1);
    b.header = row.substr(std::min<size_t>(18, row.size()));
    return b;
}

std::string lines_text(uint64_t first, uint64_t last) {
    return first == last ? "line " + std::to_string(first)
                         : "lines " + std::to_string(first) + "-" + std::to_string(last);
}

std::string unread_why(const UnreadUnitLine& u) {
    if (u.why == kUnreadLeadingBlank) return "(not read into the unit table: the line begins with a blank)";
    std::string by = u.ended_by == '\r' ? "a carriage return" : u.ended_by == '\0' ? "a NUL byte" : "no field";
    return "(not read into the unit table: line " + std::to_string(u.ended_at) + " begins with " + by +
           " and ends its reading of the block)";
}

// What a row of the list of lines says of its lines.
const char* line_what(char code) {
    switch (code) {
        case kLineInBlock: return "dropped with the block of a header dropped before";
        case kLineBlank: return "a blank line: a run of blank lines comes out as one";
        case kLineContinuation: return "the continuation of a library line, dropped with its unit";
        case kLineLabels: return "a GLOBAL LABEL line whose labels all lie above FFFF";
        default: return "?";
    }
}

// The unit lines the table read are taken in reading order, which is their
// order in the file; those it did not read and the FUNC lines dropped are
// gathered and put in line order; the blocks and the labels dropped, which
// the pass told in file order, are read back row by row; and all of them
// are merged by line with the other rows of lines, as the pass told them.
bool line_rows(const SymReport& s, const std::function<bool(const LineRow&)>& take) {
    static const std::string_view kBlockKinds[] = {"LOCAL LABEL", "LOCAL SYMBOL", "LOCAL BIT SYMBOL", "CALL", "SOURCE"};
    // What a held row is: `ref` says which (a place in its table or list,
    // a block's kind in kBlockKinds, a GLOBAL LABEL line's count of labels
    // dropped).
    enum HeldKind : uint8_t { kHeldUnit, kHeldUnread, kHeldFunc, kHeldBlock, kHeldLabels };
    struct Held {
        uint64_t first;  // its line (a block's first line; its last is block_last)
        uint32_t ref;
        uint8_t kind;
    };
    // The unit records by reading order (their places in the table), which
    // the lines of unit_line_of follow: the pass told them one after
    // another. A big file has millions, so only the places are held, and
    // none where the table's order is the reading order (numbers ascending
    // in the file, as they mostly are).
    constexpr uint32_t kNoRecord = UINT32_MAX;
    bool read_in_order = s.unit_line_of.size() <= unit_table.size();
    for (size_t i = 0; read_in_order && i < s.unit_line_of.size(); ++i) read_in_order = unit_table[i].seq == i;
    std::vector<uint32_t> record_read;
    if (!read_in_order) {
        record_read.assign(s.unit_line_of.size(), kNoRecord);
        for (size_t i = 0; i < unit_table.size(); ++i)
            if (unit_table[i].seq < record_read.size()) record_read[unit_table[i].seq] = static_cast<uint32_t>(i);
    }
    std::vector<Held> held;
    held.reserve(s.unread.size() + s.func_dropped_seqs.size());
    for (size_t i = 0; i < s.unread.size(); ++i)
        held.push_back({s.unread[i].line, static_cast<uint32_t>(i), kHeldUnread});
    for (size_t i = 0; i < func_table.size(); ++i) {
        const func_record& f = func_table[i];
        const uint64_t line = s.func_dropped_seqs.empty() ? 0 : s.func_line_of(f.seq);
        if (line != 0) held.push_back({line, static_cast<uint32_t>(i), kHeldFunc});
    }
    std::sort(held.begin(), held.end(), [](const Held& a, const Held& b) { return a.first < b.first; });

    // The next unit line read, the next block dropped, and the next GLOBAL
    // LABEL line with labels dropped (a line is listed once, with how many),
    // each as a held row; `has` is false once its list is read through.
    ScratchStore::Reader block_rows(s.blocks_dropped.rows()), label_rows(s.labels_dropped.rows());
    Held unit{}, block{}, labels{};
    uint64_t block_last = 0;
    bool has_unit = false, has_block = false, has_labels = false;
    size_t seq = 0;
    const auto next_unit = [&] {
        has_unit = false;
        while (!has_unit && seq < s.unit_line_of.size()) {
            const size_t q = seq++;
            const uint64_t line = s.unit_line_of[q];
            const uint32_t record = read_in_order ? static_cast<uint32_t>(q) : record_read[q];
            has_unit = record != kNoRecord && line != 0;
            unit = {line, record, kHeldUnit};
        }
    };
    std::string_view label_row;
    bool label_row_on = label_rows.next_row(label_row);
    const auto next_block = [&] {
        std::string_view r;
        has_block = block_rows.next_row(r);
        if (!has_block) return;
        const BlockRow b = block_row(r);
        uint32_t k = 0;
        while (k + 1 < std::size(kBlockKinds) && kBlockKinds[k] != b.kind) ++k;
        block = {b.first, k, kHeldBlock};
        block_last = b.last;
    };
    const auto next_labels = [&] {
        has_labels = label_row_on;
        if (!has_labels) return;
        const uint64_t line = row_number(label_row);
        labels = {line, 1, kHeldLabels};
        while ((label_row_on = label_rows.next_row(label_row))) {
            std::string_view r = label_row;
            if (row_number(r) != line) break;
            ++labels.ref;
        }
    };
    next_unit();
    next_block();
    next_labels();
    size_t next = 0;
    // The held row of the lowest line, or null when none is left.
    const auto lowest = [&]() -> const Held* {
        const Held* low = next < held.size() ? &held[next] : nullptr;
        if (has_unit && (low == nullptr || unit.first < low->first)) low = &unit;
        if (has_block && (low == nullptr || block.first < low->first)) low = &block;
        if (has_labels && (low == nullptr || labels.first < low->first)) low = &labels;
        return low;
    };
    const auto passed = [&](const Held* h) {
        if (h == &unit)
            next_unit();
        else if (h == &block)
            next_block();
        else if (h == &labels)
            next_labels();
        else
            ++next;
    };

    bool more = true;
    char text[200];
    std::string all;
    uint64_t whole = 0;  // the last GLOBAL LABEL line dropped whole
    const auto held_row = [&](const Held& a, uint64_t last) {
        LineRow l;
        l.first = a.first;
        l.last = last;
        if (a.kind == kHeldLabels) {
            // A line dropped whole is a row of its own, which comes first.
            if (a.first == whole) return true;
            l.dropped = false;
            all = "a GLOBAL LABEL line: labels above FFFF taken out: " + std::to_string(a.ref);
            l.what = all;
            return take(l);
        }
        if (a.kind == kHeldFunc) {
            std::snprintf(text, sizeof text, "the FUNC line of deleted function %04X", func_table[a.ref].func_no);
            l.what = text;
            return take(l);
        }
        if (a.kind == kHeldBlock) {
            all = "a " + std::string(kBlockKinds[a.ref]) + " header dropped with its block";
            l.what = all;
            return take(l);
        }
        if (a.kind == kHeldUnit) {
            const unit_record& u = unit_table[a.ref];
            const unit_record& d = unit_deciding(u);
            l.dropped = unit_fate(d) != U_KEPT;
            if (l.dropped)
                std::snprintf(text, sizeof text, "unit %04X deleted: %s", u.unit_no, why_deleted(unit_fate(d)));
            else
                std::snprintf(text, sizeof text, "unit %04X -> %04X", u.unit_no, d.new_unit_no);
            l.what = text;
            return take(l);
        }
        const UnreadUnitLine& w = s.unread[a.ref];
        l.dropped = w.dropped;
        if (l.dropped)
            std::snprintf(text, sizeof text, "unit %04X deleted ", w.unit_no);
        else
            std::snprintf(text, sizeof text, "unit %04X -> %04X ", w.unit_no, w.new_unit);
        all = text + unread_why(w);
        l.what = all;
        return take(l);
    };
    // The held rows before line `line`, in line order.
    const auto held_before = [&](uint64_t line) {
        for (const Held* h; more && (h = lowest()) != nullptr && h->first < line;) {
            const Held a = *h;
            const uint64_t last = h == &block ? block_last : a.first;
            passed(h);
            more = held_row(a, last);
        }
    };
    bool ok = s.lines.each_while([&](std::string_view r) {
        LineRow l;
        l.first = row_number(r);
        l.last = !r.empty() && r[0] >= '0' && r[0] <= '9' ? row_number(r) : l.first;
        const char code = r.empty() ? '\0' : r[0];
        l.what = line_what(code);
        held_before(l.first);
        if (code == kLineLabels) whole = l.first;
        if (more) more = take(l);
        return more;
    });
    if (ok) held_before(UINT64_MAX);
    // A list that could not be read back ends the rows where it failed.
    return ok && s.blocks_dropped.fault().empty() && s.labels_dropped.fault().empty();
}

void controls_shown(std::string& s, size_t from) {
    for (size_t i = from; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if ((c < ' ' && c != '\n') || c == 0x7F) s[i] = '?';
    }
}

void add_vprintf(std::string& s, const char* format, va_list ap) {
    va_list again;
    va_copy(again, ap);
    char buf[256];
    const int n = std::vsnprintf(buf, sizeof buf, format, ap);
    if (n > 0 && static_cast<size_t>(n) < sizeof buf) {
        s.append(buf, static_cast<size_t>(n));
    } else if (n > 0) {
        // Too long for the buffer: made again in place, at its length.
        const size_t at = s.size();
        s.resize(at + static_cast<size_t>(n) + 1);
        std::vsnprintf(s.data() + at, static_cast<size_t>(n) + 1, format, again);
        s.resize(at + static_cast<size_t>(n));
    }
    va_end(again);
}

void add_printf(std::string& s, const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    add_vprintf(s, format, ap);
    va_end(ap);
}

std::string printable(std::string_view t) {
    std::string s(t);
    for (char& c : s)
        if (c == '\n') c = '?';
    controls_shown(s, 0);
    return s;
}

// The low area (what goes to .hex, 65,536 bytes): the bytes of its HEX
// data records, the addresses its kept units take, the addresses used by
// either; the high area (what goes to .hxh): its data bytes and the
// addresses they cover.
Usage usage(const Report& r) {
    Usage u;
    u.hex = r.want_hex && r.hex.read;
    u.sym = r.want_sym && r.sym.read;
    LowMarks data(kLowSize + 1, 0), units(kLowSize + 1, 0);
    if (u.hex) {
        std::vector<Range> low;
        hex_ranges(r.hex, false, low);
        for (const Range& g : low) low_mark(data, g.first, g.last);
    }
    if (u.sym) unit_marks(units);
    u.low_used = low_covered(data, units);
    u.low_units = u.sym ? low_covered(units, LowMarks(kLowSize + 1, 0)) : 0;
    u.low_data = u.hex ? r.hex.low.data_bytes : 0;
    if (u.hex) {
        std::vector<Range> high;
        hex_ranges(r.hex, true, high);
        u.high_data = r.hex.high.data_bytes;
        u.high_used = covered(high);
    }
    return u;
}

// Only for a HEX file read through: a refused one has its diagnosis. In
// the order of the file, by line and column.
void warnings_print(std::FILE* out, const Report& r) {
    const HexReport& h = r.hex;
    if (!r.want_hex || !h.read) return;
    const std::string name = printable(h.name);
    std::vector<Warning> in_order(h.warnings);
    std::stable_sort(in_order.begin(), in_order.end(), [](const Warning& a, const Warning& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    for (const Warning& w : in_order)
        std::fprintf(out, "%s:%llu:%llu: warning: %s\n", name.c_str(), ull(w.line), ull(w.column), w.message.c_str());
    static const char* const kinds[kWarnKinds] = {"checksum mismatches", "byte count mismatches", "CR-only line ends",
                                                  "records of low data past FFFF", ""};
    for (int k = 0; k < kWarnKinds; ++k)
        if (h.warning_counts[k] > kShortRows)
            std::fprintf(out, "%s: warning: %llu more %s\n", name.c_str(), ull(h.warning_counts[k] - kShortRows),
                         kinds[k]);
}

unsigned list_kind(std::string_view name) {
    if (name == "units") return kListUnits;
    if (name == "functions") return kListFunctions;
    if (name == "labels") return kListLabels;
    if (name == "blocks") return kListBlocks;
    if (name == "segments") return kListSegments;
    if (name == "lines") return kListLines;
    return 0;
}

// With no kind asked for, each kind of what is cut shows its first rows and
// then how many more there are.
bool summary_print(std::FILE* out, const Report& r, unsigned lists) {
    const bool hex = r.want_hex && r.hex.read, sym = r.want_sym && r.sym.read;
    const bool short_form = lists == 0;
    const auto limit = [&](unsigned kind) { return short_form ? kShortRows : (lists & kind) ? UINT64_MAX : 0; };
    if (hex) hex_summary(out, r.hex);
    if (sym) sym_summary(out, r.sym);
    if (hex || sym) {
        std::fputc('\n', out);
        usage_table(out, r);
    }
    if (hex && limit(kListSegments) > 0) {
        const uint64_t listed = short_form
                                    ? static_cast<uint64_t>(std::count_if(r.hex.segments.begin(), r.hex.segments.end(),
                                                                          [](const Segment& s) { return s.high; }))
                                    : r.hex.segments.size();
        if (listed > 0) {
            std::fputc('\n', out);
            more_line(out, segment_rows(out, r.hex, short_form, limit(kListSegments)), "segments");
        }
    }
    if (!sym) return true;
    const bool unread_deleted =
        std::any_of(r.sym.unread.begin(), r.sym.unread.end(), [](const UnreadUnitLine& u) { return u.dropped; });
    if (limit(kListUnits) > 0 &&
        (short_form ? r.sym.units_deleted > 0 || unread_deleted : !unit_table.empty() || !r.sym.unread.empty())) {
        std::fputc('\n', out);
        more_line(out, unit_rows(out, r.sym, short_form, limit(kListUnits)), "units");
    }
    if (limit(kListFunctions) > 0 && r.sym.funcs_deleted > 0) {
        std::fputc('\n', out);
        function_rows(out, r.sym, limit(kListFunctions));
        if (short_form && r.sym.funcs_deleted > kShortRows)
            more_line(out, r.sym.funcs_deleted - kShortRows, "functions");
    }
    bool ok = true;
    const auto list = [&](const RowList& rows, const char* prefix, unsigned kind, const char* name) {
        if (limit(kind) == 0 || rows.empty()) return;
        std::fputc('\n', out);
        ok = dropped_rows(out, rows, prefix, kind == kListBlocks, limit(kind)) && ok;
        if (short_form && rows.size() > kShortRows) more_line(out, rows.size() - kShortRows, name);
    };
    list(r.sym.labels_dropped, "label dropped  ", kListLabels, "labels");
    list(r.sym.blocks_dropped, "block dropped  ", kListBlocks, "blocks");
    // Every line dropped or rewritten only when asked for: the counts are
    // in the totals.
    if (!short_form && (lists & kListLines) != 0 && r.sym.lines_dropped + r.sym.lines_rewritten > 0) {
        std::fputc('\n', out);
        ok = line_rows_print(out, r.sym, UINT64_MAX) && ok;
    }
    return ok;
}

}  // namespace report
