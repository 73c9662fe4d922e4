// fields.h: the layout of the symbol file's lines: the kinds of "#" lines,
// and the fields and hexadecimal numbers a line is read from and written
// with. Needs nothing of the run's state, except that a number that is no
// number ends the run with a format error (hex_to_num_check, symutil.cpp).
// The field and number helpers run several times for every rewritten line,
// so their common case is inline.
#ifndef MRL_FIELDS_H
#define MRL_FIELDS_H

#include <bit>
#include <cstdint>
#include <cstring>
#include <string_view>

// The kinds of "#" lines. The headers of kinds up to SEC_SOURCE carry numbers
// that the renumbering rewrites; the data lines of the kinds from
// SEC_SECTION_INFO on go to a rewriter each.
enum SecKind : int {
    SEC_LOCAL_LABEL = 0,
    SEC_LOCAL_SYMBOL = 1,
    SEC_LOCAL_BIT_SYMBOL = 2,
    SEC_FUNC = 3,
    SEC_CALL = 4,
    SEC_SOURCE = 5,
    SEC_SECTION_INFO = 6,
    SEC_GLOBAL_LABEL = 7,
    SEC_GLOBAL_SYMBOL = 8,
    SEC_GLOBAL_BIT_SYMBOL = 9,
    SEC_NONE = 99,  // a "#" line that begins with no header text, or no "#" line
};
// The header text of each kind, by kind.
inline constexpr std::string_view sec_header[10] = {
    "# LOCAL LABEL ",       // unit number
    "# LOCAL SYMBOL ",      // unit range
    "# LOCAL BIT SYMBOL ",  // unit range
    "# FUNC ",              // function, second field, unit, ...
    "# CALL ",              // function
    "# SOURCE ",            // function, ...
    "# SECTION INFORMATION",
    "# GLOBAL LABEL",
    "# GLOBAL SYMBOL",
    "# GLOBAL BIT SYMBOL",
};
SecKind sec_kind(std::string_view line);

// Bytes that end a token: NUL, line feed, carriage return and blank. A tab is
// part of a token, and so is every byte above the blank.
inline int is_token_char(unsigned char c) { return c > ' ' || (c != ' ' && c != '\n' && c != '\r' && c != 0); }

// The first byte from `p` on that ends a token, or `end`. Eight bytes are
// looked at together where eight are left: the lowest byte below 0x21 of a
// word (a blank, or a control byte) is found with a few word operations,
// and only then is it checked whether it is one that ends a token (a tab is
// not).
inline const char* token_end(const char* p, const char* const end) {
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
        while (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            // The high bit of each byte below 0x21; exact for the lowest such
            // byte, which is the one taken (a borrow only runs upward).
            const uint64_t low = (w - 0x21 * kOnes) & ~w & kHigh;
            if (low == 0) {
                p += 8;
                continue;
            }
            p += std::countr_zero(low) / 8;
            if (!is_token_char(static_cast<unsigned char>(*p))) return p;
            ++p;
        }
    }
    while (p < end && is_token_char(static_cast<unsigned char>(*p))) ++p;
    return p;
}

// The first byte from `p` on that is not a blank, or `end`. Blanks seldom
// come more than two at a time (two part the pairs of a label line), so
// those cases are checked first; a longer run (a padded field) is passed
// eight bytes at a time.
inline const char* skip_blanks(const char* p, const char* const end) {
    if (p == end || *p != ' ') return p;
    ++p;
    if (p == end || *p != ' ') return p;
    ++p;
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kBlanks = 0x2020202020202020u, kLow7 = 0x7F7F7F7F7F7F7F7Fu;
        while (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            const uint64_t x = w ^ kBlanks;  // zero where a blank is
            // The high bit of each byte that is not a blank; no carry crosses
            // from one byte to the next.
            const uint64_t other = (((x & kLow7) + kLow7) | x) & ~kLow7;
            if (other != 0) return p + std::countr_zero(other) / 8;
            p += 8;
        }
    }
    while (p < end && *p == ' ') ++p;
    return p;
}

// Splits the first blank-delimited field off `line` and returns it. After a
// token ended by a blank, the rest starts right after that one blank; after a
// token ended by anything else (line end, CR, NUL) the rest is empty. The
// rest stays a view into the line even when empty, so callers never hand a
// null text on to the writers.
inline std::string_view get_token(std::string_view& line) {
    const char* p = line.data();
    const char* const end = p + line.size();
    p = skip_blanks(p, end);
    const char* const start = p;
    p = token_end(p, end);
    const std::string_view token(start, static_cast<size_t>(p - start));
    p = (p < end && *p == ' ') ? p + 1 : end;
    line = std::string_view(p, static_cast<size_t>(end - p));
    return token;
}

// The value of each byte as a hexadecimal digit, either letter case; 16 for
// every byte that is not one.
inline constexpr auto hex_digit_value = [] {
    struct {
        unsigned char of[256];
    } t{};
    for (unsigned char& v : t.of) v = 16;
    for (int c = 0; c < 10; ++c) t.of['0' + c] = static_cast<unsigned char>(c);
    for (int c = 0; c < 6; ++c) t.of['A' + c] = t.of['a' + c] = static_cast<unsigned char>(10 + c);
    return t;
}();

// The checks that hex_to_num makes only when a text holds a byte that is no
// digit or is longer than 8 bytes: ends the run with a format error for such
// a byte or for more than 8 significant digits, and returns otherwise
// (leading zeros make a text long, not large).
void hex_to_num_check(std::string_view text);

// Reads a hexadecimal number of 1 to 8 significant digits, either letter
// case; the empty text gives 0. Anything else ends the run with a format
// error naming the symbol file.
inline uint32_t hex_to_num(std::string_view text) {
    uint32_t value = 0;
    unsigned seen = 0;  // bit 4 set once a byte was no digit (whose value is then of no use)
    for (char ch : text) {
        const unsigned d = hex_digit_value.of[static_cast<unsigned char>(ch)];
        seen |= d;
        value = value * 16 + d;
    }
    if ((seen & 16u) != 0 || text.size() > 8) hex_to_num_check(text);
    return value;
}

// A field as get_hex_token splits it off: its text, and when `read` is set
// the number it holds.
struct HexField {
    std::string_view text;
    bool read;
    uint32_t value;
};

// Where eight bytes of a field are looked at together: the high bit of each
// byte that is no hexadecimal digit. A byte from 0x80 is none; below that,
// a byte is a digit from "0" to "9", or with bit 5 set a letter from "a" to
// "f" (which takes "A" to "F" there and no other byte). Each range is tested
// by two additions that carry into the byte's high bit and never beyond it.
inline uint64_t hex_word_others(uint64_t w) {
    constexpr uint64_t kOnes = 0x0101010101010101u, kHigh = 0x8080808080808080u;
    const uint64_t y = w & ~kHigh;
    const uint64_t digit = (y + (0x80 - '0') * kOnes) & ~(y + (0x7F - '9') * kOnes);
    const uint64_t z = y | 0x20 * kOnes;
    const uint64_t letter = (z + (0x80 - 'a') * kOnes) & ~(z + (0x7F - 'f') * kOnes);
    return ~((digit | letter) & ~w) & kHigh;
}

// The value of the first `n` bytes of `w` (1 to 8, all hexadecimal digits,
// the first the highest), read as one word: each byte turned into its digit
// ("A" to "F" and "a" to "f" have 1 to 6 in their low nibble, 9 short of
// their value), the digits moved to the top and put lowest digit first, and
// the nibbles packed together.
inline uint32_t hex_word_value(uint64_t w, unsigned n) {
    constexpr uint64_t kOnes = 0x0101010101010101u;
    const uint64_t letters = (w >> 6) & kOnes;  // bit 6 is set in a letter, never in "0" to "9"
    uint64_t x = (w & 0x0F * kOnes) + 9 * letters;
    x = __builtin_bswap64(x << (8 * (8 - n)));  // byte k: the digit of 16 to the power k
    x = (x | (x >> 4)) & 0x00FF00FF00FF00FFu;
    x = (x | (x >> 8)) & 0x0000FFFF0000FFFFu;
    x = (x | (x >> 16)) & 0x00000000FFFFFFFFu;
    return static_cast<uint32_t>(x);
}

// get_token, giving also the token's value where it is found on the way: a
// token of 1 to 8 hexadecimal digits (or an empty one, 0) is read in one pass
// over its bytes, and is `read` with its value. Any other token (more
// digits, or a byte that is no digit) is split off as get_token does and is
// not `read`: the caller takes its value with hex_value where it always read
// the number, so that a format error comes after what it traces before.
inline HexField get_hex_token(std::string_view& line) {
    const char* p = line.data();
    const char* const end = p + line.size();
    p = skip_blanks(p, end);
    const char* const start = p;
    uint32_t v = 0;
    if (end - p > 8 || (p < end && hex_digit_value.of[static_cast<unsigned char>(end[-1])] > 15)) {
        // A byte that is no digit ends the digits before the line does (nine
        // bytes are there, or the line ends in a line feed or any other byte
        // that is no digit): the digits need no check against the end.
        unsigned k = 0;
        for (; k < 8; ++k) {
            const unsigned d = hex_digit_value.of[static_cast<unsigned char>(p[k])];
            if (d > 15) break;
            v = v * 16 + d;
        }
        p += k;
    } else {
        for (; p < end; ++p) {
            const unsigned d = hex_digit_value.of[static_cast<unsigned char>(*p)];
            if (d > 15) break;
            v = v * 16 + d;
        }
    }
    if (p < end && is_token_char(static_cast<unsigned char>(*p))) return {get_token(line), false, 0};
    const std::string_view token(start, static_cast<size_t>(p - start));
    p = (p < end && *p == ' ') ? p + 1 : end;
    line = std::string_view(p, static_cast<size_t>(end - p));
    return {token, true, v};
}

// get_hex_token for a field that mostly holds eight digits (the addresses
// and lengths of the unit lines): where eight bytes are left in the line,
// they are looked at as one word, and the digits at its start are found and
// read together. For a field of a few digits the byte loop of get_hex_token
// costs less than the word's constants.
inline HexField get_hex_word_token(std::string_view& line) {
    const char* p = line.data();
    const char* const end = p + line.size();
    p = skip_blanks(p, end);
    if (std::endian::native != std::endian::little || end - p < 8) return get_hex_token(line);
    const char* const start = p;
    uint64_t w;
    std::memcpy(&w, p, 8);
    const uint64_t others = hex_word_others(w);
    const unsigned n = others == 0 ? 8u : static_cast<unsigned>(std::countr_zero(others)) / 8u;
    const uint32_t v = n != 0 ? hex_word_value(w, n) : 0;
    p += n;
    if (p < end && is_token_char(static_cast<unsigned char>(*p))) return {get_token(line), false, 0};
    const std::string_view token(start, static_cast<size_t>(p - start));
    p = (p < end && *p == ' ') ? p + 1 : end;
    line = std::string_view(p, static_cast<size_t>(end - p));
    return {token, true, v};
}

// The number a field holds: as read on the way, or else hex_to_num of its
// text (which ends the run for a field that is no number).
inline uint32_t hex_value(const HexField& field) { return field.read ? field.value : hex_to_num(field.text); }

// hex_to_num(get_token(line)).
inline uint32_t get_number(std::string_view& line) { return hex_value(get_hex_token(line)); }

// hex_to_num(get_token(line)), for a field that mostly holds eight digits.
inline uint32_t get_long_number(std::string_view& line) { return hex_value(get_hex_word_token(line)); }

// Upper-case hexadecimal without leading zeros, "0" for zero, written into
// `out` with a NUL after it; returns the digits. Where bytes are stored
// lowest first, the eight digits are made together in one word: each nibble
// spread into a byte of its own, the bytes put highest digit first, and
// each turned into its character ("A" to "F" lie 7 above "9" + 1).
inline std::string_view num_to_hex(uint32_t value, char (&out)[9]) {
    const unsigned n = value < 16 ? 1 : (std::bit_width(value) + 3u) / 4u;  // 1 to 8
    if constexpr (std::endian::native == std::endian::little) {
        constexpr uint64_t kOnes = 0x0101010101010101u;
        uint64_t x = value;
        x = (x | (x << 16)) & 0x0000FFFF0000FFFFu;
        x = (x | (x << 8)) & 0x00FF00FF00FF00FFu;
        x = (x | (x << 4)) & 0x0F0F0F0F0F0F0F0Fu;                 // byte k: digit k, counted from the lowest
        x = __builtin_bswap64(x) >> (8 * (8 - n));                // byte 0: the highest digit written
        const uint64_t letters = ((x + 6 * kOnes) >> 4) & kOnes;  // 1 in each byte of 10 to 15
        x += '0' * kOnes + 7 * letters;
        std::memcpy(out, &x, 8);
    } else {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        for (unsigned k = 0; k < n; ++k) out[k] = kDigits[(value >> (4 * (n - 1 - k))) & 15u];
    }
    out[n] = '\0';
    return {out, n};
}

#endif
