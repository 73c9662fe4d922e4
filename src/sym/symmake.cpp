// symmake.cpp: the symbol conversion. The first pass builds the tables, the
// renumbering marks them, and del_data copies the file line by line, handing
// headers and section lines to their rewriters and thinning blank lines; on
// a large mapped file, a helper thread rewrites every other stretch of it.
#include "sym/symmake.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "mrlpro.h"
#include "run/lineends.h"
#include "run/message.h"
#include "run/platform.h"
#include "run/textfile.h"
#include "run/trace.h"
#include "sym/fields.h"
#include "sym/sections/sections.h"
#include "sym/symlines.h"
#include "sym/table.h"

namespace {

// Section modes of the copy machine besides the section kinds (SecKind).
constexpr int kAfterBlank = 98;
constexpr int kPlain = 99;

// The state of the rewriting pass, from line to line.
struct CopyState {
    int sec_mode = kPlain;  // kind of the last header, or kAfterBlank, or kPlain
    int sec_skip = 0;       // non-zero: the block of the last header is dropped
    int blank_ok = 1;       // 1: a blank line may be written now
};

// The symbol file is read twice: the tables of the first pass hold for the
// second only if it is the same file with the same contents. Changed since
// it was opened (size or modification time), it is a file that cannot be
// read as one, as a failed read is.
void sym_unchanged_check(ExitPlace place) {
    if (!in_sym_fp.unchanged()) {
        error_msg(E_CANT_OPEN, input_sym);
        error_exit(kStatusInput, place);
    }
}

[[noreturn]] void write_failed(ExitPlace place) {
    error_msg(E_CANT_CREATE, output_sym);
    error_exit(kStatusCreate, place);
}

// The pieces of a long input line that follow the one written, as they come.
void write_rest(ExitPlace place) {
    std::string_view piece;
    bool more = true;
    while (more && sym_line_piece(piece, more))
        if (!out_sym_fp.write(piece)) write_failed(place);
}

// Writes a line: `line`, then, when `more` is set, the rest of the input line.
inline void write_line(OutFile& file, std::string_view line, bool more, ExitPlace place) {
    if (!file.write(line)) write_failed(place);
    if (more) write_rest(place);
}

// Writes the lines from `begin` up to `end` (at least one byte).
void write_run_out(OutFile& file, const char* begin, const char* end) {
    if (!file.write_long(std::string_view(begin, static_cast<size_t>(end - begin)))) write_failed(L_SYM_WR_DATA);
}

// Writes the lines from `begin` up to `end` of the input block. Inline: around
// each rewritten line it is asked for an empty run, which calls nothing.
inline void write_run(OutFile& file, const char* begin, const char* end) {
    if (end > begin) write_run_out(file, begin, end);
}

// The rewriter of a header line of kinds SEC_LOCAL_LABEL to SEC_SOURCE.
int header_rewrite(SecKind kind, std::string_view line, Rebuilt& out) {
    switch (kind) {
        case SEC_LOCAL_LABEL: return loc_lab_chg(line, out);
        case SEC_LOCAL_SYMBOL:
        case SEC_LOCAL_BIT_SYMBOL: return loc_sym_chg(line, kind, out);
        case SEC_FUNC: return func_chg(line, out);
        case SEC_CALL: return call_chg(line, out);
        default: return src_chg(line, out);
    }
}

// Writes a line that header_line or data_line keeps: the rebuilt line made
// in the output's room, or else `text` (and, when `more` is set, the rest of
// the input line).
inline void write_kept(const Rebuilt& out, std::string_view text, bool more, ExitPlace place) {
    if (out.text.data() == nullptr)
        write_line(out.file, text, more, place);
    else if (!out.file.commit(out.text))
        write_failed(place);
}

// Whether a data line of a SECTION INFORMATION or GLOBAL LABEL block goes
// to its rewriter: a line long enough for its kind, and in SECTION
// INFORMATION every unit line, however short, so that no unit's line keeps
// its old number.
bool line_reaches(int mode, std::string_view text) {
    static constexpr size_t kReach[2] = {kSecInfoReach, kGlobalLabelReach};
    if (text.size() >= kReach[mode - SEC_SECTION_INFO]) return true;
    return mode == SEC_SECTION_INFO && sec_unit_line(text);
}

// The rewriter of a data line of a SECTION INFORMATION or GLOBAL LABEL
// block. Only a line that reaches its rewriter is gathered whole; `text` and
// `more` are left on the line as read, and a rebuilt line is in `out`.
int line_rewrite(int mode, std::string_view& text, bool& more, Rebuilt& out) {
    if (!line_reaches(mode, text)) return 0;
    text = sym_line_whole(text, more);
    return mode == SEC_SECTION_INFO ? sec_chg(text, out) : glb_lab_chg(text, out);
}

// The data lines of a section whose lines no rewriter sees: they are copied
// as they are, or dropped with their block.
bool plain_mode(int mode) { return mode < SEC_SECTION_INFO || mode >= kAfterBlank; }

// A header line: its kind sets the section mode, and a header of kinds
// SEC_LOCAL_LABEL to SEC_SOURCE goes to its rewriter, whose answer drops or keeps the header and its
// block. True when the header (`text`, or the rebuilt header in `out`) is
// written.
bool header_line(CopyState& st, std::string_view& text, bool& more, Rebuilt& out) {
    sec_block_end();
    const SecKind kind = sec_kind(text);
    st.sec_skip = 0;
    out.text = {};
    if (kind <= SEC_SOURCE) {
        text = sym_line_whole(text, more);
        st.sec_skip = header_rewrite(kind, text, out);
    }
    // FUNC lines stand alone, and the lines of GLOBAL SYMBOL and GLOBAL BIT
    // SYMBOL blocks pass as they are: no section mode of their own.
    st.sec_mode = (kind == SEC_FUNC || kind == SEC_GLOBAL_SYMBOL || kind == SEC_GLOBAL_BIT_SYMBOL || kind == SEC_NONE)
                      ? kPlain
                      : kind;
    if (st.sec_skip != 0) {
        if (sym_observer != nullptr) sym_observer->block_dropped(kind, text);
        return false;
    }
    if (kind == SEC_SECTION_INFO && sym_observer != nullptr) sym_observer->unit_block_begins();
    st.blank_ok = 1;
    return true;
}

// A data line, by the mode of its section: dropped with a dropped block,
// handed to the rewriter of its section, or copied; a blank line is written
// only when no blank line has been written since the last header or
// non-blank line. True when the line (`text`, or the rebuilt line in `out`)
// is written.
bool data_line(CopyState& st, std::string_view& text, bool& more, Rebuilt& out) {
    out.text = {};
    if (text.size() <= 1) {
        st.sec_mode = kAfterBlank;
        sec_block_end();
    } else {
        st.blank_ok = 1;
    }
    switch (st.sec_mode) {
        case SEC_LOCAL_LABEL:
        case SEC_LOCAL_SYMBOL:
        case SEC_LOCAL_BIT_SYMBOL:
        case SEC_CALL:
        case SEC_SOURCE:
            if (st.sec_skip != 0 && sym_observer != nullptr) sym_observer->lines_dropped(sym_observer->line_no(), 1);
            return st.sec_skip == 0;
        case SEC_SECTION_INFO:
        case SEC_GLOBAL_LABEL: return line_rewrite(st.sec_mode, text, more, out) == 0;
        case kAfterBlank:
            if (st.blank_ok == 0) {
                if (sym_observer != nullptr) sym_observer->blank_dropped();
                return false;
            }
            st.blank_ok = 0;
            return true;
        default: return true;
    }
}

// The number of the line after `before` line feeds of the input block, for
// an observer: the lines read before the block, and those.
uint64_t line_number(uint64_t before) { return sym_observer->place.taken + in_sym_fp.lines() + before + 1; }

// Handles the whole lines at the start of the unread input block, each
// exactly as the line-by-line way of del_data would. Lines that are written
// as read go out in runs, one call per run, straight from the input block.
// Stops at a line ending in CR LF (whose CR the reader drops) and at a line
// that the block does not hold whole; those are left to the line-by-line
// way. `taken` is what it handled, which the caller takes from the input.
// Returns true when it stopped only because the block ends inside a line
// (so the next block may go on). Only while observed (kObserved) are the
// lines counted, one for each line end passed: unobserved, the loop does no
// more than the copying.
template <bool kObserved>
bool copy_block_as(CopyState& st, const std::string_view block, Rebuilt& out, size_t& taken) {
    const char* const start = block.data();
    const char* const end = start + block.size();
    const char* line = start;
    const char* run = start;  // the first line to be written as read, not yet put out
    LineEnds ends(start, end);
    const char* lf = ends.next();  // the line end of the line at `line`
    SymObserver* const observer = sym_observer;
    uint64_t lines = 0;  // kObserved: the line ends before `line`
    for (;;) {
        if (lf == nullptr) break;
        if (lf > line && lf[-1] == '\r') break;
        if (*line != '#' && lf != line && plain_mode(st.sec_mode)) {
            // Most data lines lie in sections whose lines no rewriter sees.
            // Each of them would be copied, or dropped with its block, and
            // would leave the same state behind; they are taken as one.
            const char* const first = line;
            const uint64_t first_lines = lines;
            do {
                line = lf + 1;
                if constexpr (kObserved) ++lines;
                lf = line < end ? ends.next() : nullptr;
            } while (lf != nullptr && *line != '#' && lf != line && lf[-1] != '\r');
            st.blank_ok = st.sec_mode == kAfterBlank ? 0 : 1;
            if (st.sec_mode < SEC_SECTION_INFO && st.sec_skip != 0) {
                write_run(out.file, run, first);
                run = line;
                if constexpr (kObserved) observer->lines_dropped(line_number(first_lines), lines - first_lines);
            }
            continue;
        }
        std::string_view text(line, static_cast<size_t>(lf + 1 - line));
        bool more = false;
        const bool header = *line == '#';
        // A rewriter may end the run with a format error; the lines handled
        // before its line go out first, so that an output kept for
        // inspection holds every one of them.
        if (header || st.sec_mode == SEC_SECTION_INFO || st.sec_mode == SEC_GLOBAL_LABEL) {
            write_run(out.file, run, line);
            run = line;
        }
        if constexpr (kObserved) observer->place.in_block = line_number(lines);
        const bool keep = header ? header_line(st, text, more, out) : data_line(st, text, more, out);
        // A header is written on its own, so that a failed write names it;
        // so is a rebuilt line. A dropped line ends the run.
        if (header || !keep || out.text.data() != nullptr) {
            write_run(out.file, run, line);
            if (keep) write_kept(out, text, false, header ? L_SYM_WR_HEADER : L_SYM_WR_DATA);
            run = lf + 1;
        }
        line = lf + 1;
        if constexpr (kObserved) ++lines;
        lf = line < end ? ends.next() : nullptr;
    }
    write_run(out.file, run, line);
    if constexpr (kObserved) {
        observer->place.taken += lines;
        observer->place.in_block = 0;
    }
    taken = static_cast<size_t>(line - start);
    return lf == nullptr && line > start;
}

// copy_block_as, counting lines only for an observer.
bool copy_block(CopyState& st, const std::string_view block, Rebuilt& out) {
    size_t taken = 0;
    const bool on = sym_observer != nullptr ? copy_block_as<true>(st, block, out, taken)
                                            : copy_block_as<false>(st, block, out, taken);
    in_sym_fp.advance(taken);
    return on;
}

// One line the line-by-line way: false at the end of the file. A line that
// is written as read goes out straight from the input block, piece by piece
// when it is longer than the block.
bool line_rewrite_one(CopyState& st, Rebuilt& out) {
    std::string_view read;
    bool more = false;
    if (!read_sym_line(read, more)) return false;
    if (read[0] == '#') {
        if (header_line(st, read, more, out)) write_kept(out, read, more, L_SYM_WR_HEADER);
    } else {
        if (data_line(st, read, more, out)) write_kept(out, read, more, L_SYM_WR_DATA);
    }
    return true;
}

// The rewriting pass of a large mapped file runs on two threads. The file is
// cut into stretches that each begin with a header line. While this thread
// rewrites one stretch into the output, a helper rewrites the next one into
// memory. A header sets every part of the pass's state but one: a dropped
// header leaves blank_ok as the lines before it left it, and the helper
// guesses that from those lines. Its work is taken only when it handled the
// whole stretch (no line for the line-by-line way, no failed check, no failed
// write) from the state this thread reached there; otherwise this thread
// rewrites the stretch itself. Either way the output is the same, byte for
// byte, and only this thread says anything or ends the run.
struct Stretch {
    std::string_view text;  // whole lines, the first a header
    CopyState start;        // the state guessed for its start
    CopyState end;          // the state after it
    RewriteCarry carry;
    OutFile* file;        // made ready by this thread: the helper allocates nothing
    std::string* output;  // what the helper wrote, within its capacity
    bool whole = false;   // the helper handled every line
};

// The helper's work: the stretch into memory, with its messages held, so
// that a failed check or a failed allocation only ends the helper's try.
void stretch_rewrite(void* arg) {
    Stretch& s = *static_cast<Stretch*>(arg);
    messages_hold();
    rewrite_carry = &s.carry;
    try {
        s.file->open(s.output);
        CopyState st = s.start;
        Rebuilt out{*s.file, {}};
        size_t taken = 0;
        copy_block_as<false>(st, s.text, out, taken);
        s.whole = taken == s.text.size() && s.file->close();
        s.end = st;
    } catch (...) {
        s.whole = false;
    }
}

// The start of the first header line at or after `from` + the stretch size,
// or null when none begins before the last stretch of the file.
const char* stretch_end(const char* from, const char* file_end) {
    if (static_cast<size_t>(file_end - from) < 2 * sym_stretch) return nullptr;
    const char* at = from + sym_stretch;
    for (;;) {
        at = static_cast<const char*>(std::memchr(at, '#', static_cast<size_t>(file_end - at)));
        if (at == nullptr || static_cast<size_t>(file_end - at) < sym_stretch) return nullptr;
        if (at[-1] == '\n') return at;
        ++at;
    }
}

// The blank_ok the lines before the header at `at` leave: 0 when a blank line
// lies between it and the header line before it, within the 64 KiB before
// it, else 1.
int blank_ok_before(const char* at, const char* file_start) {
    const char* const stop = at - file_start > 65536 ? at - 65536 : file_start;
    for (const char* p = at - 1; p > stop; --p) {
        if (p[-1] != '\n') continue;
        if (*p == '\n') return 0;
        if (*p == '#') return 1;
    }
    return 1;
}

// Rewrites the unread lines up to `end`, the start of a line, on this thread.
void rewrite_until(CopyState& st, Rebuilt& out, const char* end) {
    for (;;) {
        const std::string_view unread = in_sym_fp.unread();
        if (unread.data() >= end) return;
        const std::string_view part(unread.data(), static_cast<size_t>(end - unread.data()));
        if (copy_block(st, part, out)) continue;
        if (!line_rewrite_one(st, out)) return;
    }
}

// Starts the helper on the stretch from `begin` to `end`, two header lines,
// into `s`; false when no helper can be had.
bool stretch_start(Stretch& s, const char* begin, const char* end, const char* file_start) {
    s.text = std::string_view(begin, static_cast<size_t>(end - begin));
    s.start = CopyState{};
    s.start.blank_ok = blank_ok_before(begin, file_start);
    s.end = CopyState{};
    s.carry = RewriteCarry{};
    s.output->clear();
    s.whole = false;
    return helper_start(stretch_rewrite, &s);
}

// Takes the helper's stretch, which the pass has reached, when the helper's
// work holds; rewrites it on this thread otherwise.
void stretch_take(CopyState& st, Rebuilt& out, const Stretch& s) {
    if (!s.whole || s.start.blank_ok != st.blank_ok) {
        rewrite_until(st, out, s.text.data() + s.text.size());
        return;
    }
    if (!s.output->empty() && !out.file.write_long(*s.output)) write_failed(L_SYM_WR_DATA);
    st = s.end;
    run_state.carry.sec_parse_next = s.carry.sec_parse_next;
    run_state.carry.sec_lib_deleted = s.carry.sec_lib_deleted;
    run_state.carry.unit_lookups += s.carry.unit_lookups;
    in_sym_fp.advance(s.text.size());
    ++sym_stretches_taken;
}

// Rewrites the stretches of the file but its last, as above; the caller
// rewrites what is left. The helper takes every other stretch. As soon as it
// has done one, it begins its next, into the other of two outputs, while
// this thread writes out the one it did and rewrites the stretch between.
void rewrite_stretches(CopyState& st, Rebuilt& out) {
    const std::string_view all = in_sym_fp.unread();
    const char* const file_end = all.data() + all.size();
    const char* const begin = stretch_end(all.data(), file_end);
    const char* const end = begin != nullptr ? stretch_end(begin, file_end) : nullptr;
    if (end == nullptr) return;
    // What the helper writes into, made here: the helper allocates nothing.
    // Room for a stretch that comes out twice as long as it went in, and
    // a block for each output. The helper is a gain, not a need: where that
    // memory cannot be had, the pass runs on one thread instead of ending
    // for want of memory.
    const size_t room = 2 * sym_stretch + kTextBlock;
    void* const probe = std::malloc(2 * (room + kTextBlock));
    if (probe == nullptr) return;
    std::free(probe);
    OutFile files[2];
    std::string outputs[2];
    for (int i = 0; i < 2; ++i) {
        files[i].prepare();
        outputs[i].reserve(room);
    }
    Stretch stretches[2] = {{{}, {}, {}, {}, &files[0], &outputs[0]}, {{}, {}, {}, {}, &files[1], &outputs[1]}};
    // However this thread leaves, the helper has ended first.
    const struct HelperWait {
        ~HelperWait() { helper_join(); }
    } wait;
    bool running = stretch_start(stretches[0], begin, end, all.data());
    for (int now = 0; running; now = 1 - now) {
        const Stretch& s = stretches[now];
        rewrite_until(st, out, s.text.data());
        helper_join();
        const char* const after = s.text.data() + s.text.size();
        const char* const next = stretch_end(after, file_end);
        const char* const next_end = next != nullptr ? stretch_end(next, file_end) : nullptr;
        running = next_end != nullptr && stretch_start(stretches[1 - now], next, next_end, all.data());
        stretch_take(st, out, s);
    }
}

// Whether the rewriting pass takes a helper: a mapped file of several
// stretches, read by a run that neither traces nor observes the pass nor
// counts its lines one by one.
bool stretches_wanted() {
    return sym_stretch > 0 && in_sym_fp.mapped() && sym_observer == nullptr && !trace_on() && !lines_one_by_one;
}

}  // namespace

// A file whose lines end in carriage returns alone (and no line feed) would
// read as one line, and pass through unconverted as if it held nothing to
// convert: it is a format error, as such a HEX file is. Only the first
// block is looked at, unless all of it is one line; then the file is read
// on to the first line feed and read again from the start.
void sym_line_ends_check() {
    const std::string_view head = in_sym_fp.head();
    if (head.find('\n') != std::string_view::npos || head.find('\r') == std::string_view::npos) return;
    if (head.size() == kTextBlock) {
        std::string_view piece;
        bool more = false;
        if (!read_sym_line(piece, more)) return;
        bool line_feed = !more && !piece.empty() && piece.back() == '\n';
        while (more && sym_line_piece(piece, more)) line_feed = !more && !piece.empty() && piece.back() == '\n';
        if (!in_sym_fp.rewind()) {
            error_msg(E_CANT_OPEN, input_sym);
            error_exit(kStatusInput, L_SYM_REWIND);
        }
        if (line_feed) return;
    }
    error_msg(E_FORMAT, input_sym);
    error_exit(kStatusFormat, L_SYM_CR_ONLY);
}

void sym_make() {
    trace_str("=== sym_make() ===\n");
    out_text("== SYM file convert now == ( " + input_sym + " --> " + (in_place ? final_sym : output_sym) + " )\n");
    sym_line_ends_check();
    sec_func_read();
    unit_replac();
    func_replace();
    if (trace_on()) table_dump();
    del_data();
    sym_unchanged_check(L_SYM_READ);
    // The output must reach the disk whole; a file system may report a
    // failed write only when the file is closed.
    if (!out_sym_fp.flush() || !close_output(S_OUT_SYM)) {
        error_msg(E_CANT_CREATE, output_sym);
        error_exit(kStatusCreate, L_SYM_FLUSH);
    }
}

// The rewriting pass: reads the symbol file again from its start and copies
// it. A dropped LOCAL LABEL, LOCAL SYMBOL, LOCAL BIT SYMBOL, CALL or SOURCE
// header takes its block (up to the next blank or header line) with it; a
// run of blank lines comes out as at most one.
// Every line is handled whole, however long; a line that no rewriter needs is
// copied piece by piece as it is read. Most lines need nothing but copying or
// dropping. copy_block takes the lines a block at a time; the lines it
// leaves (a line longer than the block, CR LF line ends, the last line of a
// file that does not end in a line feed) go the line-by-line way below.
void del_data() { del_data(nullptr); }

void del_data(SymObserver* observer) {
    trace_str("=== del_data() ===\n");
    // The observer is known to the rewriters for this pass only, however it
    // ends.
    const SymObserving observing(observer);
    if (observer != nullptr) observer->place = SymObserver::Place{};
    CopyState st;
    if (!in_sym_fp.rewind()) {
        error_msg(E_CANT_OPEN, input_sym);
        error_exit(kStatusInput, L_SYM_REWIND);
    }
    sym_unchanged_check(L_SYM_REWIND);
    Rebuilt out{out_sym_fp, {}};
    if (stretches_wanted()) rewrite_stretches(st, out);
    for (;;) {
        while (!lines_one_by_one && copy_block(st, in_sym_fp.unread(), out)) {
        }
        if (!line_rewrite_one(st, out)) return;
    }
}

SymObserving::SymObserving(SymObserver* observer) { sym_observer = observer; }
SymObserving::~SymObserving() { sym_observer = nullptr; }

uint64_t SymObserver::line_no() const { return place.in_block != 0 ? place.in_block : place.taken + in_sym_fp.lines(); }
