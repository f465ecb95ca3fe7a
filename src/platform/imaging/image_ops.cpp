#include "platform/imaging/image_ops.h"

#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

namespace calvoro::imaging {

namespace {

constexpr double lanczosRadius = 3.0;

double lanczos(double x) {
    x = std::fabs(x);
    if (x < 1e-8) return 1.0;
    if (x >= lanczosRadius) return 0.0;
    const double px = M_PI * x;
    return lanczosRadius * std::sin(px) * std::sin(px / lanczosRadius) / (px * px);
}

// For each output position: the first source index and the normalised weights.
struct Contributions {
    std::vector<int> start;
    std::vector<int> count;
    std::vector<float> weights;  // count[i] entries from offset[i]
    std::vector<size_t> offset;
};

Contributions contributions(int inSize, int outSize) {
    Contributions c;
    const double scale = static_cast<double>(outSize) / inSize;
    const double support = scale < 1.0 ? lanczosRadius / scale : lanczosRadius;
    const double filterScale = scale < 1.0 ? scale : 1.0;
    c.start.resize(static_cast<size_t>(outSize));
    c.count.resize(static_cast<size_t>(outSize));
    c.offset.resize(static_cast<size_t>(outSize));
    for (int i = 0; i < outSize; ++i) {
        const double centre = (i + 0.5) / scale;
        int lo = std::max(0, static_cast<int>(std::floor(centre - support)));
        int hi = std::min(inSize - 1, static_cast<int>(std::ceil(centre + support)));
        double total = 0;
        std::vector<double> w;
        for (int j = lo; j <= hi; ++j) {
            double v = lanczos((j + 0.5 - centre) * filterScale);
            w.push_back(v);
            total += v;
        }
        c.start[static_cast<size_t>(i)] = lo;
        c.count[static_cast<size_t>(i)] = hi - lo + 1;
        c.offset[static_cast<size_t>(i)] = c.weights.size();
        for (double v : w) c.weights.push_back(static_cast<float>(total != 0 ? v / total : 0));
    }
    return c;
}

template <typename Body>
void parallelRows(int rows, Body body) {
    const int threads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
    const int chunks = std::min(threads, std::max(1, rows / 16));
    if (chunks <= 1) {
        body(0, rows);
        return;
    }
    std::vector<std::thread> pool;
    for (int t = 0; t < chunks; ++t) {
        const int a = rows * t / chunks, b = rows * (t + 1) / chunks;
        pool.emplace_back([=] { body(a, b); });
    }
    for (auto& th : pool) th.join();
}

inline uint8_t clampByte(float v) { return static_cast<uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f)); }

// Averages k × k blocks (premultiplied where there is transparency); the edge blocks are
// partial. Used before the Lanczos pass for large reductions, which then needs far fewer taps.
RgbaImage boxShrink(const RgbaImage& image, int k, bool alpha) {
    const int w = (image.width + k - 1) / k, h = (image.height + k - 1) / k;
    RgbaImage out(w, h);
    out.copyColourFrom(image);
    parallelRows(h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const int sy0 = y * k, sy1 = std::min(image.height, sy0 + k);
            uint8_t* d = out.row(y);
            for (int x = 0; x < w; ++x, d += 4) {
                const int sx0 = x * k, sx1 = std::min(image.width, sx0 + k);
                uint32_t r = 0, g = 0, b = 0, a = 0, n = 0;
                for (int sy = sy0; sy < sy1; ++sy) {
                    const uint8_t* p = image.row(sy) + static_cast<size_t>(sx0) * 4;
                    for (int sx = sx0; sx < sx1; ++sx, p += 4, ++n) {
                        const uint32_t pa = alpha ? p[3] : 1;
                        r += p[0] * pa, g += p[1] * pa, b += p[2] * pa, a += p[3];
                    }
                }
                const uint32_t weight = alpha ? a : n;
                if (weight == 0) {
                    d[0] = d[1] = d[2] = d[3] = 0;
                    continue;
                }
                d[0] = static_cast<uint8_t>((r + weight / 2) / weight);
                d[1] = static_cast<uint8_t>((g + weight / 2) / weight);
                d[2] = static_cast<uint8_t>((b + weight / 2) / weight);
                d[3] = static_cast<uint8_t>((a + n / 2) / n);
            }
        }
    });
    return out;
}

}  // namespace

RgbaImage resample(const RgbaImage& source, int width, int height) {
    if (source.empty() || width <= 0 || height <= 0) return {};
    // Reductions by two or more start with a box shrink by the whole factor.
    const int factor = static_cast<int>(std::min(static_cast<double>(source.width) / width, static_cast<double>(source.height) / height));
    RgbaImage shrunk;
    if (factor >= 2 && source.width / factor >= width && source.height / factor >= height)
        shrunk = boxShrink(source, factor, source.hasTransparency());
    const RgbaImage& image = shrunk.empty() ? source : shrunk;
    const int w = image.width, h = image.height;
    const bool alpha = image.hasTransparency();
    const Contributions cx = contributions(w, width);
    const Contributions cy = contributions(h, height);
    // Horizontal pass into a premultiplied float buffer of width x h.
    std::vector<float> mid;
    allocateLarge(mid, static_cast<size_t>(width) * h * 4);
    parallelRows(h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const uint8_t* s = image.row(y);
            float* d = mid.data() + static_cast<size_t>(y) * width * 4;
            for (int x = 0; x < width; ++x) {
                const float* wt = cx.weights.data() + cx.offset[static_cast<size_t>(x)];
                const uint8_t* p = s + static_cast<size_t>(cx.start[static_cast<size_t>(x)]) * 4;
                float r = 0, g = 0, b = 0, a = 0;
                const int n = cx.count[static_cast<size_t>(x)];
                if (alpha) {
                    for (int k = 0; k < n; ++k, p += 4) {
                        const float wa = wt[k] * p[3];
                        r += wa * p[0], g += wa * p[1], b += wa * p[2], a += wa;
                    }
                    r /= 255.0f, g /= 255.0f, b /= 255.0f;
                } else {
                    for (int k = 0; k < n; ++k, p += 4) r += wt[k] * p[0], g += wt[k] * p[1], b += wt[k] * p[2];
                    a = 255.0f;
                }
                d[x * 4] = r, d[x * 4 + 1] = g, d[x * 4 + 2] = b, d[x * 4 + 3] = a;
            }
        }
    });
    RgbaImage out(width, height);
    out.copyColourFrom(image);
    parallelRows(height, [&](int y0, int y1) {
        std::vector<float> acc(static_cast<size_t>(width) * 4);
        for (int y = y0; y < y1; ++y) {
            std::fill(acc.begin(), acc.end(), 0.0f);
            const float* wt = cy.weights.data() + cy.offset[static_cast<size_t>(y)];
            const int n = cy.count[static_cast<size_t>(y)];
            for (int k = 0; k < n; ++k) {
                const float* s = mid.data() + static_cast<size_t>(cy.start[static_cast<size_t>(y)] + k) * width * 4;
                const float wk = wt[k];
                for (size_t i = 0; i < acc.size(); ++i) acc[i] += wk * s[i];
            }
            uint8_t* d = out.row(y);
            for (int x = 0; x < width; ++x) {
                const float a = acc[static_cast<size_t>(x) * 4 + 3];
                if (alpha) {
                    if (a <= 0.5f) {
                        d[x * 4] = d[x * 4 + 1] = d[x * 4 + 2] = d[x * 4 + 3] = 0;
                        continue;
                    }
                    const float f = 255.0f / a;
                    d[x * 4] = clampByte(acc[static_cast<size_t>(x) * 4] * f);
                    d[x * 4 + 1] = clampByte(acc[static_cast<size_t>(x) * 4 + 1] * f);
                    d[x * 4 + 2] = clampByte(acc[static_cast<size_t>(x) * 4 + 2] * f);
                    d[x * 4 + 3] = clampByte(a);
                } else {
                    d[x * 4] = clampByte(acc[static_cast<size_t>(x) * 4]);
                    d[x * 4 + 1] = clampByte(acc[static_cast<size_t>(x) * 4 + 1]);
                    d[x * 4 + 2] = clampByte(acc[static_cast<size_t>(x) * 4 + 2]);
                    d[x * 4 + 3] = 255;
                }
            }
        }
    });
    return out;
}

RgbaImage applyOrientation(const RgbaImage& image, int orientation) {
    if (orientation <= 1 || orientation > 8 || image.empty()) return image;
    const int w = image.width, h = image.height;
    const bool swap = orientation >= 5;
    RgbaImage out(swap ? h : w, swap ? w : h);
    out.copyColourFrom(image);
    const auto* src = reinterpret_cast<const uint32_t*>(image.pixels.data());
    auto* dst = reinterpret_cast<uint32_t*>(out.pixels.data());
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            int sx = x, sy = y;
            switch (orientation) {
                case 2: sx = w - 1 - x; break;
                case 3: sx = w - 1 - x, sy = h - 1 - y; break;
                case 4: sy = h - 1 - y; break;
                case 5: sx = y, sy = x; break;
                case 6: sx = y, sy = h - 1 - x; break;
                case 7: sx = w - 1 - y, sy = h - 1 - x; break;
                case 8: sx = w - 1 - y, sy = x; break;
                default: break;
            }
            dst[static_cast<size_t>(y) * out.width + x] = src[static_cast<size_t>(sy) * w + sx];
        }
    return out;
}

RgbaImage applyOrientation(RgbaImage&& image, int orientation) {
    if (orientation <= 1 || orientation > 8 || image.empty()) return std::move(image);
    return applyOrientation(static_cast<const RgbaImage&>(image), orientation);
}

void flattenOnto(RgbaImage& image, std::array<uint8_t, 3> rgb) {
    image.deep.clear();
    for (size_t i = 0; i < image.pixels.size(); i += 4) {
        const unsigned a = image.pixels[i + 3];
        if (a == 255) continue;
        for (int c = 0; c < 3; ++c)
            image.pixels[i + c] = static_cast<uint8_t>((image.pixels[i + c] * a + rgb[static_cast<size_t>(c)] * (255 - a) + 127) / 255);
        image.pixels[i + 3] = 255;
    }
}

bool describesRGB(const std::vector<uint8_t>& profile) {
    cmsHPROFILE p = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    if (!p) return false;
    const bool rgb = cmsGetColorSpace(p) == cmsSigRgbData;
    cmsCloseProfile(p);
    return rgb;
}

GrayToSRGB::GrayToSRGB(const std::vector<uint8_t>& profile) {
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.data(), static_cast<cmsUInt32Number>(profile.size()));
    if (!in) return;
    if (cmsGetColorSpace(in) == cmsSigGrayData) {
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        transform_ = cmsCreateTransform(in, TYPE_GRAY_8, srgb, TYPE_RGB_8, INTENT_PERCEPTUAL, 0);
        cmsCloseProfile(srgb);
    }
    cmsCloseProfile(in);
}

GrayToSRGB::~GrayToSRGB() {
    if (transform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void GrayToSRGB::apply(uint8_t* rgba, size_t pixels) {
    if (!transform_) return;
    // A block at a time: a whole picture needs no scratch the size of the picture.
    constexpr size_t block = 1 << 16;
    gray_.resize(std::min(pixels, block) * 4);
    for (size_t start = 0; start < pixels; start += block, rgba += block * 4) {
        const size_t n = std::min(block, pixels - start);
        uint8_t* rgb = gray_.data() + n;
        for (size_t i = 0; i < n; ++i) gray_[i] = rgba[i * 4];
        cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), gray_.data(), rgb, static_cast<cmsUInt32Number>(n));
        for (size_t i = 0; i < n; ++i) std::copy_n(rgb + i * 3, 3, rgba + i * 4);
    }
}

namespace {

// "0.45455" from 45455: the chunk's own digits, whatever the locale.
std::string fixedPointText(uint32_t value) {
    std::string fraction = std::to_string(value % 100000);
    return std::to_string(value / 100000) + "." + std::string(5 - fraction.size(), '0') + fraction;
}

}  // namespace

std::vector<uint8_t> profileFromPNGGamma(const PngGamma& chunks) {
    // Exponents beyond 10 either way are no picture's encoding but a damaged chunk, which
    // PNG readers pass over: the samples are then taken as sRGB, as without the chunk.
    if (chunks.gamma <= 10000 || chunks.gamma >= 1000000) return {};
    // Without cHRM the primaries and white are sRGB's (and D65), as PNG readers assume.
    std::array<double, 8> xy = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    if (chunks.chromaticities)
        for (size_t i = 0; i < 8; ++i) xy[i] = (*chunks.chromaticities)[i] / 100000.0;
    const cmsCIExyY white = {xy[0], xy[1], 1.0};
    const cmsCIExyYTRIPLE primaries = {{xy[2], xy[3], 1.0}, {xy[4], xy[5], 1.0}, {xy[6], xy[7], 1.0}};
    // gAMA is the encoding exponent; the profile's curve decodes, with its inverse.
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 100000.0 / chunks.gamma);
    if (!curve) return {};
    cmsToneCurve* curves[3] = {curve, curve, curve};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    if (!profile) return {};
    std::vector<uint8_t> bytes;
    std::string description = "RGB, PNG gamma " + fixedPointText(chunks.gamma);
    if (chunks.chromaticities) description += " and chromaticities";
    if (cmsMLU* mlu = cmsMLUalloc(nullptr, 1)) {
        cmsMLUsetASCII(mlu, "en", "US", description.c_str());
        cmsWriteTag(profile, cmsSigProfileDescriptionTag, mlu);
        cmsMLUfree(mlu);
    }
    // Version 2 is what every reader of JPEG, TIFF and PDF profiles takes.
    cmsSetProfileVersion(profile, 2.1);
    cmsUInt32Number size = 0;
    if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 128) {
        bytes.resize(size);
        if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
    }
    cmsCloseProfile(profile);
    // The header's creation time would make every conversion of the same file differ.
    if (bytes.size() > 36) std::fill(bytes.begin() + 24, bytes.begin() + 36, uint8_t(0));
    return bytes;
}

void convertToSRGB(RgbaImage& image) {
    if (image.iccProfile.empty()) return;
    image.deep.clear();
    image.pngGamma.reset();
    cmsHPROFILE in = cmsOpenProfileFromMem(image.iccProfile.data(), static_cast<cmsUInt32Number>(image.iccProfile.size()));
    if (!in) {
        image.iccProfile.clear();
        return;
    }
    if (cmsGetColorSpace(in) != cmsSigRgbData) {
        cmsCloseProfile(in);
        GrayToSRGB gray(image.iccProfile);
        gray.apply(image.pixels.data(), image.pixels.size() / 4);
        image.iccProfile.clear();
        return;
    }
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = cmsCreateTransform(in, TYPE_RGBA_8, srgb, TYPE_RGBA_8, INTENT_PERCEPTUAL, cmsFLAGS_COPY_ALPHA);
    if (t) {
        cmsDoTransform(t, image.pixels.data(), image.pixels.data(), static_cast<cmsUInt32Number>(image.pixels.size() / 4));
        cmsDeleteTransform(t);
    }
    cmsCloseProfile(srgb);
    cmsCloseProfile(in);
    image.iccProfile.clear();
    image.pngGamma.reset();
}

}  // namespace calvoro::imaging
