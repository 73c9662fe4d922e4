// symmake.cpp: the symbol conversion. The first pass builds the tables, the
// renumbering marks them, and del_data copies the file line by line, handing
// headers and section lines to their rewriters and thinning blank lines.
#include "mrlpro.h"

namespace {

// Section modes of the copy machine besides the kinds 0 to 9.
constexpr int kAfterBlank = 98;
constexpr int kPlain = 99;

[[noreturn]] void write_failed(int place) {
    error_msg(E_CANT_CREATE, output_sym);
    error_exit(kStatusCreate, place);
}

// The pieces of a long input line that follow the one written, as they come.
void write_rest(int place) {
    std::string_view piece;
    bool more = true;
    while (more && sym_line_piece(piece, more))
        if (!out_sym_fp.write(piece)) write_failed(place);
}

// Writes a line: `line`, then, when `more` is set, the rest of the input line.
inline void write_line(std::string_view line, bool more, int place) {
    if (!out_sym_fp.write(line)) write_failed(place);
    if (more) write_rest(place);
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

// Whether a data line of a section of kinds 6 to 9 goes to its rewriter: a
// line long enough for its kind, and in SECTION INFORMATION every unit line,
// however short, so that no unit's line keeps its old number.
bool line_reaches(int mode, std::string_view text) {
    static constexpr size_t kReach[4] = {21, 3, 3, 5};
    if (text.size() >= kReach[mode - 6]) return true;
    return mode == 6 && sec_unit_line(text);
}

// The rewriter of a data line in a section of kinds 6 to 9. Only a line that
// reaches its rewriter is gathered whole into `line`; `text` and `more` are
// left on what is to be written.
int line_rewrite(int mode, std::string_view& text, bool& more, std::string& line) {
    if (!line_reaches(mode, text)) return 0;
    line.assign(sym_line_whole(text, more));
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
// Every line is handled whole, however long; a line that no rewriter needs is
// copied piece by piece as it is read.
void del_data() {
    trace_str("=== del_data() ===\n");
    int sec_mode = kPlain, sec_skip = 0, blank_ok = 1;
    if (!in_sym_fp.rewind()) {
        error_msg(E_CANT_OPEN, input_sym);
        error_exit(kStatusInput, L_SYM_REWIND);
    }
    std::string line;
    std::string_view read;
    bool more = false;
    for (;;) {
        if (!read_sym_line(read, more)) return;
        // Lines that no rewriter touches are written straight from the input
        // block; only a line handed to a rewriter is copied.
        if (read[0] == '#') {
            sec_block_end();
            const int kind = sec_kind(read);
            sec_skip = 0;
            if (kind <= 5) {
                line.assign(sym_line_whole(read, more));
                sec_skip = header_rewrite(kind, line);
                read = line;
            }
            sec_mode = (kind == 3 || kind == 99) ? kPlain : kind;
            if (sec_skip == 0) {
                write_line(read, more, L_SYM_WR_HEADER);
                blank_ok = 1;
            }
            continue;
        }
        if (read.size() <= 1) {
            sec_mode = kAfterBlank;
            sec_block_end();
        } else {
            blank_ok = 1;
        }
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
            case 9: drop = line_rewrite(sec_mode, read, more, line); break;
            case kAfterBlank:
                if (blank_ok == 0)
                    drop = 1;
                else
                    blank_ok = 0;
                break;
            default: break;
        }
        if (drop == 0) write_line(read, more, L_SYM_WR_DATA);
    }
}
