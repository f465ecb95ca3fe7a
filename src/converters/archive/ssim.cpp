#include "converters/archive/ssim.h"

#include <algorithm>

namespace calvoro::ssim {

namespace {

constexpr int tileSide = 512;
constexpr int window = 8;
constexpr double c1 = 6.5025;   // (0.01 * 255)^2
constexpr double c2 = 58.5225;  // (0.03 * 255)^2

Gray grayOf(const imaging::RgbaImage& image, int x0, int y0, int w, int h) {
    Gray g;
    g.w = w;
    g.h = h;
    g.px.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
    float* out = g.px.data();
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = image.row(y0 + y) + static_cast<size_t>(x0) * 4;
        for (int x = 0; x < w; ++x, p += 4) *out++ = grayValue(p);
    }
    return g;
}

}  // namespace

TileLayout tileLayout(int w, int h) {
    TileLayout layout;
    const int m = std::min(w, h);
    if (m < 8) return layout;
    const int side = m > 511 ? tileSide : m;
    const int dx = w - side, dy = h - side;
    const int origins[5][2] = {
        {dx / 2, dy / 2}, {dx / 4, dy / 4}, {3 * dx / 4, dy / 4}, {dx / 4, 3 * dy / 4}, {3 * dx / 4, 3 * dy / 4},
    };
    layout.side = side;
    for (const auto& o : origins) {
        layout.origins.emplace_back(std::clamp(o[0], 0, dx), std::clamp(o[1], 0, dy));
        // A square image of at most 512 pixels is its own single tile.
        if (w == h && side == m) break;
    }
    return layout;
}

std::optional<Gray> grayscale(const imaging::RgbaImage& image, int x, int y, int side) {
    if (image.empty() || side <= 0 || x < 0 || y < 0 || x + side > image.width || y + side > image.height) return std::nullopt;
    return grayOf(image, x, y, side, side);
}

std::optional<Gray> grayscale(const imaging::RgbaImage& image) {
    if (image.empty()) return std::nullopt;
    return grayOf(image, 0, 0, image.width, image.height);
}

std::vector<Gray> grayscaleTiles(const imaging::RgbaImage& image) {
    std::vector<Gray> tiles;
    const auto layout = tileLayout(image.width, image.height);
    for (const auto& [x, y] : layout.origins)
        if (auto tile = grayscale(image, x, y, layout.side)) tiles.push_back(std::move(*tile));
    return tiles;
}

double ssim(const Gray& a, const Gray& b) {
    if (a.w < window || a.h < window || a.w != b.w || a.h != b.h) return 1.0;
    const size_t w = static_cast<size_t>(a.w);
    const size_t columns = w / window * window;  // pixels past the last whole window are not used
    // Per band of 8 rows, the column sums of a, b, a², b² and ab. With whole-number pixels of at
    // most 255 every product and every sum of up to 64 of them is below 2^24, so float adds them
    // exactly; the statistics then follow in double from the exact sums.
    std::vector<float> sums(columns * 5);
    float* sa = sums.data();
    float* sb = sa + columns;
    float* saa = sb + columns;
    float* sbb = saa + columns;
    float* sab = sbb + columns;
    double total = 0;
    long windows = 0;
    for (int y = 0; y + window <= a.h; y += window) {
        std::fill(sums.begin(), sums.end(), 0.0f);
        for (int j = 0; j < window; ++j) {
            const float* pa = a.px.data() + static_cast<size_t>(y + j) * w;
            const float* pb = b.px.data() + static_cast<size_t>(y + j) * w;
            for (size_t i = 0; i < columns; ++i) {
                const float va = pa[i], vb = pb[i];
                sa[i] += va;
                sb[i] += vb;
                saa[i] += va * va;
                sbb[i] += vb * vb;
                sab[i] += va * vb;
            }
        }
        for (size_t x = 0; x < columns; x += window) {
            float ta = 0, tb = 0, taa = 0, tbb = 0, tab = 0;
            for (size_t i = x; i < x + window; ++i) {
                ta += sa[i];
                tb += sb[i];
                taa += saa[i];
                tbb += sbb[i];
                tab += sab[i];
            }
            const double sumA = ta, sumB = tb;
            const double muA = sumA / 64.0, muB = sumB / 64.0;
            // Sample statistics, divided by n - 1: Σ(a − μa)² = Σa² − (Σa)²/64, and so on.
            const double varA = (taa - sumA * sumA / 64.0) / 63.0;
            const double varB = (tbb - sumB * sumB / 64.0) / 63.0;
            const double cov = (tab - sumA * sumB / 64.0) / 63.0;
            total += ((2 * muA * muB + c1) * (2 * cov + c2)) / ((muA * muA + muB * muB + c1) * (varA + varB + c2));
            ++windows;
        }
    }
    return windows == 0 ? 1.0 : total / static_cast<double>(windows);
}

std::optional<double> meanSSIM(const std::vector<Gray>& a, const std::vector<Gray>& b) {
    if (a.empty() || a.size() != b.size()) return std::nullopt;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += ssim(a[i], b[i]);
    return sum / static_cast<double>(a.size());
}

}  // namespace calvoro::ssim
