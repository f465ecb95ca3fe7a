#include "converters/archive/ssim.h"

#include <algorithm>
#include <cmath>

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
    double* out = g.px.data();
    for (int y = 0; y < h; ++y) {
        const uint8_t* p = image.row(y0 + y) + static_cast<size_t>(x0) * 4;
        for (int x = 0; x < w; ++x, p += 4) {
            // Rec. 601 luma, then onto black by the alpha as a gray context without alpha draws it.
            const double luma = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
            *out++ = std::round(luma * p[3] / 255.0);
        }
    }
    return g;
}

}  // namespace

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
    const int w = image.width, h = image.height;
    const int m = std::min(w, h);
    if (m < 8) return tiles;
    const int side = m > 511 ? tileSide : m;
    const int dx = w - side, dy = h - side;
    const int origins[5][2] = {
        {dx / 2, dy / 2}, {dx / 4, dy / 4}, {3 * dx / 4, dy / 4}, {dx / 4, 3 * dy / 4}, {3 * dx / 4, 3 * dy / 4},
    };
    const bool wholeSquare = w == h && side == m;
    for (const auto& o : origins) {
        auto tile = grayscale(image, std::clamp(o[0], 0, dx), std::clamp(o[1], 0, dy), side);
        if (!tile) continue;
        tiles.push_back(std::move(*tile));
        if (wholeSquare) break;
    }
    return tiles;
}

double ssim(const Gray& a, const Gray& b) {
    if (a.w < window || a.h < window || a.w != b.w || a.h != b.h) return 1.0;
    const int w = a.w;
    double total = 0;
    long windows = 0;
    for (int y = 0; y + window <= a.h; y += window) {
        for (int x = 0; x + window <= w; x += window) {
            double sumA = 0, sumB = 0;
            for (int j = 0; j < window; ++j) {
                const size_t row = static_cast<size_t>(y + j) * w + x;
                for (int i = 0; i < window; ++i) {
                    sumA += a.px[row + i];
                    sumB += b.px[row + i];
                }
            }
            const double muA = sumA / 64.0, muB = sumB / 64.0;
            double varA = 0, varB = 0, cov = 0;
            for (int j = 0; j < window; ++j) {
                const size_t row = static_cast<size_t>(y + j) * w + x;
                for (int i = 0; i < window; ++i) {
                    const double da = a.px[row + i] - muA, db = b.px[row + i] - muB;
                    varA += da * da;
                    varB += db * db;
                    cov += da * db;
                }
            }
            // Sample statistics: divided by n - 1.
            varA /= 63.0;
            varB /= 63.0;
            cov /= 63.0;
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
