// trace.h: the trace log (mrl.ifd), written when the run is started with
// +info: the header with the date and the inputs, and the lines the passes
// write as they go. Needs the run's state (mrlpro.h): whether the log is open
// (trace_on) is asked for every line, so it is inline.
#ifndef MRL_TRACE_H
#define MRL_TRACE_H

#include <string_view>

#include "mrlpro.h"
#include "run/message.h"

inline constexpr const char* kTraceName = "mrl.ifd";

void trace_open(int argc, char** argv);
inline bool trace_on() { return open_flag[S_TRACE] != 0; }
void trace_write(std::string_view text);
// Writes `text` to the log when it is on. The rewriters name themselves for
// every line they see, so the test whether the log is on is made here,
// without a call.
inline void trace_str(std::string_view text) {
    if (trace_on()) trace_write(text);
}
void trace_int(long long n);
void trace_line(ExitPlace place);
void trace_fmt(const char* fmt, ...) MRL_PRINTF_LIKE(1, 2);

#endif
