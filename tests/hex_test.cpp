// hex_test.cpp: record classification and the HEX pass over inputs too big
// for a case folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "hex/hex.h"
#include "mrl85/options.h"
#include "mrlpro.h"
#include "run/message.h"
#include "run/textfile.h"
#include "symtest.h"
#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using testutil::slurp;

void fresh_start() {
    symtest::reset();
    input_hex = "prog.hex";
}

TEST(HexRecord, ClassifiesByTheTwoTypeCharacters) {
    fresh_start();
    struct Case {
        const char* line;
        int want;
    };
    const Case cases[] = {
        {":02000000AABB99\n", 1},  // data
        {":02010081010279\n", 1},  // data, type 81
        {":00000001FF\n", 2},      // end
        {":00000001FF", 2},        // end, 11 characters without a line end
        {":000000000\n", 1},       // 10 characters and the line end are long enough
        {":020000021000EC\n", 0},  // segment
        {":020000020fffee\n", 0},  // lower case outside the type
        {":??????00ZZ\r\n", 1},    // nothing but the mark, length and type is examined
    };
    for (const Case& c : cases) EXPECT_EQ(record(c.line), c.want) << c.line;
}

// A bad line ends the run with status 3; standard output shows the error and
// the trace log the place of the check.
TEST(HexRecordDeathTest, EveryFormatErrorHasItsOwnPlace) {
    struct Case {
        const char* line;
        int place;
    };
    const Case cases[] = {
        {"\n", 537},
        {" :00000001FF\n", 537},
        {"00000001FF\n", 537},
        {":\n", 541},
        {":0000001F\n", 541},
        {":00000001\n", 541},
        {":02000012AABB99\n", 553},
        {":02000082AABB99\n", 553},
        {":020000F2AABB99\n", 553},
        {":02000010AABB99\n", 561},
        {":02000080AABB99\n", 561},
        {":020000A0AABB99\n", 561},
        {":02000011AABB99\n", 571},
        {":02000091AABB99\n", 571},
        {":020000F1AABB99\n", 571},
        {":02000003AABB99\n", 576},
        {":02000004AABB99\n", 576},
        {":02000005AABB99\n", 576},
        {":02000083AABB99\n", 576},
        {":0200000AAABB99\n", 576},
        {":0200000aAABB99\n", 576},
    };
    const testutil::TempDir tmp;
    const fs::path& dir = tmp.path();
    const fs::path out = dir / "stdout.txt", log = dir / "trace.ifd";
    for (const Case& c : cases) {
        fresh_start();
        EXPECT_EXIT(
            {
                if (std::freopen(out.c_str(), "w", stdout) == nullptr) std::_Exit(99);
                trace_fp = std::fopen(log.c_str(), "w");
                open_flag[S_TRACE] = 1;
                record(c.line);
            },
            ::testing::ExitedWithCode(3), "")
            << c.line;
        EXPECT_EQ(slurp(out), " Error : File format error (prog.hex)\n") << c.line;
        EXPECT_EQ(slurp(log), "=== record() ===\n Error : File format error (prog.hex)\n++++++++++ Error exit at " +
                                  std::to_string(c.place) + " ++++++++++\n======= end =======\n")
            << c.line;
    }
}

// The model of the pass: route each line by the last segment record, the end
// record to each output that has something, one more line read and dropped.
void model(const std::string& input, std::string& low, std::string& high) {
    std::istringstream in(input);
    std::string line;
    bool to_high = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line += '\n';
        const std::string type = line.substr(7, 2);
        if (type == "02") {
            to_high = line[9] != '0';
            if (to_high) high += line;
        } else if (type == "01") {
            if (!low.empty()) low += line;
            if (!high.empty()) high += line;
            return;
        } else {
            (to_high ? high : low) += line;
        }
    }
}

// Several megabytes through the block buffers on both sides, with CR LF and
// LF ends mixed, segment values of every first digit, records from the
// shortest (10 characters) to the longest (254), and a line after the end
// record that is never examined. With the trace off most lines are copied a
// block at a time, with it on every line is classified on its own: both must
// give the model's outputs.
TEST(HexPass, CopiesABigInputByteForByte) {
    std::mt19937 rng(1979);
    const char* digits = "0123456789ABCDEF";
    std::string input;
    while (input.size() < 5 * (size_t{1} << 20)) {
        std::string line;
        switch (rng() % 10) {
            case 0: line = std::string(":02000002") + digits[rng() % 16] + "000EC"; break;
            case 1: line = ":02010081010279"; break;
            case 2: line = ":000000000"; break;
            default: {
                line = ":10000000";
                const size_t bytes = rng() % 122;  // up to 254 characters and the line end
                for (size_t i = 0; i < 2 * bytes; ++i) line += digits[rng() % 16];
                line += "7F";
            }
        }
        input += line + (rng() % 3 == 0 ? "\r\n" : "\n");
    }
    input += ":00000001FF\r\nnot a record\n:02000000AABB99\n";
    std::string low, high;
    model(input, low, high);
    ASSERT_FALSE(low.empty());
    ASSERT_FALSE(high.empty());

    const testutil::TempDir tmp;
    const fs::path& dir = tmp.path();
    const fs::path cwd = fs::current_path();
    {
        std::ofstream file(dir / "big.hex", std::ios::binary);
        file << input;
    }
    for (const bool traced : {false, true}) {
        fresh_start();
        fs::current_path(dir);
        if (traced) {
            trace_fp = std::fopen("trace.ifd", "w");
            open_flag[S_TRACE] = 1;
        }
        input_name = "big";
        output_name = "out";
        do_sym = 0;
        ::testing::internal::CaptureStdout();
        file_set();
        data_make();
        const std::string said = ::testing::internal::GetCapturedStdout();
        if (traced) close_file(S_TRACE);
        fs::current_path(cwd);

        EXPECT_EQ(said, "\n== HEX file convert now == ( big.hex --> out.hex )\n");
        EXPECT_EQ(open_flag[S_IN_HEX] + open_flag[S_OUT_HEX] + open_flag[S_OUT_HXH], 0) << "slots 0, 2, 3 closed";
        EXPECT_TRUE(slurp(dir / "out.hex") == low) << "output HEX file differs, trace " << traced;
        EXPECT_TRUE(slurp(dir / "out.hxh") == high) << "high HEX file differs, trace " << traced;
    }
}

// A sink that keeps what the pass hands it: the lines of each output, and
// every line read.
class Recorder final : public HexSink {
public:
    explicit Recorder(bool to_end) : to_end_(to_end) {}
    void seen(std::string_view line) override { seen_.emplace_back(line); }
    void routed(std::string_view line, int /*cls*/, int dest) override {
        if (dest & kToLow) low_.append(line);
        if (dest & kToHigh) high_.append(line);
    }
    bool reads_to_end() const override { return to_end_; }
    void read_failed(bool /*after_end*/) override { failed_ = true; }

    bool to_end_;
    bool failed_ = false;
    std::vector<std::string> seen_;
    std::string low_, high_;
};

// A sink that takes no runs is handed every line one by one, routed as the
// writer routes it, also with the trace off; after the end record the pass
// reads one more line, or on to the end of the input when the sink asks.
TEST(HexPass, ASinkSeesEveryLineRoutedAsTheOutputsGetIt) {
    const std::string low1 = ":02000000AABB99\n", seg_high = ":020000021000EC\n", high1 = ":02010081010279\n",
                      seg_low = ":020000020000FC\n", end = ":00000001FF\n";
    const std::string input = low1 + seg_high + high1 + seg_low + low1 + end + "after one\nafter two\n";
    const testutil::TempDir tmp;
    {
        std::ofstream file(tmp / "in.hex", std::ios::binary);
        file << input;
    }
    for (const bool to_end : {false, true}) {
        fresh_start();
        InFile in;
        ASSERT_TRUE(in.open((tmp / "in.hex").string(), InputPass::kHex));
        Recorder sink(to_end);
        HexRoute route;
        hex_pass(in, sink, route);
        EXPECT_FALSE(sink.failed_);
        EXPECT_EQ(sink.low_, low1 + low1 + end);
        EXPECT_EQ(sink.high_, seg_high + high1 + end);
        ASSERT_EQ(sink.seen_.size(), to_end ? 8u : 7u);
        EXPECT_EQ(sink.seen_.back(), to_end ? "after two\n" : "after one\n");
        EXPECT_TRUE(route.low_got && route.high_got);
    }
}

}  // namespace
