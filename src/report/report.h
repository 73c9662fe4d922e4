// report.h: what mrl85-report finds in a pair of inputs, and the ways it
// shows it (text summary, diagnosis, page).
//
// The findings come from mrl85's own passes, run as a library (mrlpro.h):
// the unit and function tables stay in the library's globals (unit_table,
// func_table, with unit_name, unit_fate and unit_new_number), and what the
// symbol pass drops besides units and functions is collected here as the pass
// tells its observer (SymObserver). The HEX file goes through the HEX pass
// itself (hex_pass), which hands each routed line to the report's sink
// (HexSink). Nothing is decided here that the passes do not decide.
#ifndef MRL_REPORT_H
#define MRL_REPORT_H

#include <bitset>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "report/scratch.h"
#include "run/message.h"
#include "sym/table.h"

namespace report {

// The rows of each kind the short summary shows before "N more", and the
// warnings of each kind shown.
constexpr uint64_t kShortRows = 20;

// Inclusive offsets within a segment's 64 KB.
struct Span {
    uint32_t first, last;
};

// The data records that follow segment records of one value (or, for the
// value "", the records before the first segment record).
struct Segment {
    std::string value;  // the segment record's value field as read (4 characters), "" before any
    uint32_t base = 0;  // the value as a number times 16: the address of offset 0
    bool high = false;  // its data records go to the high output
    uint64_t records = 0, bytes = 0;
    uint64_t unreadable = 0;  // data records whose length or address is no hexadecimal number
    std::vector<Span> spans;  // the offsets its data records cover, merged, ascending
    std::bitset<256> pages;   // the 256-byte pages of the 64 KB that hold data
};

// One output of the HEX pass: the lines it gets and whether the pass keeps
// the file (an output that is not kept is removed, and then holds nothing).
struct HexOutput {
    uint64_t lines = 0, data_records = 0, data_bytes = 0, segment_records = 0;
    bool end_record = false;
    bool kept = false;
};

// What the report warns of in a HEX file that mrl85 converts all the same
// (it copies every record byte for byte): a record whose checksum or byte
// count does not fit it, a line ended by a CR alone, data of the low output
// beyond FFFF, lines after the end record.
enum HexWarningKind {
    kWarnChecksum,
    kWarnByteCount,
    kWarnCrOnly,
    kWarnPastFfff,
    kWarnAfterEnd,
    kWarnKinds,
};

// A warning at its place (line and column from 1).
struct Warning {
    int kind = 0;  // HexWarningKind
    uint64_t line = 0, column = 0;
    std::string message;
};

struct HexReport {
    bool read = false;  // the file was read through without a fault
    std::string name;
    uint64_t lines = 0;  // lines the pass handles, the end record included
    uint64_t data_records = 0, segment_records = 0, end_records = 0;
    uint64_t after_end = 0;  // lines after the end record, which are not copied
    HexOutput low, high;
    std::vector<Segment> segments;             // in the order their values first appear
    uint64_t warning_counts[kWarnKinds] = {};  // by kind; the lines after the end record count once
    std::vector<Warning> warnings;             // the first of each kind (up to kShortRows), in file order
};

// The rows of a list that may run to millions (the labels and blocks a
// large file drops), kept in a scratch file as they come instead of in
// memory, and copied out when the list is printed. Without a scratch file
// they are kept in memory.
class RowList {
public:
    // One row, without its line end.
    void add(std::string_view row);
    uint64_t size() const { return count_; }
    bool empty() const { return count_ == 0; }
    // Writes the first `limit` rows (every row by default) to `out`, each
    // after `prefix` and ending in a line feed, control bytes shown as "?";
    // false when the rows cannot be read back.
    bool print(std::FILE* out, std::string_view prefix, uint64_t limit = UINT64_MAX) const;
    // Hands every row, as it was added, to `row`; false when the rows
    // cannot be read back.
    bool each(const std::function<void(std::string_view)>& row) const;
    // The same while `row` returns true.
    bool each_while(const std::function<bool(std::string_view)>& row) const;
    // The rows, one a line, for a ScratchStore::Reader to read row by row.
    const ScratchStore& rows() const { return rows_; }
    // What went wrong with the scratch file, naming it; "" when nothing did.
    const std::string& fault() const { return rows_.fault(); }
    void clear();

private:
    ScratchStore rows_;
    uint64_t count_ = 0;
};

// Text from the inputs with every control byte shown as "?": it may hold
// escape sequences that a terminal would act on, and a "?" keeps every
// column where it was. controls_shown does it to `s` from `from` on, line
// feeds excepted (they end the rows).
std::string printable(std::string_view t);
// Appends printf-style text to `s`, however long (never text from the
// inputs, which goes through the escaping of its output).
void add_printf(std::string& s, const char* format, ...) MRL_PRINTF_LIKE(2, 3);
void add_vprintf(std::string& s, const char* format, va_list ap) MRL_PRINTF_LIKE(2, 0);
void controls_shown(std::string& s, size_t from);

// Why a unit line the rewriting pass handled was not read into the unit
// table by the first pass.
enum UnreadWhy : uint8_t {
    kUnreadLeadingBlank,  // the table's reading passes over a line that begins with a blank
    kUnreadAfterEnd,      // a line with no first field ended the table's reading of its block before
};

// A unit line the unit table never read, as the rewriting pass handled it:
// dropped or rewritten as its unit number decides.
struct UnreadUnitLine {
    uint64_t line = 0;
    uint32_t unit_no = 0, new_unit = 0;
    bool dropped = false;
    uint8_t why = kUnreadLeadingBlank;
    uint64_t ended_at = 0;  // kUnreadAfterEnd: the line that ended the table's reading
    char ended_by = 0;      // kUnreadAfterEnd: the first byte of that line
};

// What the rewriting pass does to a line other than a unit line, as the
// list of lines keeps it (one letter).
enum LineWhat : char {
    kLineInBlock = 'i',       // lines dropped with the block of a header dropped before
    kLineBlank = 'k',         // a blank line, as a run of blank lines comes out as one
    kLineContinuation = 'c',  // the continuation of a library line, dropped with its unit
    kLineLabels = 'g',        // a GLOBAL LABEL line whose labels all lie above FFFF
};

// Line numbers by place (0: none), kept in 32 bits each while every
// number fits, as in any file of fewer than 4,294,967,296 lines; the
// first larger number widens them all. A big file has millions.
class LineNumbers {
public:
    // `n` places, each 0.
    void assign(size_t n);
    void set(size_t i, uint64_t line);
    void push_back(uint64_t line);
    uint64_t operator[](size_t i) const { return wide_on_ ? wide_[i] : narrow_[i]; }
    size_t size() const { return wide_on_ ? wide_.size() : narrow_.size(); }
    void clear();

private:
    void widen();
    std::vector<uint32_t> narrow_;
    std::vector<uint64_t> wide_;  // the numbers once widened (narrow_ is then empty)
    bool wide_on_ = false;
};

// The lines of the unit records by reading order, added one after another:
// runs of lines a fixed step apart (a block of unit lines, one a line or
// every other line with library lines) are kept as one run each, which
// makes millions of units take a few bytes; lines that make no runs are
// kept one by one (LineNumbers) instead.
class UnitLines {
public:
    // The line of the next record in reading order.
    void add(uint64_t line);
    // The line of the record read `seq`-th, 0 for one not added.
    uint64_t operator[](size_t seq) const;
    size_t size() const { return count_; }
    void clear();

private:
    struct Run {
        uint64_t line;       // the line of its first record
        uint32_t seq, step;  // its first record; the lines between two records (0: the run has one)
    };
    void flatten();
    std::vector<Run> runs_;
    LineNumbers flat_;  // the lines, once the runs would take more memory
    bool flat_on_ = false;
    size_t count_ = 0;
};

struct SymReport {
    bool read = false;  // the file was read through without a fault
    std::string name;
    // From the library's tables once they are read (counted by record, and
    // by number as the renumbering counts them).
    uint64_t unit_records = 0, units_kept = 0, units_deleted = 0;
    uint64_t units_ends_high = 0, units_empty_high = 0, units_empty_e = 0;
    uint32_t unit_numbers_deleted = 0;  // unit_del_count
    uint64_t func_records = 0, funcs_deleted = 0;
    uint32_t func_numbers_deleted = 0;  // func_del_count
    RowList labels_dropped;             // "line label address", one row per pair dropped from GLOBAL LABEL
    RowList blocks_dropped;             // "first last KIND  header": a header dropped with its block (not FUNC lines)
    // Every line the rewriting pass drops other than a unit line, a FUNC
    // line or a block (which the lists above and below hold), in file order:
    // "first last W", W a LineWhat (last left out when it is first). A
    // GLOBAL LABEL line with labels dropped that is not here is kept without
    // them.
    RowList lines;
    // The lines of the unit records by reading order (seq), 0 when the
    // rewriting pass handled no line of it; the lines of the FUNC lines
    // dropped, by the reading order of their records (func_dropped_seqs,
    // ascending: a file drops few of its functions); the unit lines the
    // table never read, in file order.
    UnitLines unit_line_of;
    std::vector<uint32_t> func_dropped_seqs;
    LineNumbers func_dropped_lines;
    // The line of the FUNC line of the function record read `seq`-th, 0
    // when the pass did not drop it.
    uint64_t func_line_of(uint32_t seq) const;
    std::vector<UnreadUnitLine> unread;
    uint64_t lines_dropped = 0, lines_rewritten = 0;
    // Gives back what is kept line by line (the lists and line numbers),
    // keeping the counts: for a build whose rows are not shown.
    void lines_forget();
};

// Why mrl85 would refuse an input, at the place of the fault.
struct Diagnosis {
    std::string file;
    uint64_t line = 0, column = 0;  // from 1; 0: the file as a whole
    std::string message;
    std::string hint;        // what to do about it, "" when there is nothing short to say
    std::string text;        // the line as read (without its line end), "" when none is shown
    uint64_t text_from = 1;  // the column `text` begins at (a piece of a long HEX line begins later)
    int place = 0;           // mrl85's "Error exit at" place
    int status = 0;          // mrl85's exit status
};

struct Comparison;

struct Report {
    bool want_hex = true, want_sym = true;
    // Told the names the first pass reads (the comparison of two builds,
    // compare.h); null when nobody asks.
    TableObserver* names = nullptr;
    // The comparison the JSON document and the page show too; null without
    // one.
    const Comparison* compare = nullptr;
    // The rows of the lists are collected (the earlier build of a
    // comparison, and the later one of a comparison shown as text, need
    // none).
    bool drop_rows = true;
    HexReport hex;
    SymReport sym;
    std::vector<Diagnosis> problems;
};

// Why a unit is deleted, from its fate (unit_fate); "" when it is kept.
inline const char* why_deleted(int fate) {
    switch (fate) {
        case U_ENDS_HIGH: return "ends above FFFF";
        case U_EMPTY_HIGH: return "empty, starts above FFFF";
        case U_EMPTY_E: return "empty \"E\" section";
        default: return "";
    }
}

// A count as printf's %llu takes it.
inline unsigned long long ull(uint64_t n) { return static_cast<unsigned long long>(n); }

// The records whose fate mrl85 applies to every line of a number: the
// first record of that number in table order. A later record of the number
// is kept or dropped, and renumbered, with it, whatever its own start and
// length say.
const ::unit_record& unit_deciding(const ::unit_record& u);
const ::func_record& func_deciding(const ::func_record& f);

// analyse.cpp: reads the inputs. Returns the exit status: 0 when mrl85
// would convert them, 3 for a format error (each in `problems`), 4 when an
// input cannot be read (the message in `problems` too, with status 4).
int analyse(Report& r);

// diagnose.cpp: the diagnosis of a refused input, from the place of the
// failed check. For the HEX file: the line number, the column of the piece
// `text` in its line (a line longer than 255 characters is read in pieces)
// and the piece. For the symbol file: the line the check looked at (0 when
// not known), read again from the file, with what the check looked at
// (the text and number `stop` carries).
Diagnosis diagnose_hex(const std::string& file, int place, uint64_t line_no, uint64_t column, std::string_view text);
// `unread`, when not null: the line is a unit line the unit table never
// read, and why.
Diagnosis diagnose_sym(const std::string& file, const run_stopped& stop, uint64_t line_no,
                       const UnreadUnitLine* unread = nullptr);
void diagnosis_print(std::FILE* out, const Diagnosis& d);
// All of them, each saying whether mrl85 stops there or earlier.
void diagnoses_print(std::FILE* out, const std::vector<Diagnosis>& all);

// The kinds of rows the summary lists, as bits: those named are listed
// whole; with none named, the summary shows what is cut, a few rows of each
// kind.
enum ListKind : unsigned {
    kListUnits = 1,
    kListFunctions = 2,
    kListLabels = 4,
    kListBlocks = 8,
    kListSegments = 16,
    kListLines = 32,
    kListAll = 63,
};
// The kind named `name` ("units", "functions", "labels", "blocks",
// "segments", "lines"); 0 for none.
unsigned list_kind(std::string_view name);

// summary.cpp: the text summary: totals, the usage of the low and high
// areas, then the rows of the kinds in `lists` (kListAll: every row), or,
// with none, what is cut, shortened. False when a list kept in a scratch
// file could not be read back.
bool summary_print(std::FILE* out, const Report& r, unsigned lists = 0);

// summary.cpp: a row of the list of lines: the first and last line, whether
// they are dropped (or rewritten), and what is done to them.
struct LineRow {
    uint64_t first = 0, last = 0;
    bool dropped = true;
    std::string_view what;
};
// Hands `take` every row of lines in file order while it returns true;
// false when a list kept in a scratch file could not be read back.
bool line_rows(const SymReport& s, const std::function<bool(const LineRow&)>& take);
// The number a kept row begins with, taken off the row with the blank
// after it.
uint64_t row_number(std::string_view& row);
// A row of the list of blocks dropped, read: its first and last line, the
// kind of its header (without the blanks that pad it to 16 columns) and
// the header as read.
struct BlockRow {
    uint64_t first = 0, last = 0;
    std::string_view kind, header;
};
BlockRow block_row(std::string_view row);
// "line N", or "lines N-M".
std::string lines_text(uint64_t first, uint64_t last);
// Why the unit table never read a unit line, as a row says it.
std::string unread_why(const UnreadUnitLine& u);

// summary.cpp: the usage of the low and high areas, as the summary's
// usage table shows it. Figures of a file not read are 0.
struct Usage {
    bool hex = false, sym = false;  // the HEX file, the symbol file was read
    uint64_t low_data = 0, low_units = 0, low_used = 0, high_data = 0, high_used = 0;
};
Usage usage(const Report& r);

// json.cpp: the report as one JSON document (every row of every kind).
// False when a list kept in a scratch file could not be read back.
bool json_write(std::FILE* out, const Report& r, int status);

// summary.cpp: the warnings of the HEX file, each as
// "file:line:column: warning: message", the first kShortRows of each kind,
// then how many more.
void warnings_print(std::FILE* out, const Report& r);

// page.cpp: the page. False when it could not be written whole.
bool page_write(std::FILE* out, const Report& r);

}  // namespace report

#endif
