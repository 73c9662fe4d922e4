// report_property_test.cpp: mrl85-report says what mrl85 does. Over many
// generated pairs of valid inputs, the units and functions the report lists
// as deleted are exactly those whose lines are missing from mrl85's output,
// each kept unit's new number is the number its line gets there, and the
// line counts the report gives for the low and high outputs are those of
// out.hex and out.hxh, which exist exactly when the report says they are kept.
//
// Each generated unit line carries a section name of its own ("S<n>"), each
// FUNC line a function name of its own ("f<n>"), so that a line can be found
// again in the output whatever number it gets; only the units of the section
// "E" (or "e") share their name.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "testutil.h"

namespace {

namespace fs = std::filesystem;
using testutil::slurp;
using testutil::spit;
using testutil::TempDir;

// A unit line as generated: number, section name, start, length.
using UnitRow = std::tuple<uint32_t, std::string, uint32_t, uint32_t>;
// A function: number, name, unit.
using FuncRow = std::tuple<uint32_t, std::string, uint32_t>;

struct Input {
    std::string hex, sym;
    std::vector<UnitRow> units;
    std::vector<FuncRow> funcs;
};

std::string fmt(const char* f, auto... args) {
    char buf[256];
    std::snprintf(buf, sizeof buf, f, args...);
    return buf;
}

class Gen {
public:
    explicit Gen(uint32_t seed) : rng_(seed) {}

    int pick(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }
    bool chance(int percent) { return pick(1, 100) <= percent; }

    // Where a unit lies: low, crossing FFFF, ending right at FFFF, high,
    // empty low, empty at FFFF or at 10000, empty high.
    std::pair<uint32_t, uint32_t> place() {
        switch (pick(0, 7)) {
            case 0:
            case 1: return {static_cast<uint32_t>(pick(0, 0xF000)), static_cast<uint32_t>(pick(1, 0x800))};
            case 2: return {static_cast<uint32_t>(pick(0xF000, 0xFFFF)), static_cast<uint32_t>(pick(0x1000, 0x2000))};
            case 3: {
                const uint32_t len = static_cast<uint32_t>(pick(1, 0x100));
                return {0x10000 - len, len};
            }
            case 4: return {static_cast<uint32_t>(pick(0x10000, 0x3FFFF)), static_cast<uint32_t>(pick(1, 0x100))};
            case 5: return {static_cast<uint32_t>(pick(0, 0xFFFF)), 0};
            case 6: return {chance(50) ? 0xFFFFu : 0x10000u, 0};
            default: return {static_cast<uint32_t>(pick(0x10001, 0xFFFFF)), 0};
        }
    }

    Input input() {
        Input in;
        symbols(in);
        in.hex = hex();
        return in;
    }

private:
    // Whether the lines of unit `n` are deleted: the first record of a
    // number in table order decides for all its lines, and among records of
    // one number those below the number read first come in reverse reading
    // order. Used only to keep the generated ranges valid.
    static bool deleted(const std::vector<UnitRow>& units, uint32_t n) {
        const uint32_t anchor = std::get<0>(units.front());
        const UnitRow* first = nullptr;
        for (const UnitRow& u : units)
            if (std::get<0>(u) == n && (first == nullptr || n < anchor)) first = &u;
        const auto& [no, name, start, len] = *first;
        if (len == 0) return name == "E" || name == "e" || start > 0xFFFF;
        return uint64_t{start} + len - 1 > 0xFFFF;
    }

    // A range whose walks inward from a deleted end meet only numbers in the
    // table, as mrl85 requires; empty when the two ends drawn do not give one.
    static bool range_valid(const std::vector<UnitRow>& units, const std::set<uint32_t>& present, uint32_t f,
                            uint32_t l) {
        if (f == l) return true;
        if (deleted(units, f))
            for (uint64_t u = uint64_t{f} + 1; u <= *present.rbegin(); ++u) {
                if (!present.contains(static_cast<uint32_t>(u))) return false;
                if (!deleted(units, static_cast<uint32_t>(u))) break;
            }
        if (deleted(units, l))
            for (int64_t u = int64_t{l} - 1; u >= int64_t{*present.begin()}; --u) {
                if (!present.contains(static_cast<uint32_t>(u))) return false;
                if (!deleted(units, static_cast<uint32_t>(u))) break;
            }
        return true;
    }

    void symbols(Input& in) {
        std::string& s = in.sym;
        const int units = pick(1, 14);
        const int top = units + pick(0, 4);  // numbers 1..top: repeats and gaps
        std::set<uint32_t> present;
        s += "# SECTION INFORMATION\n";
        for (int i = 0; i < units; ++i) {
            if (i > 0 && chance(8)) s += "\n# SECTION INFORMATION\n";  // a second block
            const uint32_t no =
                chance(5) ? static_cast<uint32_t>(pick(0x100, 0x102)) : static_cast<uint32_t>(pick(1, top));
            std::string name = fmt("S%d", i);
            auto [start, len] = place();
            if (chance(20)) {
                name = chance(50) ? "E" : "e";
                if (chance(70)) len = 0;
            }
            const bool lib = chance(20);
            s += fmt("%04X %s 0 0 0 %08X %08X %s%d.%s\n", no, name.c_str(), start, len, lib ? "lib" : "u", i,
                     lib ? (chance(50) ? "lib" : "LIB") : "o");
            if (lib && chance(70)) s += fmt("      lib%d.lib(io%d.o) continuation\n", i, i);
            in.units.emplace_back(no, name, start, len);
            present.insert(no);
        }
        const std::vector<uint32_t> numbers(present.begin(), present.end());
        auto any_unit = [&] { return numbers[static_cast<size_t>(pick(0, static_cast<int>(numbers.size()) - 1))]; };

        const int funcs = pick(0, 8);
        s += "\n";
        for (int i = 0; i < funcs; ++i) {
            const uint32_t no = static_cast<uint32_t>(pick(1, funcs + 2));
            const uint32_t unit = any_unit();
            s += fmt("# FUNC %04X f%d %04X %08X %08X\n", no, i, unit, pick(0, 0xFFFF), pick(0, 0x100));
            in.funcs.emplace_back(no, fmt("f%d", i), unit);
        }
        auto any_func = [&] { return std::get<0>(in.funcs[static_cast<size_t>(pick(0, funcs - 1))]); };
        if (funcs > 0) {
            for (int i = pick(0, 2); i > 0; --i)
                s += fmt("\n# CALL %04X\n %04X %04X\n", any_func(), any_func(), any_func());
            for (int i = pick(0, 2); i > 0; --i) s += fmt("\n# SOURCE %04X src%d.c %d\n", any_func(), i, pick(1, 500));
        }
        for (int i = pick(0, 3); i > 0; --i)
            s += fmt("\n# LOCAL LABEL %04X\nlab%d %08X\n", any_unit(), i, pick(0, 0x2FFFF));
        for (int i = pick(0, 3); i > 0; --i) {
            uint32_t f = any_unit(), l = any_unit();
            if (f > l && chance(80)) std::swap(f, l);
            if (!range_valid(in.units, present, f, l)) continue;
            s += fmt("\n# LOCAL %sSYMBOL %04X-%04X\nsym%d %08X\n", chance(30) ? "BIT " : "", f, l, i, pick(0, 0x2FFFF));
        }
        if (chance(70)) {
            s += "\n# GLOBAL LABEL\n";
            for (int i = pick(1, 4); i > 0; --i)
                s += fmt("_a%d %X  _b%d %X\n", i, pick(0, 0x1FFFF), i, pick(0, 0x1FFFF));
        }
        if (chance(30)) s += fmt("\n# GLOBAL SYMBOL\n_buf %X\n", pick(0, 0x1FFFF));
    }

    // A record with its checksum (mrl85 copies records without checking it).
    static std::string rec(uint32_t type, uint32_t addr, const std::vector<uint8_t>& data) {
        std::string line = fmt(":%02X%04X%02X", static_cast<unsigned>(data.size()), addr, type);
        unsigned sum = static_cast<unsigned>(data.size()) + (addr >> 8) + (addr & 0xFF) + type;
        for (uint8_t b : data) {
            line += fmt("%02X", b);
            sum += b;
        }
        return line + fmt("%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    }

    std::string data_record() {
        std::vector<uint8_t> bytes(static_cast<size_t>(pick(1, 16)));
        for (uint8_t& b : bytes) b = static_cast<uint8_t>(pick(0, 255));
        return rec(chance(10) ? 0x81 : 0x00, static_cast<uint32_t>(pick(0, 0xFFF0)), bytes);
    }

    // Segment records of low values (first digit 0) and high ones, data
    // records in between, sometimes data before any segment record, an end
    // record (mostly) and sometimes a line after it.
    std::string hex() {
        static const uint32_t kSegments[] = {0x0000, 0x0800, 0x0FFF, 0x1000, 0x2000, 0xF000};
        std::string h;
        const bool no_low = chance(15);
        if (!no_low && chance(20))
            for (int i = pick(1, 3); i > 0; --i) h += data_record();
        for (int seg = pick(0, 4); seg > 0; --seg) {
            uint32_t value = kSegments[pick(0, 5)];
            if (no_low && value < 0x1000) value = 0x1000;
            h += rec(2, 0, {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)});
            for (int i = pick(0, 5); i > 0; --i) h += data_record();
        }
        if (chance(90)) h += ":00000001FF\n";
        if (chance(10)) h += rec(0, 0, {1, 2, 3});
        return h;
    }

    std::mt19937 rng_;
};

std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> w;
    std::string s;
    while (in >> s) w.push_back(s);
    return w;
}

uint32_t hexnum(const std::string& s) { return static_cast<uint32_t>(std::stoul(s, nullptr, 16)); }

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> all;
    std::istringstream in(text);
    std::string l;
    while (std::getline(in, l)) all.push_back(l);
    return all;
}

// What the report says.
struct Said {
    std::multiset<std::tuple<uint32_t, uint32_t, std::string, uint32_t, uint32_t>> kept;  // old, new, name, start, len
    std::multiset<UnitRow> deleted;
    std::multiset<std::pair<uint32_t, uint32_t>> funcs_deleted;  // number, unit
    uint64_t units_kept = 0, units_deleted = 0, funcs_deleted_total = 0;
    struct Output {
        uint64_t lines = 0;
        bool kept = false, seen = false;
    } low, high;
};

Said read_report(const std::string& out) {
    Said r;
    for (const std::string& l : lines(out)) {
        const std::vector<std::string> w = words(l);
        if (w.size() >= 8 && w[0] == "unit" && w[1] == "kept") {
            r.kept.emplace(hexnum(w[2]), hexnum(w[4]), w[5], hexnum(w[6]), hexnum(w[7]));
        } else if (w.size() >= 6 && w[0] == "unit" && w[1] == "deleted") {
            r.deleted.emplace(hexnum(w[2]), w[3], hexnum(w[4]), hexnum(w[5]));
        } else if (w.size() >= 5 && w[0] == "function" && w[1] == "deleted") {
            r.funcs_deleted.emplace(hexnum(w[2]), hexnum(w[4]));
        } else if (w.size() >= 6 && w[0] == "units") {
            r.units_kept = std::stoull(w[3]);  // "units N kept K, deleted D ..."
            r.units_deleted = std::stoull(w[5]);
        } else if (w.size() >= 6 && w[0] == "functions") {
            r.funcs_deleted_total = std::stoull(w[5]);
        } else if (w.size() >= 5 && (w[0] == "low" || w[0] == "high") && w[1] == "output") {
            Said::Output& o = w[0] == "low" ? r.low : r.high;
            o.seen = true;
            o.lines = std::stoull(w[2]);
            o.kept = w[4] == "kept";
        }
    }
    return r;
}

// What mrl85 wrote to out.sym: the unit lines of its SECTION INFORMATION
// blocks (number, name, start, length) and the FUNC lines by name.
struct Written {
    std::multiset<UnitRow> units;
    std::map<std::string, std::pair<uint32_t, uint32_t>> funcs;  // name: number, unit
};

Written read_output_sym(const std::string& text) {
    Written o;
    bool in_units = false;
    for (const std::string& l : lines(text)) {
        if (l.starts_with("#")) {
            in_units = l == "# SECTION INFORMATION";
            const std::vector<std::string> w = words(l);
            if (w.size() >= 5 && w[1] == "FUNC") o.funcs[w[3]] = {hexnum(w[2]), hexnum(w[4])};
            continue;
        }
        if (l.empty()) {
            in_units = false;
            continue;
        }
        if (!in_units || l[0] == ' ') continue;
        const std::vector<std::string> w = words(l);
        if (w.size() >= 7) o.units.emplace(hexnum(w[0]), w[1], hexnum(w[5]), hexnum(w[6]));
    }
    return o;
}

uint64_t line_count(const std::string& text) {
    uint64_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

void check_round(const Input& in) {
    const TempDir tmp;
    spit(tmp / "prog.hex", in.hex);
    spit(tmp / "prog.sym", in.sym);
    const testutil::Outcome conv = testutil::run(tmp.path(), {"prog", "-Oout"});
    ASSERT_EQ(conv.status, 0) << "stdout:\n" << conv.out << "stderr:\n" << conv.err;
    const testutil::Outcome rep = testutil::run_report(tmp.path(), {"--all", "prog"});
    ASSERT_EQ(rep.status, 0) << "stdout:\n" << rep.out << "stderr:\n" << rep.err;
    const Said said = read_report(testutil::lf_text(rep.out, testutil::windows_program(testutil::report_tool().path)));
    const Written written = read_output_sym(testutil::lf_text(slurp(tmp / "out.sym"), testutil::windows_program()));

    // The report accounts for every unit line once, kept or deleted.
    std::multiset<UnitRow> all(said.deleted), input(in.units.begin(), in.units.end());
    std::multiset<UnitRow> kept_as_written;
    for (const auto& [old_no, new_no, name, start, len] : said.kept) {
        all.emplace(old_no, name, start, len);
        kept_as_written.emplace(new_no, name, start, len);
    }
    EXPECT_EQ(all, input) << "the report's unit rows are not the input's unit lines";
    // Kept with their new numbers: exactly the lines of out.sym.
    EXPECT_EQ(kept_as_written, written.units) << "kept units (new numbers) differ from out.sym";
    EXPECT_EQ(said.units_kept, said.kept.size());
    EXPECT_EQ(said.units_deleted, said.deleted.size());
    EXPECT_EQ(said.units_deleted, in.units.size() - written.units.size());

    // Deleted functions: exactly the FUNC lines missing from out.sym.
    std::multiset<std::pair<uint32_t, uint32_t>> missing;
    for (const auto& [no, name, unit] : in.funcs)
        if (!written.funcs.contains(name)) missing.emplace(no, unit);
    EXPECT_EQ(said.funcs_deleted, missing) << "deleted functions differ from the FUNC lines missing in out.sym";
    EXPECT_EQ(said.funcs_deleted_total, said.funcs_deleted.size());

    // The HEX outputs.
    for (const auto& [o, file] : {std::pair{&said.low, "out.hex"}, std::pair{&said.high, "out.hxh"}}) {
        SCOPED_TRACE(file);
        ASSERT_TRUE(o->seen) << rep.out;
        EXPECT_EQ(o->kept, fs::exists(tmp / file));
        if (o->kept) {
            EXPECT_EQ(o->lines, line_count(slurp(tmp / file)));
        }
    }
}

TEST(ReportProperty, DeletedKeptAndCountsMatchTheConversion) {
    const uint32_t seeds[] = {20261210, 7, 4242};
    for (const uint32_t seed : seeds) {
        Gen gen(seed);
        for (int round = 0; round < 50; ++round) {
            const Input in = gen.input();
            SCOPED_TRACE("seed " + std::to_string(seed) + ", round " + std::to_string(round));
            check_round(in);
            if (::testing::Test::HasFailure()) {
                ADD_FAILURE() << "prog.sym:\n" << in.sym << "prog.hex:\n" << in.hex;
                return;
            }
        }
    }
}

}  // namespace
