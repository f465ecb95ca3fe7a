// PDF outputs and folders of pages: the corner test and the bitmap size for it.
#include <algorithm>
#include <cmath>
#include <system_error>

#include "core/text_util.h"
#include "modules/documents_module.h"
#include "engine/validation_checks.h"

namespace calvoro::validation {
namespace {

// No bitmap larger than this is made for the corner test (64 MiB of pixels).
constexpr uint64_t maxBitmapBytes = uint64_t(64) << 20;

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

Status cornerVerdict(const std::vector<uint8_t>& rgba, int w, int h, PDFBackgroundRequirement requirement) {
    const int points[4][2] = {{1, 1}, {w - 2, 1}, {1, h - 2}, {w - 2, h - 2}};
    for (const auto& p : points) {
        const size_t at = (size_t(p[1]) * size_t(w) + size_t(p[0])) * 4;
        if (at + 3 >= rgba.size()) return Status::passed();
        const uint8_t alpha = rgba[at + 3];
        if (requirement == PDFBackgroundRequirement::opaquePage) {
            if (alpha == 0) return Status::failed("Image-PDF corner is transparent \u2014 broken file");
            continue;
        }
        if (alpha == 0) return Status::failed("PDF corner is transparent \u2014 page lacks background fill (inversion bug)");
        if (requirement == PDFBackgroundRequirement::paintedPage) continue;
        // The bytes a premultiplied bitmap would hold.
        const int r = premultiplied(rgba[at], alpha), g = premultiplied(rgba[at + 1], alpha),
                  b = premultiplied(rgba[at + 2], alpha);
        if (r < 200 || g < 200 || b < 200)
            return Status::failed("PDF corner is dark RGB(" + std::to_string(r) + "," + std::to_string(g) + "," +
                                  std::to_string(b) + ") \u2014 page has dark background");
    }
    return Status::passed();
}

Status validatePDF(const fs::path& url, int expectPages, PDFBackgroundRequirement requirement) {
    // Rendering needs the document layers, which live in their own module.
    return documents::validatePDF(url, expectPages, requirement);
}

Status validateFolderOutput(SupportedFormat target, const fs::path& folder) {
    std::error_code ec;
    const fs::file_status st = fs::status(folder, ec);
    if (!fs::exists(st)) return Status::failed("Output folder doesn't exist");
    if (!fs::is_directory(st)) return Status::failed("Output path is not a folder");

    std::vector<fs::path> entries;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) entries.push_back(it->path());
    if (ec) entries.clear();
    if (entries.empty()) return Status::failed("Output folder is empty");

    const std::string extension = target == SupportedFormat::pdfPagePng    ? "png"
                                  : target == SupportedFormat::pdfPageJpeg ? "jpg"
                                                                           : "pdf";
    std::vector<fs::path> kept;
    for (const auto& entry : entries)
        if (unicodeLowercased(pathExtension(entry)) == extension) kept.push_back(entry);
    if (kept.empty()) return Status::failed("Folder has no ." + extension + " files");

    const auto first = std::min_element(kept.begin(), kept.end(), [](const fs::path& a, const fs::path& b) {
        return lastPathComponent(a) < lastPathComponent(b);
    });
    if (target == SupportedFormat::pdfSplit) return validatePDF(*first, 1, PDFBackgroundRequirement::whitePage);
    return validateImage(*first);
}

}  // namespace calvoro::validation
