// mrlpro.h: the process-wide state of a run: the names of its files, its
// flags, its open files, the unit and function tables and their indexes,
// its counters, and the switches with which mrl85-report runs the passes.
//
// The operations are declared by their modules (run/, hex/, sym/); this
// header holds only what those modules share. init_globals() sets all of it
// to its start-up value, the tables with their indexes included; it
// allocates nothing, and neither do the definitions of the state (both run
// before the out-of-memory handler of a program is set).
#ifndef MRLPRO_H
#define MRLPRO_H

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "run/message.h"
#include "run/platform.h"
#include "run/textfile.h"

// File table slots.
enum Slot : int { S_IN_HEX = 0, S_IN_SYM = 1, S_OUT_HEX = 2, S_OUT_HXH = 3, S_OUT_SYM = 4, S_TRACE = 5 };

// Declared by their modules, so that a change there rebuilds only what uses
// them: the kinds of "#" lines (sym/fields.h), the tables (sym/table.h).
enum SecKind : int;
class SymObserver;
struct unit_record;
struct func_record;
template <class Record>
class record_table;
template <class Record>
struct number_index;

// ---------------------------------------------------------------------------
// Process-wide state (defined in run/globals.cpp)
extern std::string input_name, output_name, final_name;
extern std::string input_hex, input_sym, output_hex, output_hihex, output_sym;
extern std::string final_hex, final_hihex, final_sym;
extern int do_hex, do_sym, no_output, in_place;
extern int open_flag[6];
extern InFile in_hex_fp, in_sym_fp;
extern OutFile out_hex_fp, out_hihex_fp, out_sym_fp;
extern std::FILE* trace_fp;
extern long long start_time;
extern int last_error;
// In place: each temporary output stays open, by slot, from its creation
// until it has been renamed or removed (kNoHold: none).
extern FileHold out_hold[6];
// The outputs this run created or emptied, by slot, as the clean-up of an
// error exit or an interrupt removes them: names kept in fixed buffers,
// filled before the file is created, so that a signal handler can use them.
struct made_file {
    char name[272];
    volatile std::sig_atomic_t live;  // 1 from the file's creation until it is renamed or removed
};
extern made_file made[6];
// The place an exhausted memory is reported at: L_NO_MEMORY while the
// tables grow, L_OUT_OF_MEMORY elsewhere.
extern ExitPlace memory_place;
// Set by the HEX pass: 1 when it kept its output HEX file (low data was
// written) and when it kept its high HEX file. In place, only a kept output
// replaces anything.
extern int hex_low_kept, hex_high_kept;

extern record_table<unit_record> unit_table;
extern record_table<func_record> func_table;
extern uint32_t unit_del_count, func_del_count;
// Lookups by unit number made so far. Only tests read it, to see that a walk
// over a run of deleted units passes the run in one step.
extern uint64_t unit_lookups;
extern number_index<unit_record> unit_index;
extern number_index<func_record> func_index;
// The rewriter of SECTION INFORMATION lines keeps these across calls.
extern int sec_parse_next, sec_lib_deleted;

// ---------------------------------------------------------------------------
// The passes as a library for another program (mrl85-report), which needs
// the same decisions and wants to see them. mrl85 leaves every one of these
// at its start-up value, and then none of them changes what it does.
//
// With `run_embedded` set, messages are not printed (last_error still names
// the last one) and error_exit throws run_stopped (run/message.h) instead of
// ending the process, so that the caller learns which check refused an input.
extern bool run_embedded;
// Set: both symbol passes take every line through their line-by-line way
// and read every line, so that the input's line count (InFile::lines) is
// the number of the line being handled when a check fails.
extern bool lines_one_by_one;
// Set: the section names of the units are kept without the trace too.
extern bool keep_unit_names;
// The observer the rewriting pass was given (del_data, sym/symmake.h), for
// the time of that pass; null otherwise.
extern SymObserver* sym_observer;

void init_globals();

// How another program runs the passes: the names messages give the inputs,
// and the switches above.
struct EmbeddedRun {
    std::string hex_name, sym_name;
    bool lines_one_by_one = false;
    bool keep_unit_names = false;
};
// The entry point of the library for another program, called before each
// run of a pass: every global back at its start-up value (init_globals),
// run_embedded set, and the names and switches of `run`.
void embedded_start(const EmbeddedRun& run);
// The symbol file the symbol passes read: the caller opens it before
// embedded_start's runs, may rewind it between them and closes it after.
InFile& embedded_sym_input();
// Sends the output of the symbol pass to the null device; false when that
// cannot be opened.
bool embedded_sym_discard();
// Ends a run begun by embedded_start: the symbol output is closed and the
// switches are back at their start-up value; the tables stay, for the
// caller to read.
void embedded_stop();

#endif
