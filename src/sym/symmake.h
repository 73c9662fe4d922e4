// symmake.h: the symbol pass: the first pass builds the tables, the
// renumbering marks them, and del_data copies the symbol file line by line,
// handing headers and section lines to their rewriters (sym/sections/).
// Needs the run's state (mrlpro.h).
#ifndef MRL_SYMMAKE_H
#define MRL_SYMMAKE_H

#include <string_view>

#include "sym/fields.h"

// What the rewriting pass tells an observer (mrl85-report, which lists what a
// conversion drops) as it drops lines: each "label address" pair the GLOBAL
// LABEL rewriter drops, and each header dropped with its block (its kind and
// its text). The observer holds its own context; mrl85 has none.
class SymObserver {
public:
    virtual void label_dropped(std::string_view label, std::string_view addr) = 0;
    virtual void block_dropped(SecKind kind, std::string_view header) = 0;

protected:
    ~SymObserver() = default;
};

void sym_line_ends_check();
void sym_make();
// The rewriting pass; the second form tells `observer` (when not null) what
// it drops.
void del_data();
void del_data(SymObserver* observer);

#endif
