// json.cpp: the report as one JSON document, for build scripts and CI: the
// same facts as the text summary (totals, usage, every row of every kind,
// warnings and diagnoses with file, line and column), none shortened.
// Numbers, addresses and counts are JSON numbers. Text from the inputs is
// written as it was read: valid UTF-8 as it is, a control byte, and a byte
// that is not part of valid UTF-8, as \u00XX of the byte.
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "mrlpro.h"
#include "report/compare.h"
#include "report/report.h"
#include "sym/table.h"

namespace report {

namespace {

// The length of the valid UTF-8 sequence at the start of `s`, 0 when there
// is none (a stray or missing continuation byte, an overlong form, a
// surrogate, a code point above 10FFFF).
size_t utf8_length(std::string_view s) {
    const auto b = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char c = b(0);
    size_t n;
    unsigned cp;
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) {
        n = 2;
        cp = c & 0x1Fu;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3;
        cp = c & 0x0Fu;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4;
        cp = c & 0x07u;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0u) != 0x80u) return 0;
        cp = (cp << 6) | (b(i) & 0x3Fu);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

// `t` as a JSON string, quotes included.
std::string quoted(std::string_view t) {
    std::string q = "\"";
    size_t i = 0;
    while (i < t.size()) {
        const unsigned char c = static_cast<unsigned char>(t[i]);
        const size_t n = utf8_length(t.substr(i));
        if (c == '"' || c == '\\') {
            q.push_back('\\');
            q.push_back(static_cast<char>(c));
        } else if (n == 0 || c < 0x20 || c == 0x7F) {
            char u[8];
            std::snprintf(u, sizeof u, "\\u%04X", static_cast<unsigned>(c));
            q.append(u);
        } else {
            q.append(t.substr(i, n));
            i += n;
            continue;
        }
        ++i;
    }
    q.push_back('"');
    return q;
}

// Writes one JSON value or member at a time, with the commas between them.
class Writer {
public:
    explicit Writer(std::FILE* out) : out_(out) {}
    // `{` or `[`, as a member named `key` when `key` is not null.
    void open(const char* key, char bracket) {
        name(key);
        std::fputc(bracket, out_);
        first_ = true;
    }
    void close(char bracket) {
        std::fputc(bracket, out_);
        first_ = false;
    }
    void number(const char* key, uint64_t n) { raw(key, std::to_string(n)); }
    void boolean(const char* key, bool b) { raw(key, b ? "true" : "false"); }
    void text(const char* key, std::string_view t) { raw(key, quoted(t)); }
    void null(const char* key) { raw(key, "null"); }
    // A value written as it is, as a member named `key` when not null.
    void raw(const char* key, const std::string& value) {
        name(key);
        std::fwrite(value.data(), 1, value.size(), out_);
    }

private:
    void name(const char* key) {
        if (!first_) std::fputc(',', out_);
        first_ = false;
        if (key != nullptr) std::fprintf(out_, "\"%s\":", key);
    }
    std::FILE* out_;
    bool first_ = true;
};

// A line number, or null when the line is not known.
void line_json(Writer& w, const char* key, uint64_t line) {
    if (line != 0)
        w.number(key, line);
    else
        w.null(key);
}

void output_json(Writer& w, const char* key, const HexOutput& o) {
    w.open(key, '{');
    w.number("lines", o.lines);
    w.boolean("kept", o.kept);
    w.number("data_records", o.data_records);
    w.number("data_bytes", o.data_bytes);
    w.number("segment_records", o.segment_records);
    w.boolean("end_record", o.end_record);
    w.close('}');
}

void segments_json(Writer& w, const HexReport& h) {
    w.open("segments", '[');
    for (const Segment& s : h.segments) {
        w.open(nullptr, '{');
        if (s.value.empty())
            w.null("value");
        else
            w.text("value", s.value);
        w.boolean("high", s.high);
        w.number("base", s.base);
        w.number("records", s.records);
        w.number("bytes", s.bytes);
        w.number("unreadable", s.unreadable);
        w.open("spans", '[');
        for (const Span& sp : s.spans) {
            w.open(nullptr, '{');
            w.number("first", sp.first);
            w.number("last", sp.last);
            w.close('}');
        }
        w.close(']');
        w.close('}');
    }
    w.close(']');
}

void hex_json(Writer& w, const HexReport& h) {
    w.open("hex", '{');
    w.text("file", h.name);
    w.number("records", h.lines);
    w.number("data_records", h.data_records);
    w.number("segment_records", h.segment_records);
    w.number("end_records", h.end_records);
    w.number("after_end", h.after_end);
    output_json(w, "low", h.low);
    output_json(w, "high", h.high);
    static const char* const kinds[kWarnKinds] = {"checksum", "byte_count", "cr_only", "past_ffff", "after_end"};
    w.open("warning_counts", '{');
    for (int k = 0; k < kWarnKinds; ++k) w.number(kinds[k], h.warning_counts[k]);
    w.close('}');
    segments_json(w, h);
    w.close('}');
}

// Every unit line, in table order: kept ones with their new number,
// deleted ones with why (and the number whose first line decides, when
// another line does).
void units_json(Writer& w, const SymReport& s) {
    w.open("units", '[');
    for (const unit_record& u : unit_table) {
        const unit_record& d = unit_deciding(u);
        const int fate = unit_fate(d);
        w.open(nullptr, '{');
        line_json(w, "line", s.unit_line_of[u.seq]);
        w.number("number", u.unit_no);
        w.text("name", unit_name(u));
        w.number("start", u.start_addr);
        w.number("length", u.length);
        w.boolean("kept", fate == U_KEPT);
        if (fate == U_KEPT) {
            w.number("new_number", d.new_unit_no);
        } else {
            w.text("reason", why_deleted(fate));
            if (&d != &u) w.text("decided_by", unit_name(d));
        }
        w.close('}');
    }
    w.close(']');
}

// The unit lines the unit table never read, as the rewriting pass handled
// them.
void unread_json(Writer& w, const SymReport& s) {
    w.open("unread_unit_lines", '[');
    for (const UnreadUnitLine& u : s.unread) {
        w.open(nullptr, '{');
        w.number("line", u.line);
        w.number("number", u.unit_no);
        w.boolean("kept", !u.dropped);
        if (u.dropped)
            w.null("new_number");
        else
            w.number("new_number", u.new_unit);
        w.text("why", u.why == kUnreadLeadingBlank ? "leading blank" : "after the end of the table's reading");
        line_json(w, "ended_at", u.ended_at);
        w.text("reason", unread_why(u));
        w.close('}');
    }
    w.close(']');
}

// The labels dropped: label, address and line.
bool labels_json(Writer& w, const RowList& rows) {
    w.open("labels_dropped", '[');
    const bool ok = rows.each([&](std::string_view row) {
        const uint64_t line = row_number(row);
        const size_t blank = row.find(' ');
        w.open(nullptr, '{');
        w.text("label", row.substr(0, blank));
        w.text("address", blank == std::string_view::npos ? std::string_view() : row.substr(blank + 1));
        w.number("line", line);
        w.close('}');
    });
    w.close(']');
    return ok;
}

// The blocks dropped: the kind, the header as read, the first and last
// line (the header's and the block's last).
bool blocks_json(Writer& w, const RowList& rows) {
    w.open("blocks_dropped", '[');
    const bool ok = rows.each([&](std::string_view row) {
        const BlockRow b = block_row(row);
        w.open(nullptr, '{');
        w.text("kind", b.kind);
        w.text("header", b.header);
        w.number("first_line", b.first);
        w.number("last_line", b.last);
        w.close('}');
    });
    w.close(']');
    return ok;
}

// Every line dropped or rewritten, in file order.
bool lines_json(Writer& w, const SymReport& s) {
    w.open("lines", '[');
    const bool ok = line_rows(s, [&](const LineRow& l) {
        w.open(nullptr, '{');
        w.number("first_line", l.first);
        w.number("last_line", l.last);
        w.text("action", l.dropped ? "dropped" : "rewritten");
        w.text("what", l.what);
        w.close('}');
        return true;
    });
    w.close(']');
    return ok;
}

bool sym_json(Writer& w, const SymReport& s) {
    w.open("sym", '{');
    w.text("file", s.name);
    w.number("unit_records", s.unit_records);
    w.number("units_kept", s.units_kept);
    w.number("units_deleted", s.units_deleted);
    w.number("units_ends_high", s.units_ends_high);
    w.number("units_empty_high", s.units_empty_high);
    w.number("units_empty_e", s.units_empty_e);
    w.number("function_records", s.func_records);
    w.number("functions_deleted", s.funcs_deleted);
    w.number("lines_dropped", s.lines_dropped);
    w.number("lines_rewritten", s.lines_rewritten);
    units_json(w, s);
    unread_json(w, s);
    w.open("functions_dropped", '[');
    for (const func_record& f : func_table) {
        if (func_deciding(f).delete_mode != 1) continue;
        w.open(nullptr, '{');
        w.number("number", f.func_no);
        w.number("unit", f.unit_no);
        line_json(w, "line", s.func_line_of(f.seq));
        w.close('}');
    }
    w.close(']');
    bool ok = labels_json(w, s.labels_dropped);
    ok = blocks_json(w, s.blocks_dropped) && ok;
    ok = lines_json(w, s) && ok;
    w.close('}');
    return ok;
}

void usage_json(Writer& w, const Report& r) {
    const Usage u = usage(r);
    w.open("usage", '{');
    w.open("low", '{');
    if (u.hex)
        w.number("data", u.low_data);
    else
        w.null("data");
    if (u.sym)
        w.number("units", u.low_units);
    else
        w.null("units");
    w.number("used", u.low_used);
    w.number("size", 0x10000);
    w.close('}');
    if (u.hex) {
        w.open("high", '{');
        w.number("data", u.high_data);
        w.number("used", u.high_used);
        w.close('}');
    } else {
        w.null("high");
    }
    w.close('}');
}

// The warnings in file order; only those the report keeps (the first
// kShortRows of each kind: warning_counts has them all).
void warnings_json(Writer& w, const Report& r) {
    w.open("warnings", '[');
    if (r.want_hex && r.hex.read) {
        static const char* const kinds[kWarnKinds] = {"checksum", "byte_count", "cr_only", "past_ffff", "after_end"};
        std::vector<Warning> in_order(r.hex.warnings);
        std::stable_sort(in_order.begin(), in_order.end(), [](const Warning& a, const Warning& b) {
            return a.line != b.line ? a.line < b.line : a.column < b.column;
        });
        for (const Warning& x : in_order) {
            w.open(nullptr, '{');
            w.text("file", r.hex.name);
            w.number("line", x.line);
            w.number("column", x.column);
            w.text("kind", x.kind >= 0 && x.kind < kWarnKinds ? kinds[x.kind] : "");
            w.text("message", x.message);
            w.close('}');
        }
    }
    w.close(']');
}

void diagnoses_json(Writer& w, const std::vector<Diagnosis>& all) {
    w.open("diagnoses", '[');
    for (const Diagnosis& d : all) {
        w.open(nullptr, '{');
        w.text("file", d.file);
        w.number("line", d.line);
        w.number("column", d.column);
        w.text("message", d.message);
        w.text("hint", d.hint);
        w.text("text", d.text);
        w.number("text_from", d.text_from);
        w.number("place", static_cast<uint64_t>(d.place));
        w.number("status", static_cast<uint64_t>(d.status));
        w.close('}');
    }
    w.close(']');
}

}  // namespace

// A file not read (not asked for, or refused) is null.
bool json_write(std::FILE* out, const Report& r, int status) {
    Writer w(out);
    bool ok = true;
    w.open(nullptr, '{');
    w.number("version", 1);
    w.number("status", static_cast<uint64_t>(status));
    if (r.want_hex && r.hex.read)
        hex_json(w, r.hex);
    else
        w.null("hex");
    if (r.want_sym && r.sym.read)
        ok = sym_json(w, r.sym);
    else
        w.null("sym");
    usage_json(w, r);
    warnings_json(w, r);
    diagnoses_json(w, r.problems);
    if (r.compare != nullptr) {
        w.raw("compare", "");
        compare_json_write(out, *r.compare, quoted);
    }
    w.close('}');
    std::fputc('\n', out);
    return ok;
}

}  // namespace report
