#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "converters/image/image_converter.h"
#include "core/conversion_error.h"
#include "core/file_writing.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/pdf/pdf_document.h"

namespace calvoro {

namespace {

std::filesystem::path writePages(pdf::Document& document, const std::filesystem::path& folder, SupportedFormat target,
                                 double quality, const CancellationToken& cancellation) {
    auto& logger = ConversionLogger::shared();

    const std::string type = target == SupportedFormat::pdfPagePng ? imaging::types::png : imaging::types::jpeg;
    const std::string extension = target.fileExtension();
    const int pageCount = document.pageCount();
    int written = 0;
    for (int i = 0; i < pageCount; ++i) {
        cancellation.throwIfCancelled();
        const int n = i + 1;
        const pdf::PageSize size = document.pageSize(i);
        const double w = size.width, h = size.height;
        const double longer = std::max(w, h);
        double scale = 2.0;
        if (2.0 * longer > 8192.0) {
            scale = 8192.0 / longer;
            logger.warning("Page " + std::to_string(n) + " is very large — rendering at " + formatC("%.2f", scale) +
                               "× to stay within memory limits",
                           "Image");
        }
        const int pw = std::max(1, static_cast<int>(std::min(1e9, std::trunc(w * scale))));
        const int ph = std::max(1, static_cast<int>(std::min(1e9, std::trunc(h * scale))));
        std::vector<uint8_t> bytes;
        try {
            imaging::RgbaImage image = document.render(i, pw, ph, false);
            if (image.empty()) continue;
            imaging::EncodeOptions options;
            options.quality = quality;
            bytes = imaging::encodeImage(image, type, options);
        } catch (const ConversionError&) {
            // A page that cannot be rendered is left out; the other pages go on.
            continue;
        } catch (const std::bad_alloc&) {
            continue;
        }
        // A page that cannot be written (a full disk) fails the whole folder.
        const auto file = folder / formatC(("page_%03d." + extension).c_str(), n);
        if (!files::writeAll(file, bytes.data(), bytes.size(), O_CREAT | O_EXCL)) {
            logger.error("Cannot write " + lastPathComponent(file) + ": " + std::strerror(errno), "Image");
            throw ConversionError::failedToCreateOutput();
        }
        ++written;
    }
    // Nothing to show for it: the caller removes the empty folder.
    if (written == 0) throw ConversionError::conversionFailed();
    logger.success("Wrote " + std::to_string(written) + " page(s)", "Image", lastPathComponent(folder));
    return folder;
}

}  // namespace

std::filesystem::path ImageConverter::convertPDFPages(const std::filesystem::path& source, SupportedFormat target,
                                                      const std::filesystem::path& outputDir, double quality,
                                                      const CancellationToken& cancellation) {
    // No sandbox here: nothing to start for the source.
    auto document = pdf::Document::open(source);
    if (!document) throw ConversionError::failedToLoadFile();

    const std::filesystem::path folder = OutputNameRegistry::reserve(outputDir, deletingPathExtension(lastPathComponent(source)), "",
                                                                     " (" + target.displayName() + ")");
    std::filesystem::create_directories(folder);  // the file system's error passes unchanged
    try {
        return writePages(*document, folder, target, quality, cancellation);
    } catch (...) {
        // Part of the pages is no result, and no empty folder passes for one.
        std::error_code ec;
        std::filesystem::remove_all(folder, ec);
        throw;
    }
}

}  // namespace calvoro
