// main.cpp: the entry point of mrl85-report. Reads its options, has the
// inputs read (analyse.cpp), and prints the summary, or the diagnosis of an
// input mrl85 would refuse, and writes the page when one is asked for. The
// inputs are only read.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "report/compare.h"
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
    "      --list=KIND[,KIND]...\n"
    "                     list every row of these kinds: units, functions, labels,\n"
    "                       blocks, segments, lines (by default the summary shows\n"
    "                       what is cut, 20 rows of each kind)\n"
    "      --all          list every row of every kind\n"
    "      --compare=OLD  compare the build OLD (a base name, as INPUT) with INPUT:\n"
    "                       the usage of each area before and after, and the units\n"
    "                       and functions added, removed, moved, grown, shrunk, or\n"
    "                       now deleted or kept\n"
    "      --format=FORMAT\n"
    "                     write the report as FORMAT: text (the default), or json\n"
    "                       (one JSON document with every row)\n"
    "      --html=FILE    also write a page with a map of the address space to FILE;\n"
    "                       with FILE \"-\" the page goes to standard output instead\n"
    "                       of the summary\n"
    "      --help         display this help and exit\n"
    "      --version      output version information and exit\n"
    "\n"
    "A long option may be shortened to any start that names it alone.\n"
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
    std::string old;  // --compare: the base name of the earlier build
    bool hex_only = false, sym_only = false, html_wanted = false;
    bool help = false, version = false;
    bool compare = false;
    bool json = false;   // --format=json
    unsigned lists = 0;  // the kinds of rows listed whole (report::ListKind)
    // The page goes to standard output ("--html=-"), and the summary not.
    bool page_to_stdout() const { return html_wanted && html == "-"; }
};

int usage_error(const std::string& message) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n", kName, message.c_str(), kName);
    return kStatusInput;
}

// The long options, in the order an ambiguous start lists them.
struct LongOption {
    const char* name;
    bool argument;
};
constexpr LongOption kOptions[] = {
    {"all", false}, {"compare", true}, {"format", true}, {"help", false},    {"hex", false},
    {"html", true}, {"list", true},    {"sym", false},   {"version", false},
};

// The option that `name` names: itself, or the one option it is the start
// of. Null, with `error` set, when it names none or several.
const LongOption* option_named(const std::string& name, std::string& error) {
    std::vector<const LongOption*> starts;
    for (const LongOption& o : kOptions) {
        if (name == o.name) return &o;
        if (std::string_view(o.name).starts_with(name)) starts.push_back(&o);
    }
    if (starts.size() == 1) return starts[0];
    if (starts.empty()) return nullptr;
    error = "option '--" + name + "' is ambiguous; possibilities:";
    for (const LongOption* o : starts) error += std::string(" '--") + o->name + "'";
    return nullptr;
}

// The kinds named in the argument of --list, separated by commas, added to
// `lists`. Returns -1 to go on, or the exit status of a usage error.
int lists_parse(const std::string& kinds, unsigned& lists) {
    size_t at = 0;
    do {
        const size_t comma = std::min(kinds.find(',', at), kinds.size());
        const std::string name = kinds.substr(at, comma - at);
        const unsigned kind = report::list_kind(name);
        if (kind == 0)
            return usage_error("invalid kind '" + name +
                               "' for '--list'; valid kinds are: units, functions, labels, blocks, segments, lines");
        lists |= kind;
        at = comma + 1;
    } while (at <= kinds.size());
    return -1;
}

// GNU-style options: long options, shortened to any unambiguous start,
// "--html FILE" or "--html=FILE", and "--" before an input name that begins
// with "-". --help and --version end the reading. Returns -1 to go on, or
// the exit status of a usage error.
int parse(int argc, char** argv, Options& o) {
    int inputs = 0;
    bool options_end = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (!options_end && arg.size() > 1 && arg[0] == '-') {
            if (arg == "--") {
                options_end = true;
                continue;
            }
            const size_t eq = arg.find('=');
            if (!arg.starts_with("--") || eq == 2) return usage_error("unrecognized option '" + arg + "'");
            const std::string name = arg.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
            std::string error;
            const LongOption* opt = option_named(name, error);
            if (opt == nullptr) return usage_error(error.empty() ? "unrecognized option '" + arg + "'" : error);
            const std::string full = std::string("--") + opt->name;
            if (!opt->argument && eq != std::string::npos)
                return usage_error("option '" + full + "' doesn't allow an argument");
            // The argument of an option that takes one: after "=", or the
            // next argument.
            std::string value;
            if (opt->argument) {
                if (eq != std::string::npos)
                    value = arg.substr(eq + 1);
                else if (i + 1 < argc)
                    value = argv[++i];
                else
                    return usage_error("option '" + full + "' requires an argument");
            }
            if (full == "--help") {
                o.help = true;
                return -1;
            }
            if (full == "--version") {
                o.version = true;
                return -1;
            }
            if (full == "--hex") o.hex_only = true;
            if (full == "--sym") o.sym_only = true;
            if (full == "--all") o.lists = report::kListAll;
            if (full == "--list") {
                const int listed = lists_parse(value, o.lists);
                if (listed >= 0) return listed;
                continue;
            }
            if (full == "--compare") {
                if (value.empty()) return usage_error("option '--compare' requires a base name");
                o.old = value;
                o.compare = true;
                continue;
            }
            if (full == "--format") {
                if (value != "text" && value != "json")
                    return usage_error("invalid format '" + value + "' for '--format'; valid formats are: text, json");
                o.json = value == "json";
                continue;
            }
            if (full == "--html") {
                o.html = value;
                if (o.html.empty()) return usage_error("option '--html' requires a file name");
                o.html_wanted = true;
            }
            continue;
        }
        if (++inputs > 1) return usage_error("more than one input: '" + o.input + "' and '" + arg + "'");
        o.input = arg;
    }
    if (o.json && o.page_to_stdout())
        return usage_error("'--format=json' and '--html=-' both write to standard output; give the page a file name");
    if (inputs == 0 || o.input.empty()) return usage_error("no input given");
    if (o.input.find('.') != std::string::npos)
        return usage_error("'.' in the input name '" + o.input +
                           "': give the base name, without .hex or .sym (mrl85 refuses it too)");
    if (o.compare && o.old.find('.') != std::string::npos)
        return usage_error("'.' in the name '" + o.old + "' of '--compare': give the base name, without .hex or .sym");
    return -1;
}

// The first error of a write to standard output (errno), 0 while none
// failed: later writes may set errno to something else.
int stdout_errno = 0;

// Flushes standard output; whether everything written to it got out. A
// failed write leaves its bytes in the buffer, so the flush tries again and
// its errno is the write's; errno as it is now only when nothing is left.
bool stdout_flushed() {
    const int before = errno;
    const bool failed = std::ferror(stdout) != 0;
    std::clearerr(stdout);
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        if (stdout_errno == 0) stdout_errno = errno != 0 ? errno : EIO;
    } else if (failed && stdout_errno == 0) {
        stdout_errno = before != 0 ? before : EIO;
    }
    return stdout_errno == 0;
}

// The end of a run whose standard output failed: quietly, when the reader
// of a pipe has gone (as "| head" does), else with a message; status 2.
int stdout_failed(const char* what) {
    if (!write_error_closed_pipe(stdout_errno))
        std::fprintf(stderr, "%s: %s could not be written whole: %s\n", kName, what, std::strerror(stdout_errno));
    return kStatusCreate;
}

// Writes the page: never over either input, whichever of them was read,
// nor through a link (see output_create). A device or a pipe named as the
// page is written to as it is. A page that cannot be written whole is
// removed when it is a file of this run (one it created, or the old page it
// was asked to replace and emptied), and only while its name still names it.
int page_out(const Options& o, const report::Report& r) {
    if (o.page_to_stdout()) {
        errno = 0;
        report::page_write(stdout, r);
        return stdout_flushed() ? 0 : stdout_failed("the page");
    }
    std::vector<std::string> inputs{r.hex.name, r.sym.name};
    if (o.compare) {
        inputs.push_back(o.old + ".hex");
        inputs.push_back(o.old + ".sym");
    }
    bool in_use = false;
    for (const std::string& input : inputs) in_use = in_use || same_file(o.html, input);
    std::FILE* f = nullptr;
    FileHold hold = kNoHold;
    const OutputResult got = in_use ? kOutputInUse : output_create(o.html, inputs, kOutputDevices, &f, &hold);
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

// Both builds read, the earlier (`old`) first, each as a lone report reads
// it, and compared when neither is refused; `r.compare` points to the
// comparison (shown only on success). The earlier build is kept in a
// scratch file while the later one is analysed. Returns the worse exit
// status of the two.
int compare(report::Report& old, report::Report& r, report::Comparison& c) {
    report::NameTaker names;
    old.names = &names;
    old.drop_rows = false;
    const int old_status = report::analyse(old);
    report::earlier_taken(c, old, names, old_status == 0);
    // Of the earlier build's report only the warnings and the diagnoses are
    // shown: the rest of what its analysis kept is given back before the
    // later build is read.
    old.sym.lines_forget();
    memory_give_back();
    r.names = &names;
    const int status = std::max(old_status, report::analyse(r));
    old.names = r.names = nullptr;
    r.compare = &c;
    if (status == 0) report::compare_builds(c, r, names);
    names.clear();
    return status;
}

int run(int argc, char** argv, bool stdout_closed) {
    Options o;
    const int parsed = parse(argc, argv, o);
    if (parsed >= 0) return parsed;
    if (stdout_closed) {
        std::fprintf(stderr, "%s: standard output is closed; nothing is written\n", kName);
        return kStatusCreate;
    }
    if (o.help || o.version) {
        errno = 0;
        if (o.help) std::fputs(kUsage, stdout);
        if (o.version) std::printf("%s (mrl85) %s\n%s%s", kName, MRL_VERSION_DOTTED, kCopyrightLine, kLicenceLine);
        return stdout_flushed() ? 0 : stdout_failed(o.help ? "the help" : "the version");
    }
    report::Report r, old;
    r.want_hex = old.want_hex = !o.sym_only || o.hex_only;
    r.want_sym = old.want_sym = !o.hex_only || o.sym_only;
    r.hex.name = o.input + ".hex";
    r.sym.name = o.input + ".sym";
    old.hex.name = o.old + ".hex";
    old.sym.name = o.old + ".sym";
    // The text of a comparison shows no rows of either build: the later
    // build's are listed only for the JSON document and the page.
    if (o.compare && !o.json && !o.html_wanted) r.drop_rows = false;
    report::Comparison compared;
    const int status = o.compare ? compare(old, r, compared) : report::analyse(r);
    // With the page on standard output, the summary is left out. Builds
    // that could not be compared (their scratch file failed) leave the
    // summary unwritten.
    bool whole = compared.fault.empty();
    if (!o.page_to_stdout()) {
        errno = 0;
        // The JSON document is written for a refused input too, with the
        // diagnoses in it (of both builds, with --compare).
        if (o.json) {
            const std::vector<report::Diagnosis> own = r.problems;
            r.problems.insert(r.problems.begin(), old.problems.begin(), old.problems.end());
            whole = report::json_write(stdout, r, status) && whole;
            r.problems = own;
        } else if (!o.compare) {
            whole = report::summary_print(stdout, r, o.lists);
        } else if (status == 0 && whole) {
            report::compare_print(stdout, compared, o.lists);
        }
    }
    const bool out = stdout_flushed();
    if (o.compare) {
        report::warnings_print(stderr, old);
        report::diagnoses_print(stderr, old.problems);
    }
    report::warnings_print(stderr, r);
    report::diagnoses_print(stderr, r.problems);
    // The page of a refused input shows the diagnoses; its status stays
    // that of the refusal. An input that cannot be read gets no page.
    if (status == kStatusFormat && o.html_wanted) page_out(o, r);
    if (status != 0) return status;
    if (!out) return stdout_failed("the summary");
    // A list whose scratch file failed says which file and why.
    if (!whole) {
        const std::string& fault = !compared.fault.empty()                 ? compared.fault
                                   : !r.sym.labels_dropped.fault().empty() ? r.sym.labels_dropped.fault()
                                                                           : r.sym.blocks_dropped.fault();
        std::fprintf(stderr, "%s: the summary could not be written whole%s%s\n", kName, fault.empty() ? "" : ": ",
                     report::printable(fault).c_str());
        return kStatusCreate;
    }
    if (o.html_wanted) return page_out(o, r);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const bool stdout_closed = std_output_closed();
    std_streams_open();
    write_signals_ignore();
    memory_reserve_set(no_memory_exit);
    // The summary of a large file runs to millions of rows.
    std::setvbuf(stdout, nullptr, _IOFBF, size_t{1} << 16);
    try {
        return run(argc, argv, stdout_closed);
    } catch (const std::bad_alloc&) {
        no_memory_exit();
    }
}
