// lineends.h: finds the line feeds of a stretch of text, 64 bytes at a time.
//
// A pass that takes many short lines at once (the HEX pass copies records of
// 40 to 80 characters) would otherwise search each line on its own, and the
// set-up of each search costs more than the search. Here one compare per 64
// bytes marks every line feed in a mask, and each line end is then one bit
// to take off it. Where the processor's 16-byte compares are not available,
// a plain loop builds the same mask.
#ifndef MRL_LINEENDS_H
#define MRL_LINEENDS_H

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define MRL_LINEENDS_SSE2 1
#endif

class LineEnds {
public:
    LineEnds(const char* begin, const char* end) : base_(begin), end_(end) { mask_ = begin < end ? load() : 0; }
    // The next line feed in the stretch, or null when there is none.
    const char* next() {
        while (mask_ == 0) {
            if (end_ - base_ <= 64) return nullptr;
            base_ += 64;
            mask_ = load();
        }
        const char* at = base_ + std::countr_zero(mask_);
        mask_ &= mask_ - 1;
        return at;
    }

private:
    // The line feeds of the (at most) 64 bytes at base_, one bit per byte.
    uint64_t load() const {
        const size_t left = static_cast<size_t>(end_ - base_);
        return left >= 64 ? load64(base_) : load_some(base_, left);
    }

    static uint64_t load_some(const char* p, size_t n) {
        uint64_t m = 0;
        for (size_t i = 0; i < n; ++i) m |= uint64_t{p[i] == '\n'} << i;
        return m;
    }

    static uint64_t load64(const char* p) {
#ifdef MRL_LINEENDS_SSE2
        const __m128i lf = _mm_set1_epi8('\n');
        uint64_t m = 0;
        for (size_t i = 0; i < 4; ++i) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + size_t{16} * i));
            m |= uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, lf)))} << (16 * i);
        }
        return m;
#else
        return load_some(p, 64);
#endif
    }

    const char* base_;
    const char* end_;
    uint64_t mask_;
};

#endif
