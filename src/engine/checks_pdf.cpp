// PDF outputs: the background test and the bitmap size for it.
#include <algorithm>
#include <array>
#include <cmath>
#include <map>

#include "modules/documents_module.h"
#include "engine/validation_checks.h"

namespace calvoro::validation {
namespace {

// No bitmap larger than this is made for the background test (64 MiB of pixels).
constexpr uint64_t maxBitmapBytes = uint64_t(64) << 20;
// The text print's margin of 72 points, in pixels of the quarter-size bitmap.
constexpr int marginPixels = 18;
constexpr const char* transparentPage = "PDF corner is transparent \u2014 page lacks background fill (inversion bug)";

int quarterEdge(double points) {
    const double scaled = points * 0.25;
    if (!(scaled >= 2.0)) return 2;  // also catches not-a-number
    if (scaled >= 1e9) return 1'000'000'000;
    return static_cast<int>(scaled);  // truncated toward zero
}

uint8_t premultiplied(uint8_t value, uint8_t alpha) {
    return static_cast<uint8_t>((unsigned(value) * alpha + 127) / 255);
}

}  // namespace

std::optional<BitmapSize> quarterBitmapSize(double widthPoints, double heightPoints) {
    const int w = quarterEdge(widthPoints);
    const int h = quarterEdge(heightPoints);
    const uint64_t bytes = uint64_t(w) * uint64_t(h) * 4;  // both at most 1e9: no overflow
    if (bytes > maxBitmapBytes) return std::nullopt;
    return BitmapSize{w, h};
}

Status backgroundVerdict(const std::vector<uint8_t>& rgba, int w, int h, PDFBackgroundRequirement requirement) {
    if (w < 1 || h < 1 || rgba.size() < size_t(w) * size_t(h) * 4) return Status::passed();
    // The band of the text print's one-inch margins (a quarter of the page at most), where a
    // page shows its background and a document little of its own.
    const int band = std::max(1, std::min({marginPixels, w / 4, h / 4}));
    int total = 0, transparent = 0, dark = 0;
    std::map<std::array<int, 3>, int> darkColours;
    for (int y = 0; y < h; ++y) {
        const bool edgeRow = y < band || y >= h - band;
        for (int x = 0; x < w; ++x) {
            if (!edgeRow && x == band && w - band > band) x = w - band;
            const size_t at = (size_t(y) * size_t(w) + size_t(x)) * 4;
            const uint8_t alpha = rgba[at + 3];
            ++total;
            if (alpha == 0) {
                ++transparent;
                continue;
            }
            // The bytes a premultiplied bitmap would hold.
            const std::array<int, 3> rgb{premultiplied(rgba[at], alpha), premultiplied(rgba[at + 1], alpha),
                                         premultiplied(rgba[at + 2], alpha)};
            if (rgb[0] < 200 || rgb[1] < 200 || rgb[2] < 200) {
                ++dark;
                ++darkColours[rgb];
            }
        }
    }
    // The background is what most of the margins show; content that reaches into them is not.
    const bool mostlyTransparent = 2 * transparent > total;
    switch (requirement) {
        case PDFBackgroundRequirement::opaquePage:
            return mostlyTransparent ? Status::failed("Image-PDF corner is transparent \u2014 broken file") : Status::passed();
        case PDFBackgroundRequirement::paintedPage:
            return mostlyTransparent ? Status::failed(transparentPage) : Status::passed();
        case PDFBackgroundRequirement::whitePage:
            if (2 * (transparent + dark) <= total) return Status::passed();
            if (transparent >= dark) return Status::failed(transparentPage);
            break;
    }
    const auto colour = std::max_element(darkColours.begin(), darkColours.end(),
                                         [](const auto& a, const auto& b) { return a.second < b.second; })->first;
    return Status::failed("PDF corner is dark RGB(" + std::to_string(colour[0]) + "," + std::to_string(colour[1]) + "," +
                          std::to_string(colour[2]) + ") \u2014 page has dark background");
}

Status validatePDF(const fs::path& url, int expectPages, PDFBackgroundRequirement requirement) {
    // Rendering needs the document layers, which live in their own module.
    return documents::validatePDF(url, expectPages, requirement);
}

}  // namespace calvoro::validation
