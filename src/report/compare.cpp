// compare.cpp: two builds compared: what the comparison keeps of each build
// (build_taken), and how the units and functions of the two are matched and
// sorted into the kinds of change (compare_builds). See compare.h.
#include "report/compare.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "mrlpro.h"
#include "run/platform.h"
#include "sym/fields.h"
#include "sym/sections/sections.h"
#include "sym/table.h"

namespace report {

namespace {

// A hash of `t`, going on from `h`: eight bytes at a time, the last few
// with their count, so that a name hashes apart from the same bytes cut
// into a section name and a module elsewhere.
uint64_t hash_on(uint64_t h, std::string_view t) {
    constexpr uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
    const char* p = t.data();
    size_t n = t.size();
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * kMultiplier;
        h ^= h >> 29;
    }
    uint64_t w = uint64_t{n} << 56;
    for (size_t k = 0; k < n; ++k) w |= uint64_t{static_cast<unsigned char>(p[k])} << (8 * k);
    h = (h ^ w) * kMultiplier;
    return h ^ (h >> 32);
}
constexpr uint64_t kHashStart = 0xCBF29CE484222325u;

// An item of the build the library's tables hold, as it is sorted: a hash
// of its name in the high 32 bits, its place in the table in the low ones.
// Sorted as numbers, the keys put the items in the order of the hashes,
// and items of one name in table order; names whose hashes are equal are
// compared to make the order exact.
using Key = uint64_t;
uint32_t key_hash(Key k) { return static_cast<uint32_t>(k >> 32); }
uint32_t key_at(Key k) { return static_cast<uint32_t>(k); }

// Sorts numbers whose high bits are evenly spread (the keys' hashes): in
// place, first into buckets by their 14 highest bits, each bucket then on
// its own. The buckets are small and each is sorted where it lies in the
// cache, which is what makes this quicker than one sort over all.
void numbers_sort(std::vector<uint64_t>& v) {
    constexpr int kBits = 14;
    constexpr size_t kBuckets = size_t{1} << kBits;
    const auto bucket = [](uint64_t x) { return static_cast<size_t>(x >> (64 - kBits)); };
    std::vector<uint32_t> next(kBuckets + 1, 0), end(kBuckets, 0);
    for (const uint64_t x : v) ++next[bucket(x) + 1];
    for (size_t b = 1; b <= kBuckets; ++b) next[b] += next[b - 1];
    for (size_t b = 0; b < kBuckets; ++b) end[b] = next[b + 1];
    // Each number goes to the next free place of its bucket, and the one
    // there goes on to its own, until a number of this bucket comes back.
    for (size_t b = 0; b < kBuckets; ++b) {
        while (next[b] < end[b]) {
            uint64_t x = v[next[b]];
            for (size_t d = bucket(x); d != b; d = bucket(x)) std::swap(x, v[next[d]++]);
            v[next[b]++] = x;
        }
    }
    // A few numbers are put in order one by one; a big bucket (numbers
    // whose high bits are not spread) is sorted as a whole.
    for (size_t b = 0, from = 0; b < kBuckets; from = end[b++]) {
        if (end[b] - from > 32) {
            std::sort(v.begin() + static_cast<ptrdiff_t>(from), v.begin() + static_cast<ptrdiff_t>(end[b]));
            continue;
        }
        for (size_t k = from + 1; k < end[b]; ++k) {
            const uint64_t x = v[k];
            size_t at = k;
            for (; at > from && v[at - 1] > x; --at) v[at] = v[at - 1];
            v[at] = x;
        }
    }
}

// Has the memory at `p` loaded into the cache ahead of its use (where the
// compiler offers it).
inline void load_ahead(const void* p) {
#if defined(__GNUC__) || defined(__clang__)
    if (p != nullptr) __builtin_prefetch(p);
#else
    (void)p;
#endif
}

// How many items ahead each step of Live::ahead is taken.
constexpr size_t kAhead[3] = {48, 24, 12};

// The units or the functions of the build the library's tables hold, with
// the names `names` took while it was read; none of a build whose symbol
// file was not read.
struct Live {
    const NameTaker& names;
    bool units;
    bool read;
    size_t size() const { return !read ? 0 : units ? unit_table.size() : func_table.size(); }
    std::string_view section(uint32_t at) const { return units ? unit_name(unit_table[at]) : std::string_view(); }
    std::string_view module(uint32_t at) const {
        return units ? names.module(unit_table[at].seq) : names.function(func_table[at].seq);
    }
    // Has what item, section and module read of the item at `at` loaded
    // ahead, in three steps (each needs what the one before loaded), which
    // the loops over items in the order of their names take a few items
    // apart: in that order each item lies elsewhere in memory, and the
    // loops would otherwise wait for each.
    void ahead(int step, uint32_t at) const {
        const uint32_t seq = step == 0 ? 0 : units ? unit_table[at].seq : func_table[at].seq;
        if (step == 0) {
            load_ahead(units ? static_cast<const void*>(&unit_table[at]) : &func_table[at]);
        } else if (step == 1) {
            load_ahead(units ? names.module_place(seq) : names.function_place(seq));
            if (units && seq < unit_names.of_unit.size()) load_ahead(&unit_names.of_unit[seq]);
        } else {
            load_ahead(units ? names.module_text(seq) : names.function_text(seq));
        }
    }
    // The item at `at`, without its name.
    Item item(uint32_t at) const {
        Item i;
        if (units) {
            const unit_record& u = unit_table[at];
            i.number = u.unit_no;
            i.start = u.start_addr;
            i.length = u.length;
            i.fate = static_cast<uint8_t>(unit_fate(unit_deciding(u)));
        } else {
            const func_record& f = func_table[at];
            i.number = f.func_no;
            i.start = f.unit_no;
            i.fate = func_deciding(f).delete_mode == 1 ? U_ENDS_HIGH : U_KEPT;
        }
        return i;
    }
};

// The order of two names: the section name, then the module (or the
// function's name).
int name_order(std::string_view section_a, std::string_view module_a, std::string_view section_b,
               std::string_view module_b) {
    const int c = section_a.compare(section_b);
    return c != 0 ? c : module_a.compare(module_b);
}

// The keys of the live units or functions, in the order of their hashes,
// and items of one hash in table order.
std::vector<Key> keys_of(const Live& b) {
    // A file has few section names: the hash of each is worked out once.
    std::vector<uint64_t> section_hash;
    if (b.units) {
        section_hash.resize(unit_names.names.size());
        for (size_t k = 0; k < section_hash.size(); ++k) section_hash[k] = hash_on(kHashStart, unit_names.names[k]);
    }
    const uint64_t no_section = hash_on(kHashStart, "");
    std::vector<Key> keys(b.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        const auto at = static_cast<uint32_t>(k);
        uint64_t h = kHashStart;
        if (b.units) {
            const uint32_t seq = unit_table[k].seq;
            h = seq < unit_names.of_unit.size() ? section_hash[unit_names.of_unit[seq]] : no_section;
        }
        keys[k] = (hash_on(h, b.module(at)) >> 32 << 32) | at;
    }
    // As numbers the keys are in the order of their hashes, and items of
    // one hash in table order: the names of one hash are told apart where
    // the builds are matched.
    numbers_sort(keys);
    return keys;
}

// One item as the scratch file keeps it: this head (kStoredHead bytes, the
// fields one after another), then the section name and the module (or the
// function's name).
struct StoredHead {
    uint32_t hash;  // as in its Key
    uint32_t at;    // its place in the table
    uint32_t number, start, length;
    uint32_t section_size, module_size;
    uint8_t fate;
};
constexpr size_t kStoredHead = 7 * 4 + 1;

// The items of the live build in the order of their keys, into `store`.
void stored(ScratchStore& store, const Live& b) {
    std::string record;
    const std::vector<Key> keys = keys_of(b);
    for (size_t j = 0; j < keys.size(); ++j) {
        for (int step = 0; step < 3; ++step)
            if (j + kAhead[step] < keys.size()) b.ahead(step, key_at(keys[j + kAhead[step]]));
        const Key k = keys[j];
        const uint32_t at = key_at(k);
        const Item i = b.item(at);
        const std::string_view section = b.section(at), module = b.module(at);
        const uint32_t fields[7] = {key_hash(k),
                                    at,
                                    i.number,
                                    i.start,
                                    i.length,
                                    static_cast<uint32_t>(section.size()),
                                    static_cast<uint32_t>(module.size())};
        record.assign(reinterpret_cast<const char*>(fields), sizeof fields);
        record.push_back(static_cast<char>(i.fate));
        record.append(section).append(module);
        store.add(record.data(), record.size());
    }
}

// An item of the earlier build read back.
struct Stored {
    StoredHead head{};
    std::string_view section, module;
};

// The next item of `store` into `s` (its names valid until the next);
// false at the end or on a fault.
bool stored_next(ScratchStore& store, Stored& s) {
    const char* p = nullptr;
    if (store.at_end() || !store.next(kStoredHead, &p)) return false;
    StoredHead& h = s.head;
    uint32_t fields[7];
    std::memcpy(fields, p, sizeof fields);
    h = StoredHead{fields[0], fields[1], fields[2], fields[3],
                   fields[4], fields[5], fields[6], static_cast<uint8_t>(p[sizeof fields])};
    if (!store.next(size_t{h.section_size} + h.module_size, &p)) return false;
    s.section = std::string_view(p, h.section_size);
    s.module = std::string_view(p + h.section_size, h.module_size);
    return true;
}

// The item a change list shows, kept in `b` (its name too); its place in
// b's units or functions.
int64_t kept_item(Build& b, bool units, Item i, std::string_view section, std::string_view module,
                  std::unordered_map<std::string, uint32_t>& sections) {
    if (units) {
        auto [it, added] = sections.try_emplace(std::string(section), static_cast<uint32_t>(b.sections.size()));
        if (added) b.sections.emplace_back(section);
        i.section = it->second;
    } else {
        i.section = kNoSection;
    }
    // Past 4 GB of names, further names are left empty rather than
    // misplaced.
    i.name_at = 0;
    if (b.text.size() + module.size() + 1 <= UINT32_MAX) {
        if (b.text.empty()) b.text.push_back('\0');
        i.name_at = static_cast<uint32_t>(b.text.size());
        b.text.append(module).push_back('\0');
    }
    std::vector<Item>& items = units ? b.units : b.functions;
    items.push_back(i);
    return static_cast<int64_t>(items.size() - 1);
}

// The kinds of change between an item of the earlier build and its match
// (bits by ChangeKind).
uint32_t kinds_of(const Item& o, const Item& w, bool units) {
    uint32_t k = 0;
    if (units) {
        if (o.start != w.start) k |= 1u << kUnitMoved;
        if (w.length > o.length) k |= 1u << kUnitGrown;
        if (w.length < o.length) k |= 1u << kUnitShrunk;
    }
    if (o.kept() && !w.kept()) k |= 1u << (units ? kUnitNowDeleted : kFuncNowDeleted);
    if (!o.kept() && w.kept()) k |= 1u << (units ? kUnitNowKept : kFuncNowKept);
    return k;
}

// What the merge of the two builds' items found: the items of the later
// build (by place in its table) with a match, those of them that changed
// (each with the place of its match in the earlier Build's units or
// functions), the earlier items with no match (their place in the earlier
// table, and in the Build), and the length of each change list.
struct Merged {
    std::vector<bool> matched;
    std::vector<std::pair<uint32_t, uint32_t>> changed, removed;
    size_t lengths[kChangeKinds] = {};
};

// The earlier items of one hash, read back: their heads and names (the
// store's bytes last only until its next read).
struct Run {
    std::vector<StoredHead> heads;
    std::vector<size_t> from;  // where each item's section name begins in `names`, its module right after
    std::string names;
    void clear() {
        heads.clear();
        from.clear();
        names.clear();
    }
    void add(const Stored& s) {
        heads.push_back(s.head);
        from.push_back(names.size());
        names.append(s.section).append(s.module);
    }
    size_t size() const { return heads.size(); }
    std::string_view section(size_t i) const { return std::string_view(names).substr(from[i], heads[i].section_size); }
    std::string_view module(size_t i) const {
        return std::string_view(names).substr(from[i] + heads[i].section_size, heads[i].module_size);
    }
};

// What merged keeps while it matches: the earlier items it shows, and
// what it found.
struct Matching {
    Comparison& c;
    const Live& b;
    Merged& m;
    std::unordered_map<std::string, uint32_t> sections;  // of c.before's items
    // The earlier item `i` of `run`, matched with the later one at `at`,
    // or with none.
    void pair(const Run& run, size_t i, int64_t at);
};

void Matching::pair(const Run& run, size_t i, int64_t at) {
    const bool units = b.units;
    const StoredHead& h = run.heads[i];
    Item old_item;
    old_item.number = h.number;
    old_item.start = h.start;
    old_item.length = h.length;
    old_item.fate = h.fate;
    if (at < 0) {
        m.removed.emplace_back(
            h.at, static_cast<uint32_t>(kept_item(c.before, units, old_item, run.section(i), run.module(i), sections)));
        return;
    }
    const auto a = static_cast<uint32_t>(at);
    m.matched[a] = true;
    const uint32_t kinds = kinds_of(old_item, b.item(a), units);
    if (kinds == 0) return;
    for (int kind = 0; kind < kChangeKinds; ++kind) m.lengths[kind] += kinds >> kind & 1;
    std::vector<Item>& olds = units ? c.before.units : c.before.functions;
    m.changed.emplace_back(a, static_cast<uint32_t>(olds.size()));
    olds.push_back(old_item);
}

// The earlier items of one hash (`run`) matched with the later ones (the
// keys from `from` to `to`), both in table order. Items of one name pair in
// order; those left over on either side have no match. Nearly always the
// items of one hash have one name.
void run_matched(Matching& x, const Run& run, const std::vector<Key>& keys, size_t from, size_t to) {
    const Live& b = x.b;
    const auto same = [&](size_t i, size_t k) {
        return name_order(run.section(i), run.module(i), run.section(k), run.module(k)) == 0;
    };
    const auto same_later = [&](size_t i, Key k) {
        return name_order(run.section(i), run.module(i), b.section(key_at(k)), b.module(key_at(k))) == 0;
    };
    bool one_name = true;
    for (size_t i = 1; i < run.size() && one_name; ++i) one_name = same(0, i);
    for (size_t k = from; k < to && one_name; ++k) one_name = same_later(0, keys[k]);
    if (one_name) {
        for (size_t i = 0; i < run.size(); ++i)
            x.pair(run, i, from + i < to ? int64_t{key_at(keys[from + i])} : int64_t{-1});
        return;
    }
    // Names of one hash: each side in the order of its names, equal names
    // in table order, and the two merged.
    std::vector<size_t> olds(run.size());
    for (size_t i = 0; i < olds.size(); ++i) olds[i] = i;
    std::stable_sort(olds.begin(), olds.end(), [&](size_t i, size_t k) {
        return name_order(run.section(i), run.module(i), run.section(k), run.module(k)) < 0;
    });
    std::vector<Key> news(keys.begin() + static_cast<ptrdiff_t>(from), keys.begin() + static_cast<ptrdiff_t>(to));
    std::stable_sort(news.begin(), news.end(), [&](Key p, Key q) {
        return name_order(b.section(key_at(p)), b.module(key_at(p)), b.section(key_at(q)), b.module(key_at(q))) < 0;
    });
    size_t k = 0;
    for (const size_t i : olds) {
        int order = 1;
        for (; k < news.size(); ++k) {
            order = name_order(run.section(i), run.module(i), b.section(key_at(news[k])), b.module(key_at(news[k])));
            if (order <= 0) break;
        }
        x.pair(run, i, k < news.size() && order == 0 ? int64_t{key_at(news[k++])} : -1);
    }
}

// Matches the live items against the earlier build's, read back from
// `store` in the order of their keys: the earlier items that changed or
// have no match are kept in c.before. False on a fault of the store.
bool merged(Comparison& c, ScratchStore& store, const Live& b, Merged& m) {
    const bool units = b.units;
    // Room for every earlier item: only what is used is touched.
    (units ? c.before.units : c.before.functions).reserve(units ? c.before.unit_count : c.before.function_count);
    Matching x{c, b, m, {}};
    const std::vector<Key> keys = keys_of(b);
    m.matched.assign(b.size(), false);
    Stored o;
    Run run;
    bool more = stored_next(store, o);
    size_t j = 0;
    while (more) {
        const uint32_t hash = o.head.hash;
        while (j < keys.size() && key_hash(keys[j]) < hash) ++j;
        for (int step = 0; step < 3; ++step)
            if (j + kAhead[step] < keys.size()) b.ahead(step, key_at(keys[j + kAhead[step]]));
        size_t end = j;
        while (end < keys.size() && key_hash(keys[end]) == hash) ++end;
        run.clear();
        do {
            run.add(o);
            more = stored_next(store, o);
        } while (more && o.head.hash == hash);
        run_matched(x, run, keys, j, end);
        j = end;
    }
    if (!store.fault().empty() || !store.at_end()) {
        c.fault = store.fault().empty() ? "the earlier build could not be read back whole" : store.fault();
        return false;
    }
    for (size_t k = 0; k < m.matched.size(); ++k) m.lengths[units ? kUnitAdded : kFuncAdded] += !m.matched[k];
    m.lengths[units ? kUnitRemoved : kFuncRemoved] = m.removed.size();
    return true;
}

// Sorts the items of both builds into the kinds of change: those of the
// later build in its order, then the removed ones in the earlier build's.
// False on a fault of the store.
bool changes_of(Comparison& c, ScratchStore& store, const Live& b) {
    const bool units = b.units;
    Merged m;
    if (!merged(c, store, b, m)) return false;
    std::sort(m.changed.begin(), m.changed.end());
    // Every list's length is known now: each is made at its length.
    for (int kind = 0; kind < kChangeKinds; ++kind) c.changes[kind].reserve(c.changes[kind].size() + m.lengths[kind]);
    (units ? c.after.units : c.after.functions).reserve(m.lengths[units ? kUnitAdded : kFuncAdded] + m.changed.size());
    const std::vector<Item>& olds = units ? c.before.units : c.before.functions;
    std::unordered_map<std::string, uint32_t> sections;
    const auto add = [&](int kind, int64_t before, int64_t after) { c.changes[kind].push_back(Pair{before, after}); };
    size_t next = 0;
    for (size_t j = 0; j < b.size(); ++j) {
        const bool is_changed = next < m.changed.size() && m.changed[next].first == j;
        if (m.matched[j] && !is_changed) continue;
        const auto at = static_cast<uint32_t>(j);
        const Item w = b.item(at);
        const int64_t n = kept_item(c.after, units, w, b.section(at), b.module(at), sections);
        if (!m.matched[j]) {
            add(units ? kUnitAdded : kFuncAdded, -1, n);
            continue;
        }
        const uint32_t before = m.changed[next++].second;
        const uint32_t kinds = kinds_of(olds[before], w, units);
        for (int kind = 0; kind < kChangeKinds; ++kind)
            if ((kinds >> kind & 1) != 0) add(kind, before, n);
    }
    std::sort(m.removed.begin(), m.removed.end());
    for (const auto& [at, i] : m.removed) add(units ? kUnitRemoved : kFuncRemoved, i, -1);
    return true;
}

// A Build's files and usage, as its report read them.
void build_head(Build& b, const Report& r) {
    b.usage = usage(r);
    if (b.usage.hex) b.hex_name = r.hex.name;
    if (b.usage.sym) b.sym_name = r.sym.name;
}

}  // namespace

// A name kept at the end of `text`; where it begins.
uint32_t NameTaker::kept(std::string& text, std::string_view name) {
    // Past 4 GB of names (a symbol file of that size), further names are
    // left empty rather than misplaced.
    if (text.size() + name.size() + 1 > UINT32_MAX) return 0;
    const auto at = static_cast<uint32_t>(text.size());
    text.append(name).push_back('\0');
    return at;
}

// The module: the first field after the length.
void NameTaker::unit_read(std::string_view rest) {
    library_line_ = names_library(rest);
    units_.push_back(kept(modules_, get_token(rest)));
}

// A continuation line right after a library line names the member, which
// tells the units of one library apart better than the library's name.
// The library's name is the last module kept: the member takes its place.
void NameTaker::unit_line_passed(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    const bool continues = library_line_ && !units_.empty() && line.size() >= kSecInfoReach;
    library_line_ = false;
    if (!continues) return;
    std::string_view rest = line;
    const std::string_view member = get_token(rest);
    if (member.empty()) return;
    if (units_.back() != 0) modules_.resize(units_.back());
    units_.back() = kept(modules_, member);
}

void NameTaker::func_read(std::string_view name) {
    library_line_ = false;
    funcs_.push_back(kept(functions_, name));
}

void NameTaker::modules_forget() {
    modules_.assign(1, '\0');
    modules_.shrink_to_fit();
    units_ = {};
}

// Offset 0 is the empty name.
void NameTaker::clear() {
    modules_forget();
    functions_.assign(1, '\0');
    functions_.shrink_to_fit();
    funcs_ = {};
    library_line_ = false;
}

void earlier_taken(Comparison& c, const Report& r, NameTaker& names, bool stored) {
    build_head(c.before, r);
    c.before.unit_count = Live{names, true, c.before.usage.sym}.size();
    c.before.function_count = Live{names, false, c.before.usage.sym}.size();
    c.stored_units.clear();
    c.stored_functions.clear();
    if (stored && c.before.usage.sym) {
        // A scratch file that does not take every item is given up for
        // memory, and the items are written again.
        for (const bool units : {true, false}) {
            ScratchStore& store = units ? c.stored_units : c.stored_functions;
            const Live b{names, units, true};
            report::stored(store, b);
            if (!store.written()) {
                store.in_memory();
                report::stored(store, b);
                store.written();
            }
            names.modules_forget();
        }
    }
    names.clear();
}

void compare_builds(Comparison& c, const Report& r, NameTaker& names) {
    for (std::vector<Pair>& list : c.changes) list.clear();
    build_head(c.after, r);
    c.before.units.clear();
    c.before.functions.clear();
    c.after.units.clear();
    c.after.functions.clear();
    c.fault.clear();
    // What the analysis freed is given back before the comparison takes
    // its own.
    memory_give_back();
    bool ok = true;
    c.after.unit_count = Live{names, true, c.after.usage.sym}.size();
    c.after.function_count = Live{names, false, c.after.usage.sym}.size();
    for (const bool units : {true, false}) {
        if (!ok) break;
        const Live b{names, units, c.after.usage.sym};
        ScratchStore& store = units ? c.stored_units : c.stored_functions;
        ok = changes_of(c, store, b);
        store.clear();
        // The units are done: what was kept for them is given back before
        // the functions take theirs.
        names.modules_forget();
        memory_give_back();
    }
    names.clear();
    c.done = ok;
}

}  // namespace report
