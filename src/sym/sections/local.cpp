// local.cpp: LOCAL LABEL headers (one unit) and LOCAL SYMBOL / LOCAL BIT
// SYMBOL headers (a range of units). A kept header gets the new unit numbers;
// a header with no kept unit is dropped with its block.
#include <cstring>

#include "mrlpro.h"
#include "run/message.h"
#include "run/trace.h"
#include "sym/fields.h"
#include "sym/sections/sections.h"
#include "sym/table.h"

int loc_lab_chg(std::string_view line, Rebuilt& out) {
    if (trace_on()) {
        trace_str("===== loc_lab_chg() =====\n");
        trace_str("  data : ");
        trace_str(line);
    }
    std::string_view rest = line.substr(sec_header[SEC_LOCAL_LABEL].size());
    const HexField unit = get_hex_token(rest);
    if (trace_on()) {
        trace_str("unit number [");
        trace_str(unit.text);
        trace_str("]\n");
    }
    uint32_t new_unit = 0;
    if (unit_search(hex_value(unit), &new_unit) == 1) return 1;
    char unit_text[9];
    line_rebuild(out, sec_header[SEC_LOCAL_LABEL], {num_to_hex(new_unit, unit_text)}, "", true);
    return 0;
}

// A range "first-last". Deleted ends move inward to the nearest kept unit:
// the first end upward (bounded by the highest unit of the table), the last
// end downward (bounded by the lowest). The walks use 64-bit numbers, so they
// never wrap around past 0 or FFFFFFFF. Every number a walk passes must be in
// the table; a run of consecutive deleted numbers is passed in one step.
int loc_sym_chg(std::string_view line, SecKind kind, Rebuilt& out) {
    if (trace_on()) {
        trace_str("===== loc_sym_chg() =====\n");
        trace_str("  data : ");
        trace_str(line);
    }
    const std::string_view header = sec_header[kind];
    std::string_view text = line.substr(header.size());
    const size_t dash = text.find('-');
    if (dash == std::string_view::npos) {
        error_msg(E_FORMAT, input_sym);
        error_exit(kStatusFormat, L_NO_RANGE_DASH);
    }
    std::string_view first_text = text.substr(0, dash);
    size_t end = dash + 1;
    while (end < text.size() && is_token_char(static_cast<unsigned char>(text[end]))) ++end;
    std::string_view last_text = text.substr(dash + 1, end - dash - 1);

    const uint32_t first = hex_to_num(first_text);
    const uint32_t last = hex_to_num(last_text);
    uint32_t n_first = 0, n_last = 0;
    int d_first = unit_search(first, &n_first);
    int d_last = unit_search(last, &n_last);
    if (last == first) {
        if (d_first == 1) return 1;
    } else {
        if (d_first == 1) {
            const int64_t top = unit_tail()->unit_no;
            for (int64_t u = int64_t{first} + 1; u <= top; ++u) {
                d_first = unit_search(static_cast<uint32_t>(u), &n_first);
                if (d_first == 0) break;
                u = unit_deleted_run_end(static_cast<uint32_t>(u), +1);
            }
        }
        if (d_last == 1) {
            const int64_t bottom = unit_head()->unit_no;
            for (int64_t u = int64_t{last} - 1; u >= bottom; --u) {
                d_last = unit_search(static_cast<uint32_t>(u), &n_last);
                if (d_last == 0) break;
                u = unit_deleted_run_end(static_cast<uint32_t>(u), -1);
            }
        }
        if (n_first > n_last || d_first == 1 || d_last == 1) return 1;
    }
    // "first-last" is one field.
    char first_digits[9], last_digits[9], range[2 * 8 + 1];
    const std::string_view f = num_to_hex(n_first, first_digits), l = num_to_hex(n_last, last_digits);
    std::memcpy(range, f.data(), f.size());
    range[f.size()] = '-';
    std::memcpy(range + f.size() + 1, l.data(), l.size());
    line_rebuild(out, header, {std::string_view(range, f.size() + 1 + l.size())}, "", true);
    return 0;
}
