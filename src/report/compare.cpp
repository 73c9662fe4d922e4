// compare.cpp: two builds compared: what the comparison keeps of each build
// (build_taken), and how the units and functions of the two are matched and
// sorted into the kinds of change (compare_builds). See compare.h.
#include "report/compare.h"

#include <algorithm>
#include <unordered_map>

#include "mrlpro.h"
#include "sym/fields.h"
#include "sym/sections/sections.h"
#include "sym/table.h"

namespace report {

namespace {

// FNV-1a over `t`, going on from `h`.
uint64_t hash_on(uint64_t h, std::string_view t) {
    for (const char ch : t) h = (h ^ static_cast<unsigned char>(ch)) * 0x100000001B3u;
    return h;
}
constexpr uint64_t kHashStart = 0xCBF29CE484222325u;

// An item's name as a hash, the item's place in the build's table, and the
// length of its module (or function name).
struct Key {
    uint64_t hash;
    uint32_t at, size;
};

// The order of two items' names: the section name, then the module (or the
// function's name).
int name_order(const Build& a, const Key& x, const Build& b, const Key& y, bool units) {
    if (units) {
        const std::vector<Item>& xs = a.units;
        const std::vector<Item>& ys = b.units;
        const int c = a.section(xs[x.at]).compare(b.section(ys[y.at]));
        if (c != 0) return c;
    }
    const Item& i = (units ? a.units : a.functions)[x.at];
    const Item& j = (units ? b.units : b.functions)[y.at];
    return std::string_view(a.text.data() + i.name_at, x.size)
        .compare(std::string_view(b.text.data() + j.name_at, y.size));
}

// The keys of a build's units or functions, in the order of their names,
// equal names in table order. Names are compared only where their hashes
// are equal, so that the order is exact and quick.
std::vector<Key> keys_of(const Build& b, bool units) {
    const std::vector<Item>& items = units ? b.units : b.functions;
    std::vector<uint64_t> section_hash(b.sections.size());
    for (size_t k = 0; k < b.sections.size(); ++k) section_hash[k] = hash_on(hash_on(kHashStart, b.sections[k]), " ");
    std::vector<Key> keys(items.size());
    for (size_t k = 0; k < items.size(); ++k) {
        const Item& i = items[k];
        uint64_t h = i.section == kNoSection ? kHashStart : section_hash[i.section];
        const char* const name = b.text.data() + i.name_at;
        const char* p = name;
        for (; *p != '\0'; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 0x100000001B3u;
        keys[k] = Key{h, static_cast<uint32_t>(k), static_cast<uint32_t>(p - name)};
    }
    std::sort(keys.begin(), keys.end(), [&](const Key& x, const Key& y) {
        if (x.hash != y.hash) return x.hash < y.hash;
        const int c = name_order(b, x, b, y, units);
        return c != 0 ? c < 0 : x.at < y.at;
    });
    return keys;
}

// For each item of the later build, the item of the earlier one it matches
// (same name, the same place among the items of that name), or -1.
std::vector<int64_t> matches(const Build& before, const Build& after, bool units) {
    std::vector<int64_t> match((units ? after.units : after.functions).size(), -1);
    const std::vector<Key> old_keys = keys_of(before, units);
    const std::vector<Key> new_keys = keys_of(after, units);
    // The end of the run of keys of one name from `k` on.
    const auto run_end = [&](const Build& b, const std::vector<Key>& keys, size_t k) {
        size_t end = k + 1;
        while (end < keys.size() && keys[end].hash == keys[k].hash && name_order(b, keys[end], b, keys[k], units) == 0)
            ++end;
        return end;
    };
    size_t i = 0, j = 0;
    while (i < old_keys.size() && j < new_keys.size()) {
        const Key& o = old_keys[i];
        const Key& n = new_keys[j];
        int c = o.hash < n.hash ? -1 : o.hash > n.hash;
        if (c == 0) c = name_order(before, o, after, n, units);
        if (c < 0) {
            ++i;
        } else if (c > 0) {
            ++j;
        } else {
            // A run of one name on each side: paired in order, the rest of
            // the longer run unmatched.
            const size_t i_end = run_end(before, old_keys, i), j_end = run_end(after, new_keys, j);
            for (; i < i_end && j < j_end; ++i, ++j) match[new_keys[j].at] = old_keys[i].at;
            i = i_end;
            j = j_end;
        }
    }
    return match;
}

// Sorts the items of both builds into the kinds of change: those of the
// later build in its order, then the removed ones in the earlier build's.
void changes_of(Comparison& c, bool units) {
    const std::vector<Item>& old_items = units ? c.before.units : c.before.functions;
    const std::vector<Item>& new_items = units ? c.after.units : c.after.functions;
    const std::vector<int64_t> match = matches(c.before, c.after, units);
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

// A name kept at the end of the text; where it begins.
uint32_t NameTaker::kept(std::string_view name) {
    // Past 4 GB of names (a symbol file of that size), further names are
    // left empty rather than misplaced.
    if (text_.size() + name.size() + 1 > UINT32_MAX) return 0;
    const auto at = static_cast<uint32_t>(text_.size());
    text_.append(name).push_back('\0');
    return at;
}

// The module: the first field after the length.
void NameTaker::unit_read(std::string_view rest) {
    library_line_ = names_library(rest);
    units_.push_back(kept(get_token(rest)));
}

// A continuation line right after a library line names the member, which
// tells the units of one library apart better than the library's name.
void NameTaker::unit_line_passed(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    const bool continues = library_line_ && !units_.empty() && line.size() >= kSecInfoReach;
    library_line_ = false;
    if (!continues) return;
    std::string_view rest = line;
    const std::string_view member = get_token(rest);
    if (!member.empty()) units_.back() = kept(member);
}

void NameTaker::func_read(std::string_view name) {
    library_line_ = false;
    funcs_.push_back(kept(name));
}

std::string NameTaker::text_taken() {
    std::string t = std::move(text_);
    clear();
    return t;
}

// Offset 0 is the empty name.
void NameTaker::clear() {
    text_.assign(1, '\0');
    units_ = {};
    funcs_ = {};
    library_line_ = false;
}

Build build_taken(const Report& r, NameTaker& names) {
    Build b;
    b.usage = usage(r);
    if (b.usage.hex) b.hex_name = r.hex.name;
    if (!b.usage.sym) {
        names.clear();
        return b;
    }
    b.sym_name = r.sym.name;
    // A file has few section names: each is kept once.
    std::unordered_map<std::string_view, uint32_t> section_of;
    b.units.reserve(unit_table.size());
    for (const unit_record& u : unit_table) {
        const std::string_view name = unit_name(u);
        auto [it, added] = section_of.try_emplace(name, static_cast<uint32_t>(b.sections.size()));
        if (added) b.sections.emplace_back(name);
        Item i;
        i.name_at = names.module_at(u.seq);
        i.section = it->second;
        i.number = u.unit_no;
        i.start = u.start_addr;
        i.length = u.length;
        i.fate = static_cast<uint8_t>(unit_fate(unit_deciding(u)));
        b.units.push_back(i);
    }
    b.functions.reserve(func_table.size());
    for (const func_record& f : func_table) {
        Item i;
        i.name_at = names.function_at(f.seq);
        i.number = f.func_no;
        i.start = f.unit_no;
        i.fate = func_deciding(f).delete_mode == 1 ? U_ENDS_HIGH : U_KEPT;
        b.functions.push_back(i);
    }
    b.text = names.text_taken();
    return b;
}

void compare_builds(Comparison& c) {
    for (std::vector<Pair>& list : c.changes) list.clear();
    changes_of(c, true);
    changes_of(c, false);
    c.done = true;
}

}  // namespace report
