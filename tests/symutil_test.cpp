// symutil_test.cpp: header recognition, field splitting and the hexadecimal
// reader and writer of the symbol file.
#include <cstring>
#include <memory>
#include <random>

#include "symtest.h"

namespace {

using symtest::format_error_at;
using symtest::to_stderr;

TEST(SecKind, RecognisesCompleteHeaderTextsOnly) {
    struct Case {
        const char* line;
        int kind;
    } cases[] = {
        {"# LOCAL LABEL 1\n", 0},
        {"# LOCAL LABEL\n", 99},  // without its trailing blank
        {"# LOCAL SYMBOL 1-2\n", 1},
        {"# LOCAL BIT SYMBOL 1-2\n", 2},
        {"# FUNC 1 x 2\n", 3},
        {"# FUNC\n", 99},
        {"# func 1 x 2\n", 99},
        {"#FUNC 1 x 2\n", 99},
        {"# CALL 1\n", 4},
        {"# SOURCE 1 a.c\n", 5},
        {"# SECTION INFORMATION\n", 6},
        {"# SECTION INFORMATION", 6},
        {"# SECTION INFORMATIO\n", 99},
        {"# GLOBAL LABEL\n", 7},
        {"# GLOBAL LABELS\n", 7},
        {"# GLOBAL SYMBOL\n", 8},
        {"# GLOBAL BIT SYMBOL\n", 9},
        {"# GLOBAL BIT\n", 99},
        {"#\n", 99},
        {"#", 99},
    };
    for (const Case& c : cases) EXPECT_EQ(sec_kind(c.line), c.kind) << c.line;
}

TEST(IsTokenChar, OnlyNulLineFeedCarriageReturnAndBlankEndAToken) {
    for (int c = 0; c < 256; ++c) {
        const bool ends = c == 0 || c == '\n' || c == '\r' || c == ' ';
        EXPECT_EQ(is_token_char(static_cast<unsigned char>(c)), ends ? 0 : 1) << c;
    }
}

TEST(GetToken, SplitsOneFieldAndLeavesTheRest) {
    struct Case {
        std::string line, token, rest;
    } cases[] = {
        {"\n", "", ""},
        {"", "", ""},
        {"   \n", "", ""},
        {"ONE TWO THREE\n", "ONE", "TWO THREE\n"},
        {"ONE\n", "ONE", ""},
        {"last", "last", ""},
        {"A  B\n", "A", " B\n"},  // only the one blank after the token goes
        {" B\n", "B", ""},        // the next call skips the blank left over
        {"   lead x\n", "lead", "x\n"},
        {"A\tB C\n", "A\tB", "C\n"},  // a tab is part of the token
        {"END\r\n", "END", ""},       // the carriage return is not in the token
        {"AB\rCD EF\n", "AB", ""},    // and everything after it is discarded
        {"\x80\xff x\n", "\x80\xff", "x\n"},
    };
    for (const Case& c : cases) {
        std::string_view rest = c.line;
        EXPECT_EQ(get_token(rest), c.token) << c.line;
        EXPECT_EQ(rest, c.rest) << c.line;
    }
}

// Long fields are scanned several bytes at a time; on random lines of blanks,
// bytes that end a token, bytes that look like them (tab and other control
// bytes, 0x21, bytes from 0x80) and letters, every split agrees with the
// byte-by-byte rule, wherever the field ends within a group of bytes.
TEST(GetToken, AgreesWithTheByteRuleOnRandomLines) {
    std::mt19937 rng(85);
    const char alphabet[] = {' ', ' ', '\n', '\r', '\0', '\t', '\x01', '\x1f', '!', '\x80', '\xff', 'a', 'a', 'a', 'a'};
    for (int i = 0; i < 20000; ++i) {
        // Every other line mostly blanks, so that long runs of them come too.
        std::string line(rng() % 40, 'a');
        for (char& c : line) c = i % 2 != 0 && rng() % 4 != 0 ? ' ' : alphabet[rng() % sizeof alphabet];
        size_t at = 0;
        while (at < line.size() && line[at] == ' ') ++at;
        const size_t start = at;
        while (at < line.size() && is_token_char(static_cast<unsigned char>(line[at]))) ++at;
        const std::string token = line.substr(start, at - start);
        const std::string rest = at < line.size() && line[at] == ' ' ? line.substr(at + 1) : "";
        std::string_view split = line;
        ASSERT_EQ(get_token(split), token) << testing::PrintToString(line);
        ASSERT_EQ(split, rest) << testing::PrintToString(line);
    }
}

// A numeric splitter's `field`, leaving `rest` of `line`, against what
// get_token gives for the same line (`want`, leaving `token_rest`): the
// same text and rest, and the field read exactly when it is 1 to 8
// hexadecimal digits (or empty), with the value hex_to_num reads.
void expect_byte_rule(const std::string& line, std::string_view want, std::string_view token_rest,
                      const HexField& field, std::string_view rest) {
    ASSERT_EQ(field.text, want) << testing::PrintToString(line);
    ASSERT_EQ(rest, token_rest) << testing::PrintToString(line);
    const bool short_number =
        want.size() <= 8 && want.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
    ASSERT_EQ(field.read, short_number) << testing::PrintToString(line);
    if (field.read) {
        ASSERT_EQ(field.value, hex_to_num(want)) << testing::PrintToString(line);
    }
}

// get_hex_token splits exactly as get_token does (the same token, the same
// rest at the same place) and reads the value on the way for a token of at
// most 8 digits; any other token is left to hex_to_num. Random lines of
// digits, letters that are no digits, blanks and the bytes that end a token.
TEST(GetHexToken, SplitsAsGetTokenAndReadsShortNumbers) {
    std::mt19937 rng(28);
    const char alphabet[] = {' ', ' ', '\n', '\r', '\0', '\t', 'x', '0', '0', '1', '9', 'a', 'F', 'f', 'A', '7'};
    for (int i = 0; i < 20000; ++i) {
        std::string line(rng() % 24, '0');
        for (char& c : line) c = alphabet[rng() % sizeof alphabet];
        std::string_view by_token = line, by_hex = line;
        const std::string_view want = get_token(by_token);
        const HexField field = get_hex_token(by_hex);
        ASSERT_NO_FATAL_FAILURE(expect_byte_rule(line, want, by_token, field, by_hex));
        ASSERT_EQ(field.text.data(), want.data()) << testing::PrintToString(line);
        ASSERT_EQ(by_hex.data(), by_token.data()) << testing::PrintToString(line);
    }
}

// A field at the end of a line that has no line end (the last line of a
// file) is read up to the line's last byte and never beyond it: each line is
// split from memory of exactly its size, where a sanitised build reports any
// byte read past it. Digit runs of every length up to and past eight, ending
// in a digit, a blank, a line feed or a byte that is no digit, at every
// distance from the end; split as get_token splits and read as hex_to_num.
TEST(GetHexToken, ReadsNoByteBeyondTheLine) {
    std::mt19937 rng(9);
    const char digits[] = "0123456789abcdefABCDEF";
    const char lasts[] = {'7', 'F', ' ', '\n', 'x', '\0'};
    for (int i = 0; i < 20000; ++i) {
        std::string line(rng() % 3, ' ');
        const size_t length = rng() % 11;
        for (size_t k = 0; k < length; ++k) line += digits[rng() % (sizeof digits - 1)];
        if (rng() % 2 != 0) line += lasts[rng() % sizeof lasts];
        const std::unique_ptr<char[]> exact(new char[line.size()]);
        std::memcpy(exact.get(), line.data(), line.size());
        std::string_view by_hex(exact.get(), line.size()), by_token = line;
        const HexField field = get_hex_token(by_hex);
        const std::string_view want = get_token(by_token);
        ASSERT_NO_FATAL_FAILURE(expect_byte_rule(line, want, by_token, field, by_hex));
    }
}

// get_hex_word_token, which reads the digits of a word together where eight
// bytes are left, splits as get_token does and reads what hex_to_num reads:
// on fields made of digits, the bytes right beside each range of digits ("/", ":", "@", "G", "`", "g"), bytes from 0x80
// whose low seven bits are a digit, and the bytes that end a token, padded and cut at every length, it agrees with
// get_token and hex_to_num.
TEST(GetHexWordToken, ReadsAWordOfDigitsAsTheByteRuleDoes) {
    std::mt19937 rng(8);
    const char digits[] = "0123456789abcdefABCDEF";
    const char others[] = {'/',  ':',    '@',    'G', '`', 'g',  '\xB0', '\xC1', '\xE6',
                           '\t', '\x10', '\x19', 'x', ' ', '\n', '\r',   '\0'};
    for (int i = 0; i < 50000; ++i) {
        std::string line(rng() % 3, ' ');
        const size_t length = rng() % 12;
        for (size_t k = 0; k < length; ++k)
            line += rng() % 6 != 0 ? digits[rng() % (sizeof digits - 1)] : others[rng() % sizeof others];
        line += std::string(rng() % 10, ' ');
        if (rng() % 2 != 0) line += "0000FFFF\n";
        std::string_view by_token = line, by_hex = line;
        const std::string_view want = get_token(by_token);
        const HexField field = get_hex_word_token(by_hex);
        ASSERT_NO_FATAL_FAILURE(expect_byte_rule(line, want, by_token, field, by_hex));
        ASSERT_EQ(field.text.data(), want.data()) << testing::PrintToString(line);
        ASSERT_EQ(by_hex.data(), by_token.data()) << testing::PrintToString(line);
    }
}

TEST(HexToNum, ReadsOneToEightSignificantDigitsInEitherCase) {
    struct Case {
        const char* text;
        uint32_t value;
    } cases[] = {
        {"", 0},
        {"0", 0},
        {"ffff", 0xFFFF},
        {"FFFF", 0xFFFF},
        {"aBcD", 0xABCD},
        {"00000000FF", 0xFF},  // leading zeros do not count as digits
        {"000000000000", 0},
        {"FFFFFFFF", 0xFFFFFFFF},
        {"0012345678", 0x12345678},
    };
    for (const Case& c : cases) EXPECT_EQ(hex_to_num(c.text), c.value) << c.text;
}

TEST(HexToNumDeathTest, NonDigitIsFormatErrorAt1082) {
    symtest::reset();
    for (const char* text : {"G", "0x10", "12h", " 1", "1\n", "-1", "1 2"})
        EXPECT_EXIT((to_stderr(), hex_to_num(text)), testing::ExitedWithCode(3), format_error_at(1082)) << text;
}

TEST(HexToNumDeathTest, MoreThanEightSignificantDigitsIsFormatErrorAt1092) {
    symtest::reset();
    // 100000000 and F00000000 wrap back to 0 in 32 bits; they are still too long.
    for (const char* text : {"123456789", "100000000", "F00000000", "1000000000", "0100000000"})
        EXPECT_EXIT((to_stderr(), hex_to_num(text)), testing::ExitedWithCode(3), format_error_at(1092)) << text;
}

TEST(NumToHex, UpperCaseWithoutLeadingZerosAndANul) {
    struct Case {
        uint32_t value;
        const char* text;
    } cases[] = {
        {0, "0"},
        {1, "1"},
        {160, "A0"},
        {255, "FF"},
        {0xFFF, "FFF"},
        {0x1000, "1000"},
        {0x10000, "10000"},
        {0x1234567, "1234567"},
        {0x10000000, "10000000"},
        {0x9ABCDEF0, "9ABCDEF0"},  // every digit from 9 on: the step from "9" to "A"
        {4294967295u, "FFFFFFFF"},
    };
    for (const Case& c : cases) {
        char out[9];
        std::memset(out, 'x', sizeof out);
        EXPECT_EQ(num_to_hex(c.value, out), c.text) << c.value;
        EXPECT_STREQ(out, c.text) << c.value;
    }
}

}  // namespace
