#include "compressor/quality/ssim.h"

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace calvoro::ssim {

namespace {

constexpr int block = 4;
// The constants (0.01 · 255)² and (0.03 · 255)² scaled to sums over 64 pixels as x264 does, so
// that the score is the one those tools report.
constexpr int c1 = static_cast<int>(.01 * .01 * 255 * 255 * 64 + .5);
constexpr int c2 = static_cast<int>(.03 * .03 * 255 * 255 * 64 * 63 + .5);

// One 8 x 8 window from its sums. Every term fits in 32 bits for 8-bit pixels.
double windowScore(int32_t s1, int32_t s2, int32_t ss, int32_t s12) {
    const int32_t vars = ss * 64 - s1 * s1 - s2 * s2;
    const int32_t covar = s12 * 64 - s1 * s2;
    return static_cast<double>(static_cast<float>(2 * s1 * s2 + c1) * static_cast<float>(2 * covar + c2) /
                               (static_cast<float>(s1 * s1 + s2 * s2 + c1) * static_cast<float>(vars + c2)));
}

}  // namespace

Scorer::Scorer(const GrayImage& reference)
    : reference_(reference),
      blocks_(reference.w / block),
      previous_(static_cast<size_t>(blocks_) * 4),
      current_(static_cast<size_t>(blocks_) * 4) {}

void Scorer::addRow(const uint8_t* row) {
    // Pixels past the last whole block, right or below, are not looked at.
    if (rows_ >= reference_.h / block * block) {
        ++rows_;
        return;
    }
    const uint8_t* ref = reference_.row(rows_);
    int32_t* sums = current_.data();
    int b = 0;
#ifdef __SSE2__
    // Two blocks at a time: pairwise products summed by madd, then the four sums of each pair
    // of pixels gathered per block by a transpose.
    const __m128i zero = _mm_setzero_si128(), ones = _mm_set1_epi16(1);
    for (; b + 2 <= blocks_; b += 2, sums += 8) {
        const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(ref + b * block)), zero);
        const __m128i v = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row + b * block)), zero);
        const __m128i s1 = _mm_madd_epi16(a, ones), s2 = _mm_madd_epi16(v, ones);
        const __m128i ss = _mm_add_epi32(_mm_madd_epi16(a, a), _mm_madd_epi16(v, v)), s12 = _mm_madd_epi16(a, v);
        // Rows s1, s2, ss, s12 of four pair sums each, turned into columns: one per pair.
        const __m128i t0 = _mm_unpacklo_epi32(s1, s2), t1 = _mm_unpacklo_epi32(ss, s12);
        const __m128i t2 = _mm_unpackhi_epi32(s1, s2), t3 = _mm_unpackhi_epi32(ss, s12);
        const __m128i first = _mm_add_epi32(_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1));
        const __m128i second = _mm_add_epi32(_mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3));
        auto* out = reinterpret_cast<__m128i*>(sums);
        _mm_storeu_si128(out, _mm_add_epi32(_mm_loadu_si128(out), first));
        _mm_storeu_si128(out + 1, _mm_add_epi32(_mm_loadu_si128(out + 1), second));
    }
#endif
    for (; b < blocks_; ++b, sums += 4) {
        int32_t s1 = 0, s2 = 0, ss = 0, s12 = 0;
        for (int i = b * block; i < b * block + block; ++i) {
            const int32_t a = ref[i], v = row[i];
            s1 += a;
            s2 += v;
            ss += a * a + v * v;
            s12 += a * v;
        }
        sums[0] += s1;
        sums[1] += s2;
        sums[2] += ss;
        sums[3] += s12;
    }
    if (++rows_ % block == 0) endBand();
}

void Scorer::endBand() {
    // Each window is four blocks: two of this band and two of the one before.
    if (bands_++ > 0) {
        const int32_t* p = previous_.data();
        const int32_t* c = current_.data();
        for (int b = 0; b + 1 < blocks_; ++b) {
            const size_t i = static_cast<size_t>(b) * 4, j = i + 4;
            total_ += windowScore(p[i] + p[j] + c[i] + c[j], p[i + 1] + p[j + 1] + c[i + 1] + c[j + 1],
                                  p[i + 2] + p[j + 2] + c[i + 2] + c[j + 2], p[i + 3] + p[j + 3] + c[i + 3] + c[j + 3]);
            ++windows_;
        }
    }
    std::swap(previous_, current_);
    std::fill(current_.begin(), current_.end(), 0);
}

std::optional<double> Scorer::score() const {
    if (rows_ < reference_.h || windows_ == 0) return std::nullopt;
    return total_ / static_cast<double>(windows_);
}

std::optional<double> ssim(const GrayImage& reference, const GrayImage& picture) {
    if (reference.w != picture.w || reference.h != picture.h) return std::nullopt;
    Scorer scorer(reference);
    for (int y = 0; y < picture.h; ++y) scorer.addRow(picture.row(y));
    return scorer.score();
}

}  // namespace calvoro::ssim
