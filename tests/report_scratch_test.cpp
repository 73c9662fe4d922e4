// report_scratch_test.cpp: the report's scratch store gives back exactly the
// bytes and rows put in, in order, as often as it is read, whether they went
// to a scratch file or stayed in memory (no scratch file could be made).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/scratch.h"
#include "testutil.h"

namespace {

using report::ScratchStore;

// Rows of every length that crosses the store's 64 KiB blocks: short ones
// around a block's end, one longer than two blocks, an empty one, and a
// last one without a line end.
std::string rows_text() {
    std::string t;
    for (int i = 0; i < 9000; ++i) t += "row " + std::to_string(i) + "\n";
    t += std::string(150000, 'x') + "\n";
    t += "\n";
    for (int i = 0; i < 9000; ++i) t += std::to_string(i * 7) + "\n";
    t += "last";
    return t;
}

std::vector<std::string> rows_of(const std::string& t) {
    std::vector<std::string> rows;
    size_t at = 0;
    while (at < t.size()) {
        size_t end = t.find('\n', at);
        if (end == std::string::npos) end = t.size();
        rows.push_back(t.substr(at, end - at));
        at = end + 1;
    }
    return rows;
}

TEST(ReportScratch, RowsAndBytesComeBackAsTheyWentIn) {
    const std::string text = rows_text();
    const std::vector<std::string> want = rows_of(text);
    for (const bool in_file : {true, false}) {
        SCOPED_TRACE(in_file ? "scratch file" : "in memory");
        const testutil::TempDir tmp;
        const testutil::EnvSet dir("TMPDIR", (in_file ? tmp.path() : tmp / "missing").string());
        ScratchStore store;
        // Added in pieces of odd sizes, as the callers add them.
        for (size_t at = 0; at < text.size(); at += 1000)
            store.add(text.data() + at, std::min<size_t>(1000, text.size() - at));
        ASSERT_TRUE(store.written()) << store.fault();
        for (int reading = 0; reading < 2; ++reading) {
            ScratchStore::Reader rows(store);
            std::vector<std::string> got;
            for (std::string_view row; rows.next_row(row);) got.emplace_back(row);
            EXPECT_EQ(got, want);
            EXPECT_TRUE(rows.at_end());
        }
        // Fixed-size reads, and a read past the end that fails.
        ScratchStore::Reader bytes(store);
        std::string back;
        const char* p = nullptr;
        while (bytes.next(333, &p)) back.append(p, 333);
        const size_t rest = text.size() - back.size();
        ASSERT_LT(rest, 333u);
        ASSERT_TRUE(bytes.next(rest, &p));
        back.append(p, rest);
        EXPECT_EQ(back, text);
        EXPECT_FALSE(bytes.next(1, &p));
        EXPECT_EQ(store.fault(), "");
    }
}

}  // namespace
