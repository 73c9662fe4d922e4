// global.cpp: the lines of the GLOBAL LABEL, GLOBAL SYMBOL and GLOBAL BIT
// SYMBOL blocks. Labels above FFFF leave GLOBAL LABEL lines; the symbol lines
// pass unchanged.
#include "mrlpro.h"

// Keeps every "label address" pair of the line whose address is at most FFFF,
// as "label address" and two blanks each, and drops a line left with none.
// Every pair on the line is judged, however many there are.
int glb_lab_chg(std::string& line) {
    trace_str("===== glb_lab_chg() =====\n");
    static std::string out;
    out.clear();
    int result = 1;
    std::string_view rest = line;
    for (;;) {
        const std::string_view label = get_token(rest);
        if (label.empty()) break;
        const std::string_view addr = get_token(rest);
        if (trace_on()) {
            trace_str("  Label = ");
            trace_str(label);
            trace_str(" Addr = ");
            trace_str(addr);
            trace_str("\n");
        }
        if (hex_to_num(addr) <= 0xFFFF) {
            out.append(label).append(" ").append(addr).append("  ");
            result = 0;
        }
    }
    out.push_back('\n');
    line.swap(out);
    if (trace_on()) {
        trace_str("  Output data : ");
        trace_str(line);
    }
    return result;
}

int glb_sym_chg(std::string&) { return 0; }

int glb_bit_sym_chg(std::string&) { return 0; }
