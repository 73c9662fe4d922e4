// run_test.cpp: the trace log's exact form, messages, and the behaviour of
// the built program that the case folders cannot show (Ctrl-C, standard
// error).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "mrlpro.h"
#include "run/message.h"
#include "run/trace.h"
#include "symtest.h"
#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::slurp;
using testutil::TempDir;

const std::string kBanner =
    "HEX, SYM file converter for ZQ50 Series V.1.00.00\n"
    "Copyright (c) 2026 The mrl85 authors\n"
    "Released under the MIT License\n\n";

// The header, then the three trace operations, then the end line; the date is
// the start time in the fixed 25-character form with the day padded by a
// blank. Text is written as it stands, never read as a format.
TEST(RunTrace, WritesTheHeaderOperationsAndEndLineExactly) {
    setenv("TZ", "UTC0", 1);
    tzset();
    struct Case {
        long long when;
        const char* date;
    };
    const Case cases[] = {
        {0, "Thu Jan  1 00:00:00 1970"},
        {951782400, "Tue Feb 29 00:00:00 2000"},
        {1009843199, "Mon Dec 31 23:59:59 2001"},
        {1700000000, "Tue Nov 14 22:13:20 2023"},
    };
    const TempDir tmp;
    const fs::path& dir = tmp.path();
    const fs::path cwd = fs::current_path();
    for (const Case& c : cases) {
        symtest::reset();
        start_time = c.when;
        char a0[] = "mrl85", a1[] = "a%s%n", a2[] = "-Oout", a3[] = "+info";
        char* argv[] = {a0, a1, a2, a3};
        fs::current_path(dir);
        trace_open(4, argv);
        trace_open(4, argv);  // a repeated +info changes nothing
        trace_str("100% %s %n\n");
        trace_int(-7);
        trace_str("\n");
        trace_line(L_AFTER_HEX);
        close_file(S_TRACE);
        trace_str("after the end\n");  // the trace is off again
        fs::current_path(cwd);
        EXPECT_EQ(slurp(dir / "mrl.ifd"), std::string("===== HEX, SYM convertor V.1.00.00 =====\n   ") + c.date +
                                              "\n\nargment : mrl85 a%s%n -Oout +info \n-----------------------\n"
                                              "100% %s %n\n-7\nMRL(1979)\n======= end =======\n");
        EXPECT_EQ(open_flag[S_TRACE], 0);
    }
}

TEST(RunMessages, ShowTheNumberedTextWithTheArgumentAsText) {
    symtest::reset();
    ::testing::internal::CaptureStdout();
    error_msg(E_CANT_OPEN, "a%s%d%n.hex");
    error_msg(E_TEMP_FILE);
    error_msg(E_MANY_INPUTS, "ignored");
    warning_msg(1, "out%.hex");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              " Error : Can't open 'a%s%d%n.hex' file\n"
              " Error : Can't create temporary file\n"
              " Error : Hex files number exceed 1\n"
              " Warning : Output data to the 'out%.hex' file doesn't exist\n");
    EXPECT_EQ(last_error, E_MANY_INPUTS);
}

// The end line of a trace log that cannot be written gives error 7 naming
// the log, and the run goes on with the trace off.
TEST(RunMessages, AFailedTraceEndLineIsReportedAndTheRunGoesOn) {
    symtest::reset();
    trace_fp = std::fopen("/dev/full", "w");
    ASSERT_NE(trace_fp, nullptr);
    open_flag[S_TRACE] = 1;
    ::testing::internal::CaptureStdout();
    close_file(S_TRACE);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), " Error : Can't create 'mrl.ifd' file\n");
    EXPECT_EQ(open_flag[S_TRACE], 0);
    EXPECT_EQ(last_error, E_CANT_CREATE);
}

// An interrupt in the middle of the HEX pass ends the run as a failure
// does: the outputs made so far are removed (kept with +info, for
// inspection), in place the inputs stay as they were. Ctrl-C prints a line
// end and ends with status 1; termination and hang-up end the process by
// their own signal.
TEST(RunInterrupt, AnInterruptRemovesTheOutputsMadeSoFar) {
    struct Case {
        int sig;
        std::vector<std::string> args;
        int status;
        const char* tail;               // standard output after the pass's announcement
        std::vector<std::string> left;  // the files of the run directory afterwards
    };
    const Case cases[] = {
        {SIGINT, {"prog", "-Oout", "-H"}, 1, "\n", {"prog.hex"}},
        {SIGTERM, {"prog", "-Oout", "-H"}, 128 + SIGTERM, "", {"prog.hex"}},
        {SIGHUP, {"prog", "-Oout", "-H"}, 128 + SIGHUP, "", {"prog.hex"}},
        {SIGINT, {"prog", "-Oprog", "-H"}, 1, "\n", {"prog.hex"}},
        {SIGTERM, {"prog", "-Oprog", "-H"}, 128 + SIGTERM, "", {"prog.hex"}},
        {SIGINT, {"prog", "-Oout", "-H", "+info"}, 1, "\n", {"mrl.ifd", "out.hex", "out.hxh", "prog.hex"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("signal " + std::to_string(c.sig) + " with " + c.args[1]);
        const TempDir tmp;
        const fs::path& dir = tmp.path();
        ASSERT_EQ(mkfifo((dir / "prog.hex").c_str(), 0600), 0);
        const std::string out = c.args[1] == "-Oprog" ? "prog.hex" : "out.hex";
        const std::string now = "\n== HEX file convert now == ( prog.hex --> " + out + " )\n";
        testutil::Process p(dir, c.args);
        // The program opens the input, which waits for this writer.
        const int writer = testutil::open_fifo_writer(dir / "prog.hex", std::chrono::seconds(20));
        ASSERT_GE(writer, 0) << "the program never opened its input";
        const std::string line = ":02000000AABB99\n";
        EXPECT_EQ(write(writer, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        // Once the pass has announced itself it is waiting for more input.
        EXPECT_TRUE(p.wait_for_output(now, std::chrono::seconds(20)));
        kill(p.pid(), c.sig);
        const testutil::Outcome r = p.finish();
        close(writer);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, kBanner + now + c.tail);
        EXPECT_EQ(r.err, "");
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(dir)) left.push_back(e.path().filename().string());
        std::sort(left.begin(), left.end());
        EXPECT_EQ(left, c.left);
    }
}

// Whatever happens, standard error stays silent.
TEST(RunProgram, NothingGoesToStandardError) {
    const TempDir tmp;
    const std::vector<std::vector<std::string>> lines = {
        {}, {"-V"}, {"one", "two", "-X", "+info"}, {"prog", "-Oout"}, {std::string(300, 'a'), "-Oout"},
    };
    for (const auto& args : lines) {
        const testutil::Outcome r = testutil::run(tmp.path(), args);
        EXPECT_NE(r.out, "");
        EXPECT_EQ(r.err, "") << (args.empty() ? "" : args[0]);
    }
}

}  // namespace
