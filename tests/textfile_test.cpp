// textfile_test.cpp: the line reader and writer both passes share.
//
// A carriage return right before a line feed is removed first. Then the HEX
// pass's reads give at most 255 characters each, line end kept, as a
// text-mode line reader with a 256-byte buffer would; the symbol file's
// reads give whole lines of any length, a line longer than the block in
// pieces that are marked as such.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "run/textfile.h"
#include "testutil.h"

namespace fs = std::filesystem;

namespace {

// Every line the reader gives for `bytes`.
std::vector<std::string> read_lines(const std::string& bytes) {
    const testutil::TempDir tmp;
    const fs::path p = tmp / "in.txt";
    testutil::spit(p, bytes);
    InFile f;
    EXPECT_TRUE(f.open(p.string(), InputPass::kSym));
    std::vector<std::string> lines;
    std::string_view line;
    int got;
    while ((got = f.get_line(line)) == 1) lines.emplace_back(line);
    EXPECT_EQ(got, 0);
    f.close();
    return lines;
}

// Every whole line the reader gives for `bytes`, each gathered from its
// pieces. `pieces` counts the pieces that were marked to be followed by more.
std::vector<std::string> read_long_lines(const std::string& bytes, size_t* pieces = nullptr) {
    const testutil::TempDir tmp;
    const fs::path p = tmp / "in.sym";
    testutil::spit(p, bytes);
    InFile f;
    EXPECT_TRUE(f.open(p.string(), InputPass::kSym));
    std::vector<std::string> lines;
    std::string_view line;
    bool more = false;
    int got;
    size_t cut = 0;
    while ((got = f.get_long_line(line, more)) == 1) {
        std::string whole(line);
        while (more) {
            ++cut;
            EXPECT_EQ(f.get_more(line, more), 1);
            whole += line;
        }
        EXPECT_EQ(f.get_more(line, more), 0) << "nothing is left of a finished line";
        lines.push_back(whole);
    }
    EXPECT_EQ(got, 0);
    f.close();
    if (pieces != nullptr) *pieces = cut;
    return lines;
}

// The text without each CR that directly precedes a LF.
std::string without_crlf_cr(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i)
        if (!(bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')) text += bytes[i];
    return text;
}

// The model of whole lines: drop each CR that directly precedes a LF, then
// cut the text after every LF.
std::vector<std::string> model_long_lines(const std::string& bytes) {
    const std::string text = without_crlf_cr(bytes);
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t lf = text.find('\n', at);
        size_t end = lf == std::string::npos ? text.size() : lf + 1;
        lines.push_back(text.substr(at, end - at));
        at = end;
    }
    return lines;
}

// The model: drop each CR that directly precedes a LF, then cut the text
// into reads of at most 255 characters that end after a LF.
std::vector<std::string> model_lines(const std::string& bytes) {
    const std::string text = without_crlf_cr(bytes);
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        size_t n = 0;
        while (at + n < text.size() && n < 255) {
            ++n;
            if (text[at + n - 1] == '\n') break;
        }
        lines.push_back(text.substr(at, n));
        at += n;
    }
    return lines;
}

using Lines = std::vector<std::string>;

TEST(TextFileReader, GivesTextModeLinesOfAtMost255Characters) {
    const std::string c254(254, 'a'), c255(255, 'b'), c600(600, 'c');
    struct Case {
        const char* what;
        std::string bytes;
        Lines want;
    };
    const Case cases[] = {
        {"plain lines", "one\ntwo\n", {"one\n", "two\n"}},
        {"empty lines", "\n\nx\n", {"\n", "\n", "x\n"}},
        {"CR LF ends", "one\r\ntwo\r\n", {"one\n", "two\n"}},
        {"lone CR kept", "a\rb\n\r", {"a\rb\n", "\r"}},
        {"CR CR LF keeps one CR", "a\r\r\n", {"a\r\n"}},
        {"last line without LF", "one\ntwo", {"one\n", "two"}},
        {"254 characters and CR LF fit one read", c254 + "\r\n", {c254 + "\n"}},
        {"255 characters and LF need two reads", c255 + "\n", {c255, "\n"}},
        {"255 characters and CR LF need two reads", c255 + "\r\nz\n", {c255, "\n", "z\n"}},
        {"254 characters, CR, CR LF", c254 + "\r\r\n", {c254 + "\r", "\n"}},
        {"600-character line in pieces",
         c600 + "\n",
         {c600.substr(0, 255), c600.substr(255, 255), c600.substr(510) + "\n"}},
        {"600-character last line without LF", c600, {c600.substr(0, 255), c600.substr(255, 255), c600.substr(510)}},
        {"empty file", "", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(read_lines(c.bytes), c.want) << c.what;
        EXPECT_EQ(model_lines(c.bytes), c.want) << "model: " << c.what;
    }
}

// The reader works in blocks of kTextBlock bytes; a line, a CR LF pair or a
// 255-character piece that straddles a block boundary must read as if there
// were none.
TEST(TextFileReader, ReadsAcrossBlockBoundaries) {
    // A CR at the last byte of the first block and its LF at the first byte
    // of the next, then a long line that spans the second boundary.
    std::string bytes = "head\n" + std::string(kTextBlock - 1 - 5, 'x');
    bytes += "\r\n";
    bytes += std::string(kTextBlock - 100, 'y') + "\r\n";
    bytes += "tail";
    EXPECT_EQ(read_lines(bytes), model_lines(bytes));

    // Random lines of 0 to 600 characters with CR LF, lone CR and LF ends,
    // many blocks in all, so that every kind of line meets a boundary.
    std::mt19937 rng(85);
    for (int round = 0; round < 2; ++round) {
        std::string text;
        while (text.size() < 12 * kTextBlock + 777) {
            const size_t len = rng() % 601;
            for (size_t i = 0; i < len; ++i) text += static_cast<char>('!' + rng() % 90);
            switch (rng() % 4) {
                case 0: text += "\r\n"; break;
                case 1: text += "\r"; break;
                default: text += "\n"; break;
            }
        }
        EXPECT_EQ(read_lines(text), model_lines(text)) << "round " << round;
    }
}

TEST(TextFileLongLines, GivesWholeLinesOfAnyLength) {
    const std::string c255(255, 'b'), c300(300, 'c'), block(kTextBlock, 'd'), big(3 * kTextBlock + 5, 'e');
    struct Case {
        const char* what;
        std::string bytes;
        Lines want;
        size_t cut;  // pieces followed by more of the same line
    };
    const Case cases[] = {
        {"plain lines, CR LF and lone CR", "one\r\ntwo\n\r\na\rb\n", {"one\n", "two\n", "\n", "a\rb\n"}, 0},
        {"255 characters and LF", c255 + "\n", {c255 + "\n"}, 0},
        {"300 characters and CR LF", c300 + "\r\nz\n", {c300 + "\n", "z\n"}, 0},
        {"300-character last line without LF", "a\n" + c300, {"a\n", c300}, 0},
        {"a line as long as the block", block + "\r\nz\n", {block + "\n", "z\n"}, 1},
        {"a line of three blocks", "a\n" + big + "\n" + c300 + "\n", {"a\n", big + "\n", c300 + "\n"}, 3},
        {"a last line of three blocks without LF", big, {big}, 3},
        {"empty file", "", {}, 0},
    };
    for (const Case& c : cases) {
        size_t cut = 0;
        EXPECT_EQ(read_long_lines(c.bytes, &cut), c.want) << c.what;
        EXPECT_EQ(cut, c.cut) << c.what;
        EXPECT_EQ(model_long_lines(c.bytes), c.want) << "model: " << c.what;
    }
}

// A CR LF pair split by the end of a full block stays one line end: a piece
// never ends in the CR, and the line is whole without it.
TEST(TextFileLongLines, CarriageReturnAtTheEndOfAFullBlock) {
    for (size_t len : {kTextBlock - 2, kTextBlock - 1, kTextBlock, kTextBlock + 1}) {
        const std::string bytes = std::string(len, 'x') + "\r\n" + std::string(len, 'y') + "\r\rz\r\n";
        EXPECT_EQ(read_long_lines(bytes), model_long_lines(bytes)) << len;
    }
}

// A caller that does not want the rest of a long line reads the next line;
// the rest is passed over, and no piece of it comes as a line.
TEST(TextFileLongLines, UnreadPiecesArePassedOver) {
    const testutil::TempDir tmp;
    const fs::path p = tmp / "skip.sym";
    const std::string big(2 * kTextBlock + 77, '#');
    testutil::spit(p, "first " + big + "\r\nsecond\n" + big + "\nthird");
    InFile f;
    ASSERT_TRUE(f.open(p.string(), InputPass::kSym));
    std::string_view line;
    bool more = false;
    ASSERT_EQ(f.get_long_line(line, more), 1);
    EXPECT_TRUE(more);
    EXPECT_EQ(line.substr(0, 6), "first ");
    ASSERT_EQ(f.get_long_line(line, more), 1);
    EXPECT_EQ(line, "second\n");
    EXPECT_FALSE(more);
    ASSERT_EQ(f.get_long_line(line, more), 1);
    ASSERT_TRUE(more);
    ASSERT_EQ(f.get_more(line, more), 1);  // one more piece, then leave it
    ASSERT_EQ(f.get_long_line(line, more), 1);
    EXPECT_EQ(line, "third");
    EXPECT_EQ(f.get_long_line(line, more), 0);
    f.close();
}

// The unread block of a pass that takes whole lines itself starts at a line:
// what is left of a long line begun with get_long_line is passed over first.
TEST(TextFileLongLines, UnreadBlockStartsAfterALineBegun) {
    const testutil::TempDir tmp;
    const fs::path p = tmp / "unread.sym";
    const std::string big(2 * kTextBlock + 77, 'x');
    testutil::spit(p, "a\n" + big + "\nnext\nlast\n");
    InFile f;
    ASSERT_TRUE(f.open(p.string(), InputPass::kSym));
    std::string_view line;
    bool more = false;
    ASSERT_EQ(f.get_long_line(line, more), 1);
    std::string_view block = f.unread();
    EXPECT_EQ(block.substr(0, 3), "xxx");
    ASSERT_EQ(f.get_long_line(line, more), 1);
    ASSERT_TRUE(more);
    block = f.unread();
    EXPECT_EQ(block, "next\nlast\n");
    f.advance(5);
    ASSERT_EQ(f.get_long_line(line, more), 1);
    EXPECT_EQ(line, "last\n");
    EXPECT_TRUE(f.unread().empty());
    f.close();
}

// Random lines, mostly short, some longer than a block, with CR LF, lone CR
// and LF ends, so that every kind of line end meets a block boundary.
TEST(TextFileLongLines, AgreesWithTheModelOnRandomText) {
    std::mt19937 rng(8501);
    for (int round = 0; round < 2; ++round) {
        std::string text;
        while (text.size() < 10 * kTextBlock + 333) {
            const unsigned kind = rng() % 50;
            const size_t len = kind == 0 ? rng() % (3 * kTextBlock) : kind < 5 ? rng() % 1000 : rng() % 60;
            for (size_t i = 0; i < len; ++i) text += rng() % 97 == 0 ? '\r' : static_cast<char>('!' + rng() % 90);
            switch (rng() % 4) {
                case 0: text += "\r\n"; break;
                case 1: text += "\r"; break;
                default: text += "\n"; break;
            }
        }
        EXPECT_EQ(read_long_lines(text), model_long_lines(text)) << "round " << round;
    }
}

TEST(TextFileReader, ReportsAReadErrorOnADirectory) {
    const testutil::TempDir tmp;
    const fs::path dir = tmp / "dir.hex";
    fs::create_directories(dir);
    InFile f;
    std::string_view line;
    ASSERT_TRUE(f.open(dir.string(), InputPass::kSym));  // opening a directory succeeds here; reading it fails
    EXPECT_EQ(f.get_line(line), -1);
    f.close();
    bool more = false;
    ASSERT_TRUE(f.open(dir.string(), InputPass::kSym));
    EXPECT_EQ(f.get_long_line(line, more), -1);
    f.close();
    ASSERT_TRUE(f.open(dir.string(), InputPass::kSym));
    EXPECT_EQ(f.get_long_line_starting('#', line, more), -1);
    f.close();
}

TEST(TextFileReader, ReadsTheSameLinesAfterRewind) {
    const testutil::TempDir tmp;
    const fs::path p = tmp / "rewind.txt";
    std::string bytes;
    for (int i = 0; i < 40000; ++i) bytes += "line " + std::to_string(i) + "\r\n";
    testutil::spit(p, bytes);
    InFile f;
    ASSERT_TRUE(f.open(p.string(), InputPass::kSym));
    Lines first, second;
    std::string_view line;
    while (f.get_line(line) == 1) first.emplace_back(line);
    ASSERT_TRUE(f.rewind());
    while (f.get_line(line) == 1) second.emplace_back(line);
    f.close();
    EXPECT_EQ(first, model_lines(bytes));
    EXPECT_EQ(second, first);
}

TEST(TextFileWriter, WritesEveryByteThroughItsBuffer) {
    const testutil::TempDir tmp;
    const fs::path p = tmp / "out.txt";
    OutFile f;
    ASSERT_TRUE(f.open(p.string()));
    std::string want;
    for (int i = 0; want.size() < 3 * kTextBlock + 999; ++i) {
        // Built by appending: ":" + std::string(...) trips a false -Werror=restrict of g++ 12 at -O3.
        // Every byte of a line differs from its neighbours, so that a piece
        // moved to a wrong place shows.
        std::string line = ":";
        for (int j = 0; j < i % 300; ++j) line += static_cast<char>('A' + (i + j) % 26);
        line += '\n';
        ASSERT_TRUE(f.write(line));
        want += line;
    }
    EXPECT_TRUE(f.close());
    EXPECT_EQ(testutil::slurp(p), want);
}

// A text made in the room the writer gives goes out in its place among the
// written ones, whether the block had the room (made in place) or not (made
// apart); a room asked for and given up leaves nothing behind.
TEST(TextFileWriter, TextMadeInItsRoomGoesOutInOrder) {
    const testutil::TempDir tmp;
    const fs::path p = tmp / "out.txt";
    OutFile f;
    ASSERT_TRUE(f.open(p.string()));
    std::string want;
    for (int i = 0; want.size() < 3 * kTextBlock + 999; ++i) {
        const std::string plain = "plain " + std::to_string(i) + "\n";
        ASSERT_TRUE(f.write(plain));
        want += plain;
        // Room for more than is made, as a rewriter asks for; every third
        // one is given up; now and then one larger than the whole block.
        const size_t n = i % 97 == 0 ? kTextBlock + 5 : 40 + static_cast<size_t>(i % 300);
        char* room = f.room(2 * n);
        for (size_t j = 0; j < n; ++j) room[j] = static_cast<char>('A' + (i + j) % 26);
        room[n - 1] = '\n';
        if (i % 3 == 2) continue;
        ASSERT_TRUE(f.commit(std::string_view(room, n)));
        want.append(room, n);
    }
    EXPECT_TRUE(f.close());
    EXPECT_EQ(testutil::slurp(p), want);
}

// A full disk shows only when the buffer goes out; the flush must say so, and
// so must every later write and the close.
TEST(TextFileWriter, ReportsAFullDiskOnFlush) {
    OutFile f;
    ASSERT_TRUE(f.open("/dev/full"));
    EXPECT_TRUE(f.write(":00000001FF\n"));
    EXPECT_FALSE(f.flush());
    EXPECT_FALSE(f.write(":00000001FF\n"));
    char* room = f.room(4);
    std::memcpy(room, "x y\n", 4);
    EXPECT_FALSE(f.commit(std::string_view(room, 4)));
    EXPECT_FALSE(f.close());

    OutFile big;
    ASSERT_TRUE(big.open("/dev/full"));
    bool ok = true;
    for (size_t written = 0; ok && written < 2 * kTextBlock; written += 256)
        ok = big.write(std::string(255, 'x') + "\n");
    EXPECT_FALSE(ok) << "a write that empties the full buffer must fail";
    big.close();
}

}  // namespace
