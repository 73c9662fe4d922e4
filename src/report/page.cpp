// page.cpp: the page. One self-contained HTML file, written so that it is
// also well-formed XML (an XML checker can read it whole): a map of the
// address space drawn in SVG, the HEX data coverage of each segment, the
// tables of deleted units and functions, and the totals. No script, and
// nothing fetched from elsewhere.
//
// The map is drawn in pixels at fixed places (the page's first element, at
// its top left corner, one SVG unit per pixel), so that a screenshot can be
// checked against the geometry: the low 64 KB spans x 80 to 720, linear, the
// boundary at FFFF is a line at x 720, and the space above FFFF up to the
// highest address in use is squeezed into x 720 to 980.
//
// The page stays bounded on big inputs: units too narrow to see are merged
// into runs, and the bar count is held under a budget by widening the gap
// a run may bridge; each bar carries data-units with the number of units it
// stands for. The tables show a limited number of rows and say how many
// more there are (the text summary lists them all).
#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "mrlpro.h"
#include "report/compare.h"
#include "report/report.h"
#include "run/message.h"
#include "sym/table.h"

namespace report {

namespace {

constexpr double kLeft = 80;       // x of address 0
constexpr double kLowWidth = 640;  // 0 to 10000, linear: 2.5 px for each 256-byte page
constexpr double kBoundary = kLeft + kLowWidth;
constexpr double kHighWidth = 260;  // 10000 to the top of the map
constexpr int kWidth = 1000;
constexpr double kTop = 64;  // y of the first lane
constexpr double kLane = 14, kLaneStep = 16, kBandGap = 10;
constexpr size_t kBarBudget = 7000;  // bars on the map, each with its title
constexpr size_t kTableRows = 1000;
constexpr size_t kSegmentRows = 32;

// The three ways a unit is drawn.
enum Kind { K_KEPT = 0, K_DELETED = 1, K_EMPTY = 2 };
const char* const kKindClass[] = {"kept", "deleted", "empty"};
const char* const kKindBand[] = {"kept", "deleted", "empty"};
const int kKindLanes[] = {6, 4, 2};  // the last lane of a band takes what overlaps the others

int unit_kind(const unit_record& u) {
    switch (unit_fate(unit_deciding(u))) {
        case U_KEPT: return K_KEPT;
        case U_ENDS_HIGH: return K_DELETED;
        default: return K_EMPTY;
    }
}

// Appends printf-style text (never text from the inputs: that goes through
// add_text).
void add(std::string& s, const char* format, ...) MRL_PRINTF_LIKE(2, 3);
void add(std::string& s, const char* format, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    if (n > 0) s.append(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1));
}

// The length of the well-formed UTF-8 sequence at t[i] that XML accepts as
// characters, or 0 (a stray byte, an overlong form, a surrogate, a code
// point above 10FFFF, or U+FFFE / U+FFFF).
size_t utf8_length(std::string_view t, size_t i) {
    const auto b = [&](size_t k) { return static_cast<unsigned char>(t[i + k]); };
    const unsigned char c = b(0);
    size_t n;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF)
        n = 2;
    else if (c >= 0xE0 && c <= 0xEF)
        n = 3;
    else if (c >= 0xF0 && c <= 0xF4)
        n = 4;
    else
        return 0;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
    if (i + n > t.size() || b(1) < lo || b(1) > hi) return 0;
    for (size_t k = 2; k < n; ++k)
        if (b(k) < 0x80 || b(k) > 0xBF) return 0;
    if (c == 0xEF && b(1) == 0xBF && (b(2) == 0xBE || b(2) == 0xBF)) return 0;
    return n;
}

// Appends text taken from the inputs, fit for element content and quoted
// attributes alike: markup characters as entities, and control bytes and
// bytes that are no valid UTF-8 as a visible \xNN (XML has no way to carry
// most of them at all).
void add_text(std::string& s, std::string_view t) {
    size_t i = 0;
    while (i < t.size()) {
        const unsigned char c = static_cast<unsigned char>(t[i]);
        if (c < 0x80) {
            switch (c) {
                case '&': s += "&amp;"; break;
                case '<': s += "&lt;"; break;
                case '>': s += "&gt;"; break;
                case '"': s += "&quot;"; break;
                case '\'': s += "&#39;"; break;
                default:
                    if (c < 0x20 || c == 0x7F)
                        add(s, "\\x%02X", c);
                    else
                        s += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        const size_t n = utf8_length(t, i);
        if (n == 0) {
            add(s, "\\x%02X", c);
            ++i;
        } else {
            s.append(t.substr(i, n));
            i += n;
        }
    }
}

// Where an address lies on the map.
struct Scale {
    uint64_t top = 0x10000;  // the highest address shown (exclusive), above 10000
    double x(uint64_t a) const {
        if (a <= 0x10000) return kLeft + static_cast<double>(a) * kLowWidth / 65536.0;
        if (a >= top) return kBoundary + kHighWidth;
        return kBoundary + static_cast<double>(a - 0x10000) * kHighWidth / static_cast<double>(top - 0x10000);
    }
};

// The top of the map: the highest unit end or HEX address above 10000,
// rounded up to a multiple of 100, and at least 10100.
uint64_t map_top(const Report& r) {
    uint64_t top = 0x10100;
    if (r.want_sym && r.sym.read)
        for (const unit_record& u : unit_table) top = std::max<uint64_t>(top, uint64_t{u.start_addr} + u.length);
    if (r.want_hex && r.hex.read)
        for (const Segment& s : r.hex.segments)
            if (!s.spans.empty()) top = std::max<uint64_t>(top, uint64_t{s.base} + s.spans.back().last + 1);
    return (top + 0xFF) / 0x100 * 0x100;
}

// A unit placed on the map: its pixels, its band and its lane. On a big
// input, all the units of a band that start in the same pixel column.
struct Placed {
    double x0, x1;
    uint32_t index;  // the (first) unit, in unit_table
    int kind, lane;
    uint64_t count, lo, hi;  // the units and the addresses they cover
};

// Past this many units the map cannot show each one anyway (the bars are
// held under kBarBudget); the units are then taken together by band and
// pixel column before they are placed, so that the page needs memory for
// the columns and not for each unit. A column is a few pixels wide, so that
// each of its bars can be seen and told by its color.
constexpr size_t kPlacedEach = 20000;
constexpr int kColumn = 8;

// A bar: one unit, or a run of units merged because they are too narrow to
// see one by one.
struct Bar {
    double x0, x1;
    uint32_t first;  // the first unit, in unit_table
    uint64_t count;
    uint64_t lo, hi;  // the addresses the run covers
    int kind, lane;
    bool narrow;
};

// Sorts the units by band and address and gives each the first lane of its
// band where it overlaps nothing before it (the band's last lane when none
// is free). Returns the lanes used in each band.
std::vector<Placed> place_units(const Scale& sc, int lanes_used[3]) {
    std::vector<Placed> placed;
    const auto unit_placed = [&sc](size_t i) {
        const unit_record& u = unit_table[i];
        const uint64_t lo = u.start_addr, hi = lo + u.length;
        return Placed{sc.x(lo), sc.x(hi), static_cast<uint32_t>(i), unit_kind(u), 0, 1, lo, hi};
    };
    if (unit_table.size() <= kPlacedEach) {
        placed.reserve(unit_table.size());
        for (size_t i = 0; i < unit_table.size(); ++i) placed.push_back(unit_placed(i));
    } else {
        constexpr int kColumns = kWidth / kColumn + 1;
        std::vector<Placed> columns(size_t{3} * kColumns);
        for (size_t i = 0; i < unit_table.size(); ++i) {
            Placed p = unit_placed(i);
            const int col = std::clamp(static_cast<int>(p.x0) / kColumn, 0, kColumns - 1);
            Placed& c = columns[static_cast<size_t>(p.kind) * kColumns + static_cast<size_t>(col)];
            if (c.count == 0) {
                p.x0 = col * kColumn;
                p.x1 = std::max(p.x1, p.x0 + kColumn);
                c = p;
                continue;
            }
            c.x0 = std::min(c.x0, p.x0);
            c.x1 = std::max(c.x1, p.x1);
            c.count += 1;
            c.lo = std::min(c.lo, p.lo);
            c.hi = std::max(c.hi, p.hi);
        }
        for (const Placed& c : columns)
            if (c.count > 0) placed.push_back(c);
    }
    std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
        if (a.kind != b.kind) return a.kind < b.kind;
        if (a.x0 != b.x0) return a.x0 < b.x0;
        return a.index < b.index;
    });
    std::vector<double> ends;
    int kind = -1;
    for (Placed& p : placed) {
        if (p.kind != kind) {
            kind = p.kind;
            ends.assign(static_cast<size_t>(kKindLanes[kind]), -1.0);
        }
        int lane = kKindLanes[kind] - 1;
        for (int l = 0; l < kKindLanes[kind]; ++l)
            if (ends[static_cast<size_t>(l)] <= p.x0 + 1e-9) {
                lane = l;
                break;
            }
        p.lane = lane;
        ends[static_cast<size_t>(lane)] = std::max(ends[static_cast<size_t>(lane)], p.x1);
        lanes_used[kind] = std::max(lanes_used[kind], lane + 1);
    }
    return placed;
}

// Merges, lane by lane, units narrower than the lane's gap (at least one
// pixel) that start within that gap of the run before them into one bar.
// The last lane of a band, where units overlap, has a gap of its own.
std::vector<Bar> merge_bars(const std::vector<Placed>& placed, double gap, double last_lane_gap) {
    std::vector<Bar> bars;
    std::vector<long> open(static_cast<size_t>(3 * 8), -1);  // the open bar of each band and lane
    for (const Placed& p : placed) {
        const uint64_t lo = p.lo, hi = p.hi;
        const double g = p.lane == kKindLanes[p.kind] - 1 ? last_lane_gap : gap;
        const bool narrow = p.x1 - p.x0 < std::max(1.0, g);
        long& o = open[static_cast<size_t>(p.kind) * 8 + static_cast<size_t>(p.lane)];
        if (o >= 0 && narrow) {
            Bar& b = bars[static_cast<size_t>(o)];
            if (b.narrow && p.x0 <= b.x1 + g) {
                b.x1 = std::max(b.x1, p.x1);
                b.count += p.count;
                b.lo = std::min(b.lo, lo);
                b.hi = std::max(b.hi, hi);
                continue;
            }
        }
        o = static_cast<long>(bars.size());
        bars.push_back({p.x0, p.x1, p.index, p.count, lo, hi, p.kind, p.lane, narrow});
    }
    return bars;
}

// The bars of the map within the budget: the gap a run may bridge is
// widened first in the last lanes, where the units that overlap others
// pile up, then everywhere (with a gap as wide as the map, each lane is one
// bar).
std::vector<Bar> map_bars(const Scale& sc, int lanes_used[3]) {
    const std::vector<Placed> placed = place_units(sc, lanes_used);
    double gap = 1.0, last_gap = 1.0;
    std::vector<Bar> bars = merge_bars(placed, gap, last_gap);
    while (bars.size() > kBarBudget && last_gap < 2.0 * kWidth) {
        last_gap *= 2;
        bars = merge_bars(placed, gap, last_gap);
    }
    while (bars.size() > kBarBudget && gap < 2.0 * kWidth) {
        gap *= 2;
        bars = merge_bars(placed, gap, last_gap);
    }
    return bars;
}

void bar_title(std::string& s, const Bar& b) {
    if (b.count == 1) {
        const unit_record& u = unit_table[b.first];
        const unit_record& d = unit_deciding(u);
        const int fate = unit_fate(d);
        add(s, "unit %04X", u.unit_no);
        if (fate == U_KEPT)
            add(s, ", new number %04X", d.new_unit_no);
        else
            s += ", no new number";
        s += "\nname ";
        add_text(s, unit_name(u));
        add(s, "\naddress %08X, length %08X\n%s%s", u.start_addr, u.length,
            fate == U_KEPT ? "kept" : "deleted: ", why_deleted(fate));
    } else {
        add(s, "%llu units, %s, merged (too narrow or too crowded to see one by one)\naddresses %08llX to %08llX",
            ull(b.count),
            b.kind == K_KEPT      ? "kept"
            : b.kind == K_DELETED ? "deleted: end above FFFF"
                                  : "deleted: empty",
            ull(b.lo), ull(b.hi));
    }
}

// The band of each kind begins at this y.
void band_tops(const int lanes_used[3], double top[3], double& bottom) {
    double y = kTop;
    for (int k = 0; k < 3; ++k) {
        top[k] = y;
        y += std::max(1, lanes_used[k]) * kLaneStep + kBandGap;
    }
    bottom = y - kBandGap;
}

void map_defs(std::string& s) {
    s += "<defs>\n"
         "<pattern id=\"hatch\" width=\"6\" height=\"6\" patternUnits=\"userSpaceOnUse\" "
         "patternTransform=\"rotate(45)\"><rect width=\"6\" height=\"6\" fill=\"#c0392b\"/>"
         "<rect width=\"2\" height=\"6\" fill=\"#ffffff\"/></pattern>\n"
         "<pattern id=\"dots\" width=\"5\" height=\"5\" patternUnits=\"userSpaceOnUse\">"
         "<rect width=\"5\" height=\"5\" fill=\"#f5d58c\"/><circle cx=\"2.5\" cy=\"2.5\" r=\"1.4\" "
         "fill=\"#8a5200\"/></pattern>\n"
         "</defs>\n";
}

void map_axis(std::string& s, const Scale& sc, double bottom) {
    // The low area's ticks, the area captions and the boundary's label.
    for (uint64_t a = 0; a < 0x10000; a += 0x4000) {
        const double x = sc.x(a);
        add(s, "<line class=\"grid\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", x, kTop - 6, x, bottom);
        add(s, "<text class=\"tick\" x=\"%.1f\" y=\"%.1f\">%04llX</text>\n", x, kTop - 10, ull(a));
    }
    add(s, "<text class=\"tick\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%08llX</text>\n", kBoundary + kHighWidth,
        kTop - 10, ull(sc.top));
    add(s,
        "<text class=\"area\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">low 64 KB: 0000 to FFFF (linear)</text>\n",
        kLeft + kLowWidth / 2, kTop - 26);
    add(s, "<text class=\"area\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">above FFFF (squeezed)</text>\n",
        kBoundary + kHighWidth / 2, kTop - 26);
    add(s, "<text class=\"boundary-label\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">FFFF</text>\n", kBoundary,
        kTop - 10);
}

void map_legend(std::string& s, double y) {
    const char* const text[] = {"kept (solid)", "deleted, ends above FFFF (hatched)", "empty, deleted (dotted)"};
    double x = kLeft;
    for (int k = 0; k < 3; ++k) {
        add(s, "<rect class=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"28\" height=\"12\"/>\n", kKindClass[k], x, y);
        add(s, "<text x=\"%.1f\" y=\"%.1f\">%s</text>\n", x + 34, y + 10, text[k]);
        x += k == 1 ? 270 : 160;
    }
    add(s,
        "<text x=\"%.1f\" y=\"%.1f\">Units too narrow or too crowded to see one by one are merged "
        "into a bar that gives their count; hover over a bar for its units.</text>\n",
        kLeft, y + 30);
}

// The map: a band of lanes for each kind, the boundary line drawn last, on
// top of the bars.
void map_svg(std::string& s, const Report& r) {
    Scale sc;
    sc.top = map_top(r);
    int lanes_used[3] = {0, 0, 0};
    std::vector<Bar> bars;
    if (r.want_sym && r.sym.read) bars = map_bars(sc, lanes_used);
    double top[3], bottom;
    band_tops(lanes_used, top, bottom);
    const double height = bottom + 60;
    add(s,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"map\" width=\"%d\" height=\"%.0f\" "
        "viewBox=\"0 0 %d %.0f\" data-bars=\"%llu\">\n",
        kWidth, height, kWidth, height, ull(bars.size()));
    map_defs(s);
    s += "<text class=\"heading\" x=\"8\" y=\"20\">mrl85-report: ";
    add_text(s, r.want_hex ? r.hex.name : r.sym.name);
    if (r.want_hex && r.want_sym) {
        s += ", ";
        add_text(s, r.sym.name);
    }
    s += "</text>\n";
    add(s, "<rect class=\"high-area\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/>\n", kBoundary, kTop - 4,
        kHighWidth, bottom - kTop + 8);
    map_axis(s, sc, bottom);
    for (int k = 0; k < 3; ++k)
        add(s, "<text class=\"band\" x=\"8\" y=\"%.1f\">%s</text>\n", top[k] + 11, kKindBand[k]);
    s += "<g id=\"units\">\n";
    for (const Bar& b : bars) {
        const double y = top[b.kind] + b.lane * kLaneStep;
        // Wide bars end half a pixel early, so that units that touch stay apart.
        double w = std::max(b.x1 - b.x0, b.kind == K_EMPTY ? 3.0 : 2.0);
        if (w > 3) w -= 0.5;
        add(s, "<rect class=\"%s\" x=\"%.2f\" y=\"%.1f\" width=\"%.2f\" height=\"%.0f\" data-units=\"%llu\"><title>",
            kKindClass[b.kind], b.x0, y, w, kLane, ull(b.count));
        bar_title(s, b);
        s += "</title></rect>\n";
    }
    s += "</g>\n";
    add(s,
        "<line id=\"boundary\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"><title>FFFF: the end of the "
        "low 64 KB</title></line>\n",
        kBoundary, kTop - 6, kBoundary, bottom + 4);
    map_legend(s, bottom + 14);
    s += "</svg>\n";
}

// The HEX data coverage: for each segment a strip of its 256 pages of 256
// bytes, aligned with the low area of the map, dark where data lies.
void coverage_svg(std::string& s, const HexReport& h) {
    const size_t rows = std::min(h.segments.size(), kSegmentRows);
    const double row = 18, top = 34;
    add(s,
        "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"coverage\" width=\"%d\" height=\"%.0f\" viewBox=\"0 0 %d "
        "%.0f\">\n",
        kWidth, top + rows * row + 8, kWidth, top + rows * row + 8);
    add(s,
        "<text class=\"heading\" x=\"8\" y=\"16\">HEX data by segment: the 256 pages of 256 bytes "
        "(offsets 0000 to FFFF)</text>\n");
    for (size_t i = 0; i < rows; ++i) {
        const Segment& g = h.segments[i];
        const double y = top + i * row;
        s += "<g class=\"segment\"><title>segment ";
        add_text(s, g.value.empty() ? std::string_view("none (before any segment record)") : g.value);
        add(s, ", %s, base %05X: %llu data records, %llu bytes, %llu of 256 pages hold data</title>\n",
            g.high ? "high" : "low", g.base, ull(g.records), ull(g.bytes), ull(g.pages.count()));
        s += "<text x=\"8\" y=\"";
        add(s, "%.1f\">", y + 10);
        add_text(s, g.value.empty() ? std::string_view("none") : g.value);
        add(s, " %s</text>\n", g.high ? "high" : "low");
        add(s, "<rect class=\"pages\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"12\"/>\n", kLeft, y, kLowWidth);
        for (size_t p = 0; p < 256;) {
            if (!g.pages[p]) {
                ++p;
                continue;
            }
            size_t q = p;
            while (q < 256 && g.pages[q]) ++q;
            add(s, "<rect class=\"data %s\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"12\"/>\n",
                g.high ? "high" : "low", kLeft + p * 2.5, y, (q - p) * 2.5);
            p = q;
        }
        s += "</g>\n";
    }
    s += "</svg>\n";
    if (h.segments.size() > rows)
        add(s, "<p>%llu more segments are not drawn (the text summary lists them all).</p>\n",
            ull(h.segments.size() - rows));
}

void more_rows(std::string& s, uint64_t shown, uint64_t all) {
    if (all > shown)
        add(s, "<p>%llu more are not shown here (the text summary lists them all).</p>\n", ull(all - shown));
}

void deleted_units_table(std::string& s, const SymReport& sym) {
    add(s,
        "<details><summary>Deleted units: %llu</summary>\n<table><tr><th>number</th><th>name</th>"
        "<th>address</th><th>length</th><th>why</th></tr>\n",
        ull(sym.units_deleted));
    uint64_t shown = 0;
    for (const unit_record& u : unit_table) {
        const int fate = unit_fate(unit_deciding(u));
        if (fate == U_KEPT) continue;
        if (shown == kTableRows) break;
        ++shown;
        add(s, "<tr><td>%04X</td><td>", u.unit_no);
        add_text(s, unit_name(u));
        add(s, "</td><td>%08X</td><td>%08X</td><td>%s</td></tr>\n", u.start_addr, u.length, why_deleted(fate));
    }
    s += "</table>\n";
    more_rows(s, shown, sym.units_deleted);
    s += "</details>\n";
}

void deleted_functions_table(std::string& s, const SymReport& sym) {
    add(s, "<details><summary>Deleted functions: %llu</summary>\n<table><tr><th>number</th><th>unit</th></tr>\n",
        ull(sym.funcs_deleted));
    uint64_t shown = 0;
    for (const func_record& f : func_table) {
        if (func_deciding(f).delete_mode != 1) continue;
        if (shown == kTableRows) break;
        ++shown;
        add(s, "<tr><td>%04X</td><td>%04X</td></tr>\n", f.func_no, f.unit_no);
    }
    s += "</table>\n";
    more_rows(s, shown, sym.funcs_deleted);
    s += "</details>\n";
}

void total_row(std::string& s, const char* what, uint64_t n, const std::string& more = "") {
    add(s, "<tr><th>%s</th><td>%llu</td><td>", what, ull(n));
    s += more;
    s += "</td></tr>\n";
}

std::string words(const char* format, ...) MRL_PRINTF_LIKE(1, 2);
std::string words(const char* format, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, format);
    const int n = std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    return n > 0 ? std::string(buf, std::min<size_t>(static_cast<size_t>(n), sizeof buf - 1)) : std::string();
}

void totals(std::string& s, const Report& r) {
    s += "<h2>Totals</h2>\n<table class=\"totals\">\n";
    if (r.want_hex && r.hex.read) {
        const HexReport& h = r.hex;
        total_row(s, "HEX records", h.lines,
                  words("data %llu, segment %llu, end %llu", ull(h.data_records), ull(h.segment_records),
                        ull(h.end_records)));
        total_row(s, "low output lines", h.low.lines,
                  words("%s, %llu data records, %llu data bytes", h.low.kept ? "kept as .hex" : "not kept",
                        ull(h.low.data_records), ull(h.low.data_bytes)));
        total_row(s, "high output lines", h.high.lines,
                  words("%s, %llu data records, %llu data bytes", h.high.kept ? "kept as .hxh" : "not kept",
                        ull(h.high.data_records), ull(h.high.data_bytes)));
        if (h.after_end > 0) total_row(s, "lines after the end record, not copied", h.after_end);
    }
    if (r.want_sym && r.sym.read) {
        const SymReport& y = r.sym;
        total_row(s, "units", y.unit_records,
                  words("kept %llu, deleted %llu (ends above FFFF %llu, empty above FFFF %llu, empty \"E\" %llu)",
                        ull(y.units_kept), ull(y.units_deleted), ull(y.units_ends_high), ull(y.units_empty_high),
                        ull(y.units_empty_e)));
        total_row(s, "functions", y.func_records,
                  words("kept %llu, deleted %llu", ull(y.func_records - y.funcs_deleted), ull(y.funcs_deleted)));
        total_row(s, "global labels dropped", y.labels_dropped.size());
        total_row(s, "blocks dropped", y.blocks_dropped.size());
    }
    s += "</table>\n";
}

const char* const kStyle =
    "body{margin:0;font:13px sans-serif;color:#222;background:#fff}\n"
    "svg{display:block}\n"
    "svg text{font:12px sans-serif;fill:#222}\n"
    "svg text.heading{font-size:15px;font-weight:bold}\n"
    "svg text.tick{fill:#555}\n"
    "svg text.area{fill:#555;font-style:italic}\n"
    "svg text.boundary-label{fill:#1f4fd8;font-weight:bold}\n"
    "svg text.band{font-weight:bold}\n"
    ".kept{fill:#2a9d4a}\n"
    ".deleted{fill:url(#hatch)}\n"
    ".empty{fill:url(#dots)}\n"
    ".grid{stroke:#dddddd;stroke-width:1}\n"
    ".high-area{fill:#f1f1f6}\n"
    "#boundary{stroke:#1f4fd8;stroke-width:2}\n"
    ".pages{fill:#eeeeee;stroke:#cccccc;stroke-width:0.5}\n"
    ".data.low{fill:#2a9d4a}\n"
    ".data.high{fill:#7a5fb0}\n"
    ".text{padding:4px 12px 16px 12px}\n"
    "table{border-collapse:collapse;margin:6px 0}\n"
    "th,td{padding:1px 10px 1px 0;text-align:left;font-family:monospace}\n"
    ".totals th{font-family:sans-serif;font-weight:normal}\n"
    "summary{cursor:pointer;font-weight:bold;margin-top:8px}\n";

}  // namespace

bool page_write(std::FILE* out, const Report& r) {
    std::string s;
    s += "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n"
         "<meta charset=\"utf-8\"/>\n<title>mrl85-report: ";
    add_text(s, r.want_hex ? r.hex.name : r.sym.name);
    s += "</title>\n<style>\n";
    s += kStyle;
    s += "</style>\n</head>\n<body>\n";
    map_svg(s, r);
    if (r.want_hex && r.hex.read && !r.hex.segments.empty()) coverage_svg(s, r.hex);
    s += "<div class=\"text\">\n";
    if (r.want_sym && r.sym.read) {
        deleted_units_table(s, r.sym);
        deleted_functions_table(s, r.sym);
    }
    totals(s, r);
    if (r.compare != nullptr) compare_page(s, *r.compare, add_text);
    s += "</div>\n</body>\n</html>\n";
    return std::fwrite(s.data(), 1, s.size(), out) == s.size() && std::fflush(out) == 0;
}

}  // namespace report
