// mrl.cpp: the entry point of mrl85. Runs one conversion straight through:
// version query, banner, command-line limit, options, in-place set-up, files,
// the HEX pass, the symbol pass, closing, and in place the replacement of the
// inputs.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>

#include "mrlpro.h"

namespace {

constexpr size_t kCommandLineMax = 255;

// One output of an in-place run that takes the place of a file: its slot,
// its temporary name, its final name, and the file whose permission bits it
// gets (the first of the two that is a regular file).
struct Replacement {
    int slot;
    const std::string* from;
    const std::string* to;
    const std::string* like;
    const std::string* like_else;
};

// The outputs this run replaces files with, in renaming order. The high HEX
// file comes first: its final name is no input, so when it cannot be
// replaced, no input has been touched yet. Only an output the HEX pass kept
// counts: when it wrote no low data, the input HEX file stays as it is (and
// an older high HEX file too), whatever files bear the temporary names.
std::vector<Replacement> replacements() {
    std::vector<Replacement> list;
    if (do_hex && hex_high_kept) list.push_back({S_OUT_HXH, &output_hihex, &final_hihex, &final_hihex, &input_hex});
    if (do_hex && hex_low_kept) list.push_back({S_OUT_HEX, &output_hex, &final_hex, &final_hex, &final_hex});
    if (do_sym) list.push_back({S_OUT_SYM, &output_sym, &final_sym, &final_sym, &final_sym});
    return list;
}

// In place, the outputs were written under "_tmp" names and are still held
// (open and locked) by this run. Each one first gets the permission bits of
// the file it replaces and reaches stable storage, so that a crash right
// after a rename cannot leave an empty file under an input's name; only then
// is each renamed over its final name, which replaces the old file in one
// step, so at no moment is an input gone with its replacement not yet in
// place. The directory is synced after the renames, and the locks end last.
// A temporary that cannot be synced or renamed (the final name is a
// directory, say) ends the run with error 7 and status 2, never with
// success; it stays under its "_tmp" name.
void replace_inputs() {
    const std::vector<Replacement> list = replacements();
    for (const Replacement& r : list) {
        if (!hold_copy_mode(out_hold[r.slot], *r.like)) hold_copy_mode(out_hold[r.slot], *r.like_else);
        if (!hold_sync(out_hold[r.slot])) {
            error_msg(E_CANT_CREATE, *r.from);
            error_exit(kStatusCreate, L_TEMP_SYNC);
        }
    }
    for (const Replacement& r : list) {
        if (!file_replace(*r.from, *r.to)) {
            error_msg(E_CANT_CREATE, *r.to);
            error_exit(kStatusCreate, L_REPLACE);
        }
    }
    if (!list.empty()) dir_sync(final_name);
    for (FileHold& h : out_hold) {
        hold_release(h);
        h = kNoHold;
    }
}

}  // namespace

// Ctrl-C: a line end and status 1, nothing else. Only async-signal-safe calls:
// a bare write and _Exit. On Windows the C runtime runs this handler on a
// thread of its own when Ctrl-C arrives; the process ends from there just the
// same, without flushing or closing any stream.
void on_interrupt(int sig) {
    std::signal(sig, SIG_IGN);
    signal_safe_write("\n", 1);
    std::_Exit(kStatusInterrupted);
}

// Before anything else: standard streams that were closed at start get the
// null device, or the first file the run opens would become "standard
// output" and receive the messages; and a write that fails (a closed pipe,
// the file size limit) is reported like any failed write instead of killing
// the process halfway through.
int main(int argc, char** argv) {
    std_streams_open();
    write_signals_ignore();
    init_globals();
    std::signal(SIGINT, on_interrupt);

    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-V") == 0 || std::strcmp(argv[i], "-v") == 0) {
            show_version();
            return 0;
        }
    }
    show_banner();

    size_t total = static_cast<size_t>(argc - 1);
    for (int i = 0; i < argc; ++i) total += std::strlen(argv[i]);
    if (total > kCommandLineMax) {
        out_text("Command line is too long\n");
        return kStatusInput;
    }

    try {
        parse_options(argc, argv);
        if (input_name == output_name) {
            in_place = 1;
            final_name = output_name;
            output_name += "_tmp";
            final_hex = final_name + ".hex";
            final_hihex = final_name + ".hxh";
            final_sym = final_name + ".sym";
        }
        file_set();
        if (do_hex) data_make();
        trace_line(L_AFTER_HEX);
        if (do_sym) sym_make();
        trace_line(L_AFTER_SYM);
        for (int slot = 0; slot < 6; ++slot) close_file(slot);
        if (in_place) replace_inputs();
    } catch (const std::bad_alloc&) {
        error_msg(E_NO_MEMORY);
        error_exit(kStatusFormat, L_OUT_OF_MEMORY);
    }
    return 0;
}
