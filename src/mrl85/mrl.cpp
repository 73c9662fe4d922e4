// mrl.cpp: the entry point of mrl85. Runs one conversion straight through:
// version query, banner, command-line limit, options, in-place set-up, files,
// the HEX pass, the symbol pass, closing, and in place the replacement of the
// inputs.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "hex/hex.h"
#include "mrl85/options.h"
#include "mrlpro.h"
#include "run/message.h"
#include "run/platform.h"
#include "run/trace.h"
#include "sym/symmake.h"

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

// How far the replacement of one file got: how the file it replaces was
// kept aside (Aside::kNoFile also until that was done, since nothing was
// made then either) and whether the temporary took its place.
struct Step {
    std::string aside, copy;
    Aside kept = Aside::kNoFile;
    bool renamed = false;
};

// Warning 2: a name this run made could not be removed again.
constexpr int kWarnCantRemove = 2;

// Removes a kept-aside name that is no longer needed; one that stays would
// stop the next run in place, so the user hears of it (the run's result
// stands).
void aside_remove(const Step& s) {
    if ((s.kept == Aside::kLinked || s.kept == Aside::kCopied) && !file_remove(s.aside.c_str()))
        warning_msg(kWarnCantRemove, s.aside);
}

// Puts every final name back as it was before the replacement began: a
// replaced file comes back from its second name (a link to it or a copy of
// it) in one rename over the converted file, a final name that bore no
// file before loses the converted file again, and a second name that is no
// longer needed goes. A second name whose file could not be put back stays,
// so that no input is ever lost. At no moment is a final name missing.
void replace_undo(const std::vector<Replacement>& list, const std::vector<Step>& steps) {
    for (size_t i = steps.size(); i-- > 0;) {
        const Replacement& r = list[i];
        const Step& s = steps[i];
        const bool kept = s.kept == Aside::kLinked || s.kept == Aside::kCopied;
        if (s.renamed && kept) {
            // Windows replaces no file that is open, and the run still
            // holds the converted file that now bears the final name.
            hold_release(out_hold[r.slot]);
            out_hold[r.slot] = kNoHold;
            file_replace(s.aside, *r.to);
        } else if (kept) {
            aside_remove(s);
        } else if (s.renamed) {
            hold_remove(out_hold[r.slot], r.to->c_str());
        }
    }
}

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

// A replaced file is kept aside under a name of its own until every rename
// has been made: "prog_tmp_old.hex" for "prog.hex". Where it is kept as a
// copy, the copy is made under "prog_tmp.copy.hex" first, a name among the
// run's temporaries, so that "prog_tmp_old.hex" is never a partial copy.
std::string aside_name(const Replacement& r) { return output_name + "_old" + r.to->substr(r.to->size() - 4); }
std::string copy_name(const Replacement& r) { return output_name + ".copy" + r.to->substr(r.to->size() - 4); }

// In place, the outputs were written under "_tmp" names and are still held
// by this run. The replacement is all or nothing:
//  1. each temporary gets the permission bits of the file it replaces and
//     reaches stable storage, so that a crash after a rename cannot leave an
//     empty file under an input's name;
//  2. every rename is checked before the first: each temporary still bears
//     its name, and nothing (a directory, another process holding the file)
//     keeps its final name from being replaced;
//  3. each file about to be replaced gets a second name of this run's own
//     (a hard link, or a complete copy on stable storage), then each
//     temporary is renamed over its final name, which replaces the old file
//     in one step. If a rename fails after all, the ones made are undone,
//     so every input is back as it was, and the run ends with error 7 and
//     status 2, never with success;
//  4. the kept-aside names are removed (one that cannot be is warned of),
//     the directory is synced.
// At every moment each final name holds its old file or its replacement.
// Interrupts wait until all of it is done.
void replace_inputs() {
    const std::vector<Replacement> list = replacements();
    for (const Replacement& r : list) {
        int mode = hold_copy_mode(out_hold[r.slot], *r.like);
        if (mode > 0) mode = hold_copy_mode(out_hold[r.slot], *r.like_else);
        if (mode < 0 || !hold_sync(out_hold[r.slot])) {
            error_msg(E_CANT_CREATE, *r.from);
            error_exit(kStatusCreate, L_TEMP_SYNC);
        }
    }
    for (const Replacement& r : list) {
        if (!hold_named(out_hold[r.slot], *r.from)) {
            error_msg(E_CANT_CREATE, *r.from);
            error_exit(kStatusCreate, L_TEMP_LOST);
        }
        if (!file_replaceable(*r.to)) {
            error_msg(E_CANT_CREATE, *r.to);
            error_exit(kStatusCreate, L_REPLACE);
        }
    }
    interrupts_hold();
    std::vector<Step> steps(list.size());
    const std::string* failed = nullptr;
    bool copied = false;
    for (size_t i = 0; i < list.size() && failed == nullptr; ++i) {
        Step& s = steps[i];
        s.aside = aside_name(list[i]);
        s.copy = copy_name(list[i]);
        s.kept = file_keep_aside(*list[i].to, s.aside, s.copy);
        // A copy's name that something else bears is what stopped it.
        if (s.kept == Aside::kFailed) failed = name_taken(s.copy) ? &s.copy : &s.aside;
        copied = copied || s.kept == Aside::kCopied;
    }
    // The copies' names reach the disk before any input is replaced.
    if (copied && failed == nullptr) dir_sync(final_name);
    for (size_t i = 0; i < list.size() && failed == nullptr; ++i) {
        if (!file_replace(*list[i].from, *list[i].to)) {
            failed = list[i].to;
            break;
        }
        steps[i].renamed = true;
        made[list[i].slot].live = 0;
    }
    if (failed != nullptr) {
        replace_undo(list, steps);
        interrupts_release();
        error_msg(E_CANT_CREATE, *failed);
        error_exit(kStatusCreate, L_REPLACE);
    }
    for (const Step& s : steps) aside_remove(s);
    if (!list.empty()) dir_sync(final_name);
    for (FileHold& h : out_hold) {
        hold_release(h);
        h = kNoHold;
    }
    interrupts_release();
}

}  // namespace

// An interrupt from outside (Ctrl-C, termination, hang-up) ends the run as a
// failure does: every output this run made and has not put in place is
// removed, unless the trace is on (then they stay for inspection), and in
// place the inputs stay as they are. Ctrl-C then prints a line end and ends
// with status 1; the others end the process by their own signal. Only calls
// that are safe in a signal handler: the names were prepared before any
// output was created, and no stream is flushed or closed.
void on_interrupt(int sig) {
    if (!trace_on()) made_remove_all();
    if (sig != SIGINT) interrupt_end(sig);
    signal_safe_write("\n", 1);
    std::_Exit(kStatusInterrupted);
}

namespace {

// Memory ran out even after the reserve was given back: the run ends with
// error 4 right there. The message and the clean-up allocate nothing.
[[noreturn]] void on_no_memory() {
    error_msg(E_NO_MEMORY);
    error_exit(kStatusFormat, memory_place);
}

}  // namespace

// Before anything else: standard streams that were closed at start get the
// null device, or the first file the run opens would become "standard
// output" and receive the messages; and a write that fails (a closed pipe,
// the file size limit) is reported like any failed write instead of killing
// the process halfway through.
int main(int argc, char** argv) {
    std_streams_open();
    write_signals_ignore();
    memory_reserve_set(on_no_memory);
    init_globals();
    interrupts_install(on_interrupt);

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
        // The trace log is closed last, so that it records a failure of the
        // replacement as it does every other.
        for (int slot = 0; slot < S_TRACE; ++slot) close_file(slot);
        if (in_place) replace_inputs();
        close_file(S_TRACE);
    } catch (const std::bad_alloc&) {
        error_msg(E_NO_MEMORY);
        error_exit(kStatusFormat, L_OUT_OF_MEMORY);
    }
    return 0;
}
