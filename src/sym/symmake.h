// symmake.h: the symbol pass: the first pass builds the tables, the
// renumbering marks them, and del_data copies the symbol file line by line,
// handing headers and section lines to their rewriters (sym/sections/).
// Needs the run's state (mrlpro.h).
#ifndef MRL_SYMMAKE_H
#define MRL_SYMMAKE_H

#include <cstdint>
#include <string_view>

#include "sym/fields.h"

// What the symbol passes tell an observer (mrl85-report, which lists what a
// conversion drops and rewrites, line by line). The observer holds its own
// context; mrl85 has none, and the passes then tell nothing.
//
// The first pass tells where the reading of the unit table leaves lines of a
// SECTION INFORMATION block out: each block it reads (unit_block_read), a
// line it passes over for its leading blank, and the line with no first
// field that ends the table's reading of the block. The header and such a
// line are given by the count of lines read so far (InFile::lines), which
// goes up by one a line within a block: their difference is the line's place
// in the block (1: the line after the header).
//
// The rewriting pass tells each line it drops or rewrites: the number of
// that line, from 1, is line_no() at the time of the call.
class SymObserver {
public:
    // First pass.
    virtual void unit_block_read(uint64_t read) = 0;
    virtual void unit_line_passed_over(uint64_t read) = 0;
    virtual void unit_table_ended(uint64_t read, std::string_view line) = 0;
    // Rewriting pass: a SECTION INFORMATION header; a unit line, as its unit
    // number decides (dropped, or rewritten with `new_unit`); the
    // continuation of a library line dropped with it.
    virtual void unit_block_begins() = 0;
    virtual void unit_line(uint32_t unit_no, bool dropped, uint32_t new_unit) = 0;
    virtual void continuation_dropped() = 0;
    // Each "label address" pair the GLOBAL LABEL rewriter drops; a GLOBAL
    // LABEL line dropped whole.
    virtual void label_dropped(std::string_view label, std::string_view addr) = 0;
    virtual void label_line_dropped() = 0;
    // A header dropped with its block, or a FUNC line dropped alone (its kind
    // and its text); `count` lines from line `first` on dropped with the
    // block of the last header dropped; a blank line dropped, as a run of
    // blank lines comes out as one.
    virtual void block_dropped(SecKind kind, std::string_view header) = 0;
    virtual void lines_dropped(uint64_t first, uint64_t count) = 0;
    virtual void blank_dropped() = 0;

    // The number of the line the rewriting pass handles: the lines the
    // block-wise copy took (counted only while observed) and those read one
    // by one; while the block-wise copy hands a line on, its number.
    uint64_t line_no() const;
    struct Place {
        uint64_t taken = 0;     // lines the block-wise copy took
        uint64_t in_block = 0;  // non-zero: the line the block-wise copy hands on
    } place;

protected:
    ~SymObserver() = default;
};

// Makes `observer` the one the passes tell while it lasts, however the pass
// ends.
class SymObserving {
public:
    explicit SymObserving(SymObserver* observer);
    ~SymObserving();
    SymObserving(const SymObserving&) = delete;
    SymObserving& operator=(const SymObserving&) = delete;
};

void sym_line_ends_check();
void sym_make();
// The rewriting pass; the second form tells `observer` (when not null) what
// it drops and rewrites.
void del_data();
void del_data(SymObserver* observer);

#endif
