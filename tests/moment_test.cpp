// moment_test.cpp: faults that strike at one exact moment of a run, brought
// about by a library preloaded into mrl85 (shim/fault_shim.cpp): a close
// that reports a delayed write error, a rename refused in the middle of the
// in-place replacement, a temporary swapped by another process, a symbol
// file that changes between its two readings. Each case is run with the
// trace off (what is left on disk) and with +info (where the run stopped).
// Then a kill at every step of an in-place run, with and without hard links,
// and a kept-aside name that cannot be removed after a successful run.
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
        {"no hard links: the inputs are kept as copies, and a refused rename is undone from them",
         "no-links:prog_tmp_old.hex,no-links:prog_tmp_old.sym,fail-rename:prog.sym",
         {"prog", "-Oprog"},
         {},
         kHexNow + std::string(kSymNow) + " Error : Can't create 'prog.sym' file\n",
         2,
         2031,
         {}},
        {"hard links refused and the copy does not reach stable storage: nothing is renamed",
         "refuse-link:prog_tmp_old.hex,fail-fsync:prog_tmp.copy.hex",
         {"prog", "-Oprog"},
         {},
         kHexNow + std::string(kSymNow) + " Error : Can't create 'prog_tmp_old.hex' file\n",
         2,
         2031,
         {}},
        {"hard links refused and the copy's name is taken (a killed run's leftover): that file is named",
         "refuse-link:prog_tmp_old.hex",
         {"prog", "-Oprog"},
         {{"prog_tmp.copy.hex", kOther}},
         kHexNow + std::string(kSymNow) + " Error : Can't create 'prog_tmp.copy.hex' file\n",
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

#ifdef MRL_FAULT_SHIM
// Runs the program in `dir` with the preload library and MRL_SHIM `shim`.
testutil::Outcome run_shimmed(const fs::path& dir, const std::vector<std::string>& args, const std::string& shim) {
    const testutil::ShimSet chosen(shim);
    return testutil::run(dir, args);
}

// The recovery after a killed in-place run as the manual gives it: each
// prog_tmp_old.X is moved back over prog.X, or removed when it is another
// name of the file prog.X (a rename onto the same file does nothing, and
// "mv" refuses it), then every prog_tmp.* file is removed. Returns whether a
// temporary (prog_tmp.hex, .hxh, .sym) was left, that is whether the run was
// killed before it had put every conversion in place.
bool recover(const fs::path& dir) {
    for (const char* ext : {".hex", ".hxh", ".sym"}) {
        const fs::path aside = dir / (std::string("prog_tmp_old") + ext), name = dir / (std::string("prog") + ext);
        if (!fs::exists(aside)) continue;
        if (fs::exists(name) && fs::equivalent(aside, name))
            fs::remove(aside);
        else
            fs::rename(aside, name);
    }
    bool unfinished = false;
    for (const auto& e : fs::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("prog_tmp.", 0) != 0) continue;
        unfinished = unfinished || name == "prog_tmp.hex" || name == "prog_tmp.hxh" || name == "prog_tmp.sym";
        fs::remove(e.path());
    }
    return unfinished;
}
#endif

// A run in place killed outright (SIGKILL, as a power cut would stop it) at
// every step that changes the disk, one step later each time, until a run
// gets to its end: with hard links, where the file system refuses them, and
// where it has none. After every kill each input name holds its original or
// its complete conversion, never nothing and never a part; a prog_tmp_old.X
// left behind is the whole original of prog.X; and the recovery the manual
// gives (move each prog_tmp_old.X back, remove prog_tmp.*, convert again)
// gives every original back whenever a temporary was left, and ends with
// the right conversion.
TEST(Moment, KillAtEveryStepLeavesEveryInputWhole) {
#ifndef MRL_FAULT_SHIM
    GTEST_SKIP() << "no preload library on this platform";
#else
    if (testutil::windows_program()) GTEST_SKIP() << "a library preloaded into a POSIX program";
    const fs::path fixtures = fs::path(MRL_E2E_DIR) / "fixtures";
    const std::string hex = slurp(fixtures / "worked" / "prog.hex"), sym = slurp(fixtures / "worked" / "prog.sym");
    const std::string older = slurp(fixtures / "older" / "prog.hxh");
    const char* const links[] = {
        "",
        "refuse-link:prog_tmp_old.hex,refuse-link:prog_tmp_old.hxh,refuse-link:prog_tmp_old.sym,",
        "no-links:prog_tmp_old.hex,no-links:prog_tmp_old.hxh,no-links:prog_tmp_old.sym,",
    };
    // Without an older high HEX file, and with one that is replaced too.
    for (const bool with_older : {false, true}) {
        Files original = {{"prog.hex", hex}, {"prog.sym", sym}};
        if (with_older) original["prog.hxh"] = older;
        const TempDir ref;
        for (const auto& [name, bytes] : original) spit(ref / name, bytes);
        ASSERT_EQ(testutil::run(ref.path(), {"prog", "-Oprog"}).status, 0);
        const Files converted = files_in(ref.path());
        for (const auto& [name, bytes] : original) ASSERT_NE(converted.at(name), bytes);
        for (const char* link : links) {
            SCOPED_TRACE(std::string(with_older ? "older prog.hxh, " : "") + "links: " + link);
            int kept_aside = 0, finished = 0;
            for (int step = 1; step < 100 && finished == 0; ++step) {
                SCOPED_TRACE("killed at step " + std::to_string(step));
                const TempDir tmp;
                const fs::path& dir = tmp.path();
                for (const auto& [name, bytes] : original) spit(dir / name, bytes);
                const testutil::Outcome r =
                    run_shimmed(dir, {"prog", "-Oprog"}, link + std::string("kill-at:") + std::to_string(step));
                if (r.status == 0) {
                    ++finished;
                    EXPECT_EQ(files_in(dir), converted);
                    continue;
                }
                ASSERT_EQ(r.status, 128 + SIGKILL) << r.out;
                for (const char* name : {"prog.hex", "prog.sym", "prog.hxh"}) {
                    SCOPED_TRACE(name);
                    const std::string aside = std::string("prog_tmp_old") + (name + 4);
                    const bool had = original.count(name) != 0;
                    if (had) {
                        ASSERT_TRUE(fs::exists(dir / name)) << "a replaced name holds nothing";
                        const std::string now = slurp(dir / name);
                        EXPECT_TRUE(now == original.at(name) || now == converted.at(name)) << "neither whole file";
                    } else if (fs::exists(dir / name)) {
                        EXPECT_EQ(slurp(dir / name), converted.at(name));
                    }
                    if (fs::exists(dir / aside)) {
                        ++kept_aside;
                        EXPECT_TRUE(had);
                        if (had) {
                            EXPECT_EQ(slurp(dir / aside), original.at(name)) << aside << " is not the original";
                        }
                    }
                }
                if (recover(dir)) {
                    for (const auto& [name, bytes] : original) EXPECT_EQ(slurp(dir / name), bytes) << name;
                    ASSERT_EQ(testutil::run(dir, {"prog", "-Oprog"}).status, 0);
                    EXPECT_EQ(files_in(dir), converted);
                }
            }
            EXPECT_EQ(finished, 1) << "no run got to its end";
            EXPECT_GT(kept_aside, 0) << "no kill struck while an input was kept aside";
        }
    }
#endif
}

// A kept-aside name that cannot be removed once every input is replaced
// would stop the next run in place: the run says so in a warning, in its
// output and its trace log, and still succeeds (status 0), its conversion
// in place. The name left holds the original.
TEST(Moment, KeptAsideNameThatCannotBeRemovedIsWarnedOf) {
#ifndef MRL_FAULT_SHIM
    GTEST_SKIP() << "no preload library on this platform";
#else
    if (testutil::windows_program()) GTEST_SKIP() << "a library preloaded into a POSIX program";
    const fs::path fixtures = fs::path(MRL_E2E_DIR) / "fixtures";
    const std::string hex = slurp(fixtures / "worked" / "prog.hex"), sym = slurp(fixtures / "worked" / "prog.sym");
    const TempDir ref;
    spit(ref / "prog.hex", hex);
    spit(ref / "prog.sym", sym);
    ASSERT_EQ(testutil::run(ref.path(), {"prog", "-Oprog"}).status, 0);
    const char kWarning[] = " Warning : Can't remove 'prog_tmp_old.hex' file\n";
    for (const char* link : {"", "no-links:prog_tmp_old.hex,"}) {
        for (const bool traced : {false, true}) {
            SCOPED_TRACE(std::string(link) + (traced ? " +info" : ""));
            const TempDir tmp;
            const fs::path& dir = tmp.path();
            spit(dir / "prog.hex", hex);
            spit(dir / "prog.sym", sym);
            std::vector<std::string> args = {"prog", "-Oprog"};
            if (traced) args.push_back("+info");
            const testutil::Outcome r = run_shimmed(dir, args, link + std::string("fail-unlink:prog_tmp_old.hex"));
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, kBanner + std::string(kHexNow) + kSymNow + kWarning);
            EXPECT_EQ(slurp(dir / "prog_tmp_old.hex"), hex);
            EXPECT_FALSE(fs::exists(dir / "prog_tmp_old.sym"));
            for (const char* name : {"prog.hex", "prog.hxh", "prog.sym"})
                EXPECT_EQ(slurp(dir / name), slurp(ref / name));
            if (traced) {
                const std::string log = slurp(dir / "mrl.ifd");
                EXPECT_NE(log.find(std::string(kWarning) + "======= end =======\n"), std::string::npos) << log;
            }
        }
    }
#endif
}

// A disk that was full for one write of the trace log leaves a gap in it; the
// run says so as it says a failed last line, and the conversion itself still
// succeeds.
TEST(Moment, ATraceLogWithAGapIsReported) {
#ifndef MRL_FAULT_SHIM
    GTEST_SKIP() << "no preload library on this platform";
#else
    if (testutil::windows_program()) GTEST_SKIP() << "a library preloaded into a POSIX program";
    const fs::path fixtures = fs::path(MRL_E2E_DIR) / "fixtures";
    const TempDir tmp;
    fs::copy(fixtures / "worked" / "prog.hex", tmp / "prog.hex");
    fs::copy(fixtures / "worked" / "prog.sym", tmp / "prog.sym");
    const testutil::Outcome r = run_shimmed(tmp.path(), {"prog", "-Oout", "+info"}, "full-at-second-flush:mrl.ifd");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kBanner + std::string("\n== HEX file convert now == ( prog.hex --> out.hex )\n"
                                           "== SYM file convert now == ( prog.sym --> out.sym )\n"
                                           " Error : Can't create 'mrl.ifd' file\n"));
    EXPECT_TRUE(fs::exists(tmp / "out.hex"));
    EXPECT_TRUE(fs::exists(tmp / "out.sym"));
#endif
}

// mrl85-report keeps the long lists of a large file in a scratch file in
// the folder TMPDIR names. When that file cannot be written, the summary is
// not whole (status 2) and the message names the file; a TMPDIR where no
// file can be made keeps the rows in memory instead.
TEST(Moment, TheReportsScratchFileIsInTmpdirAndNamedWhenItFails) {
#ifndef MRL_FAULT_SHIM
    GTEST_SKIP() << "no preload library on this platform";
#else
    if (testutil::windows_program()) GTEST_SKIP() << "a library preloaded into a POSIX program";
    const TempDir tmp;
    spit(tmp / "prog.sym",
         "# SECTION INFORMATION\n0001 P 0 0 0 00000100 00000040 m.o\n\n# GLOBAL LABEL\nlo 100  hi 10000\n");
    fs::create_directory(tmp / "scratch");
    {
        const EnvSet tmpdir("TMPDIR", (tmp / "scratch").string());
        const testutil::ShimSet shim("full-at-flush: (deleted)");
        const testutil::Outcome r = testutil::run_report(tmp.path(), {"--sym", "prog"});
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.err.find("mrl85-report: the summary could not be written whole: cannot write the scratch file '" +
                             (tmp / "scratch").string() + "/"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
    }
    {
        const EnvSet tmpdir("TMPDIR", (tmp / "none").string());
        const testutil::Outcome r = testutil::run_report(tmp.path(), {"--sym", "prog"});
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("label dropped  hi 10000  line "), std::string::npos) << r.out;
    }
    EXPECT_TRUE(fs::is_empty(tmp / "scratch"));
#endif
}

}  // namespace
