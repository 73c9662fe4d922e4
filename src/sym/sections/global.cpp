// global.cpp: the lines of the GLOBAL LABEL block, from which labels above
// FFFF leave. (The lines of the GLOBAL SYMBOL and GLOBAL BIT SYMBOL blocks
// pass unchanged: no rewriter sees them.)
#include "mrlpro.h"
#include "run/textfile.h"
#include "run/trace.h"
#include "sym/fields.h"
#include "sym/sections/sections.h"
#include "sym/symmake.h"

// Keeps every "label address" pair of the line whose address is at most FFFF,
// as "label address" and two blanks each, and drops a line left with none.
// Every pair on the line is judged, however many there are.
int glb_lab_chg(std::string_view line, Rebuilt& out) {
    trace_str("===== glb_lab_chg() =====\n");
    // A kept pair comes out as its two tokens and three blanks: at most twice
    // what it took of the line, two more for a label alone at the end. Then
    // the line end. The line is made where it will be written.
    char* const begin = out.file.room(2 * line.size() + 4);
    char* p = begin;
    const auto put = [&p](std::string_view text) {
        copy_bytes(p, text.data(), text.size());
        p += text.size();
    };
    int result = 1;
    std::string_view rest = line;
    for (;;) {
        const std::string_view label = get_token(rest);
        if (label.empty()) break;
        const HexField addr = get_hex_token(rest);
        if (trace_on()) {
            trace_str("  Label = ");
            trace_str(label);
            trace_str(" Addr = ");
            trace_str(addr.text);
            trace_str("\n");
        }
        if (hex_value(addr) <= 0xFFFF) {
            put(label);
            *p++ = ' ';
            put(addr.text);
            *p++ = ' ';
            *p++ = ' ';
            result = 0;
        } else if (sym_observer != nullptr) {
            sym_observer->label_dropped(label, addr.text);
        }
    }
    if (result != 0 && sym_observer != nullptr) sym_observer->label_line_dropped();
    *p++ = '\n';
    out.text = std::string_view(begin, static_cast<size_t>(p - begin));
    if (trace_on()) {
        trace_str("  Output data : ");
        trace_str(out.text);
    }
    return result;
}
