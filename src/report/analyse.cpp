// analyse.cpp: reads the inputs with mrl85's own passes and collects what
// they decide. The HEX file goes through the HEX pass, which hands each
// line to a counting sink; the symbol file through the symbol
// pass itself, its output thrown away. A check that refuses an input ends
// the pass with run_stopped; the file is then diagnosed at the line the
// check was looking at.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "hex/hex.h"
#include "mrlpro.h"
#include "report/report.h"
#include "run/message.h"
#include "run/platform.h"
#include "run/textfile.h"
#include "sym/fields.h"
#include "sym/symmake.h"
#include "sym/table.h"

namespace report {

namespace {

// A field of a record as a number, when it is one (1 to 8 hexadecimal
// digits). Only for the figures of the summary: the conversion copies
// records without reading their fields.
bool field_value(std::string_view text, uint32_t* value) {
    if (text.empty() || text.size() > 8) return false;
    uint32_t v = 0;
    for (char ch : text) {
        const unsigned d = hex_digit_value.of[static_cast<unsigned char>(ch)];
        if (d > 15) return false;
        v = v * 16 + d;
    }
    *value = v;
    return true;
}

Diagnosis cannot_read(const std::string& name, const char* what, int place) {
    Diagnosis d;
    d.file = name;
    d.message = std::string(what) + (errno != 0 ? std::string(": ") + std::strerror(errno) : std::string());
    d.place = place;
    d.status = kStatusInput;
    return d;
}

// A HEX file that changed while the pass read it in place: mrl85 ends such
// a run as a read error of the file.
Diagnosis cut_short(const std::string& name) {
    errno = 0;
    return cannot_read(name, "cannot read the HEX file: it changed while it was read", L_HEX_READ);
}

// The segments of a HEX file by value, in the order each first appears.
class SegmentList {
public:
    explicit SegmentList(std::vector<Segment>& list) : list_(list) {}
    Segment& of(std::string_view value, bool high) {
        auto [it, added] = at_.try_emplace(std::string(value), list_.size());
        if (added) {
            Segment s;
            s.value = std::string(value);
            uint32_t v = 0;
            if (field_value(value, &v)) s.base = v * 16;
            s.high = high;
            list_.push_back(std::move(s));
        }
        return list_[it->second];
    }

private:
    std::vector<Segment>& list_;
    std::unordered_map<std::string, size_t> at_;
};

// The value field of a segment record: up to four characters, not its
// line end.
std::string_view segment_value(std::string_view line) {
    std::string_view value = line.substr(9, 4);
    const size_t end = value.find_first_of("\r\n");
    return end == std::string_view::npos ? value : value.substr(0, end);
}

// Adds one data record to its segment, with the offsets it covers (cut at
// FFFF, the segment's end), and returns its data bytes (0 for a record whose
// length or address cannot be read).
uint32_t data_record(Segment& s, std::string_view line) {
    ++s.records;
    uint32_t count = 0, offset = 0;
    if (!field_value(line.substr(1, 2), &count) || !field_value(line.substr(3, 4), &offset)) {
        ++s.unreadable;
        return 0;
    }
    s.bytes += count;
    if (count == 0) return 0;
    const uint32_t last = std::min<uint32_t>(offset + count - 1, 0xFFFF);
    for (uint32_t p = offset >> 8; p <= last >> 8; ++p) s.pages.set(p);
    if (!s.spans.empty() && offset <= s.spans.back().last + 1 && offset >= s.spans.back().first)
        s.spans.back().last = std::max(s.spans.back().last, last);
    else
        s.spans.push_back({offset, last});
    return count;
}

// Puts the spans of each segment in order and joins those that touch.
void spans_merge(std::vector<Segment>& segments) {
    for (Segment& s : segments) {
        std::sort(s.spans.begin(), s.spans.end(), [](const Span& a, const Span& b) { return a.first < b.first; });
        std::vector<Span> merged;
        for (const Span& sp : s.spans) {
            if (!merged.empty() && sp.first <= merged.back().last + 1)
                merged.back().last = std::max(merged.back().last, sp.last);
            else
                merged.push_back(sp);
        }
        s.spans.swap(merged);
    }
}

// mrl85-report's sink of the HEX pass: counts the lines by class and by
// output, the segments and what their data records cover, and numbers the
// lines (a piece of a long line counts where its line starts) so that a
// refused line can be shown. Reads on after the end record to count what
// lies there.
class HexCounter final : public HexSink {
public:
    explicit HexCounter(HexReport& h) : h_(h), segments_(h.segments) {}
    void seen(std::string_view line) override;
    void routed(std::string_view line, int cls, int dest) override;
    bool reads_to_end() const override { return true; }
    void read_failed(bool after_end) override { failed_ = !after_end; }

    bool failed_ = false;                // a read failed before the end record
    uint64_t line_no_ = 0, column_ = 0;  // of the piece being handled
    std::string_view current_;           // the piece being handled

private:
    void warn(int kind, uint64_t column, std::string message);
    void record_check(std::string_view line);
    void past_ffff_check(std::string_view line);

    HexReport& h_;
    SegmentList segments_;
    Segment* seg_ = nullptr;
    bool ended_ = false;  // the end record has been routed
    size_t last_size_ = 0;
    bool inside_ = false;  // the last piece did not end its line
    bool pieces_ = false;  // the line being handled is read in pieces
};

// Counts a warning of `kind` at `column` (from 1) of the line being
// handled; keeps the first of each kind.
void HexCounter::warn(int kind, uint64_t column, std::string message) {
    if (h_.warning_counts[kind]++ >= kShortRows) return;
    h_.warnings.push_back(Warning{kind, line_no_, column_ + column, std::move(message)});
}

// A record's byte count against its length, and its checksum against its
// bytes, for a record written in hexadecimal pairs: the pass copies the
// record whatever they say.
void HexCounter::record_check(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.size() < 11 || line[0] != ':' || line.size() % 2 == 0) return;
    std::vector<unsigned> bytes;
    for (size_t i = 1; i + 1 < line.size(); i += 2) {
        uint32_t b = 0;
        if (!field_value(line.substr(i, 2), &b)) return;
        bytes.push_back(b);
    }
    const size_t data = bytes.size() - 5;
    char text[160];
    if (bytes[0] != data) {
        std::snprintf(text, sizeof text,
                      "byte count %02X does not match the record's length: it holds %zu data bytes (%02zX); "
                      "mrl85 copies it as it is",
                      bytes[0], data, data & 0xFF);
        warn(kWarnByteCount, 2, text);
        return;
    }
    unsigned sum = 0;
    for (size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
    const unsigned want = (0x100 - (sum & 0xFF)) & 0xFF;
    if (bytes.back() != want) {
        std::snprintf(text, sizeof text,
                      "checksum %02X does not match the record, whose bytes need %02X; "
                      "mrl85 copies it as it is",
                      bytes.back(), want);
        warn(kWarnChecksum, line.size() - 1, text);
    }
}

// Data of the low output whose last byte lies beyond FFFF (the segment's
// base plus the record's offset and length).
void HexCounter::past_ffff_check(std::string_view line) {
    uint32_t count = 0, offset = 0;
    if (seg_ == nullptr || !field_value(line.substr(1, 2), &count) || !field_value(line.substr(3, 4), &offset) ||
        count == 0)
        return;
    const uint64_t last = uint64_t{seg_->base} + offset + count - 1;
    if (last <= 0xFFFF) return;
    char text[160];
    std::snprintf(text, sizeof text,
                  "data of the low output runs past FFFF, to %05llX; mrl85 routes by segment "
                  "and copies it to the low output",
                  ull(last));
    warn(kWarnPastFfff, 4, text);
}

// errno is cleared after each read, so that a failed read tells its own
// reason. A CR that is not followed by a line feed ends no line for the
// pass: the records after it are read as part of the line.
void HexCounter::seen(std::string_view line) {
    errno = 0;
    const bool starts_line = !inside_;
    if (starts_line) {
        ++line_no_;
        column_ = 0;
    } else {
        column_ += last_size_;
    }
    last_size_ = line.size();
    const bool was_inside = inside_;
    inside_ = line.empty() || line.back() != '\n';
    current_ = line;
    for (size_t cr = line.find('\r'); cr != std::string_view::npos && cr + 1 < line.size();
         cr = line.find('\r', cr + 1))
        if (line[cr + 1] != '\n')
            warn(kWarnCrOnly, cr + 1,
                 "a line ends with a CR alone; only a line feed ends a line for mrl85, "
                 "so what follows is read as part of this line");
    if (!ended_) {
        ++h_.lines;
    } else if (starts_line) {
        if (h_.after_end++ == 0)
            warn(kWarnAfterEnd, 1, "this line and those after it follow the end record; mrl85 does not copy them");
    }
    // A record is checked whole: a line read in pieces is not.
    pieces_ = was_inside || inside_;
}

void HexCounter::routed(std::string_view line, int cls, int dest) {
    HexReport& h = h_;
    if (!pieces_) record_check(line);
    switch (cls) {
        case kSegment:
            ++h.segment_records;
            seg_ = &segments_.of(segment_value(line), dest == kToHigh);
            if (dest == kToHigh) {
                ++h.high.lines;
                ++h.high.segment_records;
            }
            break;
        case kData: {
            ++h.data_records;
            if (seg_ == nullptr) seg_ = &segments_.of("", false);
            if (dest == kToLow) past_ffff_check(line);
            HexOutput& out = dest == kToHigh ? h.high : h.low;
            out.data_bytes += data_record(*seg_, line);
            ++out.lines;
            ++out.data_records;
            break;
        }
        default:
            ++h.end_records;
            for (HexOutput* out : {&h.low, &h.high}) {
                if ((dest & (out == &h.low ? kToLow : kToHigh)) == 0) continue;
                ++out->lines;
                out->end_record = true;
            }
            ended_ = true;
            break;
    }
}

// The HEX file through the HEX pass itself, observed by a HexCounter.
void hex_analyse(Report& r) {
    HexReport& h = r.hex;
    InFile in;
    errno = 0;
    if (!in.open(h.name, InputPass::kHex)) {
        r.problems.push_back(cannot_read(h.name, "cannot open the HEX file", L_OPEN_IN_HEX));
        return;
    }
    EmbeddedRun settings;
    settings.hex_name = h.name;
    embedded_start(settings);
    HexCounter counter(h);
    HexRoute route;
    errno = 0;
    try {
        hex_pass(in, counter, route);
    } catch (const run_stopped& stop) {
        // A file cut short by another process while it was read in place
        // reads as zeros from the cut on: whatever the pass then stopped
        // at is not the file's, and mrl85 tells it as a read error.
        if (in.cut())
            r.problems.push_back(cut_short(h.name));
        else
            r.problems.push_back(diagnose_hex(h.name, stop.place, counter.line_no_, counter.column_, counter.current_));
        return;
    }
    if (in.cut()) {
        r.problems.push_back(cut_short(h.name));
        return;
    }
    if (counter.failed_) {
        r.problems.push_back(cannot_read(h.name, "cannot read the HEX file", L_HEX_READ));
        return;
    }
    int low_kept = 0, high_kept = 0;
    hex_outputs_kept(h.low.lines > 0, h.high.lines > 0, &low_kept, &high_kept);
    h.low.kept = low_kept != 0;
    h.high.kept = high_kept != 0;
    spans_merge(h.segments);
    h.read = true;
}

const char* block_kind_name(SecKind kind) {
    switch (kind) {
        case SEC_LOCAL_LABEL: return "LOCAL LABEL     ";
        case SEC_LOCAL_SYMBOL: return "LOCAL SYMBOL    ";
        case SEC_LOCAL_BIT_SYMBOL: return "LOCAL BIT SYMBOL";
        case SEC_CALL: return "CALL            ";
        default: return "SOURCE          ";
    }
}

// `n` in decimal and a blank after it, added to `row`.
// `n` in decimal and a blank after it, written at `at`; returns the end.
char* number_put(char* at, uint64_t n) {
    char digits[20];
    char* p = digits + sizeof digits;
    do {
        *--p = static_cast<char>('0' + n % 10);
        n /= 10;
    } while (n != 0);
    const size_t size = static_cast<size_t>(digits + sizeof digits - p);
    std::memcpy(at, p, size);
    at[size] = ' ';
    return at + size + 1;
}

void number_put(std::string& row, uint64_t n) {
    char text[24];
    row.append(text, static_cast<size_t>(number_put(text, n) - text));
}

// What the symbol passes tell their observer: from the first pass, where
// the unit table's reading leaves lines of a SECTION INFORMATION block out;
// from the rewriting pass, each line it drops or rewrites, which become the
// rows of the report's lists. A unit line is matched to the first pass by
// its block and its place in it: the lines the table read come in reading
// order, which numbers the unit records.
class PassCollector final : public SymObserver {
public:
    explicit PassCollector(SymReport& s) : s_(s) {}
    void unit_block_read(uint64_t read) override {
        read_.emplace_back();
        read_.back().header = read;
    }
    void unit_line_passed_over(uint64_t read) override {
        read_.back().passed_over.push_back(read - read_.back().header);
    }
    void unit_table_ended(uint64_t read, std::string_view line) override {
        read_.back().ended_at = read - read_.back().header;
        read_.back().ended_by = line.empty() ? '\0' : line[0];
    }
    void unit_block_begins() override;
    void unit_line(uint32_t unit_no, bool dropped, uint32_t new_unit) override;
    void continuation_dropped() override;
    void label_dropped(std::string_view label, std::string_view addr) override;
    void label_line_dropped() override;
    void block_dropped(SecKind kind, std::string_view header) override;
    void lines_dropped(uint64_t first, uint64_t count) override;
    void blank_dropped() override;
    // After the rewriting pass: what is still held goes to the lists.
    void finish();
    // Whether line `line` of the SECTION INFORMATION block the rewriting pass
    // is in is one the unit table never read, and why (in `u`).
    bool unread_at(uint64_t line, UnreadUnitLine& u);

private:
    // A SECTION INFORMATION block as the first pass read it: the places of
    // the lines passed over, ascending, and of the line that ended the
    // reading (0: none).
    struct BlockRead {
        uint64_t header = 0;  // the count of lines read at the header
        std::vector<uint64_t> passed_over;
        uint64_t ended_at = 0;
        char ended_by = '\0';
    };
    void dropped_line(uint64_t first, uint64_t last, LineWhat what);
    void flush();

    SymReport& s_;
    std::vector<BlockRead> read_;
    size_t block_ = 0, next_block_ = 0, passed_at_ = 0;
    uint64_t header_ = 0;  // the line of the current SECTION INFORMATION header
    uint32_t next_seq_ = 0;
    // A block dropped whose lines may go on; a GLOBAL LABEL line with
    // labels dropped that may yet be dropped whole.
    bool block_open_ = false;
    uint64_t block_first_ = 0, block_last_ = 0;
    std::string block_text_;
    uint64_t labels_line_ = 0, labels_ = 0;
    LineNumbers func_lines_;
    std::string row_;  // the row being put together
};

// A row of the list of lines: "first last what", without the last line
// when it is the first.
void PassCollector::dropped_line(uint64_t first, uint64_t last, LineWhat what) {
    char row[64];
    char* p = number_put(row, first);
    if (last != first) p = number_put(p, last);
    *p++ = static_cast<char>(what);
    s_.lines.add(std::string_view(row, static_cast<size_t>(p - row)));
    s_.lines_dropped += last - first + 1;
}

// A dropped block goes to the lists when its last line is known, a GLOBAL
// LABEL line when it is known to be kept.
void PassCollector::flush() {
    if (block_open_) {
        block_open_ = false;
        row_.clear();
        number_put(row_, block_first_);
        number_put(row_, block_last_);
        row_.append(block_text_);
        s_.blocks_dropped.add(row_);
        s_.lines_dropped += block_last_ - block_first_ + 1;
    }
    // A GLOBAL LABEL line kept without some of its labels: the list of
    // labels holds its line.
    if (labels_ > 0) {
        labels_ = 0;
        ++s_.lines_rewritten;
    }
}

void PassCollector::unit_block_begins() {
    flush();
    block_ = next_block_++;
    header_ = line_no();
    passed_at_ = 0;
}

// A line the table read is the next in reading order; one it did not read
// is kept with why.
void PassCollector::unit_line(uint32_t unit_no, bool dropped, uint32_t new_unit) {
    flush();
    const uint64_t line = line_no();
    if (dropped)
        ++s_.lines_dropped;
    else
        ++s_.lines_rewritten;
    UnreadUnitLine u;
    if (!unread_at(line, u)) {
        if (next_seq_ < unit_table.size()) s_.unit_line_of.add(line);
        ++next_seq_;
        return;
    }
    u.unit_no = unit_no;
    u.new_unit = new_unit;
    u.dropped = dropped;
    s_.unread.push_back(u);
}

// The lines of a block come in order: the lines passed over are looked up
// from where the last look-up stopped.
bool PassCollector::unread_at(uint64_t line, UnreadUnitLine& u) {
    if (block_ >= read_.size() || next_block_ == 0 || line <= header_) return false;
    const BlockRead& b = read_[block_];
    const uint64_t at = line - header_;
    u.line = line;
    if (b.ended_at != 0 && at > b.ended_at) {
        u.why = kUnreadAfterEnd;
        u.ended_at = header_ + b.ended_at;
        u.ended_by = b.ended_by;
        return true;
    }
    while (passed_at_ < b.passed_over.size() && b.passed_over[passed_at_] < at) ++passed_at_;
    if (passed_at_ >= b.passed_over.size() || b.passed_over[passed_at_] != at) return false;
    u.why = kUnreadLeadingBlank;
    return true;
}

void PassCollector::continuation_dropped() {
    flush();
    const uint64_t line = line_no();
    dropped_line(line, line, kLineContinuation);
}

void PassCollector::label_dropped(std::string_view label, std::string_view addr) {
    const uint64_t line = line_no();
    if (labels_ > 0 && labels_line_ != line) flush();
    if (block_open_) flush();
    labels_line_ = line;
    ++labels_;
    row_.clear();
    number_put(row_, line);
    row_.append(label).append(" ").append(addr);
    s_.labels_dropped.add(row_);
}

void PassCollector::label_line_dropped() {
    const uint64_t line = line_no();
    if (labels_ > 0 && labels_line_ != line) flush();
    if (block_open_) flush();
    labels_ = 0;
    dropped_line(line, line, kLineLabels);
}

// A FUNC line is dropped alone, not with a block: the function list shows it.
void PassCollector::block_dropped(SecKind kind, std::string_view header) {
    flush();
    const uint64_t line = line_no();
    if (kind == SEC_FUNC) {
        func_lines_.push_back(line);
        ++s_.lines_dropped;
        return;
    }
    while (!header.empty() && (header.back() == '\n' || header.back() == '\r')) header.remove_suffix(1);
    block_open_ = true;
    block_first_ = block_last_ = line;
    block_text_.assign(block_kind_name(kind)).append("  ").append(header);
}

void PassCollector::lines_dropped(uint64_t first, uint64_t count) {
    if (count == 0) return;
    if (block_open_ && first == block_last_ + 1) {
        block_last_ = first + count - 1;
        return;
    }
    flush();
    dropped_line(first, first + count - 1, kLineInBlock);
}

void PassCollector::blank_dropped() {
    flush();
    const uint64_t line = line_no();
    dropped_line(line, line, kLineBlank);
}

// The FUNC lines dropped are those of the deleted functions' records, in
// reading order.
void PassCollector::finish() {
    flush();
    std::vector<uint32_t> seqs;
    for (const func_record& f : func_table)
        if (func_deciding(f).delete_mode == 1) seqs.push_back(f.seq);
    std::sort(seqs.begin(), seqs.end());
    seqs.resize(std::min(seqs.size(), func_lines_.size()));
    s_.func_dropped_lines.assign(seqs.size());
    for (size_t i = 0; i < seqs.size(); ++i) s_.func_dropped_lines.set(i, func_lines_[i]);
    s_.func_dropped_seqs = std::move(seqs);
    func_lines_.clear();
}

}  // namespace

uint64_t SymReport::func_line_of(uint32_t seq) const {
    const auto at = std::lower_bound(func_dropped_seqs.begin(), func_dropped_seqs.end(), seq);
    if (at == func_dropped_seqs.end() || *at != seq) return 0;
    return func_dropped_lines[static_cast<size_t>(at - func_dropped_seqs.begin())];
}

namespace {

// The steps of the symbol pass, in its order; the step a check failed in
// tells how to find the line it looked at.
enum SymStep { kLineEnds, kTables, kUnits, kFunctions, kRewrite, kDone };

// One run of the symbol pass over `name`, its output thrown away: the
// tables stay in the library's globals. Returns kDone, or the step that
// stopped with `stop` set.
int sym_run(SymReport& s, PassCollector& collector, bool one_by_one, run_stopped* stop, TableObserver* names,
            bool rows) {
    EmbeddedRun settings;
    settings.sym_name = s.name;
    settings.table_observer = names;
    settings.keep_unit_names = true;
    settings.lines_one_by_one = one_by_one;
    embedded_start(settings);
    s.labels_dropped.clear();
    s.blocks_dropped.clear();
    s.lines.clear();
    s.unit_line_of.clear();
    s.func_dropped_seqs.clear();
    s.func_dropped_lines.clear();
    s.unread.clear();
    s.lines_dropped = s.lines_rewritten = 0;
    int step = kLineEnds;
    try {
        if (!embedded_sym_discard()) throw run_stopped{kStatusCreate, L_CREATE_OUT_SYM, {}, 0};
        sym_line_ends_check();
        step = kTables;
        sec_func_read(rows ? &collector : nullptr);
        step = kUnits;
        unit_replac();
        step = kFunctions;
        func_replace();
        step = kRewrite;
        del_data(rows ? &collector : nullptr);
        if (rows) collector.finish();
        step = kDone;
    } catch (const run_stopped& st) {
        *stop = st;
    }
    embedded_stop();
    return step;
}

// The line of the first "# FUNC" line that names the unit `unit_no`: a
// function whose unit is not in the table.
uint64_t func_line_of_unit(const std::string& name, uint32_t unit_no) {
    InFile in;
    if (!in.open(name, InputPass::kSym)) return 0;
    std::string_view line;
    bool more = false;
    while (in.get_long_line(line, more) > 0) {
        if (sec_kind(line) != SEC_FUNC) continue;
        uint32_t func_no = 0, unit = 0;
        try {
            func_line_numbers(line, &func_no, &unit);
        } catch (const run_stopped&) {
            continue;
        }
        if (unit == unit_no) return in.lines();
    }
    return 0;
}

void sym_counts(SymReport& s) {
    s.unit_records = unit_table.size();
    for (const unit_record& u : unit_table) {
        switch (unit_fate(unit_deciding(u))) {
            case U_KEPT: ++s.units_kept; break;
            case U_ENDS_HIGH: ++s.units_ends_high; break;
            case U_EMPTY_HIGH: ++s.units_empty_high; break;
            default: ++s.units_empty_e; break;
        }
    }
    s.units_deleted = s.unit_records - s.units_kept;
    s.unit_numbers_deleted = unit_del_count;
    s.func_records = func_table.size();
    for (const func_record& f : func_table) s.funcs_deleted += func_deciding(f).delete_mode == 1;
    s.func_numbers_deleted = func_del_count;
}

void sym_analyse(Report& r) {
    SymReport& s = r.sym;
    InFile& sym_in = embedded_sym_input();
    errno = 0;
    if (!sym_in.open(s.name, InputPass::kSym)) {
        r.problems.push_back(cannot_read(s.name, "cannot open the symbol file", L_OPEN_IN_SYM));
        return;
    }
    run_stopped stop{0, 0, {}, 0};
    PassCollector collector(s);
    const int step = sym_run(s, collector, false, &stop, r.names, r.drop_rows);
    if (step == kDone) {
        sym_in.close();
        sym_counts(s);
        s.read = true;
        return;
    }
    if (stop.status != kStatusFormat || stop.place == L_NO_MEMORY || stop.place == L_OUT_OF_MEMORY) {
        sym_in.close();
        Diagnosis d = cannot_read(s.name, "cannot read the symbol file", stop.place);
        if (stop.place == L_NO_MEMORY || stop.place == L_OUT_OF_MEMORY) d.message = "not enough memory for the tables";
        d.status = stop.status;
        r.problems.push_back(d);
        return;
    }
    // Refused: the pass runs again line by line, so that the line count
    // names the line the check looked at.
    uint64_t line_no = 0;
    UnreadUnitLine unread;
    bool is_unread = false;
    if (step == kFunctions) {
        sym_in.close();
        line_no = func_line_of_unit(s.name, stop.number);
    } else if (step == kLineEnds) {
        sym_in.close();
        line_no = 1;
    } else if (sym_in.rewind()) {
        run_stopped again{0, 0, {}, 0};
        PassCollector again_collector(s);
        const int step_again = sym_run(s, again_collector, true, &again, nullptr, true);
        if (step_again == step && again.place == stop.place) line_no = sym_in.lines();
        // A unit line the table never read: the pass knows why.
        if (line_no != 0 && step == kRewrite && stop.place == L_NO_UNIT)
            is_unread = again_collector.unread_at(line_no, unread);
        sym_in.close();
        // What the check looked at, as the run that found the line saw it.
        stop.text = again.text;
        stop.number = again.number;
    }
    r.problems.push_back(diagnose_sym(s.name, stop, line_no, is_unread ? &unread : nullptr));
}

}  // namespace

// Starts again narrow, every place 0.
void LineNumbers::assign(size_t n) {
    clear();
    narrow_.assign(n, 0);
}

// A number past 32 bits widens every number kept.
void LineNumbers::set(size_t i, uint64_t line) {
    if (!wide_on_ && line > UINT32_MAX) widen();
    if (!wide_on_)
        narrow_[i] = static_cast<uint32_t>(line);
    else
        wide_[i] = line;
}

// One more place, at the end.
void LineNumbers::push_back(uint64_t line) {
    if (!wide_on_ && line > UINT32_MAX) widen();
    if (!wide_on_)
        narrow_.push_back(static_cast<uint32_t>(line));
    else
        wide_.push_back(line);
}

// From now on 64 bits a number, the numbers kept so far copied over.
void LineNumbers::widen() {
    wide_.assign(narrow_.begin(), narrow_.end());
    wide_on_ = true;
    narrow_.clear();
    narrow_.shrink_to_fit();
}

// No places, and the memory given back.
void LineNumbers::clear() {
    narrow_.clear();
    narrow_.shrink_to_fit();
    wide_.clear();
    wide_.shrink_to_fit();
    wide_on_ = false;
}

// A line that goes on the last run, or a new run; runs that take more
// than the lines one by one would are given up for those.
void UnitLines::add(uint64_t line) {
    const auto seq = static_cast<uint32_t>(count_++);
    if (flat_on_) {
        flat_.push_back(line);
        return;
    }
    if (!runs_.empty()) {
        Run& r = runs_.back();
        const uint64_t in_run = seq - r.seq;  // records in the run so far
        if (r.step == 0 && line > r.line && line - r.line <= UINT32_MAX) {
            r.step = static_cast<uint32_t>(line - r.line);
            return;
        }
        if (r.step != 0 && line == r.line + in_run * r.step) return;
    }
    runs_.push_back(Run{line, seq, 0});
    // A run takes 16 bytes, a line one by one 4.
    if (runs_.size() >= 1024 && runs_.size() * 4 > count_) flatten();
}

uint64_t UnitLines::operator[](size_t seq) const {
    if (seq >= count_) return 0;
    if (flat_on_) return flat_[seq];
    const auto after =
        std::upper_bound(runs_.begin(), runs_.end(), seq, [](size_t s, const Run& r) { return s < r.seq; });
    const Run& r = *(after - 1);
    return r.line + (seq - r.seq) * uint64_t{r.step};
}

// Every line one by one from now on.
void UnitLines::flatten() {
    flat_.assign(count_);
    for (size_t i = 0; i < count_; ++i) flat_.set(i, (*this)[i]);
    flat_on_ = true;
    runs_ = {};
}

void UnitLines::clear() {
    runs_ = {};
    flat_.clear();
    flat_on_ = false;
    count_ = 0;
}

void SymReport::lines_forget() {
    labels_dropped.clear();
    blocks_dropped.clear();
    lines.clear();
    unit_line_of.clear();
    func_dropped_seqs = {};
    func_dropped_lines.clear();
    unread = {};
}

void RowList::add(std::string_view row) {
    ++count_;
    rows_.add(row.data(), row.size());
    rows_.add("\n", 1);
}

bool RowList::print(std::FILE* out, std::string_view prefix, uint64_t limit) const {
    // The rows go out together, a block's worth at a time.
    std::string text;
    uint64_t left = limit;
    if (left == 0) return fault().empty();
    const bool ok = each_while([&](std::string_view row) {
        text.append(prefix);
        const size_t from = text.size();
        text.append(row).push_back('\n');
        controls_shown(text, from);
        if (text.size() >= size_t{1} << 16) {
            std::fwrite(text.data(), 1, text.size(), out);
            text.clear();
        }
        return --left > 0;
    });
    std::fwrite(text.data(), 1, text.size(), out);
    return ok;
}

bool RowList::each_while(const std::function<bool(std::string_view)>& row) const {
    ScratchStore::Reader reader(rows_);
    std::string_view r;
    for (bool more = true; more && reader.next_row(r);) more = row(r);
    return rows_.fault().empty();
}

bool RowList::each(const std::function<void(std::string_view)>& row) const {
    return each_while([&](std::string_view r) {
        row(r);
        return true;
    });
}

void RowList::clear() {
    rows_.clear();
    count_ = 0;
}

const unit_record& unit_deciding(const unit_record& u) { return *unit_first(u.unit_no); }

const func_record& func_deciding(const func_record& f) { return *func_first(f.func_no); }

int analyse(Report& r) {
    embedded_start(EmbeddedRun{});
    if (r.want_hex) hex_analyse(r);
    if (r.want_sym) sym_analyse(r);
    int status = 0;
    for (const Diagnosis& d : r.problems) status = std::max(status, d.status);
    return status;
}

}  // namespace report
