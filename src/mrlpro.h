// mrlpro.h: the process-wide state of mrl85 and the operations of all its modules.
//
// The program runs once, straight through, on one thread. Everything it knows
// lives in the globals declared here, set up by init_globals() at start-up.
#ifndef MRLPRO_H
#define MRLPRO_H

#include <bit>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "mrl_version.h"
#include "run/platform.h"
#include "run/textfile.h"
#include "sym/record_table.h"

// printf-style checking of a function's format and arguments, where the
// compiler offers it (GCC and Clang); other compilers take the plain
// declaration.
#if defined(__GNUC__)
#define MRL_PRINTF_LIKE(fmt, first) __attribute__((format(printf, fmt, first)))
#else
#define MRL_PRINTF_LIKE(fmt, first)
#endif

// ---------------------------------------------------------------------------
// Fixed texts
inline constexpr const char* kVersion = MRL_VERSION_TEXT;  // "V.1.00.00", from project(VERSION)
inline constexpr const char* kTraceName = "mrl.ifd";

// ---------------------------------------------------------------------------
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

// File table slots.
enum Slot : int { S_IN_HEX = 0, S_IN_SYM = 1, S_OUT_HEX = 2, S_OUT_HXH = 3, S_OUT_SYM = 4, S_TRACE = 5 };

// The kinds of "#" lines. The headers of kinds up to SEC_SOURCE carry numbers
// that the renumbering rewrites; the data lines of the kinds from
// SEC_SECTION_INFO on go to a rewriter each.
enum SecKind : int {
    SEC_LOCAL_LABEL = 0,
    SEC_LOCAL_SYMBOL = 1,
    SEC_LOCAL_BIT_SYMBOL = 2,
    SEC_FUNC = 3,
    SEC_CALL = 4,
    SEC_SOURCE = 5,
    SEC_SECTION_INFO = 6,
    SEC_GLOBAL_LABEL = 7,
    SEC_GLOBAL_SYMBOL = 8,
    SEC_GLOBAL_BIT_SYMBOL = 9,
    SEC_NONE = 99,  // a "#" line that begins with no header text, or no "#" line
};

// ---------------------------------------------------------------------------
// Process-wide state (defined in run/globals.cpp)
extern std::string input_name, output_name, final_name;
extern std::string input_hex, input_sym, output_hex, output_hihex, output_sym;
extern std::string final_hex, final_hihex, final_sym;
extern int do_hex, do_sym, no_output, in_place;
extern int open_flag[6];
extern InFile in_hex_fp, in_sym_fp;
extern OutFile out_hex_fp, out_hihex_fp, out_sym_fp;
extern std::FILE* trace_fp;
extern long long start_time;
extern int last_error, last_warning;
// In place: each temporary output stays open, by slot, from its creation
// until it has been renamed or removed (kNoHold: none).
extern FileHold out_hold[6];
// The outputs this run created or emptied, by slot, as the clean-up of an
// error exit or an interrupt removes them: names kept in fixed buffers,
// filled before the file is created, so that a signal handler can use them.
struct made_file {
    char name[272];
    volatile std::sig_atomic_t live;  // 1 from the file's creation until it is renamed or removed
};
extern made_file made[6];
// The place an exhausted memory is reported at: L_NO_MEMORY while the
// tables grow, L_OUT_OF_MEMORY elsewhere.
extern ExitPlace memory_place;
// Set by the HEX pass: 1 when it kept its output HEX file (low data was
// written) and when it kept its high HEX file. In place, only a kept output
// replaces anything.
extern int hex_low_kept, hex_high_kept;

// The unit and function tables. Records are kept in table order: ascending
// number, and among equal numbers in the order the insertion rule gives.
// Records are small, since a large file has millions of them.
struct unit_record {
    uint32_t unit_no;
    uint32_t seq;  // reading order: for the insertion rule, and the name (unit_name)
    uint32_t start_addr;
    uint32_t length;
    uint32_t new_unit_no;
    // In the first record of each unit number: the highest and the lowest
    // number of the run of consecutive, present, deleted unit numbers that
    // holds it, or its own number. A walk over unit numbers jumps over such a
    // run in one step.
    uint32_t run_up, run_down;
    uint8_t delete_mode;
    uint8_t section_e;  // the section name is "E" or "e"
};

// The new unit number of a function is that of its unit (unit_new_number).
struct func_record {
    uint32_t func_no;
    uint32_t unit_no;
    uint32_t seq;  // reading order, for the insertion rule
    uint32_t new_func_no;
    uint8_t delete_mode;
};

extern record_table<unit_record> unit_table;
extern record_table<func_record> func_table;
extern uint32_t unit_del_count, func_del_count;
// Lookups by unit number made so far. Only tests read it, to see that a walk
// over a run of deleted units passes the run in one step.
extern uint64_t unit_lookups;
// The first record of each number in its table: place[n - base] is one more
// than the place in the table of the first record numbered n, or 0. Built by
// table_order when the numbers are dense (at most about two slots for each
// record), so that a lookup takes one step; left empty otherwise, and a
// lookup then searches the ordered table. Adding a record empties it until
// the table is ordered again.
// When the ordered table holds each number from the base on exactly once,
// `direct` is set instead: the record numbered n is the table's record
// n - base, and no index memory is needed.
template <class Record>
struct number_index {
    uint32_t base = 0;
    std::vector<uint32_t> place;
    bool direct = false;
};
extern number_index<unit_record> unit_index;
extern number_index<func_record> func_index;
// The rewriter of SECTION INFORMATION lines keeps these across calls.
extern int sec_parse_next, sec_lib_deleted;

// ---------------------------------------------------------------------------
// The passes as a library for another program (mrl85-report), which needs
// the same decisions and wants to see them. mrl85 leaves every one of these
// at its start-up value, and then none of them changes what it does.
//
// With `run_embedded` set, messages are not printed (last_error still names
// the last one) and error_exit throws run_stopped instead of ending the
// process, so that the caller learns which check refused an input.
struct run_stopped {
    int status;
    int place;
};
extern bool run_embedded;
// Set: both symbol passes take every line through their line-by-line way
// and read every line, so that the input's line count (InFile::lines) is
// the number of the line being handled when a check fails.
extern bool lines_one_by_one;
// Set: the section names of the units are kept without the trace too.
extern bool keep_unit_names;
// What a failed check looked at: the number text a format error was found
// in (1082, 1092), and the number that was looked up in vain (1385, 1417).
extern std::string fault_text;
extern uint32_t fault_number;
// Called, when set, for each "label address" pair the GLOBAL LABEL rewriter
// drops, and for each header dropped with its block (its kind and its text).
extern void (*label_dropped)(std::string_view label, std::string_view addr);
extern void (*block_dropped)(SecKind kind, std::string_view header);

// ---------------------------------------------------------------------------
// run/: driver, options, messages, trace
void init_globals();
void on_interrupt(int sig);
void parse_options(int argc, char** argv);
void parse_minus_option(const char* text);
void parse_plus_option(const char* text, int argc, char** argv);
void file_set();

void out_text(std::string_view text);  // standard output, flushed
void error_msg(int n, std::string_view arg = {});
void warning_msg(int n, std::string_view arg = {});
[[noreturn]] void error_exit(int status, ExitPlace place);
void close_file(int slot);
bool close_output(int slot);
void cleanup_files();
void made_note(int slot, const std::string& name);
void made_remove(int slot);
void made_remove_all();
void show_usage();
void show_version();
void show_banner();

void trace_open(int argc, char** argv);
inline bool trace_on() { return open_flag[S_TRACE] != 0; }
void trace_str(std::string_view text);
void trace_int(long long n);
void trace_line(ExitPlace place);
void trace_fmt(const char* fmt, ...) MRL_PRINTF_LIKE(1, 2);

// ---------------------------------------------------------------------------
// hex/: the HEX pass
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

// ---------------------------------------------------------------------------
// sym/: layout utilities (symutil.cpp). The field and number helpers run
// several times for every rewritten line, so their common case is inline.
// The header text of each kind, by kind.
inline constexpr std::string_view sec_header[10] = {
    "# LOCAL LABEL ",       // unit number
    "# LOCAL SYMBOL ",      // unit range
    "# LOCAL BIT SYMBOL ",  // unit range
    "# FUNC ",              // function, second field, unit, ...
    "# CALL ",              // function
    "# SOURCE ",            // function, ...
    "# SECTION INFORMATION",
    "# GLOBAL LABEL",
    "# GLOBAL SYMBOL",
    "# GLOBAL BIT SYMBOL",
};
SecKind sec_kind(std::string_view line);

// Bytes that end a token: NUL, line feed, carriage return and blank. A tab is
// part of a token, and so is every byte above the blank.
inline int is_token_char(unsigned char c) { return c > ' ' || (c != ' ' && c != '\n' && c != '\r' && c != 0); }

// The first byte from `p` on that ends a token, or `end`. Eight bytes are
// looked at together where eight are left: the lowest byte below 0x21 of a
// word (a blank, or a control byte) is found with a few word operations,
// and only then is it checked whether it is one that ends a token (a tab is
// not).
inline const char* token_end(const char* p, const char* const end) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
        while (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            // The high bit of each byte below 0x21; exact for the lowest such
            // byte, which is the one taken (a borrow only runs upward).
            const uint64_t low = (w - 0x21 * kOnes) & ~w & kHigh;
            if (low == 0) {
                p += 8;
                continue;
            }
            p += std::countr_zero(low) / 8;
            if (!is_token_char(static_cast<unsigned char>(*p))) return p;
            ++p;
        }
    }
    while (p < end && is_token_char(static_cast<unsigned char>(*p))) ++p;
    return p;
}

// The first byte from `p` on that is not a blank, or `end`. Blanks seldom
// come more than one at a time, so that case is checked first; a longer run
// (a padded field) is passed eight bytes at a time.
inline const char* skip_blanks(const char* p, const char* const end) {
    if (p == end || *p != ' ') return p;
    ++p;
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kBlanks = 0x2020202020202020u, kLow7 = 0x7F7F7F7F7F7F7F7Fu;
        while (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            const uint64_t x = w ^ kBlanks;  // zero where a blank is
            // The high bit of each byte that is not a blank; no carry crosses
            // from one byte to the next.
            const uint64_t other = (((x & kLow7) + kLow7) | x) & ~kLow7;
            if (other != 0) return p + std::countr_zero(other) / 8;
            p += 8;
        }
    }
    while (p < end && *p == ' ') ++p;
    return p;
}

// Splits the first blank-delimited field off `line` and returns it. After a
// token ended by a blank, the rest starts right after that one blank; after a
// token ended by anything else (line end, CR, NUL) the rest is empty. The
// rest stays a view into the line even when empty, so callers never hand a
// null text on to the writers.
inline std::string_view get_token(std::string_view& line) {
    const char* p = line.data();
    const char* const end = p + line.size();
    p = skip_blanks(p, end);
    const char* const start = p;
    p = token_end(p, end);
    const std::string_view token(start, static_cast<size_t>(p - start));
    p = (p < end && *p == ' ') ? p + 1 : end;
    line = std::string_view(p, static_cast<size_t>(end - p));
    return token;
}

// The value of each byte as a hexadecimal digit, either letter case; 16 for
// every byte that is not one.
inline constexpr auto hex_digit_value = [] {
    struct {
        unsigned char of[256];
    } t{};
    for (unsigned char& v : t.of) v = 16;
    for (int c = 0; c < 10; ++c) t.of['0' + c] = static_cast<unsigned char>(c);
    for (int c = 0; c < 6; ++c) t.of['A' + c] = t.of['a' + c] = static_cast<unsigned char>(10 + c);
    return t;
}();

// The checks that hex_to_num makes only when a text holds a byte that is no
// digit or is longer than 8 bytes: ends the run with a format error for such
// a byte or for more than 8 significant digits, and returns otherwise
// (leading zeros make a text long, not large).
void hex_to_num_check(std::string_view text);

// Reads a hexadecimal number of 1 to 8 significant digits, either letter
// case; the empty text gives 0. Anything else ends the run with a format
// error naming the symbol file.
inline uint32_t hex_to_num(std::string_view text) {
    uint32_t value = 0;
    unsigned seen = 0;  // bit 4 set once a byte was no digit (whose value is then of no use)
    for (char ch : text) {
        const unsigned d = hex_digit_value.of[static_cast<unsigned char>(ch)];
        seen |= d;
        value = value * 16 + d;
    }
    if ((seen & 16u) != 0 || text.size() > 8) hex_to_num_check(text);
    return value;
}

// Upper-case hexadecimal without leading zeros, "0" for zero, written into
// `out` with a NUL after it; returns the digits.
inline std::string_view num_to_hex(uint32_t value, char (&out)[9]) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    const unsigned n = value < 16 ? 1 : (std::bit_width(value) + 3u) / 4u;  // 1 to 8
    for (unsigned k = 0; k < n; ++k) out[k] = kDigits[(value >> (4 * (n - 1 - k))) & 15u];
    out[n] = '\0';
    return {out, n};
}

// sym/: lines of the symbol file, whole whatever their length (symutil.cpp)
[[noreturn]] void sym_read_failed();
bool sym_line_piece(std::string_view& piece, bool& more);
std::string_view sym_line_gather(std::string_view first, bool& more);

// The next line of the symbol file, or with `headers_only` the next line that
// begins with "#" (the first pass looks at no other line outside SECTION
// INFORMATION): the whole line, or the first piece of a line longer than the
// reader's block with `more` set. False at the end of the file; a read error
// ends the run. Inline: both passes call it once per line.
inline bool read_sym_line(std::string_view& line, bool& more, bool headers_only = false) {
    int got = headers_only ? in_sym_fp.get_long_line_starting('#', line, more) : in_sym_fp.get_long_line(line, more);
    if (got < 0) sym_read_failed();
    return got > 0;
}

// The whole line whose first piece is `first`; clears `more`.
inline std::string_view sym_line_whole(std::string_view first, bool& more) {
    return more ? sym_line_gather(first, more) : first;
}

// sym/: tables
void sym_line_ends_check();
void sec_func_read();
bool sec_data_make(std::string_view& line, bool& more);
void func_data_make(std::string_view line);
// The function number and the unit number of a "# FUNC" line.
void func_line_numbers(std::string_view line, uint32_t* func_no, uint32_t* unit_no);
void unit_record_set(uint32_t unit_no, uint32_t start_addr, uint32_t length, std::string_view name);
std::string_view unit_name(const unit_record& r);
void table_order();
void table_dump();
const unit_record* unit_head();
const unit_record* unit_tail();

// sym/: renumbering and lookups
// Whether a unit record is kept, and if not, why.
enum UnitFate : int { U_KEPT = 0, U_ENDS_HIGH = 1, U_EMPTY_HIGH = 2, U_EMPTY_E = 3 };
int unit_fate(const unit_record& r);
void unit_replac();
void func_replace();
int unit_search(uint32_t unit_no, uint32_t* new_unit_no);
uint32_t unit_deleted_run_end(uint32_t unit_no, int step);
int func_search(uint32_t func_no, uint32_t* new_func_no, uint32_t* new_unit_no);
// The record that decides for every line numbered `unit_no` (`func_no`):
// the first of that number in table order; null when there is none.
const unit_record* unit_first(uint32_t unit_no);
const func_record* func_first(uint32_t func_no);
// The new number of the unit `unit_no` (its first record), 0 when it has none.
uint32_t unit_new_number(uint32_t unit_no);

// sym/: conversion driver
void sym_make();
void del_data();

// sym/sections/: rewriters; each answers 0 (write the line) or 1 (drop it)
int loc_lab_chg(std::string& line);
int loc_sym_chg(std::string& line, SecKind kind);
int func_chg(std::string& line);
int call_chg(std::string& line);
int src_chg(std::string& line);
int sec_chg(std::string& line);
bool sec_unit_line(std::string_view line);
void sec_block_end();
int glb_lab_chg(std::string& line);
int glb_sym_chg(std::string& line);
int glb_bit_sym_chg(std::string& line);
void str_upper(std::string& text);
size_t str_find(std::string_view text, std::string_view pattern);
void line_rebuild(std::string& line, std::string_view lead, std::initializer_list<std::string_view> fields,
                  std::string_view rest, bool had_line_end);

#endif
