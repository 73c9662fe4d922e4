// main.cpp: the entry point of mrl85-report. Reads its options, has the
// inputs read (analyse.cpp), and prints the summary, or the diagnosis of an
// input mrl85 would refuse, and writes the page when one is asked for. The
// inputs are only read.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "report/report.h"
#include "run/message.h"
#include "run/platform.h"

namespace {

constexpr const char* kName = "mrl85-report";

const char* const kUsage =
    "Usage: mrl85-report [OPTION]... INPUT\n"
    "Show what mrl85 keeps of INPUT.hex and INPUT.sym and what it cuts, or\n"
    "where mrl85 would refuse them. The inputs are only read.\n"
    "\n"
    "      --hex          read INPUT.hex only\n"
    "      --sym          read INPUT.sym only\n"
    "      --html=FILE    also write a page with a map of the address space to FILE\n"
    "      --help         display this help and exit\n"
    "      --version      output version information and exit\n"
    "\n"
    "INPUT is a base name, as mrl85 takes it: without an extension and without\n"
    "a \".\" anywhere.\n"
    "\n"
    "Exit status:\n"
    " 0  mrl85 would convert the inputs\n"
    " 2  the summary or the page could not be written whole\n"
    " 3  mrl85 would refuse an input as a format error (the diagnosis says where)\n"
    " 4  a usage error, or an input that cannot be read\n";

struct Options {
    std::string input, html;
    bool hex_only = false, sym_only = false, html_wanted = false;
};

int usage_error(const std::string& message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kName, message.c_str(), kName);
    return kStatusInput;
}

// GNU-style options: long options, "--html FILE" or "--html=FILE", and "--"
// before an input name that begins with "-". Returns -1 to go on, or the
// exit status.
int parse(int argc, char** argv, Options& o) {
    int inputs = 0;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options_end && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                options_end = true;
            } else if (arg == "--help") {
                std::fputs(kUsage, stdout);
                return 0;
            } else if (arg == "--version") {
                std::printf("%s (mrl85) %s\n", kName, MRL_VERSION_DOTTED);
                return 0;
            } else if (arg == "--hex") {
                o.hex_only = true;
            } else if (arg == "--sym") {
                o.sym_only = true;
            } else if (arg == "--html" || arg.starts_with("--html=")) {
                if (arg == "--html") {
                    if (i + 1 >= argc) return usage_error("option '--html' requires an argument");
                    o.html = argv[++i];
                } else {
                    o.html = arg.substr(7);
                }
                if (o.html.empty()) return usage_error("option '--html' requires a file name");
                o.html_wanted = true;
            } else {
                return usage_error("unrecognized option '" + arg + "'");
            }
            continue;
        }
        if (++inputs > 1) return usage_error("more than one input: '" + o.input + "' and '" + arg + "'");
        o.input = arg;
    }
    if (inputs == 0 || o.input.empty()) return usage_error("no input given");
    if (o.input.find('.') != std::string::npos)
        return usage_error("'.' in the input name '" + o.input +
                           "': give the base name, without .hex or .sym (mrl85 refuses it too)");
    return -1;
}

// Writes the page: never over either input, whichever of them was read,
// nor through a link (see output_create). A device or a pipe named as the
// page is written to as it is. A page that cannot be written whole is
// removed when it is a file of this run (one it created, or the old page it
// was asked to replace and emptied), and only while its name still names it.
int page_out(const Options& o, const report::Report& r) {
    const std::vector<std::string> inputs{r.hex.name, r.sym.name};
    std::FILE* f = nullptr;
    FileHold hold = kNoHold;
    const OutputResult got = same_file(o.html, r.hex.name) || same_file(o.html, r.sym.name)
                                 ? kOutputInUse
                                 : output_create(o.html, inputs, kOutputDevices, &f, &hold);
    if (got == kOutputInUse) {
        std::fprintf(stderr, "%s: the page '%s' is an input; it is not written\n", kName, o.html.c_str());
        return kStatusInput;
    }
    if (got != kOutputMade && got != kOutputDevice) {
        std::fprintf(stderr, "%s: cannot create '%s': %s\n", kName, o.html.c_str(), std::strerror(errno));
        return kStatusCreate;
    }
    bool ok = report::page_write(f, r);
    if (std::fclose(f) != 0) ok = false;
    if (!ok) hold_remove(hold, o.html.c_str());
    hold_release(hold);
    if (!ok) {
        std::fprintf(stderr, "%s: cannot write '%s'\n", kName, o.html.c_str());
        return kStatusCreate;
    }
    return 0;
}

// Memory ran out: the run ends with its message and status 3; what the
// summary printed so far is flushed.
[[noreturn]] void no_memory_exit() {
    std::fprintf(stderr, "%s: not enough memory\n", kName);
    std::exit(kStatusFormat);
}

int run(int argc, char** argv) {
    Options o;
    const int parsed = parse(argc, argv, o);
    if (parsed >= 0) return parsed;
    report::Report r;
    r.want_hex = !o.sym_only || o.hex_only;
    r.want_sym = !o.hex_only || o.sym_only;
    r.hex.name = o.input + ".hex";
    r.sym.name = o.input + ".sym";
    const int status = report::analyse(r);
    const bool whole = report::summary_print(stdout, r);
    std::fflush(stdout);
    for (const report::Diagnosis& d : r.problems) report::diagnosis_print(stderr, d);
    if (status != 0) return status;
    // A summary that did not get out whole (a list lost, a full disk, a
    // closed pipe) is no success.
    if (!whole || std::ferror(stdout)) {
        // A list whose scratch file failed says which file and why.
        const std::string& fault =
            !r.sym.labels_dropped.fault().empty() ? r.sym.labels_dropped.fault() : r.sym.blocks_dropped.fault();
        std::fprintf(stderr, "%s: the summary could not be written whole%s%s\n", kName, fault.empty() ? "" : ": ",
                     report::printable(fault).c_str());
        return kStatusCreate;
    }
    if (o.html_wanted) return page_out(o, r);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std_streams_open();
    write_signals_ignore();
    memory_reserve_set(no_memory_exit);
    // The summary of a large file runs to millions of rows.
    std::setvbuf(stdout, nullptr, _IOFBF, size_t{1} << 16);
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        no_memory_exit();
    }
}
