// compare.cpp: two builds compared: what the comparison keeps of the
// earlier build while the later one is analysed (earlier_taken), and how
// the units and functions of the two are matched and sorted into the kinds
// of change (compare_builds). See compare.h.
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

// Has the memory at `p` loaded into the cache ahead of its use (g++ and
// clang, the compilers of both platforms, offer the hint).
inline void load_ahead(const void* p) {
    if (p != nullptr) __builtin_prefetch(p);
}

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

// The hash of the names of a live build's items: the section name's and
// the module's (or the function's name), each section name's worked out
// once (a file has few).
class NameHash {
public:
    explicit NameHash(const Live& b) : b_(b) {
        if (!b.units) return;
        sections_.resize(unit_names.names.size());
        for (size_t k = 0; k < sections_.size(); ++k) sections_[k] = hash_on(kHashStart, unit_names.names[k]);
    }
    uint32_t operator()(uint32_t at) const {
        uint64_t h = kHashStart;
        if (b_.units) {
            const uint32_t seq = unit_table[at].seq;
            h = seq < unit_names.of_unit.size() ? sections_[unit_names.of_unit[seq]] : no_section_;
        }
        return static_cast<uint32_t>(hash_on(h, b_.module(at)) >> 32);
    }

private:
    const Live& b_;
    std::vector<uint64_t> sections_;
    const uint64_t no_section_ = hash_on(kHashStart, "");
};

// One item as the scratch file keeps it: this head (kStoredHead bytes, the
// fields one after another), then the section name and the module (or the
// function's name).
struct StoredHead {
    uint32_t hash;  // NameHash
    uint32_t number, start, length;
    uint32_t section_size, module_size;
    uint8_t fate;
};
constexpr size_t kStoredHead = 6 * 4 + 1;

// The items of the live build in table order, into `store`.
void stored(ScratchStore& store, const Live& b) {
    const NameHash hash(b);
    std::string record;
    for (size_t k = 0; k < b.size(); ++k) {
        const auto at = static_cast<uint32_t>(k);
        const Item i = b.item(at);
        const std::string_view section = b.section(at), module = b.module(at);
        const uint32_t fields[6] = {hash(at),
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
bool stored_next(ScratchStore::Reader& store, Stored& s) {
    const char* p = nullptr;
    if (store.at_end() || !store.next(kStoredHead, &p)) return false;
    uint32_t fields[6];
    std::memcpy(fields, p, sizeof fields);
    s.head = StoredHead{
        fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], static_cast<uint8_t>(p[sizeof fields])};
    if (!store.next(size_t{s.head.section_size} + s.head.module_size, &p)) return false;
    s.section = std::string_view(p, s.head.section_size);
    s.module = std::string_view(p + s.head.section_size, s.head.module_size);
    return true;
}

// The items of a live build by name, for the earlier build's items to find
// their matches in: each name takes the item of that name that comes first
// in table order and is not taken yet.
//
// An open-addressing table (linear probing) of slots, each the hash of a
// name in the high 32 bits and, in the low ones, the place of its first
// item in the table, or the number of its group: a name that more than one
// item bears has a group, which lists its items in table order and counts
// those taken. An item taken alone is marked in its slot.
class NameIndex {
public:
    explicit NameIndex(const Live& b);
    // Whether the index could be made (a table of 2**30 items or more
    // cannot be).
    bool made() const { return made_; }
    // The item of this name not taken yet that comes first in table order,
    // now taken; -1 when there is none.
    int64_t take(uint32_t hash, std::string_view section, std::string_view module);
    // Has the slot where a name of this hash is first looked for loaded
    // ahead.
    void ahead(uint32_t hash) const { load_ahead(&slots_[home(hash)]); }

private:
    static constexpr uint64_t kEmpty = UINT64_MAX;
    static constexpr uint32_t kGroup = 1u << 31, kTaken = 1u << 30, kPlace = kTaken - 1;
    struct Group {
        uint32_t first;      // its first item
        uint32_t from, to;   // its further items, in members_
        uint32_t taken = 0;  // how many of its items are taken
    };
    size_t home(uint32_t hash) const { return static_cast<size_t>((uint64_t{hash} * slots_.size()) >> 32); }
    uint32_t first_of(uint64_t slot) const {
        const auto low = static_cast<uint32_t>(slot);
        return (low & kGroup) != 0 ? groups_[low & ~kGroup].first : low & kPlace;
    }
    bool named(uint32_t at, std::string_view section, std::string_view module) const {
        return b_.module(at) == module && b_.section(at) == section;
    }
    void inserted(uint32_t at, uint32_t hash);
    const Live& b_;
    bool made_ = true;
    std::vector<uint64_t> slots_;
    std::vector<Group> groups_;
    std::vector<std::pair<uint32_t, uint32_t>> members_;  // a group and one of its further items
};

NameIndex::NameIndex(const Live& b) : b_(b) {
    const size_t n = b.size();
    if (n >= kTaken) {
        made_ = false;
        return;
    }
    // Four slots in five at most are used, which keeps the probes short.
    slots_.assign(n + n / 4 + 1, kEmpty);
    const NameHash hash(b);
    constexpr size_t kAhead = 8;
    uint32_t hashes[kAhead] = {};
    for (size_t k = 0; k < n + kAhead; ++k) {
        if (k >= kAhead) inserted(static_cast<uint32_t>(k - kAhead), hashes[(k - kAhead) % kAhead]);
        // The hash of an item a few ahead: its slot is loaded while the
        // items before it go in.
        if (k < n) {
            hashes[k % kAhead] = hash(static_cast<uint32_t>(k));
            ahead(hashes[k % kAhead]);
        }
    }
    // Each group's further items together, in table order.
    std::stable_sort(members_.begin(), members_.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
    for (size_t k = 0; k < members_.size(); ++k) {
        Group& g = groups_[members_[k].first];
        if (g.to == 0) g.from = static_cast<uint32_t>(k);
        g.to = static_cast<uint32_t>(k + 1);
    }
}

// The item at `at` in its slot, or, for a name already in, in its group.
void NameIndex::inserted(uint32_t at, uint32_t hash) {
    for (size_t s = home(hash);; s = s + 1 == slots_.size() ? 0 : s + 1) {
        const uint64_t slot = slots_[s];
        if (slot == kEmpty) {
            slots_[s] = uint64_t{hash} << 32 | at;
            return;
        }
        if (static_cast<uint32_t>(slot >> 32) != hash) continue;
        const uint32_t first = first_of(slot);
        if (!named(first, b_.section(at), b_.module(at))) continue;
        auto low = static_cast<uint32_t>(slot);
        if ((low & kGroup) == 0) {
            low = kGroup | static_cast<uint32_t>(groups_.size());
            groups_.push_back(Group{first, 0, 0});
            slots_[s] = uint64_t{hash} << 32 | low;
        }
        members_.emplace_back(low & ~kGroup, at);
        return;
    }
}

int64_t NameIndex::take(uint32_t hash, std::string_view section, std::string_view module) {
    if (slots_.empty()) return -1;
    for (size_t s = home(hash);; s = s + 1 == slots_.size() ? 0 : s + 1) {
        const uint64_t slot = slots_[s];
        if (slot == kEmpty) return -1;
        if (static_cast<uint32_t>(slot >> 32) != hash || !named(first_of(slot), section, module)) continue;
        const auto low = static_cast<uint32_t>(slot);
        if ((low & kGroup) == 0) {
            if ((low & kTaken) != 0) return -1;
            slots_[s] = slot | kTaken;
            return low;
        }
        Group& g = groups_[low & ~kGroup];
        const uint32_t k = g.taken;
        if (k > g.to - g.from) return -1;
        ++g.taken;
        return k == 0 ? g.first : members_[g.from + k - 1].second;
    }
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

// What the matching of the two builds' items found: the items of the
// later build (by place in its table) with a match, those of them that
// changed (each with the place of its match in the earlier Build's units or
// functions), the earlier items with no match (their place in the Build,
// in the earlier table's order), and the length of each change list.
struct Merged {
    std::vector<bool> matched;
    std::vector<std::pair<uint32_t, uint32_t>> changed;
    std::vector<uint32_t> removed;
    size_t lengths[kChangeKinds] = {};
};

// The earlier build's items read back from `store` a batch at a time (the
// store's bytes last only until its next read, so their names are kept
// here), which lets the slots and the items each looks at be loaded ahead.
struct Batch {
    static constexpr size_t kSize = 16;
    std::vector<StoredHead> heads;
    std::vector<size_t> from;  // where each item's section name begins in `names`, its module right after
    std::string names;
    // The next items of `store`; false when none is left or on a fault.
    bool read(ScratchStore::Reader& store) {
        heads.clear();
        from.clear();
        names.clear();
        Stored s;
        while (heads.size() < kSize && stored_next(store, s)) {
            heads.push_back(s.head);
            from.push_back(names.size());
            names.append(s.section).append(s.module);
        }
        return !heads.empty();
    }
    std::string_view section(size_t i) const { return std::string_view(names).substr(from[i], heads[i].section_size); }
    std::string_view module(size_t i) const {
        return std::string_view(names).substr(from[i] + heads[i].section_size, heads[i].module_size);
    }
};

// Matches the earlier build's items, read back from `store` in table
// order, with the live ones: items of one name pair in table order, and
// those left over on either side have no match. The earlier items that
// changed or have no match are kept in c.before. False on a fault of the
// store.
bool merged(Comparison& c, ScratchStore& store, const Live& b, Merged& m) {
    const bool units = b.units;
    std::vector<Item>& olds = units ? c.before.units : c.before.functions;
    // Room for every earlier item: only what is used is touched.
    olds.reserve(units ? c.before.unit_count : c.before.function_count);
    std::unordered_map<std::string, uint32_t> sections;
    NameIndex index(b);
    if (!index.made()) {
        c.fault = "too many items to compare";
        return false;
    }
    m.matched.assign(b.size(), false);
    Batch batch;
    ScratchStore::Reader reader(store);
    while (batch.read(reader)) {
        for (const StoredHead& h : batch.heads) index.ahead(h.hash);
        for (size_t i = 0; i < batch.heads.size(); ++i) {
            const StoredHead& h = batch.heads[i];
            Item old_item;
            old_item.number = h.number;
            old_item.start = h.start;
            old_item.length = h.length;
            old_item.fate = h.fate;
            const int64_t at = index.take(h.hash, batch.section(i), batch.module(i));
            if (at < 0) {
                m.removed.push_back(static_cast<uint32_t>(
                    kept_item(c.before, units, old_item, batch.section(i), batch.module(i), sections)));
                continue;
            }
            const auto a = static_cast<uint32_t>(at);
            m.matched[a] = true;
            const uint32_t kinds = kinds_of(old_item, b.item(a), units);
            if (kinds == 0) continue;
            for (int kind = 0; kind < kChangeKinds; ++kind) m.lengths[kind] += kinds >> kind & 1;
            m.changed.emplace_back(a, static_cast<uint32_t>(olds.size()));
            olds.push_back(old_item);
        }
    }
    if (!store.fault().empty() || !reader.at_end()) {
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
    for (const uint32_t i : m.removed) add(units ? kUnitRemoved : kFuncRemoved, i, -1);
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
    // Measured as the rewriting pass measures it: with its line feed.
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
