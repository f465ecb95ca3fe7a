// Checks of raster outputs through the imaging layer: the file opens, holds an image, and
// its first image decodes; a folder of pages holds such a picture or a PDF.
#include <algorithm>
#include <system_error>

#include "core/text_util.h"
#include "engine/validation_checks.h"
#include "platform/imaging/image_source.h"

namespace calvoro::validation {

Status validateImage(const fs::path& url) {
    std::optional<imaging::ImageSource> source;
    try {
        source = imaging::ImageSource::open(url);
    } catch (...) {
        source.reset();
    }
    if (!source) return Status::failed("The image cannot be opened");
    try {
        // The cheapest decode that still reads every byte of the first image.
        const imaging::RgbaImage image = source->decodeFirstFrameForCheck();
        if (source->properties().frameCount < 1) return Status::failed("The file holds no image");
        if (image.empty()) return Status::failed("First image failed to decode");
    } catch (...) {
        return Status::failed("First image failed to decode");
    }
    return Status::passed();
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
