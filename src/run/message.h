// message.h: messages, exit statuses and the ways a run ends.
//
// Every message goes to standard output in the program's own form (" Error :
// ...", " Warning : ..."); error_exit ends a run after a failure, removing
// the outputs it made unless the trace is on. The places a run can end at
// are numbered (ExitPlace): the trace log shows them. Needs the run's state
// (mrlpro.h) in its implementation only.
#ifndef MRL_MESSAGE_H
#define MRL_MESSAGE_H

#include <cstdint>
#include <string>
#include <string_view>

#include "mrl_version.h"

// printf-style checking of a function's format and arguments, where the
// compiler offers it (GCC and Clang); other compilers take the plain
// declaration.
#if defined(__GNUC__)
#define MRL_PRINTF_LIKE(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define MRL_PRINTF_LIKE(fmt, first)
#endif

inline constexpr const char* kVersion = MRL_VERSION_TEXT;  // "V.1.00.00", from project(VERSION)
// The copyright and licence lines of the banner (and of mrl85-report --version).
inline constexpr const char* kCopyrightLine = "Copyright (c) 2026 The mrl85 authors\n";
inline constexpr const char* kLicenceLine = "Released under the MIT License\n";

// Place numbers shown in the trace log by "Error exit at %d" and trace_line().
// They name the check that ended the run; they are part of the log format and
// never change with the layout of the source files.
enum ExitPlace : int {
    L_NO_ARGS = 250,          // no arguments at all
    L_BAD_OPTIONS = 279,      // option parsing found errors
    L_TRACE_CREATE = 374,     // trace log cannot be created
    L_TRACE_HEADER = 384,     // trace header cannot be written
    L_DOT_INPUT = 445,        // "." in the input base name
    L_DOT_OUTPUT = 452,       // "." in the output base name
    L_OPEN_IN_HEX = 474,      // input HEX file cannot be opened
    L_CREATE_OUT_HEX = 482,   // output HEX file cannot be created
    L_CREATE_OUT_HXH = 490,   // high HEX file cannot be created
    L_OPEN_IN_SYM = 500,      // input symbol file cannot be opened
    L_CREATE_OUT_SYM = 508,   // output symbol file cannot be created
    L_HEX_NO_MARK = 537,      // HEX line does not begin with ':'
    L_HEX_SHORT = 541,        // HEX line shorter than 11 characters
    L_HEX_TYPE_X2 = 553,      // record type ?2 other than 02
    L_HEX_TYPE_X0 = 561,      // record type ?0 other than 00
    L_HEX_TYPE_X1 = 571,      // record type ?1 other than 01 and 81
    L_HEX_TYPE_OTHER = 576,   // any other record type
    L_HEX_WR_SEG_HXH = 624,   // segment record to the high HEX file
    L_HEX_WR_DATA_HEX = 635,  // data record to the output HEX file
    L_HEX_WR_DATA_HXH = 642,  // data record to the high HEX file
    L_HEX_WR_END_HEX = 650,   // end record to the output HEX file
    L_HEX_WR_END_HXH = 656,   // end record to the high HEX file
    L_NO_MEMORY = 1054,       // the tables cannot grow
    L_HEX_DIGIT = 1082,       // a number holds a non-hex character
    L_HEX_TOO_LONG = 1092,    // a number has more than 8 significant digits
    L_NO_UNIT = 1385,         // unit number not in the unit table
    L_NO_FUNC = 1417,         // function number not in the function table
    L_SYM_WR_HEADER = 1501,   // header line to the output symbol file
    L_SYM_WR_DATA = 1557,     // data line to the output symbol file
    L_NO_RANGE_DASH = 1626,   // LOCAL SYMBOL range without "-"
    L_AFTER_HEX = 1979,       // driver: after the HEX pass
    L_AFTER_SYM = 1982,       // driver: after the symbol pass

    // Checks this program adds so that no failure passes for success.
    L_HEX_READ = 2001,       // read error on the input HEX file
    L_HEX_FLUSH_HEX = 2002,  // output HEX file did not reach the disk whole
    L_HEX_FLUSH_HXH = 2003,  // high HEX file did not reach the disk whole
    L_SYM_READ = 2011,       // read error on the input symbol file
    L_SYM_REWIND = 2012,     // input symbol file cannot be read again
    L_SYM_FLUSH = 2013,      // output symbol file did not reach the disk whole
    L_SYM_CR_ONLY = 2014,    // symbol file with carriage returns but no line feed
    L_OUT_OF_MEMORY = 2021,  // memory ran out outside the tables
    L_REPLACE = 2031,        // in place: an output cannot take its input's name
    L_TEMP_TAKEN = 2032,     // in place: a file already bears a temporary output's name
    L_TEMP_SYNC = 2033,      // in place: a temporary output could not be finished (mode, stable storage)
    L_TEMP_LOST = 2034,      // in place: a temporary output's name no longer names it
};

// Exit statuses.
inline constexpr int kStatusInterrupted = 1;
inline constexpr int kStatusCreate = 2;
inline constexpr int kStatusFormat = 3;
inline constexpr int kStatusInput = 4;

// Error numbers (index into the message table).
enum ErrorNo : int {
    E_NO_INPUT = 1,
    E_BAD_OPTION = 2,
    E_OPTION_TEXT = 3,
    E_NO_MEMORY = 4,
    E_MANY_INPUTS = 5,
    E_CANT_OPEN = 6,
    E_CANT_CREATE = 7,
    E_TOO_LONG = 8,
    E_FORMAT = 9,
    E_TEMP_FILE = 10,
    E_MULTIPLE = 11,
    E_NO_OUTPUT = 12,
    E_H_AND_S = 13,
    E_DOT_NAME = 14,
};

// What error_exit throws instead of ending the process when the passes run
// as a library (run_embedded, mrlpro.h): the status and the place of the
// check that refused an input, and what it looked at: the number text a
// format error was found in (L_HEX_DIGIT, L_HEX_TOO_LONG), the number looked
// up in vain (L_NO_UNIT, L_NO_FUNC).
struct run_stopped {
    int status;
    int place;
    std::string text;
    uint32_t number;
};

// Keeps memory in reserve from here on and sets the out-of-memory handler:
// when an allocation fails, the reserve is given back and the allocation
// tried again; when it fails once more, `exhausted` ends the run right
// there, without an exception, for which there may be no memory left either
// (the process would then abort). Called first thing in main.
void memory_reserve_set(void (*exhausted)());
// Called on a helper thread (run/platform.h): from then on, on that thread,
// messages are held (error_msg, warning_msg and out_text print nothing and
// change nothing) and error_exit throws run_stopped, so that only the thread
// that runs the passes says anything or ends the run.
void messages_hold();
void out_text(std::string_view text);  // standard output, flushed
void error_msg(int n, std::string_view arg = {});
void warning_msg(int n, std::string_view arg = {});
// Ends the run after a failure; `text` and `number` are what the failed
// check looked at (see run_stopped).
[[noreturn]] void error_exit(int status, ExitPlace place, std::string_view text = {}, uint32_t number = 0);
void close_file(int slot);
bool close_output(int slot);
void cleanup_files();
void made_note(int slot, const std::string& name);
void made_remove(int slot);
void made_remove_all();
void show_usage();
void show_version();
void show_banner();

#endif
