// trace.cpp: the trace log "mrl.ifd" that +info switches on. Every write is
// flushed at once, so the log is complete up to the last recorded event even
// when the process ends abnormally.
#include <cstdarg>
#include <ctime>

#include "mrlpro.h"
#include "run/message.h"
#include "run/platform.h"
#include "run/trace.h"

namespace {

// The start time as the fixed 25-character date text, for example
// "Thu Dec 10 01:12:40 2026\n" (day of month padded with a blank).
std::string date_text(long long when) {
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::time_t t = static_cast<std::time_t>(when);
    const std::tm* tm = std::localtime(&t);
    char buf[64];
    if (tm == nullptr) return "??? ??? ?? ??:??:?? ????\n";
    std::snprintf(buf, sizeof buf, "%s %s %2d %02d:%02d:%02d %04d\n", days[tm->tm_wday % 7], months[tm->tm_mon % 12],
                  tm->tm_mday, tm->tm_hour, tm->tm_min, tm->tm_sec, tm->tm_year + 1900);
    return buf;
}

// The inputs the command line names, as option parsing will find them
// (the first argument that is no option, and the passes that -H and -S
// leave), for the trace log to be checked against before it is emptied:
// +info may stand before the input name.
void inputs_named(int argc, char** argv, std::string& hex, std::string& sym) {
    const char* name = nullptr;
    bool hex_pass = true, sym_pass = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "-H" || a == "-h") sym_pass = false;
        if (a == "-S" || a == "-s") hex_pass = false;
        if (name == nullptr && !a.empty() && a[0] != '-' && a[0] != '+') name = argv[i];
    }
    if (name == nullptr) return;
    if (hex_pass) hex = std::string(name) + ".hex";
    if (sym_pass) sym = std::string(name) + ".sym";
}

}  // namespace

// Creates the trace log and writes its header. A repeated +info is ignored.
void trace_open(int argc, char** argv) {
    if (trace_on()) return;
    // The log is a plain file of its own, opened as every output is (see
    // output_create): a link named "mrl.ifd" is replaced by a new file,
    // never written through, and an input under that name by any spelling
    // is refused and left as it is.
    // Text mode: on Windows each line feed of the log is written as CR LF,
    // the platform's line end, as in the converted outputs (textfile.h).
    std::string hex, sym;
    inputs_named(argc, argv, hex, sym);
    trace_fp = nullptr;
    if (output_create(kTraceName, {hex, sym}, kOutputText, &trace_fp, nullptr) != kOutputMade) trace_fp = nullptr;
    if (trace_fp == nullptr) {
        error_msg(E_TEMP_FILE);
        error_exit(kStatusCreate, L_TRACE_CREATE);
    }
    open_flag[S_TRACE] = 1;
    std::fprintf(trace_fp, "===== HEX, SYM convertor %s =====\n", kVersion);
    std::fprintf(trace_fp, "   %s\n", date_text(start_time).c_str());
    std::fputs("argment : ", trace_fp);
    for (int i = 0; i < argc; ++i) {
        std::fputs(argv[i], trace_fp);
        std::fputc(' ', trace_fp);
    }
    // The header must reach the disk: a full disk shows only on the flush.
    if (std::fputs("\n-----------------------\n", trace_fp) < 0 || std::fflush(trace_fp) != 0) {
        error_msg(E_TEMP_FILE);
        error_exit(kStatusCreate, L_TRACE_HEADER);
    }
}

void trace_write(std::string_view text) {
    if (!trace_on() || text.empty()) return;
    std::fwrite(text.data(), 1, text.size(), trace_fp);
    std::fflush(trace_fp);
}

void trace_int(long long n) {
    if (!trace_on()) return;
    std::fprintf(trace_fp, "%lld", n);
    std::fflush(trace_fp);
}

void trace_line(ExitPlace n) {
    if (!trace_on()) return;
    std::fprintf(trace_fp, "%s(%d)\n", "MRL", n);
    std::fflush(trace_fp);
}

// A formatted trace line; `fmt` is always a fixed text of this program.
void trace_fmt(const char* fmt, ...) {
    if (!trace_on()) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(trace_fp, fmt, ap);
    va_end(ap);
    std::fflush(trace_fp);
}
