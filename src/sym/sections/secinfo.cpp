// secinfo.cpp: the lines of the SECTION INFORMATION block. A line of a
// deleted unit is dropped; a kept line gets its new unit number in four
// digits. A line that names a library (".LIB" in any case) may be followed by
// a continuation line, which begins with a blank, shares its fate and is
// never parsed. A continuation belongs to the library line right above it in
// the same block: a unit line in its place, or the end of the block, ends the
// wait for it.
#include <cstring>

#include "mrlpro.h"
#include "run/trace.h"
#include "sym/fields.h"
#include "sym/sections/sections.h"
#include "sym/symmake.h"
#include "sym/table.h"

// Looks for ".LIB" where it lies, without an upper-case copy of the line.
// Clearing bit 5 takes "l" to "L" and no other byte there.
bool names_library(std::string_view line) {
    for (size_t at = line.find('.'); at != std::string_view::npos && line.size() - at >= 4; at = line.find('.', at + 1))
        if ((line[at + 1] & 0xDF) == 'L' && (line[at + 2] & 0xDF) == 'I' && (line[at + 3] & 0xDF) == 'B') return true;
    return false;
}

// A line that the first pass reads into the unit table: it begins with
// neither a blank nor "#" and its first field is not empty.
bool sec_unit_line(std::string_view line) {
    return !line.empty() && line[0] != ' ' && line[0] != '#' && is_token_char(static_cast<unsigned char>(line[0]));
}

// The block ends (a blank line or a header): a library line at its end has
// no continuation.
void sec_block_end() {
    RewriteCarry& c = *rewrite_carry;
    c.sec_parse_next = 1;
    c.sec_lib_deleted = 0;
}

// One line of the block, whole. The continuation of a library line is
// written or dropped with it; any other line is read as "unit rest" and
// dropped with its unit or rewritten with the new unit number.
int sec_chg(std::string_view line, Rebuilt& out) {
    trace_str("===== sec_chg() =====\n");
    RewriteCarry& c = *rewrite_carry;
    if (c.sec_parse_next == 0 && !line.empty() && line[0] == ' ') {
        const int r = c.sec_lib_deleted;
        c.sec_parse_next = 1;
        c.sec_lib_deleted = 0;
        if (r != 0 && sym_observer != nullptr) sym_observer->continuation_dropped();
        return r;
    }
    std::string_view rest = line;
    const HexField unit = get_hex_token(rest);
    if (trace_on()) {
        trace_str(" Read Unit No. = ");
        trace_str(unit.text);
        trace_str("\n");
    }
    const uint32_t unit_no = hex_value(unit);
    uint32_t new_unit = 0;
    const int deleted = unit_search(unit_no, &new_unit);
    if (sym_observer != nullptr) sym_observer->unit_line(unit_no, deleted == 1, new_unit);

    if (names_library(line)) {
        c.sec_parse_next = 0;
        c.sec_lib_deleted = deleted;
    } else {
        c.sec_parse_next = 1;
        c.sec_lib_deleted = 0;
    }
    if (deleted == 1) {
        if (trace_on()) trace_fmt("  Unit No.%04X Delete\n", unit_no);
        return 1;
    }
    if (trace_on()) trace_fmt("  Unit No.%04X ==> %04X Change\n", unit_no, new_unit);
    // At least four digits, "0000" giving the zeros in front; new numbers
    // above FFFF are written in full.
    char digits[9], field[8];
    const std::string_view number = num_to_hex(new_unit, digits);
    const size_t zeros = number.size() < 4 ? 4 - number.size() : 0;
    std::memcpy(field, "0000", zeros);
    std::memcpy(field + zeros, number.data(), number.size());
    line_rebuild(out, "", {std::string_view(field, zeros + number.size())}, rest, line.ends_with('\n'));
    return 0;
}
