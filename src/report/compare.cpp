// compare.cpp: two builds compared: what the comparison keeps of each build
// (build_taken), and how the units and functions of the two are matched and
// sorted into the kinds of change (compare_builds). See compare.h.
#include "report/compare.h"

#include <algorithm>
#include <cctype>
#include <numeric>

#include "mrlpro.h"
#include "sym/fields.h"
#include "sym/table.h"

namespace report {

namespace {

// Whether `t` names a library: ".LIB" in it, in any letter case, as the
// rewriting pass tells a library line.
bool names_library(std::string_view t) {
    for (size_t i = 0; i + 4 <= t.size(); ++i)
        if (t[i] == '.' && std::toupper(static_cast<unsigned char>(t[i + 1])) == 'L' &&
            std::toupper(static_cast<unsigned char>(t[i + 2])) == 'I' &&
            std::toupper(static_cast<unsigned char>(t[i + 3])) == 'B')
            return true;
    return false;
}

// A line that continues a library line: at least 21 characters, as the
// rewriting pass takes it with its library line.
constexpr size_t kContinuationSize = 21;

// The items of `build` in the order of their names, equal names in reading
// order; `occurrence` gets, for each item, its place among those of its name.
std::vector<uint32_t> by_name(const Build& b, const std::vector<Item>& items, std::vector<uint32_t>& occurrence) {
    std::vector<uint32_t> order(items.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](uint32_t x, uint32_t y) {
        const int c = b.name(items[x]).compare(b.name(items[y]));
        return c != 0 ? c < 0 : items[x].seq < items[y].seq;
    });
    occurrence.assign(items.size(), 0);
    for (size_t k = 1; k < order.size(); ++k)
        if (b.name(items[order[k]]) == b.name(items[order[k - 1]])) occurrence[order[k]] = occurrence[order[k - 1]] + 1;
    return order;
}

// For each item of the later build, the item of the earlier one it matches
// (same name, same occurrence), or -1.
std::vector<int64_t> matches(const Build& before, const std::vector<Item>& old_items, const Build& after,
                             const std::vector<Item>& new_items) {
    std::vector<uint32_t> old_occ, new_occ;
    const std::vector<uint32_t> old_order = by_name(before, old_items, old_occ);
    const std::vector<uint32_t> new_order = by_name(after, new_items, new_occ);
    std::vector<int64_t> match(new_items.size(), -1);
    size_t i = 0, j = 0;
    while (i < old_order.size() && j < new_order.size()) {
        const Item& o = old_items[old_order[i]];
        const Item& n = new_items[new_order[j]];
        int c = before.name(o).compare(after.name(n));
        if (c == 0)
            c = old_occ[old_order[i]] < new_occ[new_order[j]] ? -1 : old_occ[old_order[i]] > new_occ[new_order[j]];
        if (c < 0) {
            ++i;
        } else if (c > 0) {
            ++j;
        } else {
            match[new_order[j]] = old_order[i];
            ++i;
            ++j;
        }
    }
    return match;
}

// Sorts the items of both builds into the kinds of change: those of the
// later build in its order, then the removed ones in the earlier build's.
void changes_of(Comparison& c, bool units) {
    const std::vector<Item>& old_items = units ? c.before.units : c.before.functions;
    const std::vector<Item>& new_items = units ? c.after.units : c.after.functions;
    const std::vector<int64_t> match = matches(c.before, old_items, c.after, new_items);
    std::vector<bool> matched(old_items.size(), false);
    const auto add = [&](int kind, int64_t before, int64_t after) { c.changes[kind].push_back(Pair{before, after}); };
    for (size_t j = 0; j < new_items.size(); ++j) {
        const int64_t i = match[j];
        const auto n = static_cast<int64_t>(j);
        if (i < 0) {
            add(units ? kUnitAdded : kFuncAdded, -1, n);
            continue;
        }
        matched[static_cast<size_t>(i)] = true;
        const Item& o = old_items[static_cast<size_t>(i)];
        const Item& w = new_items[j];
        if (units) {
            if (o.start != w.start) add(kUnitMoved, i, n);
            if (w.length > o.length) add(kUnitGrown, i, n);
            if (w.length < o.length) add(kUnitShrunk, i, n);
        }
        if (o.kept() && !w.kept()) add(units ? kUnitNowDeleted : kFuncNowDeleted, i, n);
        if (!o.kept() && w.kept()) add(units ? kUnitNowKept : kFuncNowKept, i, n);
    }
    for (size_t i = 0; i < old_items.size(); ++i)
        if (!matched[i]) add(units ? kUnitRemoved : kFuncRemoved, static_cast<int64_t>(i), -1);
}

}  // namespace

std::string_view NameTaker::at(const std::vector<Piece>& list, uint32_t seq) const {
    if (seq >= list.size()) return {};
    return std::string_view(text_).substr(list[seq].at, list[seq].size);
}

// The module: the first field after the length.
void NameTaker::unit_read(std::string_view rest) {
    library_line_ = names_library(rest);
    const std::string_view module = get_token(rest);
    units_.push_back(Piece{text_.size(), static_cast<uint32_t>(module.size())});
    text_.append(module);
}

// A continuation line right after a library line names the member, which
// tells the units of one library apart better than the library's name.
void NameTaker::unit_line_passed(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    const bool continues = library_line_ && !units_.empty() && line.size() >= kContinuationSize;
    library_line_ = false;
    if (!continues) return;
    std::string_view rest = line;
    const std::string_view member = get_token(rest);
    if (member.empty()) return;
    units_.back() = Piece{text_.size(), static_cast<uint32_t>(member.size())};
    text_.append(member);
}

void NameTaker::func_read(std::string_view name) {
    library_line_ = false;
    funcs_.push_back(Piece{text_.size(), static_cast<uint32_t>(name.size())});
    text_.append(name);
}

void NameTaker::clear() {
    text_.clear();
    text_.shrink_to_fit();
    units_ = {};
    funcs_ = {};
    library_line_ = false;
}

Build build_taken(const Report& r, const NameTaker& names) {
    Build b;
    b.usage = usage(r);
    if (b.usage.hex) b.hex_name = r.hex.name;
    if (!b.usage.sym) return b;
    b.sym_name = r.sym.name;
    b.units.reserve(unit_table.size());
    for (const unit_record& u : unit_table) {
        Item i;
        const std::string_view section = unit_name(u);
        const std::string_view module = names.module(u.seq);
        i.name_at = b.names.size();
        b.names.append(section).append(" ").append(module);
        i.name_size = static_cast<uint32_t>(b.names.size() - i.name_at);
        i.section_size = static_cast<uint32_t>(section.size());
        i.seq = u.seq;
        i.number = u.unit_no;
        i.start = u.start_addr;
        i.length = u.length;
        i.fate = static_cast<uint8_t>(unit_fate(unit_deciding(u)));
        b.units.push_back(i);
    }
    b.functions.reserve(func_table.size());
    for (const func_record& f : func_table) {
        Item i;
        const std::string_view name = names.function(f.seq);
        i.name_at = b.names.size();
        b.names.append(name);
        i.name_size = static_cast<uint32_t>(name.size());
        i.seq = f.seq;
        i.number = f.func_no;
        i.unit = f.unit_no;
        i.fate = func_deciding(f).delete_mode == 1 ? U_ENDS_HIGH : U_KEPT;
        b.functions.push_back(i);
    }
    return b;
}

void compare_builds(Comparison& c) {
    for (std::vector<Pair>& list : c.changes) list.clear();
    changes_of(c, true);
    changes_of(c, false);
    c.done = true;
}

}  // namespace report
