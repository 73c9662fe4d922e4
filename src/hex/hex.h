// hex.h: the HEX pass. Every record line of the input HEX file is copied
// byte for byte to the output HEX file (low area) or the high HEX file; the
// last extended segment address record decides which. Needs the run's state
// (mrlpro.h): the input, the outputs, the trace.
#ifndef MRL_HEX_H
#define MRL_HEX_H

#include <string_view>

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

// Which outputs a finished pass keeps, from whether data went to the output
// HEX file (`low_written`) and whether any line went to the high HEX file:
// without low data neither is kept, and the high HEX file only with lines.
inline void hex_outputs_kept(bool low_written, bool high_written, int* low_kept, int* high_kept) {
    *low_kept = low_written;
    *high_kept = low_written && high_written;
}

#endif
