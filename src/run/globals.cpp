// globals.cpp: the state of a run and the list of made files, their reset,
// and the entry points of the library for another program.
#include <ctime>
#include <memory>

#include "mrlpro.h"
#include "run/message.h"
#include "run/platform.h"
#include "run/textfile.h"
#include "sym/fields.h"
#include "sym/table.h"

RunState run_state;
MRL_HELPER_LOCAL RewriteCarry* rewrite_carry = &run_state.carry;
made_file made[6];

// Replaces the run's state with a fresh one (its destructor gives back the
// memory of the tables and strings; open files are not closed, their owners
// close them), empties the list of made files and takes the start time.
void init_globals() {
    std::destroy_at(&run_state);
    std::construct_at(&run_state);
    for (made_file& m : made) {
        m.name[0] = '\0';
        m.live = 0;
    }
    start_time = static_cast<long long>(std::time(nullptr));
}

// The symbol input belongs to the caller, who opened it before and closes it
// after all runs: it is carried over the reset.
void embedded_start(const EmbeddedRun& run) {
    InFile sym_input = std::move(in_sym_fp);
    init_globals();
    in_sym_fp = std::move(sym_input);
    run_embedded = true;
    input_hex = run.hex_name;
    input_sym = run.sym_name;
    lines_one_by_one = run.lines_one_by_one;
    keep_unit_names = run.keep_unit_names;
    table_observer = run.table_observer;
}

InFile& embedded_sym_input() { return in_sym_fp; }

bool embedded_sym_discard() { return out_sym_fp.open(null_output_open()); }

void embedded_stop() {
    out_sym_fp.close();
    lines_one_by_one = false;
    keep_unit_names = false;
    table_observer = nullptr;
}
