// symmake.cpp: the symbol conversion. The first pass builds the tables, the
// renumbering marks them, and del_data copies the file line by line, handing
// headers and section lines to their rewriters and thinning blank lines.
#include "mrlpro.h"

namespace {

// Section modes of the copy machine besides the kinds 0 to 9.
constexpr int kAfterBlank = 98;
constexpr int kPlain = 99;

void write_line(std::string_view line, int place) {
    if (!out_sym_fp.write(line)) {
        error_msg(E_CANT_CREATE, output_sym);
        error_exit(kStatusCreate, place);
    }
}

// The rewriter of a header line of kinds 0 to 5.
int header_rewrite(int kind, std::string& line) {
    switch (kind) {
        case 0: return loc_lab_chg(line);
        case 1:
        case 2: return loc_sym_chg(line, kind);
        case 3: return func_chg(line);
        case 4: return call_chg(line);
        default: return src_chg(line);
    }
}

// The rewriter of a data line in a section of kinds 6 to 9, with the length
// a line needs to reach it. Only a line that reaches its rewriter is copied
// into `line`; `text` is left on what is to be written.
int line_rewrite(int mode, std::string_view& text, std::string& line) {
    static constexpr size_t kReach[4] = {21, 3, 3, 5};
    if (text.size() < kReach[mode - 6]) return 0;
    line.assign(text);
    int drop;
    switch (mode) {
        case 6: drop = sec_chg(line); break;
        case 7: drop = glb_lab_chg(line); break;
        case 8: drop = glb_sym_chg(line); break;
        default: drop = glb_bit_sym_chg(line); break;
    }
    text = line;
    return drop;
}

}  // namespace

void sym_make() {
    trace_str("=== sym_make() ===\n");
    out_text("== SYM file convert now == ( " + input_sym + " --> " + (in_place ? final_sym : output_sym) + " )\n");
    sec_func_read();
    unit_replac();
    func_replace();
    if (trace_on()) table_dump();
    del_data();
    // The output must reach the disk whole before the driver closes it.
    if (!out_sym_fp.flush()) {
        error_msg(E_CANT_CREATE, output_sym);
        error_exit(kStatusCreate, L_SYM_FLUSH);
    }
}

// The rewriting pass: reads the symbol file again from its start and copies
// it. A dropped header of kinds 0, 1, 2, 4, 5 takes its block (up to the next
// blank or header line) with it; a run of blank lines comes out as at most one.
void del_data() {
    trace_str("=== del_data() ===\n");
    int sec_mode = kPlain, sec_skip = 0, blank_ok = 1;
    if (!in_sym_fp.rewind()) {
        error_msg(E_CANT_OPEN, input_sym);
        error_exit(kStatusInput, L_SYM_REWIND);
    }
    std::string line;
    std::string_view read;
    for (;;) {
        if (!read_sym_line(read)) return;
        // Lines that no rewriter touches are written straight from the input
        // block; only a line handed to a rewriter is copied.
        if (read[0] == '#') {
            const int kind = sec_kind(read);
            sec_skip = 0;
            if (kind <= 5) {
                line.assign(read);
                sec_skip = header_rewrite(kind, line);
                read = line;
            }
            sec_mode = (kind == 3 || kind == 99) ? kPlain : kind;
            if (sec_skip == 0) {
                write_line(read, L_SYM_WR_HEADER);
                blank_ok = 1;
            }
            continue;
        }
        if (read.size() <= 1)
            sec_mode = kAfterBlank;
        else
            blank_ok = 1;
        int drop = 0;
        switch (sec_mode) {
            case 0:
            case 1:
            case 2:
            case 4:
            case 5: drop = sec_skip; break;
            case 6:
            case 7:
            case 8:
            case 9: drop = line_rewrite(sec_mode, read, line); break;
            case kAfterBlank:
                if (blank_ok == 0)
                    drop = 1;
                else
                    blank_ok = 0;
                break;
            default: break;
        }
        if (drop == 0) write_line(read, L_SYM_WR_DATA);
    }
}
