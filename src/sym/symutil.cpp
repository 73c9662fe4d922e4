// symutil.cpp: how the symbol file is divided into lines and sections, and
// the field and number utilities that every reader and rewriter of it shares.
#include "mrlpro.h"
#include "run/message.h"
#include "sym/fields.h"
#include "sym/symlines.h"

// The section kind of a "#" line: the first header text the line begins with
// (letter case significant), or SEC_NONE when none. Every header text is "# " and
// a word; only the texts whose word begins with the line's third character
// can match, and they are tried in table order.
SecKind sec_kind(std::string_view line) {
    static_assert(sec_header[SEC_LOCAL_LABEL][2] == 'L' && sec_header[SEC_LOCAL_SYMBOL][2] == 'L' &&
                  sec_header[SEC_LOCAL_BIT_SYMBOL][2] == 'L' && sec_header[SEC_FUNC][2] == 'F' &&
                  sec_header[SEC_CALL][2] == 'C' && sec_header[SEC_SOURCE][2] == 'S' &&
                  sec_header[SEC_SECTION_INFO][2] == 'S' && sec_header[SEC_GLOBAL_LABEL][2] == 'G' &&
                  sec_header[SEC_GLOBAL_SYMBOL][2] == 'G' && sec_header[SEC_GLOBAL_BIT_SYMBOL][2] == 'G');
    // Each text is compared at its own length, known when this is compiled.
    const auto is = [line](SecKind kind) { return line.starts_with(sec_header[kind]); };
    if (line.size() < 3) return SEC_NONE;
    switch (line[2]) {
        case 'L':
            return is(SEC_LOCAL_LABEL)        ? SEC_LOCAL_LABEL
                   : is(SEC_LOCAL_SYMBOL)     ? SEC_LOCAL_SYMBOL
                   : is(SEC_LOCAL_BIT_SYMBOL) ? SEC_LOCAL_BIT_SYMBOL
                                              : SEC_NONE;
        case 'F': return is(SEC_FUNC) ? SEC_FUNC : SEC_NONE;
        case 'C': return is(SEC_CALL) ? SEC_CALL : SEC_NONE;
        case 'S': return is(SEC_SOURCE) ? SEC_SOURCE : is(SEC_SECTION_INFO) ? SEC_SECTION_INFO : SEC_NONE;
        case 'G':
            return is(SEC_GLOBAL_LABEL)        ? SEC_GLOBAL_LABEL
                   : is(SEC_GLOBAL_SYMBOL)     ? SEC_GLOBAL_SYMBOL
                   : is(SEC_GLOBAL_BIT_SYMBOL) ? SEC_GLOBAL_BIT_SYMBOL
                                               : SEC_NONE;
        default: return SEC_NONE;
    }
}

void hex_to_num_check(std::string_view text) {
    int digits = 0;
    for (char ch : text) {
        const unsigned d = hex_digit_value.of[static_cast<unsigned char>(ch)];
        if (d > 15) {
            error_msg(E_FORMAT, input_sym);
            error_exit(kStatusFormat, L_HEX_DIGIT, text);
        }
        // Count from the first non-zero digit on, so that 100000000 is too
        // long although its 32-bit value is 0.
        if (digits > 0 || d != 0) ++digits;
    }
    if (digits > 8) {
        error_msg(E_FORMAT, input_sym);
        error_exit(kStatusFormat, L_HEX_TOO_LONG, text);
    }
}

// ---------------------------------------------------------------------------
// Lines. The symbol file is read in whole lines of any length. A line that
// fits in the reader's block comes whole; a longer one comes as its first
// piece with `more` set. A step that needs the line gathers the rest
// (sym_line_whole); one that only copies it passes the pieces on
// (sym_line_piece), so that a long copied line never has to be held in
// memory; one that ignores it just reads the next line, which passes over
// what was left. No piece is ever handled as a line of its own.

// The input symbol file cannot be read on: error 6, as if it could not be
// opened.
void sym_read_failed() {
    error_msg(E_CANT_OPEN, input_sym);
    error_exit(kStatusInput, L_SYM_READ);
}

// The next piece of the line being read, with `more` set while further
// pieces follow. False when none is left.
bool sym_line_piece(std::string_view& piece, bool& more) {
    int got = in_sym_fp.get_more(piece, more);
    if (got < 0) sym_read_failed();
    return got > 0;
}

// The pieces of a line longer than the reader's block, from its first piece
// `first` on, gathered into a buffer that grows with the longest such line
// and is valid until the next call. Clears `more`.
std::string_view sym_line_gather(std::string_view first, bool& more) {
    static std::string whole;
    whole.assign(first);  // before the next read moves the block under it
    std::string_view piece;
    while (more && sym_line_piece(piece, more)) whole.append(piece);
    more = false;
    return whole;
}
