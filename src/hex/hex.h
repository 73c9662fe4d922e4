// hex.h: the HEX pass. Every record line of the input HEX file is copied
// byte for byte to the output HEX file (low area) or the high HEX file; the
// last extended segment address record decides which. Needs the run's state
// (mrlpro.h): the input, the outputs, the trace. The reading and routing
// (hex_pass) hand each line to a sink, so that mrl85-report observes the
// same pass.
#ifndef MRL_HEX_H
#define MRL_HEX_H

#include <string_view>

class InFile;

int record(std::string_view line);
void data_make();
// The classes record() gives a line.
enum RecordClass : int { kSegment = 0, kData = 1, kEnd = 2 };
// A segment record (class kSegment) sends the data records after it to the
// high HEX file when its value does not begin with the digit 0.
inline bool segment_goes_high(std::string_view line) { return line[9] != '0'; }
// A line is handed over with its length: a view made from a bare pointer
// would look for a NUL past the line.
bool segment_goes_high(const char*) = delete;
// The outputs a line goes to, as a set: the output HEX file (low area), the
// high HEX file, either, both or neither.
enum HexDest : int { kToNone = 0, kToLow = 1, kToHigh = 2 };

// The routing rule of the HEX pass, from line to line: data records go to
// the output the last segment record chose (low before any); a segment
// record goes to the high HEX file when it sends what follows there, else
// nowhere; the end record goes to each output that has received a line.
// The pass writes by it, and mrl85-report counts by it.
struct HexRoute {
    bool to_high = false;                    // data records go to the high HEX file
    bool low_got = false, high_got = false;  // the output has received a line
};

// Routes one line of class `cls` (record()): the outputs it goes to, which
// are then noted as having received a line.
inline int hex_route(HexRoute& r, int cls, std::string_view line) {
    switch (cls) {
        case kSegment:
            r.to_high = segment_goes_high(line);
            if (!r.to_high) return kToNone;
            r.high_got = true;
            return kToHigh;
        case kData:
            if (r.to_high) {
                r.high_got = true;
                return kToHigh;
            }
            r.low_got = true;
            return kToLow;
        default: return (r.low_got ? kToLow : kToNone) | (r.high_got ? kToHigh : kToNone);
    }
}

// What the HEX pass does with the lines it routes: mrl85's sink writes them
// to the outputs, mrl85-report's counts them. The pass reads, classifies
// (record(), which ends the run on a bad line) and routes (hex_route()); the
// sink only receives.
class HexSink {
public:
    // Each line the pass reads, before it is classified: a line of at most
    // 255 characters, or a piece of that size of a longer one (each piece is
    // handled as a line); after the end record, the lines it reads on.
    virtual void seen(std::string_view /*line*/) {}
    // A line before the end record, or the end record itself, with its class
    // (RecordClass) and the outputs it goes to (HexDest).
    virtual void routed(std::string_view line, int cls, int dest) = 0;
    // Whether the sink takes whole runs of lines (run()): the pass may then
    // copy most lines a block at a time, without seen() or routed() for them.
    virtual bool takes_runs() const { return false; }
    // Consecutive whole lines bound for the same output `dest` (kToLow or
    // kToHigh), the first of class `first_cls`, as they stand in the input.
    virtual void run(int /*dest*/, int /*first_cls*/, std::string_view /*lines*/) {}
    // Whether the pass reads the input to its end after the end record
    // (otherwise it reads one more line and stops).
    virtual bool reads_to_end() const { return false; }
    // The input could not be read, before or after the end record; the pass
    // then stops, unless the sink ends the run itself.
    virtual void read_failed(bool after_end) = 0;

protected:
    ~HexSink() = default;
};

// The HEX pass over `in`, from its current line to the end record and past
// it as the sink asks, routed by `route`. With the trace off and a sink that
// takes runs, most lines go to the sink a block at a time.
void hex_pass(InFile& in, HexSink& sink, HexRoute& route);

// Which outputs a finished pass keeps, from whether data went to the output
// HEX file (`low_written`) and whether any line went to the high HEX file:
// without low data neither is kept, and the high HEX file only with lines.
inline void hex_outputs_kept(bool low_written, bool high_written, int* low_kept, int* high_kept) {
    *low_kept = low_written;
    *high_kept = low_written && high_written;
}

#endif
