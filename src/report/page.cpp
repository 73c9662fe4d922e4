// page.cpp: the page. One self-contained HTML file, written so that it is
// also well-formed XML (an XML checker can read it whole): a map of the
// address space drawn in SVG (the HEX data of each output and the units, by
// absolute address), then the sections of text: the diagnoses of a refused
// input, the warnings, the totals and the usage, the tables of kept and
// deleted units, deleted functions, labels and blocks dropped, and the
// segments. No script, and nothing fetched from elsewhere. A section with
// nothing to show is left out.
//
// The map is drawn in SVG units at fixed places (the page's first element,
// at its top left corner); it is as wide as the window, so that in a window
// 1000 pixels wide one unit is one pixel and a screenshot can be checked
// against the geometry: the low 64 KB spans x 80 to 720, linear, the
// boundary at FFFF is a line at x 720, and the space above FFFF up to the
// highest address in use is squeezed into x 720 to 980, linear too.
//
// Each bar is a link to its row in the tables below (the row's id), so that
// a click on the map finds the unit or segment without any script. The
// page stays bounded on big inputs: units too narrow to see are merged into
// runs, and the bar count is held under a budget by widening the gap a run
// may bridge; each bar carries data-units with the number of units it
// stands for. The tables show a limited number of rows and say how many
// more there are (the text summary lists them all); a bar whose unit has
// no row links to that notice.
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
// Bars of units on the map, each a link with a rect and a title (three SVG
// elements); the HEX data adds at most about a bar per pixel of each of its
// two lanes. Together they stay under about 20,000 SVG elements.
constexpr size_t kBarBudget = 4500;
constexpr size_t kTableRows = 1000;  // rows of each table
constexpr size_t kSpansShown = 16;   // address ranges of a segment's row

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
                        add_printf(s, "\\x%02X", c);
                    else
                        s += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        const size_t n = utf8_length(t, i);
        if (n == 0) {
            add_printf(s, "\\x%02X", c);
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

// Where the rows of the two unit tables end: the index in unit_table of
// the first kept and of the first deleted unit that have no row (the size
// of unit_table when every unit of the kind has one).
struct RowCut {
    size_t kept, deleted;
};

RowCut row_cut() {
    RowCut c{unit_table.size(), unit_table.size()};
    uint64_t kept = 0, deleted = 0;
    for (size_t i = 0; i < unit_table.size(); ++i) {
        if (unit_fate(unit_deciding(unit_table[i])) == U_KEPT) {
            if (kept++ == kTableRows) c.kept = i;
        } else if (deleted++ == kTableRows) {
            c.deleted = i;
        }
    }
    return c;
}

// The link of a unit's bar: the unit's row, or the notice of the rows not
// shown.
void unit_href(std::string& s, const Bar& b, const RowCut& cut) {
    const bool kept = b.kind == K_KEPT;
    if (b.first < (kept ? cut.kept : cut.deleted))
        add_printf(s, "#u%u", b.first);
    else
        s += kept ? "#kept-more" : "#deleted-more";
}

void bar_title(std::string& s, const Bar& b) {
    if (b.count == 1) {
        const unit_record& u = unit_table[b.first];
        const unit_record& d = unit_deciding(u);
        const int fate = unit_fate(d);
        add_printf(s, "unit %04X", u.unit_no);
        if (fate == U_KEPT)
            add_printf(s, ", new number %04X", d.new_unit_no);
        else
            s += ", no new number";
        s += "\nname ";
        add_text(s, unit_name(u));
        add_printf(s, "\naddress %08X, length %08X\n%s%s", u.start_addr, u.length,
                   fate == U_KEPT ? "kept" : "deleted: ", why_deleted(fate));
    } else {
        add_printf(s,
                   "%llu units, %s, merged (too narrow or too crowded to see one by one)\naddresses %08llX to %08llX",
                   ull(b.count),
                   b.kind == K_KEPT      ? "kept"
                   : b.kind == K_DELETED ? "deleted: end above FFFF"
                                         : "deleted: empty",
                   ull(b.lo), ull(b.hi));
    }
}

// A bar of HEX data: the address range of one span of a segment, or of
// spans merged because they lie within a pixel of each other.
struct DataBar {
    double x0, x1;
    uint64_t lo, hi;  // absolute addresses, hi exclusive
    size_t segment;   // the (first) segment, in HexReport::segments
    uint64_t spans;
    bool high;  // the data goes to the high output
};

// The HEX data by absolute address (segment base plus offset), in two
// lanes: what goes to the low output and what goes to the high one.
std::vector<DataBar> data_bars(const HexReport& h, const Scale& sc) {
    std::vector<DataBar> all;
    for (size_t i = 0; i < h.segments.size(); ++i) {
        const Segment& g = h.segments[i];
        for (const Span& sp : g.spans) {
            const uint64_t lo = uint64_t{g.base} + sp.first, hi = uint64_t{g.base} + sp.last + 1;
            all.push_back({sc.x(lo), sc.x(hi), lo, hi, i, 1, g.high});
        }
    }
    std::sort(all.begin(), all.end(), [](const DataBar& a, const DataBar& b) {
        if (a.high != b.high) return b.high;
        return a.lo < b.lo;
    });
    std::vector<DataBar> bars;
    for (const DataBar& d : all) {
        if (!bars.empty() && bars.back().high == d.high && d.x0 <= bars.back().x1 + 1.0) {
            DataBar& b = bars.back();
            b.x1 = std::max(b.x1, d.x1);
            b.hi = std::max(b.hi, d.hi);
            b.spans += d.spans;
            continue;
        }
        bars.push_back(d);
    }
    return bars;
}

std::string_view segment_value(const Segment& g) { return g.value.empty() ? std::string_view("none") : g.value; }

void data_bar_title(std::string& s, const HexReport& h, const DataBar& b) {
    const Segment& g = h.segments[b.segment];
    add_printf(s, "HEX data, %s output (%s)\n", b.high ? "high" : "low", b.high ? ".hxh" : ".hex");
    if (b.spans > 1) add_printf(s, "%llu ranges merged (too close to see one by one)\n", ull(b.spans));
    add_printf(s, "addresses %08llX to %08llX\n%ssegment ", ull(b.lo), ull(b.hi - 1),
               b.spans > 1 ? "the first in " : "");
    add_text(s, segment_value(g));
    add_printf(s, ", base %05X", g.base);
}

// What the map holds: the HEX data's lanes (0 when it has none to draw)
// and the unit bands (when the symbol file was read).
struct MapPlan {
    Scale sc;
    int data_lanes = 0;
    bool units = false;
    int lanes_used[3] = {0, 0, 0};
    double data_top = 0, top[3] = {0, 0, 0}, bottom = 0;
};

// The bands from the top: the HEX data, then kept, deleted and empty units.
void band_tops(MapPlan& m) {
    double y = kTop;
    if (m.data_lanes > 0) {
        m.data_top = y;
        y += m.data_lanes * kLaneStep + kBandGap;
    }
    if (m.units)
        for (int k = 0; k < 3; ++k) {
            m.top[k] = y;
            y += std::max(1, m.lanes_used[k]) * kLaneStep + kBandGap;
        }
    m.bottom = y - kBandGap;
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

void tick(std::string& s, double x, double bottom, const char* label) {
    add_printf(s, "<line class=\"grid\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"/>\n", x, kTop - 6, x, bottom);
    add_printf(s, "<text class=\"tick\" x=\"%.1f\" y=\"%.1f\">%s</text>\n", x, kTop - 10, label);
}

// The ticks above FFFF: round addresses (a power of two times 100) at most
// three of them, none so near the boundary or the top that its label would
// run into theirs.
void high_ticks(std::string& s, const Scale& sc, double bottom) {
    uint64_t step = 0x100;
    while ((sc.top - 0x10000) / step > 3) step *= 2;
    for (uint64_t a = 0x10000 + step; a < sc.top; a += step) {
        const double x = sc.x(a);
        if (x - kBoundary < 44 || kBoundary + kHighWidth - x < 72) continue;
        char label[24];
        std::snprintf(label, sizeof label, "%llX", ull(a));
        tick(s, x, bottom, label);
    }
}

void map_axis(std::string& s, const Scale& sc, double bottom) {
    // The low area's ticks, the area captions and the boundary's label.
    for (uint64_t a = 0; a < 0x10000; a += 0x4000) {
        char label[8];
        std::snprintf(label, sizeof label, "%04llX", ull(a));
        tick(s, sc.x(a), bottom, label);
    }
    high_ticks(s, sc, bottom);
    add_printf(s, "<text class=\"tick\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"end\">%08llX</text>\n",
               kBoundary + kHighWidth, kTop - 10, ull(sc.top));
    add_printf(
        s,
        "<text class=\"area\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">low 64 KB: 0000 to FFFF (linear)</text>\n",
        kLeft + kLowWidth / 2, kTop - 26);
    add_printf(s, "<text class=\"area\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">above FFFF (squeezed)</text>\n",
               kBoundary + kHighWidth / 2, kTop - 26);
    add_printf(s, "<text class=\"boundary-label\" x=\"%.1f\" y=\"%.1f\" text-anchor=\"middle\">FFFF</text>\n",
               kBoundary, kTop - 10);
}

// The legend below the map; returns the y below it.
double map_legend(std::string& s, const MapPlan& m, double y) {
    if (m.units) {
        const char* const text[] = {"kept (solid)", "deleted, ends above FFFF (hatched)", "empty, deleted (dotted)"};
        double x = kLeft;
        for (int k = 0; k < 3; ++k) {
            add_printf(s, "<rect class=\"%s\" x=\"%.1f\" y=\"%.1f\" width=\"28\" height=\"12\"/>\n", kKindClass[k], x,
                       y);
            add_printf(s, "<text x=\"%.1f\" y=\"%.1f\">%s</text>\n", x + 34, y + 10, text[k]);
            x += k == 1 ? 270 : 160;
        }
        y += 20;
    }
    if (m.data_lanes > 0) {
        add_printf(s, "<rect class=\"data low\" x=\"%.1f\" y=\"%.1f\" width=\"28\" height=\"12\"/>\n", kLeft, y);
        add_printf(s, "<text x=\"%.1f\" y=\"%.1f\">HEX data to the low output (.hex)</text>\n", kLeft + 34, y + 10);
        add_printf(s, "<rect class=\"data high\" x=\"%.1f\" y=\"%.1f\" width=\"28\" height=\"12\"/>\n", kLeft + 270, y);
        add_printf(s, "<text x=\"%.1f\" y=\"%.1f\">HEX data to the high output (.hxh)</text>\n", kLeft + 304, y + 10);
        y += 20;
    }
    add_printf(s,
               "<text x=\"%.1f\" y=\"%.1f\">Bars too narrow or too crowded to see one by one are merged and say how "
               "many they hold; hover over a bar for what it holds, click it for its row.</text>\n",
               kLeft, y + 10);
    return y + 24;
}

// The x of a bar `w` wide for addresses that end at `hi`: a narrow bar of
// the low 64 KB drawn to its minimum width would reach under the boundary
// line, which would hide it; it is drawn left of the line instead.
double bar_x(double x0, double w, uint64_t hi) {
    constexpr double kClear = kBoundary - 1;
    return hi <= 0x10000 && x0 + w > kClear ? std::max(kLeft, kClear - w) : x0;
}

void unit_bars(std::string& s, const MapPlan& m, const std::vector<Bar>& bars) {
    const RowCut cut = row_cut();
    s += "<g id=\"units\">\n";
    for (const Bar& b : bars) {
        const double y = m.top[b.kind] + b.lane * kLaneStep;
        // Wide bars end half a pixel early, so that units that touch stay apart.
        double w = std::max(b.x1 - b.x0, b.kind == K_EMPTY ? 3.0 : 2.0);
        if (w > 3) w -= 0.5;
        s += "<a href=\"";
        unit_href(s, b, cut);
        add_printf(
            s, "\"><rect class=\"%s\" x=\"%.2f\" y=\"%.1f\" width=\"%.2f\" height=\"%.0f\" data-units=\"%llu\"><title>",
            kKindClass[b.kind], bar_x(b.x0, w, b.hi), y, w, kLane, ull(b.count));
        bar_title(s, b);
        s += "</title></rect></a>\n";
    }
    s += "</g>\n";
}

void hex_bars(std::string& s, const MapPlan& m, const HexReport& h, const std::vector<DataBar>& bars) {
    s += "<g id=\"data\">\n";
    for (const DataBar& b : bars) {
        const double w = std::max(b.x1 - b.x0, 2.0);
        if (b.segment < kTableRows)
            add_printf(s, "<a href=\"#g%llu\">", ull(b.segment));
        else
            s += "<a href=\"#segments-more\">";
        add_printf(s, "<rect class=\"data %s\" x=\"%.2f\" y=\"%.1f\" width=\"%.2f\" height=\"%.0f\"><title>",
                   b.high ? "high" : "low", bar_x(b.x0, w, b.hi), m.data_top + (b.high ? kLaneStep : 0), w, kLane);
        data_bar_title(s, h, b);
        s += "</title></rect></a>\n";
    }
    s += "</g>\n";
}

// The map: the HEX data's lanes and a band of lanes for each kind of unit,
// the boundary line drawn last, on top of the bars. Nothing when neither
// file was read.
void map_svg(std::string& s, const Report& r) {
    const bool hex = r.want_hex && r.hex.read, sym = r.want_sym && r.sym.read;
    if (!hex && !sym) return;
    MapPlan m;
    m.sc.top = map_top(r);
    std::vector<DataBar> data;
    if (hex) data = data_bars(r.hex, m.sc);
    m.data_lanes = data.empty() ? 0 : 2;
    m.units = sym;
    std::vector<Bar> bars;
    if (sym) bars = map_bars(m.sc, m.lanes_used);
    band_tops(m);
    std::string body;
    add_printf(body, "<rect class=\"high-area\" x=\"%.1f\" y=\"%.1f\" width=\"%.1f\" height=\"%.1f\"/>\n", kBoundary,
               kTop - 4, kHighWidth, m.bottom - kTop + 8);
    map_axis(body, m.sc, m.bottom);
    if (m.data_lanes > 0) {
        add_printf(body, "<text class=\"band\" x=\"8\" y=\"%.1f\">.hex</text>\n", m.data_top + 11);
        add_printf(body, "<text class=\"band\" x=\"8\" y=\"%.1f\">.hxh</text>\n", m.data_top + kLaneStep + 11);
        hex_bars(body, m, r.hex, data);
    }
    if (m.units) {
        for (int k = 0; k < 3; ++k)
            add_printf(body, "<text class=\"band\" x=\"8\" y=\"%.1f\">%s</text>\n", m.top[k] + 11, kKindBand[k]);
        unit_bars(body, m, bars);
    }
    add_printf(body,
               "<line id=\"boundary\" x1=\"%.1f\" y1=\"%.1f\" x2=\"%.1f\" y2=\"%.1f\"><title>FFFF: the end of the "
               "low 64 KB</title></line>\n",
               kBoundary, kTop - 6, kBoundary, m.bottom + 4);
    const double height = map_legend(body, m, m.bottom + 14);
    // As wide as the window, the height following from the viewBox.
    add_printf(s,
               "<svg xmlns=\"http://www.w3.org/2000/svg\" id=\"map\" width=\"100%%\" viewBox=\"0 0 %d %.0f\" "
               "data-bars=\"%llu\">\n",
               kWidth, height, ull(bars.size()));
    map_defs(s);
    s += "<text class=\"heading\" x=\"8\" y=\"20\">mrl85-report: ";
    add_text(s, r.want_hex ? r.hex.name : r.sym.name);
    if (r.want_hex && r.want_sym) {
        s += ", ";
        add_text(s, r.sym.name);
    }
    s += "</text>\n";
    s += body;
    s += "</svg>\n";
}

// The notice of the rows a table leaves out, the target of the bars whose
// rows are not shown.
void more_rows(std::string& s, const char* id, uint64_t shown, uint64_t all, const char* kind) {
    if (all > shown)
        add_printf(s, "<p id=\"%s\">%llu more are not shown here: mrl85-report --list=%s lists them all.</p>\n", id,
                   ull(all - shown), kind);
}

// The diagnoses of a refused input: where, what, the line with the column
// marked, the hint, and what mrl85 does there.
void diagnoses_section(std::string& s, const Report& r) {
    if (r.problems.empty()) return;
    s += "<section id=\"diagnoses\">\n<h2 class=\"error\">mrl85 would refuse these inputs</h2>\n";
    for (const Diagnosis& d : r.problems) {
        s += "<div class=\"diagnosis\">\n<p class=\"where\">";
        add_text(s, d.file);
        if (d.line > 0) add_printf(s, ":%llu:%llu", ull(d.line), ull(d.column));
        s += ": <span class=\"error\">error:</span> ";
        add_text(s, d.message);
        s += "</p>\n";
        if (d.line > 0 && !d.text.empty()) {
            constexpr size_t kShown = 100, kBefore = 40;
            const std::string_view t = d.text;
            const bool marked = d.column >= d.text_from && d.column - d.text_from < t.size();
            const size_t mark = marked ? static_cast<size_t>(d.column - d.text_from) : 0;
            const size_t from = mark > kBefore && t.size() > kShown ? std::min(mark - kBefore, t.size() - kShown) : 0;
            const size_t to = std::min(t.size(), from + kShown);
            add_printf(s, "<pre class=\"line\">%llu | %s", ull(d.line), from > 0 ? "..." : "");
            if (marked) {
                add_text(s, t.substr(from, mark - from));
                s += "<mark>";
                add_text(s, t.substr(mark, 1));
                s += "</mark>";
                add_text(s, t.substr(mark + 1, to - mark - 1));
            } else {
                add_text(s, t.substr(from, to - from));
            }
            s += to < t.size() ? "...</pre>\n" : "</pre>\n";
        }
        if (!d.hint.empty()) {
            s += "<p>hint: ";
            add_text(s, d.hint);
            s += "</p>\n";
        }
        if (d.status == kStatusFormat && d.place != 0)
            add_printf(s, "<p>mrl85 refuses this file: File format error, status 3, error exit at %d</p>\n", d.place);
        else if (d.place != 0)
            add_printf(s, "<p>mrl85 stops here: status %d, error exit at %d</p>\n", d.status, d.place);
        s += "</div>\n";
    }
    s += "</section>\n";
}

// The warnings of the HEX file: the first of each kind, then how many more.
void warnings_section(std::string& s, const Report& r) {
    if (!r.want_hex || !r.hex.read || r.hex.warnings.empty()) return;
    uint64_t all = 0;
    for (const uint64_t n : r.hex.warning_counts) all += n;
    add_printf(s,
               "<section id=\"warnings\">\n<h2>Warnings: %llu</h2>\n<p>mrl85 converts the file all the same, copying "
               "every record byte for byte.</p>\n<ul>\n",
               ull(all));
    for (const Warning& w : r.hex.warnings) {
        s += "<li>";
        add_text(s, r.hex.name);
        add_printf(s, ":%llu:%llu: warning: ", ull(w.line), ull(w.column));
        add_text(s, w.message);
        s += "</li>\n";
    }
    s += "</ul>\n";
    if (all > r.hex.warnings.size())
        add_printf(s, "<p>%llu more are not shown here (the text summary counts them by kind).</p>\n",
                   ull(all - r.hex.warnings.size()));
    s += "</section>\n";
}

void total_row(std::string& s, const char* what, uint64_t n, const std::string& more = "") {
    add_printf(s, "<tr><th>%s</th><td>%llu</td><td>", what, ull(n));
    s += more;
    s += "</td></tr>\n";
}

std::string words(const char* format, ...) MRL_PRINTF_LIKE(1, 2);
std::string words(const char* format, ...) {
    std::string t;
    va_list ap;
    va_start(ap, format);
    add_vprintf(t, format, ap);
    va_end(ap);
    return t;
}

// A figure of the usage table, or "-" when its file was not read.
std::string figure(bool known, uint64_t n) { return known ? std::to_string(n) : std::string("-"); }

// The usage of the low and high areas, as the text summary's table.
void usage_table(std::string& s, const Report& r) {
    const Usage u = usage(r);
    if (!u.hex && !u.sym) return;
    s += "<table class=\"usage\">\n<tr><th>area</th><th>HEX data</th><th>units' extent</th><th>used</th>"
         "<th>size</th><th>used %</th></tr>\n";
    add_printf(s, "<tr><td>low .hex</td><td>%s</td><td>%s</td><td>%llu</td><td>65536</td><td>%.2f%%</td></tr>\n",
               figure(u.hex, u.low_data).c_str(), figure(u.sym, u.low_units).c_str(), ull(u.low_used),
               100.0 * static_cast<double>(u.low_used) / 65536.0);
    if (u.hex)
        add_printf(s, "<tr><td>high .hxh</td><td>%llu</td><td></td><td>%llu</td><td></td><td></td></tr>\n",
                   ull(u.high_data), ull(u.high_used));
    s += "</table>\n";
}

void totals_section(std::string& s, const Report& r) {
    const bool hex = r.want_hex && r.hex.read, sym = r.want_sym && r.sym.read;
    if (!hex && !sym) return;
    s += "<section id=\"totals\">\n<h2>Totals</h2>\n<table class=\"totals\">\n";
    if (hex) {
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
    if (sym) {
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
    usage_table(s, r);
    s += "</section>\n";
}

// The table of kept units, old number and new, and beside it that of the
// deleted units with why; each row's id is the unit's place in the unit
// table, what its bar links to.
void unit_tables(std::string& s) {
    s += "<section id=\"unit-tables\" class=\"pair\">\n";
    for (const bool kept : {true, false}) {
        std::string rows;
        uint64_t all = 0, shown = 0;
        for (size_t i = 0; i < unit_table.size(); ++i) {
            const unit_record& u = unit_table[i];
            const unit_record& d = unit_deciding(u);
            const int fate = unit_fate(d);
            if ((fate == U_KEPT) != kept) continue;
            if (all++ >= kTableRows) continue;
            ++shown;
            add_printf(rows, "<tr id=\"u%llu\"><td>%04X</td><td>", ull(i), u.unit_no);
            if (kept) add_printf(rows, "%04X</td><td>", d.new_unit_no);
            add_text(rows, unit_name(u));
            add_printf(rows, "</td><td>%08X</td><td>%08X</td>", u.start_addr, u.length);
            if (!kept) add_printf(rows, "<td>%s</td>", why_deleted(fate));
            rows += "</tr>\n";
        }
        if (all == 0) continue;
        if (kept)
            add_printf(s,
                       "<details open=\"open\" id=\"kept\"><summary>Kept units: %llu (old number -&gt; new)</summary>\n"
                       "<table><tr><th>old</th><th>new</th><th>name</th><th>address</th><th>length</th></tr>\n",
                       ull(all));
        else
            add_printf(s,
                       "<details open=\"open\" id=\"deleted\"><summary>Deleted units: %llu</summary>\n"
                       "<table><tr><th>number</th><th>name</th><th>address</th><th>length</th><th>why</th></tr>\n",
                       ull(all));
        s += rows;
        s += "</table>\n";
        more_rows(s, kept ? "kept-more" : "deleted-more", shown, all, "units");
        s += "</details>\n";
    }
    s += "</section>\n";
}

void deleted_functions_table(std::string& s, const SymReport& sym) {
    if (sym.funcs_deleted == 0) return;
    add_printf(s,
               "<details open=\"open\" id=\"functions\"><summary>Deleted functions: %llu</summary>\n"
               "<table><tr><th>number</th><th>unit</th></tr>\n",
               ull(sym.funcs_deleted));
    uint64_t shown = 0;
    for (const func_record& f : func_table) {
        if (func_deciding(f).delete_mode != 1) continue;
        if (shown == kTableRows) break;
        ++shown;
        add_printf(s, "<tr><td>%04X</td><td>%04X</td></tr>\n", f.func_no, f.unit_no);
    }
    s += "</table>\n";
    more_rows(s, "functions-more", shown, sym.funcs_deleted, "functions");
    s += "</details>\n";
}

// A list of rows kept as text (labels, blocks), the first kTableRows of
// them, each with the input line it stands for (or, with `span`, the first
// and last line of its block). False when the rows could not be read back.
bool row_list_table(std::string& s, const RowList& rows, const char* id, const char* title, const char* column,
                    const char* kind, bool span) {
    if (rows.empty()) return true;
    add_printf(s,
               "<details open=\"open\" id=\"%s\"><summary>%s: %llu</summary>\n<table><tr><th>%s</th><th>%s</th></tr>\n",
               id, title, ull(rows.size()), span ? "lines" : "line", column);
    uint64_t shown = 0;
    const bool ok = rows.each([&](std::string_view row) {
        if (shown == kTableRows) return;
        ++shown;
        const uint64_t first = row_number(row);
        const uint64_t last = span ? row_number(row) : first;
        if (last != first)
            add_printf(s, "<tr><td>%llu-%llu</td><td class=\"pre\">", ull(first), ull(last));
        else
            add_printf(s, "<tr><td>%llu</td><td class=\"pre\">", ull(first));
        add_text(s, row);
        s += "</td></tr>\n";
    });
    s += "</table>\n";
    const std::string more = std::string(id) + "-more";
    more_rows(s, more.c_str(), shown, rows.size(), kind);
    s += "</details>\n";
    return ok;
}

// The segments with the absolute addresses their data covers (base plus
// offset); each row's id is what the HEX data's bars link to.
void segments_table(std::string& s, const HexReport& h) {
    if (h.segments.empty()) return;
    add_printf(s,
               "<details open=\"open\" id=\"segments\"><summary>Segments: %llu</summary>\n<table><tr><th>segment</th>"
               "<th>output</th><th>base</th><th>records</th><th>bytes</th><th>addresses</th></tr>\n",
               ull(h.segments.size()));
    size_t shown = 0;
    for (size_t i = 0; i < h.segments.size() && shown < kTableRows; ++i, ++shown) {
        const Segment& g = h.segments[i];
        add_printf(s, "<tr id=\"g%llu\"><td>", ull(i));
        add_text(s, segment_value(g));
        add_printf(s, "</td><td>%s</td><td>%05X</td><td>%llu</td><td>%llu</td><td>", g.high ? "high .hxh" : "low .hex",
                   g.base, ull(g.records), ull(g.bytes));
        for (size_t k = 0; k < g.spans.size() && k < kSpansShown; ++k)
            add_printf(s, "%s%05llX-%05llX", k == 0 ? "" : " ", ull(uint64_t{g.base} + g.spans[k].first),
                       ull(uint64_t{g.base} + g.spans[k].last));
        if (g.spans.size() > kSpansShown) add_printf(s, " and %llu more ranges", ull(g.spans.size() - kSpansShown));
        if (g.unreadable > 0) add_printf(s, " (%llu records unreadable)", ull(g.unreadable));
        s += "</td></tr>\n";
    }
    s += "</table>\n";
    more_rows(s, "segments-more", shown, h.segments.size(), "segments");
    s += "</details>\n";
}

const char* const kStyle =
    ":root{color-scheme:light dark}\n"
    "body{margin:0;font:13px sans-serif;color:#222;background:#fff}\n"
    "svg{display:block}\n"
    "#map{width:100%;height:auto}\n"
    "svg text{font:12px sans-serif;fill:#222}\n"
    "svg text.heading{font-size:15px;font-weight:bold}\n"
    "svg text.tick{fill:#555}\n"
    "svg text.area{fill:#555;font-style:italic}\n"
    "svg text.boundary-label{fill:#1f4fd8;font-weight:bold}\n"
    "svg text.band{font-weight:bold}\n"
    ".kept{fill:#2a9d4a}\n"
    ".deleted{fill:url(#hatch)}\n"
    ".empty{fill:url(#dots)}\n"
    ".data.low{fill:#1a8a9a}\n"
    ".data.high{fill:#7a5fb0}\n"
    "#map a:hover rect{stroke:#000;stroke-width:1}\n"
    ".grid{stroke:#dddddd;stroke-width:1}\n"
    ".high-area{fill:#f1f1f6}\n"
    "#boundary{stroke:#1f4fd8;stroke-width:2}\n"
    ".text{padding:4px 12px 16px 12px}\n"
    "h2{font-size:15px;margin:12px 0 4px 0}\n"
    ".pair{display:flex;flex-wrap:wrap;gap:0 40px;align-items:flex-start}\n"
    "table{border-collapse:collapse;margin:6px 0}\n"
    "th,td{padding:1px 10px 1px 0;text-align:left;font-family:monospace}\n"
    "td.pre{white-space:pre}\n"
    ".totals th{font-family:sans-serif;font-weight:normal}\n"
    "tr:target{background:#ffe58a}\n"
    "summary{cursor:pointer;font-weight:bold;margin-top:8px}\n"
    ".error{color:#b00020}\n"
    ".diagnosis{margin:0 0 12px 0}\n"
    ".diagnosis p{margin:2px 0}\n"
    "pre.line{margin:2px 0;padding:2px 6px;background:#f3f3f3;overflow-x:auto}\n"
    "mark{background:#ffd54a;color:#000}\n"
    "@media (prefers-color-scheme:dark){\n"
    "body{color:#ddd;background:#16181d}\n"
    "svg text{fill:#ddd}\n"
    "svg text.tick,svg text.area{fill:#aaa}\n"
    "svg text.boundary-label{fill:#7fa2ff}\n"
    "#boundary{stroke:#7fa2ff}\n"
    ".grid{stroke:#3a3d46}\n"
    ".high-area{fill:#24262e}\n"
    "#map a:hover rect{stroke:#fff}\n"
    "a{color:#8ab4ff}\n"
    "tr:target{background:#5c4b00}\n"
    ".error{color:#ff7b86}\n"
    "pre.line{background:#24262e}\n"
    "}\n"
    // Printed, every table is open (also one closed on the screen), in black
    // on white.
    "@media print{\n"
    "details::details-content{content-visibility:visible;display:block}\n"
    "summary{list-style:none}\n"
    "body{color:#000;background:#fff}\n"
    "svg text{fill:#000}\n"
    ".high-area{fill:#f1f1f6}\n"
    ".grid{stroke:#dddddd}\n"
    "a{color:inherit;text-decoration:none}\n"
    "tr{break-inside:avoid}\n"
    "}\n";

}  // namespace

bool page_write(std::FILE* out, const Report& r) {
    const bool hex = r.want_hex && r.hex.read, sym = r.want_sym && r.sym.read;
    std::string s;
    s += "<!DOCTYPE html>\n<html xmlns=\"http://www.w3.org/1999/xhtml\" lang=\"en\">\n<head>\n"
         "<meta charset=\"utf-8\"/>\n<meta name=\"viewport\" content=\"width=device-width\"/>\n"
         "<meta name=\"color-scheme\" content=\"light dark\"/>\n<title>mrl85-report: ";
    add_text(s, r.want_hex ? r.hex.name : r.sym.name);
    s += "</title>\n<style>\n";
    s += kStyle;
    s += "</style>\n</head>\n<body>\n";
    map_svg(s, r);
    s += "<div class=\"text\">\n";
    // The sections in the order they are shown; each one writes nothing when
    // it has nothing to show.
    bool ok = true;
    diagnoses_section(s, r);
    warnings_section(s, r);
    totals_section(s, r);
    if (r.compare != nullptr) compare_page(s, *r.compare, add_text);
    if (sym) {
        unit_tables(s);
        deleted_functions_table(s, r.sym);
        ok = row_list_table(s, r.sym.labels_dropped, "labels", "Global labels dropped", "label and address", "labels",
                            false) &&
             ok;
        ok = row_list_table(s, r.sym.blocks_dropped, "blocks", "Blocks dropped", "kind and header", "blocks", true) &&
             ok;
    }
    if (hex) segments_table(s, r.hex);
    s += "</div>\n</body>\n</html>\n";
    return ok && std::fwrite(s.data(), 1, s.size(), out) == s.size() && std::fflush(out) == 0;
}

}  // namespace report
