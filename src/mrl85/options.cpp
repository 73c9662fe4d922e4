// options.cpp: the command line into settings, and the settings into names
// and open files.
#include <cstring>
#include <string>
#include <vector>

#include "mrl85/options.h"
#include "mrlpro.h"
#include "run/message.h"
#include "run/platform.h"
#include "run/textfile.h"
#include "run/trace.h"

namespace {

// The files an output must not be, by whatever name it bears (a link,
// "dir//prog", another letter case, another spelling of the same folder):
// the inputs, the outputs created before it, and the trace log. Creating it
// would destroy that file or interleave two outputs in one.
std::vector<std::string> files_in_use() {
    std::vector<std::string> names;
    if (do_hex) names.push_back(input_hex);
    if (do_sym) names.push_back(input_sym);
    if (open_flag[S_OUT_HEX]) names.push_back(output_hex);
    if (open_flag[S_OUT_HXH]) names.push_back(output_hihex);
    if (trace_on()) names.push_back(kTraceName);
    return names;
}

void open_input(InFile& f, int slot, const std::string& name, ExitPlace line) {
    if (!f.open(name, slot == S_IN_HEX ? InputPass::kHex : InputPass::kSym)) {
        error_msg(E_CANT_OPEN, name);
        error_exit(kStatusInput, line);
    }
    open_flag[slot] = 1;
}

// An in-place output is a temporary file that is later renamed over an
// input, so it must be a new file of this run (see temp_create): whatever
// already bears its name (a leftover of an interrupted run, another
// program's file, a link) is left alone and the run stops before writing
// anything. The slot then stays closed, and the clean-up removes only the
// temporaries this run made.
void create_temp_output(OutFile& f, int slot, const std::string& name, ExitPlace line) {
    std::FILE* fp = nullptr;
    interrupts_hold();
    const int got = temp_create(name, &fp, &out_hold[slot]);
    if (got == kTempOk) made[slot].live = 1;
    interrupts_release();
    if (got != kTempOk || !f.open(fp)) {
        error_msg(E_CANT_CREATE, name);
        error_exit(kStatusCreate, got == kTempTaken ? L_TEMP_TAKEN : line);
    }
    open_flag[slot] = 1;
}

// Other outputs are regular files, never written through another file
// (see output_create): a link or a file with more names is replaced by a new
// file, a FIFO, device or directory is refused without waiting on it. The
// block the output is written through is allocated first: running out of
// memory then leaves no empty file behind. The file is marked as made in the
// same step as it is created or emptied, as far as an interrupt can tell;
// none of the calls in that step waits. The run keeps the file open, so that
// the clean-up removes it only while its name still names it.
void create_output(OutFile& f, int slot, const std::string& name, ExitPlace line) {
    f.prepare();
    made_note(slot, name);
    if (in_place) return create_temp_output(f, slot, name, line);
    const std::vector<std::string> others = files_in_use();
    std::FILE* fp = nullptr;
    interrupts_hold();
    const OutputResult got = output_create(name, others, 0, &fp, &out_hold[slot]);
    if (got == kOutputMade) made[slot].live = 1;
    interrupts_release();
    if (got != kOutputMade || !f.open(fp)) {
        error_msg(E_CANT_CREATE, name);
        error_exit(kStatusCreate, line);
    }
    open_flag[slot] = 1;
}

// On Windows a base name ending in a device name (AUX, NUL, COM1, ...) opens
// the device, whatever extension follows: such an input is refused as one
// that cannot be opened, such an output as one that cannot be created,
// before any file is read or written.
void refuse_devices() {
    const std::string& first_in = do_hex ? input_hex : input_sym;
    const std::string& first_out = do_hex ? output_hex : output_sym;
    if (device_name(input_name)) {
        error_msg(E_CANT_OPEN, first_in);
        error_exit(kStatusInput, do_hex ? L_OPEN_IN_HEX : L_OPEN_IN_SYM);
    }
    if (device_name(in_place ? final_name : output_name)) {
        error_msg(E_CANT_CREATE, first_out);
        error_exit(kStatusCreate, do_hex ? L_CREATE_OUT_HEX : L_CREATE_OUT_SYM);
    }
}

}  // namespace

// Reads every argument, showing each fault in argument order, and makes one
// error exit if there was any.
void parse_options(int argc, char** argv) {
    if (argc == 1) {
        error_msg(E_NO_INPUT);
        show_usage();
        error_exit(kStatusInput, L_NO_ARGS);
    }
    int inputs = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg[0] == '-') {
            parse_minus_option(arg);
        } else if (arg[0] == '+') {
            parse_plus_option(arg, argc, argv);
        } else if (inputs > 0) {
            error_msg(E_MANY_INPUTS);
        } else {
            input_name = arg;
            ++inputs;
        }
    }
    // An empty input name is no name: it would make the inputs ".hex" and
    // ".sym", as "-O" alone would make such outputs.
    if (no_output)
        error_msg(E_NO_OUTPUT);
    else if (inputs == 0 || input_name.empty())
        error_msg(E_NO_INPUT);
    else if (!do_hex && !do_sym)
        error_msg(E_H_AND_S);
    if (last_error != 0) error_exit(kStatusInput, L_BAD_OPTIONS);
}

namespace {

// "-H" or "-S": converts one file only, by turning the other's conversion
// (`other`) off. A repeated option is reported before text after the letter.
void one_file_only(const std::string& whole, bool more, int& other) {
    if (!other)
        error_msg(E_MULTIPLE, whole.substr(1));
    else if (more)
        error_msg(E_OPTION_TEXT, whole);
    else
        other = 0;
}

}  // namespace

// One argument that begins with "-". A repeated option is reported before
// text after the letter.
void parse_minus_option(const char* text) {
    const std::string whole(text);
    const char letter = text[1];
    const bool more = letter != '\0' && text[2] != '\0';
    switch (letter) {
        case 'O':
        case 'o':
            if (!no_output)
                error_msg(E_MULTIPLE, whole.substr(1));
            else if (!more)  // "-O" alone would name the outputs ".hex", ".hxh", ".sym"
                error_msg(E_OPTION_TEXT, whole);
            else {
                output_name = text + 2;
                no_output = 0;
            }
            break;
        case 'H':
        case 'h': one_file_only(whole, more, do_sym); break;
        case 'S':
        case 's': one_file_only(whole, more, do_hex); break;
        default: error_msg(E_BAD_OPTION, whole); break;
    }
}

void parse_plus_option(const char* text, int argc, char** argv) {
    if (std::strcmp(text, "+info") == 0)
        trace_open(argc, argv);
    else
        error_msg(E_BAD_OPTION, text);
}

// Builds the five file names and opens the files of the passes that run:
// input HEX, output HEX, high HEX, then input symbol file, output symbol file.
void file_set() {
    trace_str("=== file_set() ===\n");
    if (input_name.find('.') != std::string::npos) {
        error_msg(E_DOT_NAME, input_name);
        error_exit(kStatusInput, L_DOT_INPUT);
    }
    if (output_name.find('.') != std::string::npos) {
        error_msg(E_DOT_NAME, output_name);
        error_exit(kStatusInput, L_DOT_OUTPUT);
    }
    input_hex = input_name + ".hex";
    input_sym = input_name + ".sym";
    output_hex = output_name + ".hex";
    output_hihex = output_name + ".hxh";
    output_sym = output_name + ".sym";
    refuse_devices();
    if (do_hex) {
        open_input(in_hex_fp, S_IN_HEX, input_hex, L_OPEN_IN_HEX);
        create_output(out_hex_fp, S_OUT_HEX, output_hex, L_CREATE_OUT_HEX);
        create_output(out_hihex_fp, S_OUT_HXH, output_hihex, L_CREATE_OUT_HXH);
    }
    if (do_sym) {
        open_input(in_sym_fp, S_IN_SYM, input_sym, L_OPEN_IN_SYM);
        create_output(out_sym_fp, S_OUT_SYM, output_sym, L_CREATE_OUT_SYM);
    }
    if (trace_on()) {
        trace_str("\tinput_name = " + input_name + "\n");
        trace_str("\tinput_hex = " + input_hex + "\n");
        trace_str("\tinput_sym = " + input_sym + "\n");
        trace_str("\toutput_hex = " + output_hex + "\n");
        trace_str("\toutput_sym = " + output_sym + "\n");
        trace_str("\toutput_hihex = " + output_hihex + "\n");
    }
}
