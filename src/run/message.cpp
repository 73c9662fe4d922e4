// message.cpp: numbered messages, usage and version lines, closing files and
// the error exit that every failure of the program goes through.
#include <cstdlib>
#include <new>

#include "mrlpro.h"
#include "run/message.h"
#include "run/platform.h"
#include "run/textfile.h"
#include "run/trace.h"

namespace {

const char* const error_table[] = {
    "",
    "No input files specified\n",
    "Invalid option '%s' is used\n",
    "Option '%s' is not appropriate\n",
    "Not enough memory\n",
    "Hex files number exceed 1\n",
    "Can't open '%s' file\n",
    "Can't create '%s' file\n",
    "Command line is too long\n",
    "File format error (%s)\n",
    "Can't create temporary file%s\n",
    "Option '-%s' is multiple defined\n",
    "No output files specified\n",
    "'-H' and '-S' are used\n",
    ". is specified in the filename '%s'\n",
};

const char* const warning_table[] = {
    "",
    "Output data to the '%s' file doesn't exist\n",
    "Can't remove '%s' file\n",
};

// clang-format off
const char* const banner_lines[] = {
    "HEX, SYM file converter for ", "ZQ50 Series", " ", kVersion, "\n",
    kCopyrightLine, kLicenceLine, "\n",
};
// clang-format on

const char* const version_lines[] = {" HEX, SYM file converter for ", "ZQ50 Series", " ", kVersion, "\n"};

const char* const usage_lines[] = {"\n  Usage: ", "mrl85", " Input-filename -Ooutput-filename [-S or -H]<cr>\n\n"};

// Writes `prefix`, then the message `text` with `arg` in its "%s", to `fp`
// and flushes it. The argument comes from the command line or a file, so it
// is written as text and never read as a format. Nothing is allocated: the
// message that memory has run out must get out too.
void put_message(std::FILE* fp, const char* prefix, const char* text, std::string_view arg) {
    const std::string_view t(text);
    const size_t at = t.find("%s");
    std::fputs(prefix, fp);
    if (at == std::string_view::npos) {
        std::fwrite(t.data(), 1, t.size(), fp);
    } else {
        std::fwrite(t.data(), 1, at, fp);
        if (!arg.empty()) std::fwrite(arg.data(), 1, arg.size(), fp);
        std::fwrite(t.data() + at + 2, 1, t.size() - at - 2, fp);
    }
    std::fflush(fp);
}

void show_message(const char* prefix, const char* text, std::string_view arg) {
    if (run_embedded) return;
    put_message(stdout, prefix, text, arg);
    if (trace_on()) put_message(trace_fp, prefix, text, arg);
}

}  // namespace

namespace {

// Set on a helper thread only (messages_hold).
MRL_HELPER_LOCAL bool messages_held = false;

}  // namespace

void messages_hold() { messages_held = true; }

// Everything the program says goes to standard output, flushed at once so that
// an interrupt (which ends the process without flushing) loses none of it.
// Standard output stays in text mode, so on Windows its line feeds appear as
// CR LF, the console's line end.
void out_text(std::string_view text) {
    if (run_embedded || messages_held) return;
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

namespace {

// An input read through a mapping that another process cut short or changed
// while the run read it: whatever failure the pass then ran into (a line
// of zeros where the file ended, a write from the mapping that the system
// refused), it comes from what was not the file, and the run ends as a
// read error of that input instead. An input's own read error is told as
// it is.
void input_cut_check(int n) {
    if (n == E_CANT_OPEN) return;
    if (open_flag[S_IN_HEX] && in_hex_fp.cut()) {
        error_msg(E_CANT_OPEN, input_hex);
        error_exit(kStatusInput, L_HEX_READ);
    }
    if (open_flag[S_IN_SYM] && in_sym_fp.cut()) {
        error_msg(E_CANT_OPEN, input_sym);
        error_exit(kStatusInput, L_SYM_READ);
    }
}

}  // namespace

void error_msg(int n, std::string_view arg) {
    if (messages_held) return;
    input_cut_check(n);
    show_message(" Error : ", error_table[n], arg);
    last_error = n;
}

void warning_msg(int n, std::string_view arg) {
    if (!messages_held) show_message(" Warning : ", warning_table[n], arg);
}

void show_usage() {
    for (const char* s : usage_lines) out_text(s);
}

void show_version() {
    for (const char* s : version_lines) out_text(s);
}

void show_banner() {
    for (const char* s : banner_lines) out_text(s);
}

// Closes one slot of the file table if it is open. Closing the trace log
// writes its end line first; when that fails, or when any earlier write of
// the log failed (a disk full for a while leaves a gap in the log, which the
// stream's error state remembers), the message names the log and the run
// goes on. A failed close of an output is reported by close_output, where
// the run can still fail; here (on the way out after an error) it is of no
// more consequence.
void close_file(int slot) {
    if (!open_flag[slot]) return;
    switch (slot) {
        case S_IN_HEX: in_hex_fp.close(); break;
        case S_IN_SYM: in_sym_fp.close(); break;
        case S_OUT_HEX: out_hex_fp.close(); break;
        case S_OUT_HXH: out_hihex_fp.close(); break;
        case S_OUT_SYM: out_sym_fp.close(); break;
        case S_TRACE:
            if (std::fputs("======= end =======\n", trace_fp) < 0 || std::fflush(trace_fp) != 0 ||
                std::ferror(trace_fp))
                error_msg(E_CANT_CREATE, kTraceName);
            std::fclose(trace_fp);
            trace_fp = nullptr;
            break;
        default: break;
    }
    open_flag[slot] = 0;
}

// Closes an output slot that is open and says whether everything written
// reached the file: a file system may report a failed write only when the
// file is closed. On failure the slot stays marked open, so that the error
// exit removes the unfinished file.
bool close_output(int slot) {
    if (!open_flag[slot]) return true;
    OutFile& f = slot == S_OUT_HEX ? out_hex_fp : slot == S_OUT_HXH ? out_hihex_fp : out_sym_fp;
    if (!f.close()) return false;
    open_flag[slot] = 0;
    return true;
}

// Records, before the output of `slot` is created, the name under which the
// clean-up will find it. A name that does not fit is impossible after the
// command-line limit; it is left empty, and the clean-up passes it over.
void made_note(int slot, const std::string& name) {
    made_file& m = made[slot];
    m.live = 0;
    const size_t n = name.size() < sizeof m.name - 1 ? name.size() : 0;
    std::memcpy(m.name, name.data(), n);
    m.name[n] = '\0';
}

// Removes the output of `slot` if this run made it and it is still there:
// in place only while its name still names the temporary this run holds,
// so a file another process put under that name is left alone. Uses only
// calls that are safe in a signal handler.
void made_remove(int slot) {
    made_file& m = made[slot];
    if (!m.live || m.name[0] == '\0') return;
    m.live = 0;
    if (out_hold[slot] != kNoHold)
        hold_remove(out_hold[slot], m.name);
    else
        file_remove(m.name);
}

void made_remove_all() {
    for (int slot : {S_OUT_HEX, S_OUT_HXH, S_OUT_SYM}) made_remove(slot);
}

// The clean-up of an error exit with the trace off: inputs are closed, and
// every output this run made and has not yet put in place is removed: the
// unfinished ones, and in place the finished temporaries too. A failed run
// leaves behind no file of its own.
void cleanup_files() {
    if (open_flag[S_IN_HEX]) in_hex_fp.close();
    if (open_flag[S_IN_SYM]) in_sym_fp.close();
    if (open_flag[S_OUT_HEX]) out_hex_fp.close();
    if (open_flag[S_OUT_HXH]) out_hihex_fp.close();
    if (open_flag[S_OUT_SYM]) out_sym_fp.close();
    for (int slot : {S_OUT_HEX, S_OUT_HXH, S_OUT_SYM})
        if (open_flag[slot] || in_place) made_remove(slot);
    if (open_flag[S_TRACE]) std::fclose(trace_fp);
}

// Ends the run after a failure. With the trace on, every file is kept for
// inspection and the log records where the run ended.
void error_exit(int status, ExitPlace line, std::string_view text, uint32_t number) {
    if (messages_held) throw run_stopped{status, line, std::string(text), number};
    // A helper still at work reads what the clean-up is about to take away.
    helper_join();
    if (run_embedded) throw run_stopped{status, line, std::string(text), number};
    if (trace_on()) {
        trace_fmt("++++++++++ Error exit at %d ++++++++++\n", line);
        for (int slot = 0; slot < 6; ++slot) close_file(slot);
    } else {
        cleanup_files();
    }
    std::exit(status);
}

namespace {

char* memory_reserve;
void (*memory_exhausted)();

void on_no_memory() {
    // A helper's allocation fails on its own: the reserve and the handler are
    // the run's, and the helper's try is only given up.
    if (messages_held) throw std::bad_alloc();
    if (memory_reserve != nullptr) {
        std::free(memory_reserve);
        memory_reserve = nullptr;
        return;
    }
    std::set_new_handler(nullptr);
    memory_exhausted();
}

}  // namespace

// Sets the reserve and the handler (see message.h).
void memory_reserve_set(void (*exhausted)()) {
    memory_exhausted = exhausted;
    memory_reserve = static_cast<char*>(std::malloc(size_t{1} << 16));
    std::set_new_handler(on_no_memory);
}
