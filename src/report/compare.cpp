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

// An item of the build the library's tables hold: the hash of its name,
// its place in the table, and the length of its module (or function name).
struct Key {
    uint64_t hash;
    uint32_t at, size;
};

// The units or the functions of the build the library's tables hold, with
// the names `names` took while it was read; none of a build whose symbol
// file was not read.
struct Live {
    const NameTaker& names;
    bool units;
    bool read;
    size_t size() const { return !read ? 0 : units ? unit_table.size() : func_table.size(); }
    std::string_view section(const Key& k) const { return units ? unit_name(unit_table[k.at]) : std::string_view(); }
    uint32_t name_at(uint32_t at) const {
        return units ? names.module_at(unit_table[at].seq) : names.function_at(func_table[at].seq);
    }
    std::string_view module(const Key& k) const { return std::string_view(names.name(name_at(k.at)).data(), k.size); }
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

// The keys of the live units or functions, in the order of their names
// (by hash, then by name where the hashes are equal, so that the order is
// exact and quick), equal names in table order.
std::vector<Key> keys_of(const Live& b) {
    // A file has few section names: the hash of each is worked out once.
    std::vector<uint64_t> section_hash;
    if (b.units) {
        section_hash.resize(unit_names.names.size());
        for (size_t k = 0; k < section_hash.size(); ++k)
            section_hash[k] = hash_on(hash_on(kHashStart, unit_names.names[k]), " ");
    }
    std::vector<Key> keys(b.size());
    for (size_t k = 0; k < keys.size(); ++k) {
        const auto at = static_cast<uint32_t>(k);
        uint64_t h = kHashStart;
        if (b.units) {
            const uint32_t seq = unit_table[k].seq;
            h = seq < unit_names.of_unit.size() ? section_hash[unit_names.of_unit[seq]] : hash_on(kHashStart, " ");
        }
        const char* const name = b.names.name(b.name_at(at)).data();
        const char* p = name;
        for (; *p != '\0'; ++p) h = (h ^ static_cast<unsigned char>(*p)) * 0x100000001B3u;
        keys[k] = Key{h, at, static_cast<uint32_t>(p - name)};
    }
    std::sort(keys.begin(), keys.end(), [&](const Key& x, const Key& y) {
        if (x.hash != y.hash) return x.hash < y.hash;
        const int c = name_order(b.section(x), b.module(x), b.section(y), b.module(y));
        return c != 0 ? c < 0 : x.at < y.at;
    });
    return keys;
}

// One item as the scratch file keeps it: this head, then the section name
// and the module (or the function's name).
struct StoredHead {
    uint64_t hash;
    uint32_t at;  // its place in the table
    uint32_t number, start, length;
    uint32_t section_size, module_size;
    uint8_t fate;
};
constexpr size_t kStoredHead = 8 + 6 * 4 + 1;

// The items of the live build in the order of their names, into `store`.
void stored(ScratchStore& store, const Live& b) {
    char head[kStoredHead];
    for (const Key& k : keys_of(b)) {
        const Item i = b.item(k.at);
        const std::string_view section = b.section(k), module = b.module(k);
        const StoredHead h{k.hash, k.at,  i.number, i.start, i.length, static_cast<uint32_t>(section.size()),
                           k.size, i.fate};
        char* p = head;
        for (const auto& [field, n] : {std::pair<const void*, size_t>{&h.hash, 8},
                                       {&h.at, 4},
                                       {&h.number, 4},
                                       {&h.start, 4},
                                       {&h.length, 4},
                                       {&h.section_size, 4},
                                       {&h.module_size, 4},
                                       {&h.fate, 1}}) {
            std::memcpy(p, field, n);
            p += n;
        }
        store.add(head, sizeof head);
        store.add(section.data(), section.size());
        store.add(module.data(), module.size());
    }
}

// An item of the earlier build read back.
struct Stored {
    StoredHead head{};
    std::string_view section, module;
    std::string names;  // both, one after the other
};

// The next item of `store` into `s`; false at the end or on a fault.
bool stored_next(ScratchStore& store, Stored& s) {
    const char* p = nullptr;
    if (store.at_end() || !store.next(kStoredHead, &p)) return false;
    StoredHead& h = s.head;
    for (const auto& [field, n] : {std::pair<void*, size_t>{&h.hash, 8},
                                   {&h.at, 4},
                                   {&h.number, 4},
                                   {&h.start, 4},
                                   {&h.length, 4},
                                   {&h.section_size, 4},
                                   {&h.module_size, 4},
                                   {&h.fate, 1}}) {
        std::memcpy(field, p, n);
        p += n;
    }
    if (!store.next(size_t{h.section_size} + h.module_size, &p)) return false;
    s.names.assign(p, size_t{h.section_size} + h.module_size);
    s.section = std::string_view(s.names).substr(0, h.section_size);
    s.module = std::string_view(s.names).substr(h.section_size);
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

// A matched item of the later build whose fields changed: its place in the
// table, the kinds of change (bits by ChangeKind), and the earlier item.
struct Changed {
    uint32_t at;
    uint32_t kinds;
    Item before;
};

// The kinds of change between an item of the earlier build and its match.
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

// Matches the live items against the earlier build's (read back from
// `store` in the order of their names) and sorts both into the kinds of
// change: those of the later build in its order, then the removed ones in
// the earlier build's. False on a fault of the store.
bool changes_of(Comparison& c, ScratchStore& store, const Live& b) {
    const bool units = b.units;
    std::vector<bool> matched(b.size(), false);
    std::vector<Changed> changed;
    std::vector<std::pair<uint32_t, int64_t>> removed;  // the earlier item's place in its table, and in c.before
    std::unordered_map<std::string, uint32_t> before_sections, after_sections;
    {
        const std::vector<Key> keys = keys_of(b);
        Stored o;
        bool more = stored_next(store, o);
        size_t j = 0;
        while (more) {
            int order = 1;  // the earlier item comes after the later one (or there is none)
            if (j < keys.size()) {
                const Key& n = keys[j];
                order = o.head.hash < n.hash ? -1 : o.head.hash > n.hash;
                if (order == 0) order = name_order(o.section, o.module, b.section(n), b.module(n));
            }
            if (order > 0 && j < keys.size()) {
                ++j;
                continue;
            }
            Item old_item;
            old_item.number = o.head.number;
            old_item.start = o.head.start;
            old_item.length = o.head.length;
            old_item.fate = o.head.fate;
            if (order < 0 || j >= keys.size()) {
                // Equal names pair in order: a name left over on either
                // side has no match.
                removed.emplace_back(o.head.at,
                                     kept_item(c.before, units, old_item, o.section, o.module, before_sections));
            } else {
                const uint32_t at = keys[j++].at;
                matched[at] = true;
                const uint32_t kinds = kinds_of(old_item, b.item(at), units);
                if (kinds != 0) changed.push_back(Changed{at, kinds, old_item});
            }
            more = stored_next(store, o);
        }
        if (!store.fault().empty() || !store.at_end()) {
            c.fault = store.fault().empty() ? "the earlier build could not be read back" : store.fault();
            return false;
        }
    }
    std::sort(changed.begin(), changed.end(), [](const Changed& x, const Changed& y) { return x.at < y.at; });
    const auto add = [&](int kind, int64_t before, int64_t after) { c.changes[kind].push_back(Pair{before, after}); };
    size_t next = 0;
    for (size_t j = 0; j < b.size(); ++j) {
        const auto at = static_cast<uint32_t>(j);
        const bool is_changed = next < changed.size() && changed[next].at == at;
        if (matched[j] && !is_changed) continue;
        Key k{0, at, 0};
        const std::string_view module = b.names.name(b.name_at(at));
        k.size = static_cast<uint32_t>(module.size());
        const int64_t n = kept_item(c.after, units, b.item(at), b.section(k), module, after_sections);
        if (!matched[j]) {
            add(units ? kUnitAdded : kFuncAdded, -1, n);
            continue;
        }
        const Changed& w = changed[next++];
        std::vector<Item>& olds = units ? c.before.units : c.before.functions;
        olds.push_back(w.before);
        const auto i = static_cast<int64_t>(olds.size() - 1);
        for (int kind = 0; kind < kChangeKinds; ++kind)
            if ((w.kinds & (1u << kind)) != 0) add(kind, i, n);
    }
    std::sort(removed.begin(), removed.end());
    for (const auto& [at, i] : removed) add(units ? kUnitRemoved : kFuncRemoved, i, -1);
    return true;
}

// A Build's files and usage, as its report read them.
void build_head(Build& b, const Report& r) {
    b.usage = usage(r);
    if (b.usage.hex) b.hex_name = r.hex.name;
    if (b.usage.sym) b.sym_name = r.sym.name;
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

// Offset 0 is the empty name.
void NameTaker::clear() {
    text_.assign(1, '\0');
    units_ = {};
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
    bool ok = true;
    c.after.unit_count = Live{names, true, c.after.usage.sym}.size();
    c.after.function_count = Live{names, false, c.after.usage.sym}.size();
    for (const bool units : {true, false}) {
        if (!ok) break;
        const Live b{names, units, c.after.usage.sym};
        ScratchStore& store = units ? c.stored_units : c.stored_functions;
        ok = changes_of(c, store, b);
        store.clear();
    }
    names.clear();
    c.done = ok;
}

}  // namespace report
