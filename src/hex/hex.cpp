// hex.cpp: the HEX pass. Every record line is copied byte for byte to the
// output HEX file (low area) or the high HEX file: the last extended segment
// address record decides, by whether its value begins with the digit 0.
#include <cstddef>

#include "hex/hex.h"
#include "mrlpro.h"
#include "run/lineends.h"
#include "run/message.h"
#include "run/textfile.h"
#include "run/trace.h"

namespace {

[[noreturn]] void format_error(ExitPlace line) {
    error_msg(E_FORMAT, input_hex);
    error_exit(kStatusFormat, line);
}

void put(OutFile& f, const std::string& name, std::string_view line, int status, ExitPlace place) {
    if (!f.write(line)) {
        error_msg(E_CANT_CREATE, name);
        error_exit(status, place);
    }
}

// An output must reach the disk whole before its slot is closed; a full disk
// may show only here, since the writes are buffered, or only when the file is
// closed (a network file system's delayed write error).
void flush_or_fail(OutFile& f, const std::string& name, ExitPlace place) {
    if (!f.flush()) {
        error_msg(E_CANT_CREATE, name);
        error_exit(kStatusFormat, place);
    }
}

// Both outputs are closed before either is judged, so that a failure of one
// removes both: the pass succeeds whole or leaves nothing.
void close_outputs() {
    const bool hex_ok = out_hex_fp.close(), hxh_ok = out_hihex_fp.close();
    if (!hex_ok || !hxh_ok) {
        error_msg(E_CANT_CREATE, hex_ok ? output_hihex : output_hex);
        error_exit(kStatusFormat, hex_ok ? L_HEX_FLUSH_HXH : L_HEX_FLUSH_HEX);
    }
    close_file(S_OUT_HEX);
    close_file(S_OUT_HXH);
}

}  // namespace

// Classifies one record line by its two type characters: 0 segment ("02"),
// 1 data ("00", "81"), 2 end ("01"). Any other line ends the run.
int record(std::string_view line) {
    trace_str("=== record() ===\n");
    if (line.empty() || line[0] != ':') format_error(L_HEX_NO_MARK);
    if (line.size() < 11) format_error(L_HEX_SHORT);
    const char hi = line[7], lo = line[8];
    switch (lo) {
        case '0':
            if (hi == '0') return kData;
            format_error(L_HEX_TYPE_X0);
        case '1':
            if (hi == '0') return kEnd;
            if (hi == '8') return kData;
            format_error(L_HEX_TYPE_X1);
        case '2':
            if (hi == '0') return kSegment;
            format_error(L_HEX_TYPE_X2);
        default: format_error(L_HEX_TYPE_OTHER);
    }
}

namespace {

// Copies the whole lines of the unread input block that need nothing but
// routing: a line feed within 255 characters and no carriage return before
// it, a record mark, a length of at least 11 and a data or segment type.
// Each run of consecutive lines bound for the same output goes to the sink
// with one call, straight from the input block. Returns true when it stopped
// only because the block ends inside a line (so the next block may go on),
// false at the first line that is anything else (an end record, a bad line, a
// CR LF line, a long line, the last line of a file without a line end), which
// is left to the line-by-line path; that path handles it exactly as it
// handles every line when tracing is on.
bool copy_block(InFile& in, HexSink& sink, HexRoute& route) {
    const std::string_view block = in.unread();
    const char* const start = block.data();
    const char* const end = start + block.size();
    const char* line = start;
    bool cut = false;
    int run_dest = kToNone, run_cls = kData;  // of the run being gathered
    const char* run_begin = start;
    LineEnds ends(start, end);
    for (;;) {
        const char* const lf = ends.next();
        if (lf == nullptr) {
            cut = true;
            break;
        }
        if (lf - line < 10 || lf - line >= static_cast<ptrdiff_t>(kLineMax) || lf[-1] == '\r' || line[0] != ':') break;
        const char hi = line[7], lo = line[8];
        int cls;
        if ((hi == '0' && lo == '0') || (hi == '8' && lo == '1'))
            cls = kData;
        else if (hi == '0' && lo == '2')
            cls = kSegment;
        else
            break;
        const int dest = hex_route(route, cls, std::string_view(line, static_cast<size_t>(lf + 1 - line)));
        if (dest != run_dest) {
            if (run_dest != kToNone && line > run_begin)
                sink.run(run_dest, run_cls, std::string_view(run_begin, static_cast<size_t>(line - run_begin)));
            run_dest = dest;
            run_cls = cls;
            run_begin = line;
        }
        line = lf + 1;
    }
    if (run_dest != kToNone && line > run_begin)
        sink.run(run_dest, run_cls, std::string_view(run_begin, static_cast<size_t>(line - run_begin)));
    in.advance(static_cast<size_t>(line - start));
    return cut && line > start;
}

// mrl85's sink: each line is written to the outputs it goes to; a write that
// fails ends the run.
class OutputSink final : public HexSink {
public:
    void routed(std::string_view line, int cls, int dest) override;
    bool takes_runs() const override { return true; }
    void run(int dest, int first_cls, std::string_view lines) override;
    void read_failed(bool after_end) override;
};

void OutputSink::routed(std::string_view line, int cls, int dest) {
    switch (cls) {
        case kSegment:
            if (dest == kToHigh) put(out_hihex_fp, output_hihex, line, kStatusFormat, L_HEX_WR_SEG_HXH);
            break;
        case kData:
            if (dest == kToLow)
                put(out_hex_fp, output_hex, line, kStatusFormat, L_HEX_WR_DATA_HEX);
            else
                put(out_hihex_fp, output_hihex, line, kStatusFormat, L_HEX_WR_DATA_HXH);
            break;
        default:
            if (dest & kToLow) put(out_hex_fp, output_hex, line, kStatusFormat, L_HEX_WR_END_HEX);
            if (dest & kToHigh) put(out_hihex_fp, output_hihex, line, kStatusCreate, L_HEX_WR_END_HXH);
            break;
    }
}

// A run is written with one call; a failed write is told at the place of
// the run's first line.
void OutputSink::run(int dest, int first_cls, std::string_view lines) {
    const bool high = dest == kToHigh;
    if (!(high ? out_hihex_fp : out_hex_fp).write_long(lines)) {
        error_msg(E_CANT_CREATE, high ? output_hihex : output_hex);
        error_exit(kStatusFormat, !high                ? L_HEX_WR_DATA_HEX
                                  : first_cls == kData ? L_HEX_WR_DATA_HXH
                                                       : L_HEX_WR_SEG_HXH);
    }
}

void OutputSink::read_failed(bool /*after_end*/) {
    error_msg(E_CANT_OPEN, input_hex);
    error_exit(kStatusInput, L_HEX_READ);
}

}  // namespace

// Reads, classifies and routes line by line, with the block copier between
// lines when the trace is off and the sink takes runs.
void hex_pass(InFile& in, HexSink& sink, HexRoute& route) {
    bool running = true;
    std::string_view line;
    for (;;) {
        if (running && sink.takes_runs() && !trace_on()) {
            while (copy_block(in, sink, route)) {
            }
        }
        const int got = in.get_line(line);
        if (got < 0) {
            sink.read_failed(!running);
            return;
        }
        if (got == 0) return;
        sink.seen(line);
        if (!running) {
            if (sink.reads_to_end()) continue;
            return;
        }
        const int cls = record(line);
        sink.routed(line, cls, hex_route(route, cls, line));
        if (cls == kEnd) running = false;
    }
}

// Copies the input HEX file to the two outputs, up to the end record and one
// more line, then closes the three files and removes an output that got
// nothing. With the trace off, most lines are copied a block at a time; each
// remaining line, and every line with the trace on, goes through record()
// one by one.
void data_make() {
    trace_str("=== data_make() ===\n");
    out_text("\n== HEX file convert now == ( " + input_hex + " --> " + (in_place ? final_hex : output_hex) + " )\n");
    HexRoute route;
    OutputSink sink;
    hex_pass(in_hex_fp, sink, route);
    // Read in place through a mapping, the input must still be the file
    // that was read.
    if (in_hex_fp.cut()) {
        error_msg(E_CANT_OPEN, input_hex);
        error_exit(kStatusInput, L_HEX_READ);
    }
    flush_or_fail(out_hex_fp, output_hex, L_HEX_FLUSH_HEX);
    flush_or_fail(out_hihex_fp, output_hihex, L_HEX_FLUSH_HXH);
    close_file(S_IN_HEX);
    close_outputs();
    hex_outputs_kept(route.low_got, route.high_got, &hex_low_kept, &hex_high_kept);
    if (!route.low_got) {
        warning_msg(1, output_hex);
        made_remove(S_OUT_HEX);
        made_remove(S_OUT_HXH);
    } else if (!route.high_got) {
        made_remove(S_OUT_HXH);
    }
}
