// sections.h: the rewriters of the symbol file's sections. Each takes one
// whole line as read and answers 0 (write the line: rebuilt with the new
// numbers into `out`, or as read where nothing in it changes) or 1 (drop
// it); the headers of LOCAL LABEL, LOCAL SYMBOL, LOCAL BIT SYMBOL, CALL and
// SOURCE blocks take their blocks with them. Needs the tables' lookups
// (sym/table.h) and the field parsers (sym/fields.h).
#ifndef MRL_SECTIONS_H
#define MRL_SECTIONS_H

#include <initializer_list>
#include <string_view>

#include "run/textfile.h"
#include "sym/fields.h"

// A line that a rewriter rebuilds. It is made straight in room that the
// output file gives (OutFile::room, in its block where the line fits) and
// becomes part of the output only when the caller writes it
// (OutFile::commit). `text` is the rebuilt line; its data is null while no
// line has been rebuilt.
struct Rebuilt {
    OutFile& file;
    std::string_view text;
};

int loc_lab_chg(std::string_view line, Rebuilt& out);
int loc_sym_chg(std::string_view line, SecKind kind, Rebuilt& out);
int func_chg(std::string_view line, Rebuilt& out);
int call_chg(std::string_view line, Rebuilt& out);
int src_chg(std::string_view line, Rebuilt& out);
int sec_chg(std::string_view line, Rebuilt& out);
bool sec_unit_line(std::string_view line);
// Whether a SECTION INFORMATION line names a library (".LIB" in any letter
// case): such a line may be followed by a continuation line.
bool names_library(std::string_view line);
// The length from which a data line reaches the rewriter of its block
// (SECTION INFORMATION, GLOBAL LABEL), whatever it begins with.
inline constexpr size_t kSecInfoReach = 21;
inline constexpr size_t kGlobalLabelReach = 3;
void sec_block_end();
int glb_lab_chg(std::string_view line, Rebuilt& out);

// Makes in `out` the line of `lead` followed by `fields`, each field followed
// by one blank, then `rest` (the tail of the line as read, never split).
// When the tail is empty the last blank is left out and the line ends in a
// line feed exactly when the line as read had one, so no line end is ever
// lost and no line is glued to the next. The line is made once, in the room
// the output file gives; the fields and the tail are views of the line as
// read, which lies elsewhere. Inline: every rewritten line passes here, and
// each rewriter's fields are then known where it is compiled.
inline void line_rebuild(Rebuilt& out, std::string_view lead, std::initializer_list<std::string_view> fields,
                         std::string_view rest, bool had_line_end) {
    size_t size = lead.size() + rest.size() + 1;
    for (std::string_view f : fields) size += f.size() + 1;
    char* const begin = out.file.room(size);
    char* p = begin;
    const auto put = [&p](std::string_view text) {
        copy_bytes(p, text.data(), text.size());
        p += text.size();
    };
    put(lead);
    for (std::string_view f : fields) {
        put(f);
        *p++ = ' ';
    }
    if (rest.empty()) {
        if (fields.size() > 0) --p;
        if (had_line_end) *p++ = '\n';
    } else {
        put(rest);
    }
    out.text = std::string_view(begin, static_cast<size_t>(p - begin));
}

#endif
