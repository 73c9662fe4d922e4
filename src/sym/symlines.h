// symlines.h: the lines of the symbol file, whole whatever their length, as
// both symbol passes read them from the input (in_sym_fp, mrlpro.h).
#ifndef MRL_SYMLINES_H
#define MRL_SYMLINES_H

#include <string_view>

#include "mrlpro.h"

[[noreturn]] void sym_read_failed();
bool sym_line_piece(std::string_view& piece, bool& more);
std::string_view sym_line_gather(std::string_view first, bool& more);

// The next line of the symbol file, or with `headers_only` the next line that
// begins with "#" (the first pass looks at no other line outside SECTION
// INFORMATION): the whole line, or the first piece of a line longer than the
// reader's block with `more` set. False at the end of the file; a read error
// ends the run. Inline: both passes call it once per line.
inline bool read_sym_line(std::string_view& line, bool& more, bool headers_only = false) {
    int got = headers_only ? in_sym_fp.get_long_line_starting('#', line, more) : in_sym_fp.get_long_line(line, more);
    if (got < 0) sym_read_failed();
    return got > 0;
}

// The whole line whose first piece is `first`; clears `more`.
inline std::string_view sym_line_whole(std::string_view first, bool& more) {
    return more ? sym_line_gather(first, more) : first;
}

#endif
