// lineends_test.cpp: the 64-byte line feed finder against a plain search.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "run/lineends.h"

namespace {

std::vector<size_t> found(const std::string& text, size_t from, size_t to) {
    std::vector<size_t> at;
    LineEnds ends(text.data() + from, text.data() + to);
    for (const char* p = ends.next(); p != nullptr; p = ends.next()) at.push_back(static_cast<size_t>(p - text.data()));
    return at;
}

std::vector<size_t> plain(const std::string& text, size_t from, size_t to) {
    std::vector<size_t> at;
    for (size_t i = from; i < to; ++i)
        if (text[i] == '\n') at.push_back(i);
    return at;
}

// Stretches of every length around the 64-byte steps, at every alignment,
// with line feeds sparse and dense, and a line feed right after the stretch
// that must not be reported.
TEST(LineEnds, FindsEveryLineFeedOfTheStretchAndNoOther) {
    std::mt19937 rng(64);
    for (const int density : {1, 8, 64, 300}) {
        std::string text(600, 'x');
        for (char& c : text)
            if (rng() % density == 0) c = '\n';
        for (size_t from = 0; from < 70; from += 3)
            for (size_t to = from; to <= from + 260; ++to) {
                ASSERT_EQ(found(text, from, to), plain(text, from, to))
                    << "density " << density << " from " << from << " to " << to;
            }
    }
}

TEST(LineEnds, EmptyStretchHasNoLineFeed) {
    const std::string text = "\n";
    LineEnds ends(text.data(), text.data());
    EXPECT_EQ(ends.next(), nullptr);
}

}  // namespace
