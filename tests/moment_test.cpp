// moment_test.cpp: faults that strike at one exact moment of a run, brought
// about by a library preloaded into mrl85 (shim/fault_shim.cpp): a close
// that reports a delayed write error, a rename refused in the middle of the
// in-place replacement, a temporary swapped by another process, a symbol
// file that changes between its two readings. Each case is run with the
// trace off (what is left on disk) and with +info (where the run stopped).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::EnvSet;
using testutil::slurp;
using testutil::spit;
using testutil::TempDir;

const char kBanner[] =
    "HEX, SYM file converter for ZQ50 Series V.1.00.00\n"
    "Copyright (c) 2026 The mrl85 authors\n"
    "Released under the MIT License\n\n";
const char kHexNow[] = "\n== HEX file convert now == ( prog.hex --> prog.hex )\n";
const char kSymNow[] = "== SYM file convert now == ( prog.sym --> prog.sym )\n";

using Files = std::map<std::string, std::string>;

Files files_in(const fs::path& dir) {
    Files all;
    for (const auto& e : fs::directory_iterator(dir)) all[e.path().filename().string()] = slurp(e.path());
    return all;
}

struct Case {
    const char* what;
    const char* shim;               // MRL_SHIM, or "" for none
    std::vector<std::string> args;  // after the program name
    Files before;                   // besides the fixture's prog.hex and prog.sym
    std::string out;                // standard output after the banner
    int status;
    int place;    // of "Error exit at"
    Files after;  // files new or changed by the run (trace off)
};

// A change-free file the run must never touch.
const char kOther[] = "somebody else's file\n";

TEST(Moment, FaultsAtOneMomentLeaveEveryInputAsItWas) {
#ifndef MRL_FAULT_SHIM
    GTEST_SKIP() << "no preload library on this platform";
#else
    if (testutil::windows_program()) GTEST_SKIP() << "a library preloaded into a POSIX program";
    const fs::path fixtures = fs::path(MRL_E2E_DIR) / "fixtures";
    const std::string hex = slurp(fixtures / "worked" / "prog.hex"), sym = slurp(fixtures / "worked" / "prog.sym");
    const std::string older = slurp(fixtures / "older" / "prog.hxh");
    const std::vector<Case> cases = {
        {"a rename refused after two were made: both undone",
         "fail-rename:prog.sym",
         {"prog", "-Oprog"},
         {},
         kHexNow + std::string(kSymNow) + " Error : Can't create 'prog.sym' file\n",
         2,
         2031,
         {}},
        {"a rename refused after the high HEX file replaced an older one: the older one is back",
         "fail-rename:prog.hex",
         {"prog", "-Oprog", "-H"},
         {{"prog.hxh", older}},
         kHexNow + std::string(" Error : Can't create 'prog.hex' file\n"),
         2,
         2031,
         {}},
        {"the name kept for a replaced input is taken: nothing is renamed",
         "",
         {"prog", "-Oprog"},
         {{"prog_tmp_old.hex", kOther}},
         kHexNow + std::string(kSymNow) + " Error : Can't create 'prog_tmp_old.hex' file\n",
         2,
         2031,
         {}},
        {"another process swaps a temporary for its own file: that file is left alone",
         "swap-at-fsync:prog_tmp.hex",
         {"prog", "-Oprog"},
         {},
         kHexNow + std::string(kSymNow) + " Error : Can't create 'prog_tmp.hex' file\n",
         2,
         2034,
         {{"prog_tmp.hex", "foreign\n"}, {"prog_tmp.hex.moved", ""}}},
        {"closing the output HEX file reports a write error",
         "fail-fclose:out.hex",
         {"prog", "-Oout", "-H"},
         {},
         "\n== HEX file convert now == ( prog.hex --> out.hex )\n Error : Can't create 'out.hex' file\n",
         3,
         2002,
         {}},
        {"closing the high HEX file reports a write error",
         "fail-fclose:out.hxh",
         {"prog", "-Oout", "-H"},
         {},
         "\n== HEX file convert now == ( prog.hex --> out.hex )\n Error : Can't create 'out.hxh' file\n",
         3,
         2003,
         {}},
        {"closing the output symbol file reports a write error; the HEX outputs were finished",
         "fail-fclose:out.sym",
         {"prog", "-Oout"},
         {},
         "\n== HEX file convert now == ( prog.hex --> out.hex )\n"
         "== SYM file convert now == ( prog.sym --> out.sym )\n Error : Can't create 'out.sym' file\n",
         2,
         2013,
         {{"out.hex", ""}, {"out.hxh", ""}}},
        {"closing a temporary in place reports a write error",
         "fail-fclose:prog_tmp.sym",
         {"prog", "-Oprog", "-S"},
         {},
         kSymNow + std::string(" Error : Can't create 'prog_tmp.sym' file\n"),
         2,
         2013,
         {}},
        {"the symbol file grows between its two readings",
         "grow-at-rewind:prog.sym",
         {"prog", "-Oout", "-S"},
         {},
         "== SYM file convert now == ( prog.sym --> out.sym )\n Error : Can't open 'prog.sym' file\n",
         4,
         2012,
         {{"prog.sym", ""}}},
    };
    const EnvSet preload("LD_PRELOAD", MRL_FAULT_SHIM);
    // A sanitizer's runtime wants to be loaded first; here the library comes
    // first on purpose.
    const char* asan = std::getenv("ASAN_OPTIONS");
    const EnvSet asan_order("ASAN_OPTIONS", std::string(asan != nullptr ? asan : "") + ":verify_asan_link_order=0");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const EnvSet shim("MRL_SHIM", c.shim);
        for (const bool traced : {false, true}) {
            const TempDir tmp;
            const fs::path& dir = tmp.path();
            Files before = c.before;
            before["prog.hex"] = hex;
            before["prog.sym"] = sym;
            for (const auto& [name, bytes] : before) spit(dir / name, bytes);
            std::vector<std::string> args = c.args;
            if (traced) args.push_back("+info");
            const testutil::Outcome r = testutil::run(dir, args);
            EXPECT_EQ(r.status, c.status);
            if (traced) {
                const std::string log = slurp(dir / "mrl.ifd");
                EXPECT_NE(log.find("++++++++++ Error exit at " + std::to_string(c.place) + " ++++++++++\n"),
                          std::string::npos)
                    << log;
                continue;
            }
            EXPECT_EQ(r.out, kBanner + c.out);
            // Every input as it was (a file the case lists as changed only
            // where the fault itself changed it); nothing else left.
            Files want = before;
            for (const auto& [name, bytes] : c.after) want[name] = bytes;
            Files got = files_in(dir);
            for (const auto& [name, bytes] : c.after)
                if (bytes.empty() && got.count(name) != 0) got[name] = "";  // present; its bytes are not the point
            EXPECT_EQ(got, want);
        }
    }
#endif
}

}  // namespace
