// textfile_starting_test.cpp: the reader's jump to the next line that begins
// with a given character, which the first pass over the symbol file uses. It
// must find exactly the lines that reading whole line by whole line and
// keeping those that begin with the character would find: the character at
// the start of a piece of a long line is not the start of a line.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "run/textfile.h"
#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

// The whole lines get_long_line gives, keeping those whose first character
// is `c` (mode "filter"), or the lines get_long_line_starting gives (mode
// "jump"), each gathered from its pieces. In "jump" mode every second line
// found is left unfinished, so the jump also has to pass over the rest.
Lines read(const std::string& bytes, char c, bool jump) {
    const testutil::TempDir tmp;
    const fs::path p = tmp / "in.sym";
    testutil::spit(p, bytes);
    InFile f;
    EXPECT_TRUE(f.open(p.string(), InputPass::kSym));
    Lines lines;
    std::string_view line;
    bool more = false;
    int got;
    while ((got = jump ? f.get_long_line_starting(c, line, more) : f.get_long_line(line, more)) == 1) {
        if (line[0] != c) continue;
        std::string whole(line);
        if (jump && more && lines.size() % 2 == 1) {
            whole = "unfinished " + whole.substr(0, 10);
        } else {
            while (more && f.get_more(line, more) == 1) whole += line;
        }
        lines.push_back(whole);
    }
    EXPECT_EQ(got, 0);
    f.close();
    return lines;
}

TEST(TextFileReaderJump, FindsTheLinesThatBeginWithTheCharacter) {
    const std::string c255(255, 'x'), c300(300, 'y'), block(kTextBlock, 'z');
    struct Case {
        const char* what;
        std::string bytes;
        Lines want;
    };
    const Case cases[] = {
        {"headers between data lines", "a\n# ONE\nb # not\n# TWO\r\nc\n", {"# ONE\n", "# TWO\n"}},
        {"first line and last line without LF", "# A\nx\n# B", {"# A\n", "# B"}},
        {"# after 255 characters is inside the line", c255 + "# piece\nz\n", {}},
        {"# at the start of the second block of a line", block + "# piece\n# real\n", {"# real\n"}},
        {"# inside a long line", c300 + "#\n" + c300 + "\n", {}},
        {"# in a line after a long line", c300 + "\n# after\n", {"# after\n"}},
        {"a header longer than the block", "a\n# " + block + "\r\n# next\n", {"# " + block + "\n", "# next\n"}},
        {"none", "a\nb\n", {}},
        {"empty file", "", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read(c.bytes, '#', true), c.want) << c.what;
        EXPECT_EQ(read(c.bytes, '#', false), c.want) << "filter: " << c.what;
    }
}

// Random text of about 1.5 MiB: lines mostly short, some longer than the
// block, some beginning with "#", "#" also inside lines and at piece and
// block starts, CR LF and lone CR ends, so that every case meets a block
// boundary somewhere.
TEST(TextFileReaderJump, AgreesWithLineByLineReadingOnRandomText) {
    std::mt19937 rng(8085);
    for (int round = 0; round < 3; ++round) {
        std::string text;
        while (text.size() < (size_t{3} << 19) + 333) {
            const unsigned kind = rng() % 400;
            const size_t len = kind == 0 ? rng() % (2 * kTextBlock) : kind < 50 ? rng() % 700 : rng() % 40;
            for (size_t i = 0; i < len; ++i) {
                const unsigned r = rng() % 100;
                text += r < 3 || (i % 255 == 0 && r < 30) ? '#' : static_cast<char>('a' + r % 26);
            }
            switch (rng() % 5) {
                case 0: text += "\r\n"; break;
                case 1: text += "\r"; break;
                default: text += "\n"; break;
            }
        }
        Lines jumped = read(text, '#', true), filtered = read(text, '#', false);
        ASSERT_EQ(jumped.size(), filtered.size()) << "round " << round;
        for (size_t i = 0; i < jumped.size(); ++i) {
            const bool unfinished = jumped[i].rfind("unfinished ", 0) == 0;
            EXPECT_EQ(jumped[i], unfinished ? "unfinished " + filtered[i].substr(0, 10) : filtered[i])
                << "round " << round << " line " << i;
        }
    }
}

}  // namespace
