// The PNG row filters undone (see png_filters.h). Average and Paeth, where each byte depends on
// the one a pixel to its left, are the slow ones: for 3 and 4 bytes a pixel (RGB and RGBA, the
// common photographs and screenshots) they work a whole pixel at a time in SSE2 registers, the
// left pixel kept in a register instead of read back from the row just written.
#include "imaging/codec/png_filters.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pixmoor::codec::detail {

namespace {

// The filters undone a byte at a time, for BPP bytes a pixel. The first pixel of a row (no left
// neighbour) is handled outside the inner loops, so these have no branches but the predictor's
// own, and the compiler keeps the BPP lanes apart.
template <std::size_t BPP>
void unfilterScalar(int type, std::uint8_t* row, const std::uint8_t* previous, std::size_t length) {
    switch (type) {
    case 1:
        for (std::size_t i = BPP; i < length; ++i) row[i] = std::uint8_t(row[i] + row[i - BPP]);
        return;
    case 2:
        for (std::size_t i = 0; i < length; ++i) row[i] = std::uint8_t(row[i] + previous[i]);
        return;
    case 3:
        for (std::size_t i = 0; i < BPP && i < length; ++i)
            row[i] = std::uint8_t(row[i] + (previous[i] >> 1));
        for (std::size_t i = BPP; i < length; ++i)
            row[i] = std::uint8_t(row[i] + ((unsigned(row[i - BPP]) + previous[i]) >> 1));
        return;
    case 4:
        // With no left neighbour the predictor is the byte above.
        for (std::size_t i = 0; i < BPP && i < length; ++i)
            row[i] = std::uint8_t(row[i] + previous[i]);
        for (std::size_t i = BPP; i < length; ++i) {
            const int a = row[i - BPP], b = previous[i], c = previous[i - BPP];
            const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
            const int predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
            row[i] = std::uint8_t(row[i] + predictor);
        }
        return;
    default:
        return;
    }
}

#if defined(__SSE2__)

// One pixel of BPP bytes as 16-bit lanes, and back (the lanes hold 0..255 when stored).
// Three-byte pixels are put together in a register: a partial copy through memory would stall
// the load that follows it.
template <std::size_t BPP> __m128i loadPixel(const std::uint8_t* p) {
    std::uint32_t v;
    if constexpr (BPP == 4)
        std::memcpy(&v, p, 4);
    else
        v = std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16;
    return _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(v)), _mm_setzero_si128());
}

template <std::size_t BPP> void storePixel(std::uint8_t* p, __m128i lanes) {
    const auto v = std::uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(lanes, lanes)));
    if constexpr (BPP == 4) {
        std::memcpy(p, &v, 4);
    } else {
        p[0] = std::uint8_t(v);
        p[1] = std::uint8_t(v >> 8);
        p[2] = std::uint8_t(v >> 16);
    }
}

inline __m128i abs16(__m128i v) {
    return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

// Lanes of `yes` where mask is set, of `no` elsewhere.
inline __m128i choose(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// Average: each byte plus the floor of the mean of its left and upper neighbours.
template <std::size_t BPP>
void averagePixels(std::uint8_t* row, const std::uint8_t* previous, std::size_t length) {
    const __m128i bytes = _mm_set1_epi16(0xFF);
    __m128i a = _mm_setzero_si128(); // the pixel to the left, undone; none for the first
    for (std::size_t i = 0; i + BPP <= length; i += BPP) {
        const __m128i b = loadPixel<BPP>(previous + i);
        const __m128i mean = _mm_srli_epi16(_mm_add_epi16(a, b), 1);
        a = _mm_and_si128(_mm_add_epi16(loadPixel<BPP>(row + i), mean), bytes);
        storePixel<BPP>(row + i, a);
    }
}

// Paeth: each byte plus whichever of left (a), upper (b) and upper-left (c) is nearest to
// a + b - c, ties going to a, then b. With no left pixel a and c count as zero, which makes the
// first pixel's predictor the byte above, as the standard has it.
template <std::size_t BPP>
void paethPixels(std::uint8_t* row, const std::uint8_t* previous, std::size_t length) {
    const __m128i bytes = _mm_set1_epi16(0xFF);
    __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
    for (std::size_t i = 0; i + BPP <= length; i += BPP) {
        const __m128i b = loadPixel<BPP>(previous + i);
        const __m128i bc = _mm_sub_epi16(b, c), ac = _mm_sub_epi16(a, c);
        // |p - a| = |b - c|, |p - b| = |a - c|, |p - c| = |(b - c) + (a - c)|
        const __m128i pa = abs16(bc), pb = abs16(ac), pc = abs16(_mm_add_epi16(bc, ac));
        const __m128i notA = _mm_or_si128(_mm_cmpgt_epi16(pa, pb), _mm_cmpgt_epi16(pa, pc));
        const __m128i predictor = choose(notA, choose(_mm_cmpgt_epi16(pb, pc), c, b), a);
        a = _mm_and_si128(_mm_add_epi16(loadPixel<BPP>(row + i), predictor), bytes);
        storePixel<BPP>(row + i, a);
        c = b;
    }
}

#endif

template <std::size_t BPP>
void unfilterRow(int type, std::uint8_t* row, const std::uint8_t* previous, std::size_t length) {
#if defined(__SSE2__)
    if constexpr (BPP >= 3) {
        if (type == 3) return averagePixels<BPP>(row, previous, length);
        if (type == 4) return paethPixels<BPP>(row, previous, length);
    }
#endif
    unfilterScalar<BPP>(type, row, previous, length);
}

} // namespace

bool unfilter(int type, std::uint8_t* row, const std::uint8_t* previous, std::size_t length,
              std::size_t bpp, const std::uint8_t* zeros) {
    if (type == 0) return true;
    if (type > 4) return false;
    if (!previous) previous = zeros; // the row above the first is zeros
    switch (bpp) {
    case 1:
        unfilterRow<1>(type, row, previous, length);
        break;
    case 2:
        unfilterRow<2>(type, row, previous, length);
        break;
    case 3:
        unfilterRow<3>(type, row, previous, length);
        break;
    case 4:
        unfilterRow<4>(type, row, previous, length);
        break;
    default:
        return false; // 8-bit samples: one to four bytes a pixel
    }
    return true;
}

} // namespace pixmoor::codec::detail
