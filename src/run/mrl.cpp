// mrl.cpp: the entry point of mrl85. Runs one conversion straight through:
// version query, banner, command-line limit, options, in-place set-up, files,
// the HEX pass, the symbol pass, closing, and in place the replacement of the
// inputs.
#include <csignal>
#include <cstring>
#include <filesystem>
#include <new>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "mrlpro.h"
#include "run/fsname.h"

namespace {

constexpr size_t kCommandLineMax = 255;

// In place, the outputs were written under "_tmp" names. Each final name is
// replaced by renaming its output over it, which replaces the old file in one
// step (std::filesystem::rename replaces an existing target on POSIX and on
// Windows alike), so at no moment is an input gone with its replacement not
// yet in place. An input is removed only where its pass left no output to
// take its place (the HEX pass removes an output that received no data).
// A rename that fails (the final name is a directory, say) leaves the outputs
// under their "_tmp" names and ends the run with error 7 naming the final
// name, never with success.
void replace_one(const std::string& from, const std::string& to) {
    std::error_code ec;
    std::filesystem::rename(fs_name(from), fs_name(to), ec);
    if (ec) {
        error_msg(E_CANT_CREATE, to);
        error_exit(kStatusCreate, L_REPLACE);
    }
}

void replace_inputs() {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (do_hex) {
        // The high HEX file first: its final name is no input, so when it
        // cannot be replaced, no input has been touched yet.
        if (fs::exists(fs_name(output_hihex), ec)) replace_one(output_hihex, final_hihex);
        if (fs::exists(fs_name(output_hex), ec))
            replace_one(output_hex, final_hex);
        else
            fs::remove(fs_name(input_hex), ec);
    }
    if (do_sym) replace_one(output_sym, final_sym);
}

}  // namespace

// Ctrl-C: a line end and status 1, nothing else. Only async-signal-safe calls:
// write() and _exit() on POSIX. On Windows the C runtime runs this handler on
// a thread of its own when Ctrl-C arrives; _write() and _exit() end the
// process from there just the same, without flushing or closing any stream.
void on_interrupt(int sig) {
    std::signal(sig, SIG_IGN);
#ifdef _WIN32
    (void)_write(1, "\n", 1);
#else
    (void)!write(1, "\n", 1);
#endif
    _exit(kStatusInterrupted);
}

int main(int argc, char** argv) {
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
