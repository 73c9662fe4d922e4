// symutil.cpp: how the symbol file is divided into lines and sections, and
// the field and number utilities that every reader and rewriter of it shares.
#include "mrlpro.h"

const char* const sec_header[10] = {
    "# LOCAL LABEL ",         // 0: unit number
    "# LOCAL SYMBOL ",        // 1: unit range
    "# LOCAL BIT SYMBOL ",    // 2: unit range
    "# FUNC ",                // 3: function, second field, unit, ...
    "# CALL ",                // 4: function
    "# SOURCE ",              // 5: function, ...
    "# SECTION INFORMATION",  // 6
    "# GLOBAL LABEL",         // 7
    "# GLOBAL SYMBOL",        // 8
    "# GLOBAL BIT SYMBOL",    // 9
};

// The section kind of a "#" line: the first header text the line begins with
// (letter case significant), or 99 when none.
int sec_kind(std::string_view line) {
    for (int kind = 0; kind < 10; ++kind)
        if (line.substr(0, std::string_view(sec_header[kind]).size()) == sec_header[kind]) return kind;
    return 99;
}

// Bytes that end a token: NUL, line feed, carriage return and blank. A tab is
// part of a token.
int is_token_char(unsigned char c) { return c != 0 && c != '\n' && c != '\r' && c != ' '; }

// Splits the first blank-delimited field off `line` and returns it. After a
// token ended by a blank, the rest starts right after that one blank; after a
// token ended by anything else (line end, CR, NUL) the rest is empty.
std::string_view get_token(std::string_view& line) {
    size_t i = 0;
    while (i < line.size() && line[i] == ' ') ++i;
    size_t start = i;
    while (i < line.size() && is_token_char(static_cast<unsigned char>(line[i]))) ++i;
    std::string_view token = line.substr(start, i - start);
    // The rest stays a view into the line even when empty, so callers never
    // hand a null text on to the writers.
    if (i < line.size() && line[i] == ' ')
        line.remove_prefix(i + 1);
    else
        line.remove_prefix(line.size());
    return token;
}

// Reads a hexadecimal number of 1 to 8 significant digits, either letter
// case. Anything else ends the run with a format error naming the symbol file.
uint32_t hex_to_num(std::string_view text) {
    uint32_t value = 0;
    int digits = 0;
    for (char ch : text) {
        unsigned d;
        if (ch >= '0' && ch <= '9')
            d = static_cast<unsigned>(ch - '0');
        else if (ch >= 'A' && ch <= 'F')
            d = static_cast<unsigned>(ch - 'A' + 10);
        else if (ch >= 'a' && ch <= 'f')
            d = static_cast<unsigned>(ch - 'a' + 10);
        else {
            error_msg(E_FORMAT, input_sym);
            error_exit(kStatusFormat, L_HEX_DIGIT);
        }
        // Count from the first non-zero digit; counting stays on even where
        // the 32-bit value wraps back to 0, so 100000000 is too long.
        if (digits > 0 || d != 0) ++digits;
        value = value * 16 + d;
    }
    if (digits > 8) {
        error_msg(E_FORMAT, input_sym);
        error_exit(kStatusFormat, L_HEX_TOO_LONG);
    }
    return value;
}

// Upper-case hexadecimal without leading zeros; "0" for zero.
std::string num_to_hex(uint32_t value) {
    static const char digits[] = "0123456789ABCDEF";
    char buf[9];
    int n = 0;
    for (int shift = 28; shift >= 0; shift -= 4) {
        unsigned d = (value >> shift) & 0xFu;
        if (d == 0 && n == 0) continue;
        buf[n++] = digits[d];
    }
    if (n == 0) buf[n++] = '0';
    return std::string(buf, static_cast<size_t>(n));
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
