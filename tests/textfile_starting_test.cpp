// textfile_starting_test.cpp: the reader's jump to the next line that begins
// with a given character, which the first pass over the symbol file uses. It
// must find exactly the lines that reading line by line and keeping those
// that begin with the character would find, pieces of long lines included.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "run/textfile.h"
#include "testutil.h"

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

// The lines get_line gives, keeping those whose first character is `c`
// (mode "filter"), or the lines get_line_starting gives (mode "jump").
Lines read(const std::string& bytes, char c, bool jump) {
    const testutil::TempDir tmp;
    const fs::path p = tmp / "in.sym";
    testutil::spit(p, bytes);
    InFile f;
    EXPECT_TRUE(f.open(p.string()));
    Lines lines;
    std::string_view line;
    int got;
    while ((got = jump ? f.get_line_starting(c, line) : f.get_line(line)) == 1)
        if (!line.empty() && line[0] == c) lines.emplace_back(line);
    EXPECT_EQ(got, 0);
    f.close();
    return lines;
}

TEST(TextFileReaderJump, FindsTheLinesThatBeginWithTheCharacter) {
    const std::string c255(255, 'x'), c300(300, 'y');
    struct Case {
        const char* what;
        std::string bytes;
        Lines want;
    };
    const Case cases[] = {
        {"headers between data lines", "a\n# ONE\nb # not\n# TWO\r\nc\n", {"# ONE\n", "# TWO\n"}},
        {"first line and last line without LF", "# A\nx\n# B", {"# A\n", "# B"}},
        {"a piece of a long line that begins with #", c255 + "# piece\nz\n", {"# piece\n"}},
        {"# inside a long line but not at a piece start", c300 + "#\n" + c300 + "\n", {}},
        {"# in a line after a long line", c300 + "\n# after\n", {"# after\n"}},
        {"none", "a\nb\n", {}},
        {"empty file", "", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read(c.bytes, '#', true), c.want) << c.what;
        EXPECT_EQ(read(c.bytes, '#', false), c.want) << "filter: " << c.what;
    }
}

// Random text of about 1 MiB: lines of 0 to 700 characters, some beginning
// with "#", "#" also inside lines and at 255-character piece starts, CR LF
// and lone CR ends, so that every case meets a block boundary somewhere.
TEST(TextFileReaderJump, AgreesWithLineByLineReadingOnRandomText) {
    std::mt19937 rng(8085);
    for (int round = 0; round < 3; ++round) {
        std::string text;
        while (text.size() < (size_t{1} << 20) + 333) {
            const size_t len = rng() % 8 == 0 ? rng() % 700 : rng() % 40;
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
        EXPECT_EQ(read(text, '#', true), read(text, '#', false)) << "round " << round;
    }
}

}  // namespace
