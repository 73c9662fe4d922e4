// globals.cpp: the process-wide state of mrl85 and its start-up values.
#include <ctime>

#include "mrlpro.h"
#include "run/message.h"
#include "run/platform.h"
#include "run/textfile.h"
#include "sym/fields.h"
#include "sym/table.h"

std::string input_name, output_name, final_name;
std::string input_hex, input_sym, output_hex, output_hihex, output_sym;
std::string final_hex, final_hihex, final_sym;
int do_hex, do_sym, no_output, in_place;
int open_flag[6];
InFile in_hex_fp, in_sym_fp;
OutFile out_hex_fp, out_hihex_fp, out_sym_fp;
std::FILE* trace_fp;
long long start_time;
int last_error;
FileHold out_hold[6];
made_file made[6];
ExitPlace memory_place;
int hex_low_kept, hex_high_kept;

record_table<unit_record> unit_table;
record_table<func_record> func_table;
uint32_t unit_del_count, func_del_count;
uint64_t unit_lookups;
int sec_parse_next, sec_lib_deleted;
bool run_embedded, lines_one_by_one, keep_unit_names;
SymObserver* sym_observer;

// Sets every global to its start-up value and takes the start time.
void init_globals() {
    for (std::string* s : {&input_name, &output_name, &final_name, &input_hex, &input_sym, &output_hex, &output_hihex,
                           &output_sym, &final_hex, &final_hihex, &final_sym})
        s->clear();
    do_hex = do_sym = no_output = 1;
    in_place = 0;
    for (int& f : open_flag) f = 0;
    trace_fp = nullptr;
    start_time = static_cast<long long>(std::time(nullptr));
    last_error = 0;
    for (FileHold& h : out_hold) h = kNoHold;
    for (made_file& m : made) {
        m.name[0] = '\0';
        m.live = 0;
    }
    hex_low_kept = hex_high_kept = 0;
    memory_place = L_OUT_OF_MEMORY;
    tables_reset();
    unit_del_count = func_del_count = 0;
    unit_lookups = 0;
    sec_parse_next = 1;
    sec_lib_deleted = 0;
    run_embedded = lines_one_by_one = keep_unit_names = false;
    sym_observer = nullptr;
}

void embedded_start(const EmbeddedRun& run) {
    init_globals();
    run_embedded = true;
    input_hex = run.hex_name;
    input_sym = run.sym_name;
    lines_one_by_one = run.lines_one_by_one;
    keep_unit_names = run.keep_unit_names;
}

InFile& embedded_sym_input() { return in_sym_fp; }

bool embedded_sym_discard() { return out_sym_fp.open(null_output_open()); }

void embedded_stop() {
    out_sym_fp.close();
    lines_one_by_one = false;
    keep_unit_names = false;
}
