// mrlpro.h: the process-wide state of a run: the names of its files, its
// flags, its open files, the unit and function tables and their indexes,
// its counters, and the switches with which mrl85-report runs the passes.
//
// The operations are declared by their modules (run/, hex/, sym/); this
// header holds only what those modules share: one struct, RunState, that
// init_globals() replaces as a whole, and the list of made files, which a
// signal handler reads and so stays a plain static. Neither the state's
// construction nor init_globals allocates (both run before the
// out-of-memory handler of a program is set).
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
#include "sym/table.h"

// File table slots.
enum Slot : int { S_IN_HEX = 0, S_IN_SYM = 1, S_OUT_HEX = 2, S_OUT_HXH = 3, S_OUT_SYM = 4, S_TRACE = 5 };

// Declared by their modules: the kinds of "#" lines (sym/fields.h), the
// observer of the rewriting pass (sym/symmake.h).
enum SecKind : int;
class SymObserver;
class TableObserver;

// The outputs this run created or emptied, by slot, as the clean-up of an
// error exit or an interrupt removes them: names kept in fixed buffers,
// filled before the file is created, so that a signal handler can use them.
// A plain static outside the run's state, as a handler may reach nothing
// else.
struct made_file {
    char name[272];
    volatile std::sig_atomic_t live;  // 1 from the file's creation until it is renamed or removed
};
extern made_file made[6];

// What the rewriting pass carries from one line to the next besides its copy
// state. A helper thread that rewrites a stretch of the file keeps its own.
struct RewriteCarry {
    // The rewriter of SECTION INFORMATION lines keeps these across calls.
    int sec_parse_next = 1, sec_lib_deleted = 0;
    // Lookups by unit number made so far. Only tests read it, to see that a
    // walk over a run of deleted units passes the run in one step.
    uint64_t unit_lookups = 0;
};

// ---------------------------------------------------------------------------
// The state of one run, in one piece: init_globals() replaces it as a whole
// with a fresh one, so a second run in the same process starts from nothing.
// Constructing it allocates nothing (the one instance is built before main,
// before the out-of-memory handler is set): strings, vectors and tables are
// empty until the run fills them.
struct RunState {
    std::string input_name, output_name, final_name;
    std::string input_hex, input_sym, output_hex, output_hihex, output_sym;
    std::string final_hex, final_hihex, final_sym;
    int do_hex = 1, do_sym = 1, no_output = 1, in_place = 0;
    int open_flag[6] = {};
    InFile in_hex_fp, in_sym_fp;
    OutFile out_hex_fp, out_hihex_fp, out_sym_fp;
    std::FILE* trace_fp = nullptr;
    long long start_time = 0;
    int last_error = 0;
    // In place: each temporary output stays open, by slot, from its creation
    // until it has been renamed or removed (kNoHold: none).
    FileHold out_hold[6] = {kNoHold, kNoHold, kNoHold, kNoHold, kNoHold, kNoHold};
    // The place an exhausted memory is reported at: L_NO_MEMORY while the
    // tables grow, L_OUT_OF_MEMORY elsewhere.
    ExitPlace memory_place = L_OUT_OF_MEMORY;
    // Set by the HEX pass: 1 when it kept its output HEX file (low data was
    // written) and when it kept its high HEX file. In place, only a kept
    // output replaces anything.
    int hex_low_kept = 0, hex_high_kept = 0;

    // The tables of the symbol pass, their indexes and the section names of
    // the units (sym/table.h).
    record_table<unit_record> unit_table;
    record_table<func_record> func_table;
    number_index<unit_record> unit_index;
    number_index<func_record> func_index;
    NameStore unit_names;
    uint32_t unit_del_count = 0, func_del_count = 0;
    // What the rewriting pass carries from line to line besides its copy
    // state (rewrite_carry below).
    RewriteCarry carry;

    // The passes as a library for another program (mrl85-report), which
    // needs the same decisions and wants to see them. mrl85 leaves every one
    // of these at its start-up value, and then none of them changes what it
    // does.
    //
    // With `run_embedded` set, messages are not printed (last_error still
    // names the last one) and error_exit throws run_stopped (run/message.h)
    // instead of ending the process, so that the caller learns which check
    // refused an input.
    bool run_embedded = false;
    // Set: both symbol passes take every line through their line-by-line way
    // and read every line, so that the input's line count (InFile::lines) is
    // the number of the line being handled when a check fails.
    bool lines_one_by_one = false;
    // Set: the section names of the units are kept without the trace too.
    bool keep_unit_names = false;
    // The rewriting pass of a mapped symbol file hands every other stretch of
    // about this many bytes to a helper thread (sym/symmake.cpp), and the
    // first pass of a file of at least two of them its second half
    // (sym/table.cpp); 0: both run on one thread. Tests make it small.
    size_t sym_stretch = size_t{2} << 20;
    // The stretches whose helper's work was taken, in the first pass and in
    // the rewriting pass. Only tests read it.
    uint32_t sym_stretches_taken = 0;
    // The observer the rewriting pass was given (del_data, sym/symmake.h),
    // for the time of that pass; null otherwise.
    SymObserver* sym_observer = nullptr;
    // Told what the first pass reads of each unit and function line (table.h);
    // null when nobody asks.
    TableObserver* table_observer = nullptr;
};
extern RunState run_state;
// The carry of the thread at work: run_state.carry, or a helper's own.
extern MRL_HELPER_LOCAL RewriteCarry* rewrite_carry;

// Each part of the state is used by its own name: these name the members of
// the one instance, and compile to the same direct access a separate global
// would.
inline constexpr std::string& input_name = run_state.input_name;
inline constexpr std::string& output_name = run_state.output_name;
inline constexpr std::string& final_name = run_state.final_name;
inline constexpr std::string& input_hex = run_state.input_hex;
inline constexpr std::string& input_sym = run_state.input_sym;
inline constexpr std::string& output_hex = run_state.output_hex;
inline constexpr std::string& output_hihex = run_state.output_hihex;
inline constexpr std::string& output_sym = run_state.output_sym;
inline constexpr std::string& final_hex = run_state.final_hex;
inline constexpr std::string& final_hihex = run_state.final_hihex;
inline constexpr std::string& final_sym = run_state.final_sym;
inline constexpr int& do_hex = run_state.do_hex;
inline constexpr int& do_sym = run_state.do_sym;
inline constexpr int& no_output = run_state.no_output;
inline constexpr int& in_place = run_state.in_place;
inline constexpr auto& open_flag = run_state.open_flag;
inline constexpr InFile& in_hex_fp = run_state.in_hex_fp;
inline constexpr InFile& in_sym_fp = run_state.in_sym_fp;
inline constexpr OutFile& out_hex_fp = run_state.out_hex_fp;
inline constexpr OutFile& out_hihex_fp = run_state.out_hihex_fp;
inline constexpr OutFile& out_sym_fp = run_state.out_sym_fp;
inline constexpr std::FILE*& trace_fp = run_state.trace_fp;
inline constexpr long long& start_time = run_state.start_time;
inline constexpr int& last_error = run_state.last_error;
inline constexpr auto& out_hold = run_state.out_hold;
inline constexpr ExitPlace& memory_place = run_state.memory_place;
inline constexpr int& hex_low_kept = run_state.hex_low_kept;
inline constexpr int& hex_high_kept = run_state.hex_high_kept;
inline constexpr record_table<unit_record>& unit_table = run_state.unit_table;
inline constexpr record_table<func_record>& func_table = run_state.func_table;
inline constexpr number_index<unit_record>& unit_index = run_state.unit_index;
inline constexpr number_index<func_record>& func_index = run_state.func_index;
inline constexpr NameStore& unit_names = run_state.unit_names;
inline constexpr uint32_t& unit_del_count = run_state.unit_del_count;
inline constexpr uint32_t& func_del_count = run_state.func_del_count;
inline constexpr uint64_t& unit_lookups = run_state.carry.unit_lookups;
inline constexpr bool& run_embedded = run_state.run_embedded;
inline constexpr bool& lines_one_by_one = run_state.lines_one_by_one;
inline constexpr bool& keep_unit_names = run_state.keep_unit_names;
inline constexpr size_t& sym_stretch = run_state.sym_stretch;
inline constexpr uint32_t& sym_stretches_taken = run_state.sym_stretches_taken;
inline constexpr SymObserver*& sym_observer = run_state.sym_observer;
inline constexpr TableObserver*& table_observer = run_state.table_observer;

// A fresh state for the run (every part at its start-up value, the tables
// with their memory given back) and an empty list of made files, and the
// start time taken.
void init_globals();

// How another program runs the passes: the names messages give the inputs,
// and the switches above.
struct EmbeddedRun {
    std::string hex_name, sym_name;
    bool lines_one_by_one = false;
    bool keep_unit_names = false;
    TableObserver* table_observer = nullptr;
};
// The entry point of the library for another program, called before each
// run of a pass: a fresh run state (init_globals; the symbol input is kept),
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
