// diagnose.cpp: why mrl85 refuses an input, said where the fault is, in the
// form compilers use: "file:line:column: message", then the line with a
// mark under the column, then the error exit mrl85 ends with there.
#include <cstdio>
#include <string>

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
// each line feed, as the symbol pass reads them. Long lines are cut; the
// diagnosis shows only their start.
std::string file_line(const std::string& name, uint64_t line_no) {
    constexpr size_t kShown = 4096;
    std::string line;
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
        if (at == line_no && line.size() < kShown) line.push_back(static_cast<char>(c));
    }
    std::fclose(f);
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

}  // namespace

Diagnosis diagnose_hex(const std::string& file, int place, uint64_t line_no, uint64_t column, std::string_view text) {
    Diagnosis d;
    d.file = file;
    d.line = line_no;
    d.place = place;
    d.status = kStatusFormat;
    d.text = std::string(without_line_end(text));
    d.text_from = column + 1;
    const std::string_view t = d.text;
    switch (place) {
        case L_HEX_NO_MARK:
            d.column = column + 1;
            d.message = column == 0 ? "a record begins with \":\"; this line does not"
                                    : "the line is longer than 255 characters: mrl85 reads them as one record and "
                                      "what follows as the next, which does not begin with \":\"";
            break;
        case L_HEX_SHORT:
            d.column = column + t.size() + 1;
            // The line end counts toward the 11, as the HEX pass measures a
            // line with it.
            d.message = "record too short: " + std::to_string(text.size()) + " characters with the line end, " +
                        "and a record has at least 11";
            break;
        default:
            d.column = column + 8;
            d.message =
                "record type \"" + std::string(t.substr(7, 2)) + "\" is not handled (types 00, 01, 02 and 81 are)";
            break;
    }
    return d;
}

Diagnosis diagnose_sym(const std::string& file, const run_stopped& stop, uint64_t line_no) {
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
            d.message = "\"" + fault_text + "\" is not a hexadecimal number";
            break;
        }
        case L_HEX_TOO_LONG:
            at = token_at(t, fault_text);
            d.message = "\"" + fault_text + "\" has more than 8 significant digits";
            break;
        case L_NO_UNIT:
            if (sec_kind(t) == SEC_FUNC) {
                at = unit_field_of_func(t);
            } else {
                at = number_at(t.substr(after_header(t)), fault_number);
                if (at != std::string_view::npos) at += after_header(t);
            }
            d.message = "unit " + hex4(fault_number) + " is not in SECTION INFORMATION";
            if (at == std::string_view::npos && sec_kind(t) <= SEC_LOCAL_BIT_SYMBOL)
                d.message += " (a range passes over it, and every unit it passes over must be there)";
            break;
        case L_NO_FUNC:
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

// The diagnosis, the line (control bytes shown as "?", here and in the
// message, so that the mark stays under its column on a terminal and
// nothing from the input acts on it) and mrl85's error exit.
void diagnosis_print(std::FILE* out, const Diagnosis& d) {
    if (d.line == 0) {
        std::fprintf(out, "%s: %s\n", printable(d.file).c_str(), printable(d.message).c_str());
    } else {
        std::fprintf(out, "%s:%llu:%llu: %s\n", printable(d.file).c_str(), static_cast<unsigned long long>(d.line),
                     static_cast<unsigned long long>(d.column), printable(d.message).c_str());
        const std::string line = printable(d.text);
        const std::string number = std::to_string(d.line);
        std::fprintf(out, " %s | %s\n", number.c_str(), line.c_str());
        if (d.column >= d.text_from && d.column - d.text_from <= line.size())
            std::fprintf(out, " %s | %s^\n", std::string(number.size(), ' ').c_str(),
                         std::string(static_cast<size_t>(d.column - d.text_from), ' ').c_str());
    }
    if (d.status == kStatusFormat && d.place != L_NO_MEMORY && d.place != L_OUT_OF_MEMORY)
        std::fprintf(out, "  mrl85 refuses this file: File format error, status 3, error exit at %d\n", d.place);
    else if (d.place != 0)
        std::fprintf(out, "  mrl85 stops here too: status %d, error exit at %d\n", d.status, d.place);
}

}  // namespace report
