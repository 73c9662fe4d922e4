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
// Which outputs a finished pass keeps, from whether data went to the output
// HEX file (`low_written`) and whether any line went to the high HEX file:
// without low data neither is kept, and the high HEX file only with lines.
inline void hex_outputs_kept(bool low_written, bool high_written, int* low_kept, int* high_kept) {
    *low_kept = low_written;
    *high_kept = low_written && high_written;
}

#endif
