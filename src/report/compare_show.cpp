// compare_show.cpp: the comparison of two builds as the text summary, as
// the "compare" member of the JSON document and as a section of the page.
// Each shows the usage of the areas before and after and the difference,
// the counts of each kind of change and the rows: a unit or function with
// its number in each build (as read, not renumbered), its name and what
// changed.
#include <algorithm>
#include <cstdio>
#include <string>

#include "report/compare.h"
#include "run/message.h"

namespace report {

namespace {

// The figures of the usage table, each known or not in each build.
struct Figure {
    const char* area;  // as the usage table names it
    const char* name;  // as the text shows it
    const char* key;   // as JSON names it
    bool known_before, known_after;
    uint64_t before, after;
};

std::vector<Figure> figures(const Comparison& c) {
    const Usage& b = c.before.usage;
    const Usage& a = c.after.usage;
    return {
        {"low  .hex", "HEX data", "data", b.hex, a.hex, b.low_data, a.low_data},
        {"low  .hex", "units' extent", "units", b.sym, a.sym, b.low_units, a.low_units},
        {"low  .hex", "used", "used", b.hex || b.sym, a.hex || a.sym, b.low_used, a.low_used},
        {"high .hxh", "HEX data", "data", b.hex, a.hex, b.high_data, a.high_data},
        {"high .hxh", "used", "used", b.hex, a.hex, b.high_used, a.high_used},
    };
}

// A signed difference: "+16", "-5", "0".
std::string difference(uint64_t before, uint64_t after) {
    char text[24];
    if (after == before) return "0";
    std::snprintf(text, sizeof text, "%c%llu", after > before ? '+' : '-',
                  ull(after > before ? after - before : before - after));
    return text;
}

std::string known(bool k, uint64_t n) { return k ? std::to_string(n) : std::string("-"); }

// The name of each kind of change, as its rows begin in the text, and as
// JSON names its list.
const char* const kRowName[kChangeKinds] = {
    "unit added",       "unit removed",         "unit moved",        "unit grown",
    "unit shrunk",      "unit now deleted",     "unit now kept",     "function added",
    "function removed", "function now deleted", "function now kept",
};
const char* const kJsonName[kChangeKinds] = {
    "added",    "removed", "moved",   "grown",       "shrunk",   "now_deleted",
    "now_kept", "added",   "removed", "now_deleted", "now_kept",
};
bool of_units(int kind) { return kind < kFuncAdded; }

// The item of one side of a pair, null where there is none.
const Item* side(const Build& b, bool units, int64_t at) {
    if (at < 0) return nullptr;
    const std::vector<Item>& items = units ? b.units : b.functions;
    return &items[static_cast<size_t>(at)];
}

// The build of the item a row shows: the later one, or the earlier one for
// a removed item; and that item.
const Build& shown_build(const Comparison& c, const Pair& p) { return p.after >= 0 ? c.after : c.before; }
const Item& shown_item(const Comparison& c, bool units, const Pair& p) {
    const std::vector<Item>& items = units ? shown_build(c, p).units : shown_build(c, p).functions;
    return items[static_cast<size_t>(p.after >= 0 ? p.after : p.before)];
}

// One row of the text: the kind, the numbers in each build, the name, and
// what changed.
void text_row(std::string& s, const Comparison& c, int kind, const Pair& p, size_t width) {
    const bool units = of_units(kind);
    const Item* o = side(c.before, units, p.before);
    const Item* n = side(c.after, units, p.after);
    const Item& any = shown_item(c, units, p);
    const Build& b = shown_build(c, p);
    add_printf(s, "%-22s", kRowName[kind]);
    if (o != nullptr && n != nullptr)
        add_printf(s, "%04X -> %04X  ", o->number, n->number);
    else
        add_printf(s, "%04X          ", any.number);
    const size_t from = s.size();
    const std::string name = b.shown(any);
    s.append(name);
    controls_shown(s, from);
    if (name.size() < width) s.append(width - name.size(), ' ');
    switch (kind) {
        case kUnitAdded:
        case kUnitRemoved:
            add_printf(s, "  %08X  %08X  %s", any.start, any.length, any.kept() ? "kept" : why_deleted(any.fate));
            break;
        case kUnitMoved: add_printf(s, "  %08X -> %08X", o->start, n->start); break;
        case kUnitGrown:
        case kUnitShrunk:
            add_printf(s, "  length %08X -> %08X  (%s)", o->length, n->length,
                       difference(o->length, n->length).c_str());
            break;
        case kUnitNowDeleted: add_printf(s, "  %08X  %08X  %s", n->start, n->length, why_deleted(n->fate)); break;
        case kUnitNowKept: add_printf(s, "  %08X  %08X  was: %s", n->start, n->length, why_deleted(o->fate)); break;
        case kFuncAdded:
        case kFuncRemoved: add_printf(s, "  unit %04X  %s", any.start, any.kept() ? "kept" : "deleted"); break;
        default: add_printf(s, "  unit %04X -> %04X", o->start, n->start); break;
    }
    s.push_back('\n');
}

// The width of the name column: the longest name shown, at most 32.
size_t name_width(const Comparison& c, unsigned lists) {
    size_t width = 4;
    for (int k = 0; k < kChangeKinds; ++k) {
        const bool units = of_units(k);
        if (lists != 0 && (lists & (units ? kListUnits : kListFunctions)) == 0) continue;
        uint64_t shown = 0;
        for (const Pair& p : c.changes[k]) {
            if (lists == 0 && shown++ >= kShortRows) break;
            width = std::max(width, std::min<size_t>(shown_build(c, p).shown(shown_item(c, units, p)).size(), 32));
        }
    }
    return width;
}

// The files each build was read from, as "prog.hex, prog.sym".
std::string files(const Build& b) {
    std::string s = b.hex_name;
    if (!b.sym_name.empty()) s.append(s.empty() ? "" : ", ").append(b.sym_name);
    return s;
}

// A unit or function of one build as a JSON object, or null.
void json_side(std::FILE* out, const Item* i, bool units) {
    if (i == nullptr) {
        std::fputs("null", out);
        return;
    }
    std::fprintf(out, "{\"number\":%u,", i->number);
    if (units)
        std::fprintf(out, "\"start\":%u,\"length\":%u,", i->start, i->length);
    else
        std::fprintf(out, "\"unit\":%u,", i->start);
    std::fprintf(out, "\"kept\":%s", i->kept() ? "true" : "false");
    if (!i->kept()) std::fprintf(out, ",\"reason\":\"%s\"", units ? why_deleted(i->fate) : "its unit is deleted");
    std::fputc('}', out);
}

void json_figure(std::FILE* out, const Figure& f) {
    const std::string b = f.known_before ? std::to_string(f.before) : "null";
    const std::string a = f.known_after ? std::to_string(f.after) : "null";
    std::string d = "null";
    if (f.known_before && f.known_after) d = difference(f.before, f.after);
    if (d[0] == '+') d.erase(0, 1);
    std::fprintf(out, "\"%s\":{\"before\":%s,\"after\":%s,\"difference\":%s}", f.key, b.c_str(), a.c_str(), d.c_str());
}

}  // namespace

void compare_print(std::FILE* out, const Comparison& c, unsigned lists) {
    std::string s = "before   ";
    s.append(files(c.before)).append("\nafter    ").append(files(c.after)).append("\n\n");
    controls_shown(s, 0);
    add_printf(s, "%-10s  %-14s %12s %12s %12s\n", "area", "figure", "before", "after", "difference");
    for (const Figure& f : figures(c)) {
        if (!f.known_before && !f.known_after) continue;
        add_printf(s, "  %-9s %-14s %12s %12s %12s\n", f.area, f.name, known(f.known_before, f.before).c_str(),
                   known(f.known_after, f.after).c_str(),
                   f.known_before && f.known_after ? difference(f.before, f.after).c_str() : "-");
    }
    const auto n = [&](int kind) { return static_cast<unsigned long long>(c.changes[kind].size()); };
    if (!c.before.sym_name.empty() && !c.after.sym_name.empty()) {
        add_printf(
            s,
            "\nunits      before %llu, after %llu: added %llu, removed %llu, moved %llu, grown %llu, shrunk %llu, "
            "now deleted %llu, now kept %llu\n",
            ull(c.before.unit_count), ull(c.after.unit_count), n(kUnitAdded), n(kUnitRemoved), n(kUnitMoved),
            n(kUnitGrown), n(kUnitShrunk), n(kUnitNowDeleted), n(kUnitNowKept));
        add_printf(s, "functions  before %llu, after %llu: added %llu, removed %llu, now deleted %llu, now kept %llu\n",
                   ull(c.before.function_count), ull(c.after.function_count), n(kFuncAdded), n(kFuncRemoved),
                   n(kFuncNowDeleted), n(kFuncNowKept));
    }
    std::fwrite(s.data(), 1, s.size(), out);
    const size_t width = name_width(c, lists);
    for (int k = 0; k < kChangeKinds; ++k) {
        const unsigned kind = of_units(k) ? kListUnits : kListFunctions;
        const uint64_t limit = lists == 0 ? kShortRows : (lists & kind) != 0 ? UINT64_MAX : 0;
        if (limit == 0 || c.changes[k].empty()) continue;
        s.clear();
        s.push_back('\n');
        uint64_t shown = 0;
        for (const Pair& p : c.changes[k]) {
            if (shown++ >= limit) break;
            text_row(s, c, k, p, width);
            if (s.size() >= (size_t{1} << 16)) {
                std::fwrite(s.data(), 1, s.size(), out);
                s.clear();
            }
        }
        if (c.changes[k].size() > limit)
            add_printf(s, "%llu more: --list=%s\n", ull(c.changes[k].size() - limit),
                       of_units(k) ? "units" : "functions");
        std::fwrite(s.data(), 1, s.size(), out);
    }
}

// Null when the builds were not compared (an input refused or not read);
// figures of a file not read are null, as is a difference with one of them.
void compare_json_write(std::FILE* out, const Comparison& c, std::string (*quoted)(std::string_view)) {
    if (!c.done) {
        std::fputs("null", out);
        return;
    }
    const auto file = [&](const std::string& name) { return name.empty() ? std::string("null") : quoted(name); };
    std::fprintf(out, "{\"before\":{\"hex\":%s,\"sym\":%s},\"after\":{\"hex\":%s,\"sym\":%s},\"usage\":{",
                 file(c.before.hex_name).c_str(), file(c.before.sym_name).c_str(), file(c.after.hex_name).c_str(),
                 file(c.after.sym_name).c_str());
    const std::vector<Figure> all = figures(c);
    std::fputs("\"low\":{", out);
    for (size_t k = 0; k < 3; ++k) {
        if (k > 0) std::fputc(',', out);
        json_figure(out, all[k]);
    }
    std::fputs("},\"high\":{", out);
    json_figure(out, all[3]);
    std::fputc(',', out);
    json_figure(out, all[4]);
    std::fputs("}}", out);
    for (const bool units : {true, false}) {
        std::fprintf(out, ",\"%s\":{\"before\":%llu,\"after\":%llu", units ? "units" : "functions",
                     ull(units ? c.before.unit_count : c.before.function_count),
                     ull(units ? c.after.unit_count : c.after.function_count));
        for (int k = units ? 0 : kFuncAdded; k < (units ? kFuncAdded : kChangeKinds); ++k) {
            std::fprintf(out, ",\"%s\":[", kJsonName[k]);
            bool first = true;
            for (const Pair& p : c.changes[k]) {
                const Item* o = side(c.before, units, p.before);
                const Item* n = side(c.after, units, p.after);
                const Build& b = shown_build(c, p);
                const Item& i = shown_item(c, units, p);
                if (!first) std::fputc(',', out);
                first = false;
                if (units)
                    std::fprintf(out, "{\"name\":%s,\"module\":%s,", quoted(b.section(i)).c_str(),
                                 quoted(b.module(i)).c_str());
                else
                    std::fprintf(out, "{\"name\":%s,", quoted(b.module(i)).c_str());
                std::fputs("\"before\":", out);
                json_side(out, o, units);
                std::fputs(",\"after\":", out);
                json_side(out, n, units);
                std::fputc('}', out);
            }
            std::fputc(']', out);
        }
        std::fputc('}', out);
    }
    std::fputc('}', out);
}

// The rows of each kind, at most this many on the page (the text lists
// them all).
constexpr uint64_t kPageRows = 1000;

void compare_page(std::string& s, const Comparison& c, void (*text)(std::string&, std::string_view)) {
    if (!c.done) return;
    s += "<h2 id=\"compare\">Compared with the earlier build</h2>\n<p>before: ";
    text(s, files(c.before));
    s += "<br/>after: ";
    text(s, files(c.after));
    s += "</p>\n<table class=\"compare\"><tr><th>area</th><th>figure</th><th>before</th><th>after</th>"
         "<th>difference</th></tr>\n";
    for (const Figure& f : figures(c)) {
        if (!f.known_before && !f.known_after) continue;
        add_printf(s, "<tr><td>%s</td><td>", f.area);
        text(s, f.name);
        add_printf(s, "</td><td>%s</td><td>%s</td><td>%s</td></tr>\n", known(f.known_before, f.before).c_str(),
                   known(f.known_after, f.after).c_str(),
                   f.known_before && f.known_after ? difference(f.before, f.after).c_str() : "-");
    }
    s += "</table>\n";
    for (int k = 0; k < kChangeKinds; ++k) {
        if (c.changes[k].empty()) continue;
        const bool units = of_units(k);
        add_printf(s, "<h3>%c%s: %llu</h3>\n<table class=\"compare\"><tr><th>before</th><th>after</th><th>name</th>",
                   kRowName[k][0] - 'a' + 'A', kRowName[k] + 1, ull(c.changes[k].size()));
        s += units ? "<th>start</th><th>length</th><th>fate</th></tr>\n" : "<th>unit</th><th>fate</th></tr>\n";
        uint64_t shown = 0;
        for (const Pair& p : c.changes[k]) {
            if (shown++ >= kPageRows) break;
            const Item* o = side(c.before, units, p.before);
            const Item* n = side(c.after, units, p.after);
            const Item& i = shown_item(c, units, p);
            s += "<tr><td>";
            if (o != nullptr) add_printf(s, "%04X", o->number);
            s += "</td><td>";
            if (n != nullptr) add_printf(s, "%04X", n->number);
            s += "</td><td>";
            text(s, shown_build(c, p).shown(i));
            s += "</td>";
            // A field that changed shows both values.
            const auto field = [&](uint32_t before, uint32_t after, const char* format) {
                s += "<td>";
                if (o != nullptr && n != nullptr && before != after) {
                    add_printf(s, format, before);
                    s += " -&gt; ";
                }
                add_printf(s, format, after);
                s += "</td>";
            };
            if (units) {
                field(o != nullptr ? o->start : i.start, i.start, "%08X");
                field(o != nullptr ? o->length : i.length, i.length, "%08X");
            } else {
                field(o != nullptr ? o->start : i.start, i.start, "%04X");
            }
            s += "<td>";
            if (o != nullptr && n != nullptr && o->kept() != n->kept())
                s += o->kept() ? "kept -&gt; " : "deleted -&gt; ";
            s += i.kept() ? "kept" : "deleted";
            s += "</td></tr>\n";
        }
        s += "</table>\n";
        if (c.changes[k].size() > kPageRows)
            add_printf(s, "<p>%llu more are not shown here (the text summary lists them all).</p>\n",
                       ull(c.changes[k].size() - kPageRows));
    }
}

}  // namespace report
