// diagnose.cpp: why mrl85 refuses an input, said where the fault is, in the
// form compilers use: "file:line:column: error: message", then the line
// with a mark under the column, a hint when there is a short one, and the
// error exit mrl85 ends with there.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "mrlpro.h"
#include "report/report.h"
#include "run/message.h"
#include "sym/fields.h"

namespace report {

namespace {

std::string hex4(uint32_t n) {
    char text[16];
    std::snprintf(text, sizeof text, "%04X", static_cast<unsigned>(n));
    return text;
}

// The line without its line end.
std::string_view without_line_end(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    return line;
}

// Line `line_no` (from 1) of the file, without its line end: lines end at
// each line feed, as both passes count them. Only the first `kept`
// characters of a long line are kept (the diagnosis shows a piece of it);
// `length`, when given, gets the length of the whole line.
std::string file_line(const std::string& name, uint64_t line_no, size_t kept = 4096, uint64_t* length = nullptr) {
    const size_t kShown = kept;
    std::string line;
    uint64_t count = 0;
    int last = EOF;
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr || line_no == 0) {
        if (f != nullptr) std::fclose(f);
        return line;
    }
    uint64_t at = 1;
    int c;
    while ((c = std::fgetc(f)) != EOF) {
        if (c == '\n') {
            if (at == line_no) break;
            ++at;
            continue;
        }
        if (at != line_no) continue;
        ++count;
        last = c;
        if (line.size() < kShown) line.push_back(static_cast<char>(c));
    }
    std::fclose(f);
    if (length != nullptr) *length = count - (last == '\r' ? 1 : 0);
    return std::string(without_line_end(line));
}

bool ends_token(char c) { return c == ' ' || c == '-' || c == '\t' || c == '\r' || c == '\n'; }

// Where the text `token` stands in `line` as a field of its own (or as one
// end of a "first-last" range), from 0; npos when it does not.
size_t token_at(std::string_view line, std::string_view token) {
    if (token.empty()) return std::string_view::npos;
    for (size_t at = line.find(token); at != std::string_view::npos; at = line.find(token, at + 1)) {
        const bool left = at == 0 || ends_token(line[at - 1]);
        const bool right = at + token.size() == line.size() || ends_token(line[at + token.size()]);
        if (left && right) return at;
    }
    return std::string_view::npos;
}

// Where the first field of `line` (or end of a range) that reads as the
// number `n` stands, from 0; npos when none does.
size_t number_at(std::string_view line, uint32_t n) {
    size_t at = 0;
    while (at < line.size()) {
        while (at < line.size() && ends_token(line[at])) ++at;
        size_t end = at;
        while (end < line.size() && !ends_token(line[end])) ++end;
        const std::string_view field = line.substr(at, end - at);
        uint32_t v = 0;
        bool digits = !field.empty();
        size_t significant = 0;
        for (char ch : field) {
            const unsigned d = hex_digit_value.of[static_cast<unsigned char>(ch)];
            if (d > 15) digits = false;
            if (significant > 0 || d != 0) ++significant;
            v = v * 16 + d;
        }
        if (digits && significant <= 8 && v == n) return at;
        at = end;
    }
    return std::string_view::npos;
}

// Where the fields after a header's literal begin, from 0 (0 for a line
// that is no header).
size_t after_header(std::string_view line) {
    const SecKind kind = sec_kind(line);
    return kind != SEC_NONE ? sec_header[kind].size() : 0;
}

// Where the unit field of a FUNC line ("# FUNC func name unit ...")
// stands, from 0: the third field as the first pass splits the line,
// whatever the first two read as (the function number may well equal the
// unit number).
size_t unit_field_of_func(std::string_view line) {
    std::string_view rest = line.substr(after_header(line));
    get_token(rest);
    get_token(rest);
    const std::string_view unit = get_token(rest);
    return unit.empty() ? std::string_view::npos : static_cast<size_t>(unit.data() - line.data());
}

// A character of the input as a message names it.
std::string char_named(char c) {
    switch (c) {
        case ' ': return "a blank";
        case '\t': return "a tab";
        case '\r': return "a carriage return";
        case '\0': return "a NUL byte";
        default: break;
    }
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
        char text[32];
        std::snprintf(text, sizeof text, "the control byte %02X", static_cast<unsigned>(u));
        return text;
    }
    return std::string{'"', c, '"'};
}

// Text from the input quoted in a message: a tab, carriage return or NUL
// written as \t, \r, \0, so that the message says what is there.
std::string quoted(std::string_view text) {
    std::string q = "\"";
    for (char c : text) {
        if (c == '\t')
            q += "\\t";
        else if (c == '\r')
            q += "\\r";
        else if (c == '\0')
            q += "\\0";
        else
            q += c;
    }
    return q + "\"";
}

// The header's literal without its trailing blank, as a message quotes it.
std::string header_named(std::string_view line) {
    const SecKind kind = sec_kind(line);
    std::string_view h = kind != SEC_NONE ? sec_header[kind] : std::string_view("#");
    while (!h.empty() && h.back() == ' ') h.remove_suffix(1);
    std::string named = "\"";
    named.append(h);
    named.push_back('"');
    return named;
}

// Whether the fields after the header hold anything at all.
bool fields_empty(std::string_view line) {
    std::string_view rest = line.substr(after_header(line));
    return get_token(rest).empty();
}

// The value of a field of hexadecimal digits; false when it is none.
bool hex_value(std::string_view field, uint64_t& v) {
    v = 0;
    if (field.empty() || field.size() > 8) return false;
    for (char ch : field) {
        const unsigned d = hex_digit_value.of[static_cast<unsigned char>(ch)];
        if (d > 15) return false;
        v = v * 16 + d;
    }
    return true;
}

// The two ends of a "first-last" range after the header; false when the
// line holds none that reads as numbers.
bool range_ends(std::string_view line, uint64_t& first, uint64_t& last) {
    std::string_view rest = line.substr(after_header(line));
    const std::string_view field = get_token(rest);
    const size_t dash = field.find('-');
    return dash != std::string_view::npos && hex_value(field.substr(0, dash), first) &&
           hex_value(field.substr(dash + 1), last);
}

}  // namespace

Diagnosis diagnose_hex(const std::string& file, int place, uint64_t line_no, uint64_t column, std::string_view text) {
    Diagnosis d;
    d.file = file;
    d.line = line_no;
    d.place = place;
    d.status = kStatusFormat;
    // The whole line, not only the piece the pass looked at (a line longer
    // than 255 characters comes in pieces); the piece when it cannot be read.
    uint64_t whole_length = 0;
    const std::string whole = file_line(file, line_no, static_cast<size_t>(column) + 4096, &whole_length);
    const bool have_whole = whole.size() >= column + without_line_end(text).size();
    d.text = have_whole ? whole : std::string(without_line_end(text));
    d.text_from = have_whole ? 1 : column + 1;
    const std::string_view piece = without_line_end(text);
    const uint64_t length = have_whole ? whole_length : column + piece.size();
    switch (place) {
        case L_HEX_NO_MARK:
            d.column = column + 1;
            if (column == 0) {
                d.message = "a record begins with \":\"; this line ";
                d.message += piece.empty() ? "is empty" : "begins with " + char_named(piece[0]);
                if (piece.empty())
                    d.hint = "remove the empty line";
                else if (piece.find(':') != std::string_view::npos)
                    d.hint = "remove what stands before the \":\"";
            } else {
                d.message = "the line is " + std::to_string(length) +
                            " characters long: mrl85 reads a line in pieces of 255 characters, its line end "
                            "included, and reads the rest as a record of its own, which does not begin with \":\"";
                d.hint = "split the record into records of at most 254 characters";
            }
            break;
        case L_HEX_SHORT:
            d.column = column + piece.size() + 1;
            d.message = "record too short: " + std::to_string(length) +
                        " characters; a record has at least 11 (\":\", byte count, address, type and checksum)";
            break;
        default: {
            const std::string_view t = text;
            const std::string type(t.substr(7, 2));
            uint64_t count = 0;
            const uint64_t data = length >= 11 ? (length - 11) / 2 : 0;
            if (column == 0 && hex_value(t.substr(1, 2), count) && (count != data || length % 2 == 0)) {
                // The type is read at a fixed column: with a byte count that
                // does not match the length, the fault is rather the length.
                d.column = 2;
                d.message = "the byte count " + std::string(t.substr(1, 2)) + " says " + std::to_string(count) +
                            " data bytes, a record of " + std::to_string(11 + 2 * count) +
                            " characters, but this one has " + std::to_string(length) +
                            "; mrl85 reads its record type as \"" + type + "\" and does not handle that";
                d.hint = "check that the record is whole and its byte count right";
            } else {
                d.column = column + 8;
                d.message = "record type \"" + type + "\" is not handled (types 00, 01, 02 and 81 are)";
                if (type == "04")
                    d.hint = "use segment (02) records: mrl85 routes by segment";
                else if (type == "03" || type == "05")
                    d.hint = "leave out the start address record: mrl85 takes none";
            }
            break;
        }
    }
    return d;
}

Diagnosis diagnose_sym(const std::string& file, const run_stopped& stop, uint64_t line_no,
                       const UnreadUnitLine* unread) {
    const int place = stop.place;
    const std::string& fault_text = stop.text;
    const uint32_t fault_number = stop.number;
    Diagnosis d;
    d.file = file;
    d.line = line_no;
    d.place = place;
    d.status = stop.status;
    d.text = file_line(file, line_no);
    const std::string_view t = d.text;
    size_t at = std::string_view::npos;
    switch (place) {
        case L_SYM_CR_ONLY:
            at = t.find('\r');
            d.message = "the lines end in carriage returns alone; a symbol file's lines end in line feeds";
            d.text = std::string(t.substr(0, at == std::string_view::npos ? t.size() : at));
            break;
        case L_HEX_DIGIT: {
            at = token_at(t, fault_text);
            size_t bad = 0;
            while (bad < fault_text.size() && hex_digit_value.of[static_cast<unsigned char>(fault_text[bad])] < 16)
                ++bad;
            if (at != std::string_view::npos) at += bad;
            d.message = quoted(fault_text) + " is not a hexadecimal number";
            if (bad < fault_text.size() && static_cast<unsigned char>(fault_text[bad]) <= ' ') {
                d.message += ": it holds " + char_named(fault_text[bad]);
                d.hint = "fields are separated by blanks; a tab or other control byte is part of a field";
            }
            break;
        }
        case L_HEX_TOO_LONG:
            at = token_at(t, fault_text);
            d.message = quoted(fault_text) + " has more than 8 significant digits";
            break;
        case L_NO_UNIT: {
            const SecKind kind = sec_kind(t);
            const bool header = kind != SEC_NONE;
            const std::string unit = "unit " + hex4(fault_number) + " is not in SECTION INFORMATION";
            if (kind == SEC_FUNC) at = unit_field_of_func(t);
            if (header && (kind == SEC_FUNC ? at == std::string_view::npos : fields_empty(t))) {
                // No field at all: the pass reads the missing number as 0.
                at = t.size();
                d.message = "the " + header_named(t) + " line has no unit number, which mrl85 reads as 0000: " + unit;
                d.hint = kind == SEC_FUNC ? "a FUNC line is \"# FUNC function name unit ...\"" : "give the unit number";
                break;
            }
            if (kind != SEC_FUNC) {
                at = number_at(t.substr(after_header(t)), fault_number);
                if (at != std::string_view::npos) at += after_header(t);
            }
            d.message = unit;
            uint64_t first = 0, last = 0;
            if (!header && unread != nullptr && unread->why == kUnreadAfterEnd) {
                // A line with no first field ends the unit table's reading
                // of its block; the rewriting goes on to the block's end.
                const std::string end = "line " + std::to_string(unread->ended_at);
                d.message += ": " + end + " begins with " + char_named(unread->ended_by) +
                             ", which ends the unit table's reading of this block, and this line comes after it";
                d.hint =
                    "remove " + end + " (or the byte at its start), so that the unit table reads the lines after it";
            } else if (!header && !t.empty() && (t[0] == ' ' || t[0] == '\t')) {
                // A unit line that begins with a blank: the unit table's
                // reading passes over it, the rewriting does not.
                d.message +=
                    ": this line begins with " + char_named(t[0]) + ", and the unit table is read without such lines";
                d.hint = "remove the " + std::string(t[0] == '\t' ? "tab" : "blank") + " before the unit number";
            } else if (at == std::string_view::npos && (kind == SEC_LOCAL_SYMBOL || kind == SEC_LOCAL_BIT_SYMBOL) &&
                       range_ends(t, first, last)) {
                // Deleted ends move inward, each by a walk that looks up every
                // number it passes, and may walk past the range's other end.
                const bool up = fault_number > first;
                const bool past = up ? fault_number > last : fault_number < first;
                d.message += std::string(": the range's ") + (up ? "first" : "last") + " end " +
                             hex4(static_cast<uint32_t>(up ? first : last)) + " is deleted, and mrl85 looks " +
                             (up ? "upward" : "downward") + " from it for a kept unit" +
                             (past ? std::string(", past the range's other end ") +
                                         hex4(static_cast<uint32_t>(up ? last : first)) + ","
                                   : std::string()) +
                             " through every number, each of which must be in SECTION INFORMATION";
                at = after_header(t);
            }
            break;
        }
        case L_NO_FUNC:
            if (fields_empty(t)) {
                at = t.size();
                d.message = "the " + header_named(t) +
                            " line has no function number, which mrl85 reads as 0000: function 0000 has no \"# FUNC\" "
                            "line";
                d.hint = "give the function number";
                break;
            }
            at = number_at(t.substr(after_header(t)), fault_number);
            if (at != std::string_view::npos) at += after_header(t);
            d.message = "function " + hex4(fault_number) + " has no \"# FUNC\" line";
            break;
        case L_NO_RANGE_DASH: d.message = "the unit range has no \"-\" (a range is \"first-last\")"; break;
        default: d.message = "the file is refused"; break;
    }
    if (at == std::string_view::npos) at = after_header(t);
    d.column = line_no == 0 ? 0 : at + 1;
    return d;
}

namespace {

// The line as shown, with the column of the mark in it: a long line is
// cut to a window around the column, "..." where it was cut.
std::string shown_line(const Diagnosis& d, size_t& mark, bool& marked) {
    constexpr size_t kWidth = 76, kBefore = 36;
    const std::string line = printable(d.text);
    marked = d.column >= d.text_from && d.column - d.text_from <= line.size();
    mark = marked ? static_cast<size_t>(d.column - d.text_from) : 0;
    if (line.size() <= kWidth) return line;
    const size_t from = mark > kBefore ? std::min(mark - kBefore, line.size() - kWidth) : 0;
    std::string shown = from > 0 ? "..." : "";
    shown += line.substr(from, kWidth);
    if (from + kWidth < line.size()) shown += "...";
    mark = mark - from + (from > 0 ? 3 : 0);
    return shown;
}

// The diagnosis, the line (control bytes shown as "?", here and in the
// message, so that the mark stays under its column on a terminal and
// nothing from the input acts on it), the hint and mrl85's error exit;
// `stop` is the error exit at which mrl85 stops before it gets here, or 0.
void diagnosis_show(std::FILE* out, const Diagnosis& d, int stop) {
    if (d.line == 0) {
        std::fprintf(out, "%s: error: %s\n", printable(d.file).c_str(), printable(d.message).c_str());
    } else {
        std::fprintf(out, "%s:%llu:%llu: error: %s\n", printable(d.file).c_str(),
                     static_cast<unsigned long long>(d.line), static_cast<unsigned long long>(d.column),
                     printable(d.message).c_str());
        size_t mark = 0;
        bool marked = false;
        const std::string line = shown_line(d, mark, marked);
        const std::string number = std::to_string(d.line);
        std::fprintf(out, " %s | %s\n", number.c_str(), line.c_str());
        if (marked)
            std::fprintf(out, " %s | %s^\n", std::string(number.size(), ' ').c_str(), std::string(mark, ' ').c_str());
    }
    if (!d.hint.empty()) std::fprintf(out, "  hint: %s\n", printable(d.hint).c_str());
    if (stop != 0)
        std::fprintf(out, "  mrl85 does not get here: it stops earlier, at error exit %d\n", stop);
    else if (d.status == kStatusFormat && d.place != L_NO_MEMORY && d.place != L_OUT_OF_MEMORY)
        std::fprintf(out, "  mrl85 refuses this file: File format error, status 3, error exit at %d\n", d.place);
    else if (d.place != 0)
        std::fprintf(out, "  mrl85 stops here too: status %d, error exit at %d\n", d.status, d.place);
}

}  // namespace

void diagnosis_print(std::FILE* out, const Diagnosis& d) { diagnosis_show(out, d, 0); }

// mrl85 opens both inputs before it reads either, so an input it cannot
// open stops it before any other fault (the HEX file is opened first);
// else it stops at the first fault, the HEX pass running first.
void diagnoses_print(std::FILE* out, const std::vector<Diagnosis>& all) {
    size_t stop = all.size();
    for (size_t i = 0; i < all.size() && stop == all.size(); ++i)
        if (all[i].place == L_OPEN_IN_HEX) stop = i;
    for (size_t i = 0; i < all.size() && stop == all.size(); ++i)
        if (all[i].place == L_OPEN_IN_SYM) stop = i;
    if (stop == all.size()) stop = 0;
    for (size_t i = 0; i < all.size(); ++i)
        diagnosis_show(out, all[i], i == stop || all.size() < 2 ? 0 : all[stop].place);
}

}  // namespace report
