// summary.cpp: the text summary. Totals first, then the lists; every row of
// a list begins with what it is ("unit kept", "unit deleted", "function
// deleted", "label dropped", "block dropped", "segment"), so that grep finds
// each kind, and the columns are aligned.
#include <algorithm>
#include <cstdio>
#include <string>

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
}

void segment_rows(std::FILE* out, const HexReport& h) {
    for (const Segment& s : h.segments) {
        std::fprintf(out, "segment %-4s  %s  base %05X  %8llu records %10llu bytes ",
                     s.value.empty() ? "none" : printable(s.value).c_str(), s.high ? "high" : "low ",
                     static_cast<unsigned>(s.base), ull(s.records), ull(s.bytes));
        for (const Span& sp : s.spans) std::fprintf(out, " %04X-%04X", sp.first, sp.last);
        if (s.unreadable > 0) std::fprintf(out, "  (%llu records unreadable)", ull(s.unreadable));
        std::fputc('\n', out);
    }
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
    void put(std::FILE* out) {
        line_.push_back('\n');
        std::fwrite(line_.data(), 1, line_.size(), out);
        line_.clear();
    }

private:
    std::string line_;
};

void unit_rows(std::FILE* out) {
    size_t width = 4;
    for (const unit_record& u : unit_table) width = std::max(width, std::min<size_t>(unit_name(u).size(), 24));
    Row row;
    for (const unit_record& u : unit_table) {
        const unit_record& d = unit_deciding(u);
        if (unit_fate(d) != U_KEPT) continue;
        row.text("unit kept     ").hex(u.unit_no, 4).text(" -> ").hex(d.new_unit_no, 4).text("  ");
        row.padded(unit_name(u), width).text("  ").hex(u.start_addr, 8).text("  ").hex(u.length, 8).put(out);
    }
    for (const unit_record& u : unit_table) {
        const unit_record& d = unit_deciding(u);
        const int fate = unit_fate(d);
        if (fate == U_KEPT) continue;
        row.text("unit deleted  ").hex(u.unit_no, 4).text("          ").padded(unit_name(u), width).text("  ");
        row.hex(u.start_addr, 8).text("  ").hex(u.length, 8).text("  ").text(why_deleted(fate));
        // Another line of the same number decided: say so, since this
        // line's own start and length do not show why.
        if (&d != &u)
            row.text(" (the line of ").name(unit_name(d)).text(" decides for number ").hex(d.unit_no, 4).text(")");
        row.put(out);
    }
}

// A FUNC line goes with the first record of its number.
void function_rows(std::FILE* out) {
    Row row;
    for (const func_record& f : func_table)
        if (func_deciding(f).delete_mode == 1)
            row.text("function deleted  ").hex(f.func_no, 4).text("  unit ").hex(f.unit_no, 4).put(out);
}

}  // namespace

void controls_shown(std::string& s, size_t from) {
    for (size_t i = from; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if ((c < ' ' && c != '\n') || c == 0x7F) s[i] = '?';
    }
}

std::string printable(std::string_view t) {
    std::string s(t);
    for (char& c : s)
        if (c == '\n') c = '?';
    controls_shown(s, 0);
    return s;
}

bool summary_print(std::FILE* out, const Report& r) {
    if (r.want_hex && r.hex.read) hex_summary(out, r.hex);
    if (r.want_sym && r.sym.read) sym_summary(out, r.sym);
    if (r.want_hex && r.hex.read && !r.hex.segments.empty()) {
        std::fputc('\n', out);
        segment_rows(out, r.hex);
    }
    if (!(r.want_sym && r.sym.read)) return true;
    if (!unit_table.empty()) {
        std::fputc('\n', out);
        unit_rows(out);
    }
    if (r.sym.funcs_deleted > 0) {
        std::fputc('\n', out);
        function_rows(out);
    }
    bool ok = true;
    if (!r.sym.labels_dropped.empty()) {
        std::fputc('\n', out);
        ok = r.sym.labels_dropped.print(out, "label dropped  ") && ok;
    }
    if (!r.sym.blocks_dropped.empty()) {
        std::fputc('\n', out);
        ok = r.sym.blocks_dropped.print(out, "block dropped  ") && ok;
    }
    return ok;
}

}  // namespace report
