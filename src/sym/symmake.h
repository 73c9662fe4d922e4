// symmake.h: the symbol pass: the first pass builds the tables, the
// renumbering marks them, and del_data copies the symbol file line by line,
// handing headers and section lines to their rewriters (sym/sections/).
// Needs the run's state (mrlpro.h).
#ifndef MRL_SYMMAKE_H
#define MRL_SYMMAKE_H

void sym_line_ends_check();
void sym_make();
void del_data();

#endif
