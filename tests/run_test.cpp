// run_test.cpp: the trace log's exact form, messages, and the behaviour of
// the built program that the case folders cannot show (Ctrl-C, standard
// error).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
    EXPECT_EQ(last_warning, 1);
}

// The end line of a trace log that cannot be written gives error 7 with an
// empty name, and the run goes on with the trace off.
TEST(RunMessages, AFailedTraceEndLineIsReportedAndTheRunGoesOn) {
    symtest::reset();
    trace_fp = std::fopen("/dev/full", "w");
    ASSERT_NE(trace_fp, nullptr);
    open_flag[S_TRACE] = 1;
    ::testing::internal::CaptureStdout();
    close_file(S_TRACE);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), " Error : Can't create '' file\n");
    EXPECT_EQ(open_flag[S_TRACE], 0);
    EXPECT_EQ(last_error, E_CANT_CREATE);
}

// Ctrl-C in the middle of the HEX pass: a line end on standard output,
// status 1, and no clean-up, so the outputs created so far stay.
TEST(RunInterrupt, CtrlCPrintsALineEndAndEndsWithStatus1) {
    const TempDir tmp;
    const fs::path& dir = tmp.path();
    ASSERT_EQ(mkfifo((dir / "prog.hex").c_str(), 0600), 0);
    const std::string now = "\n== HEX file convert now == ( prog.hex --> out.hex )\n";
    testutil::Process p(dir, {"prog", "-Oout", "-H"});
    // The program opens the input, which waits for this writer.
    int writer = -1;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (writer < 0 && std::chrono::steady_clock::now() < give_up) {
        writer = open((dir / "prog.hex").c_str(), O_WRONLY | O_NONBLOCK);
        if (writer < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(writer, 0) << "the program never opened its input";
    const std::string line = ":02000000AABB99\n";
    EXPECT_EQ(write(writer, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    // Once the pass has announced itself it is waiting for more input.
    EXPECT_TRUE(p.wait_for_output(now, std::chrono::seconds(20)));
    kill(p.pid(), SIGINT);
    const testutil::Outcome r = p.finish();
    close(writer);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kBanner + now + "\n");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(fs::exists(dir / "out.hex"));
    EXPECT_TRUE(fs::exists(dir / "out.hxh"));
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
