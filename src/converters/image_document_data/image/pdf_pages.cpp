#include <algorithm>
#include <cmath>

#include "converters/image_document_data/image/image_converter.h"
#include "core/conversion_error.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/pdf/pdf_document.h"

namespace calvoro {

std::filesystem::path ImageConverter::convertPDFPages(const std::filesystem::path& source, SupportedFormat target,
                                                      const std::filesystem::path& outputDir, double quality) {
    auto& logger = ConversionLogger::shared();
    // No sandbox here: nothing to start for the source.
    auto document = pdf::Document::open(source);
    if (!document) throw ConversionError::failedToLoadFile();

    const std::string folderName = deletingPathExtension(lastPathComponent(source)) + " (" + target.displayName() + ")";
    const std::filesystem::path folder = OutputNameRegistry::reserve(outputDir, folderName, "");
    std::filesystem::create_directories(folder);  // the file system's error passes unchanged

    const std::string type = target == SupportedFormat::pdfPagePng ? imaging::types::png : imaging::types::jpeg;
    const std::string extension = target.fileExtension();
    const int pageCount = document->pageCount();
    int written = 0;
    for (int i = 0; i < pageCount; ++i) {
        const int n = i + 1;
        const pdf::PageSize size = document->pageSize(i);
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
        try {
            imaging::RgbaImage image = document->render(i, pw, ph, false);
            if (image.empty()) continue;
            const auto file = folder / formatC(("page_%03d." + extension).c_str(), n);
            imaging::EncodeOptions options;
            options.quality = quality;
            imaging::writeImageFile(file, image, type, options);
            ++written;
        } catch (const ConversionError&) {
            // Counted as not written; the other pages go on.
        } catch (const std::bad_alloc&) {
        }
    }
    if (written == 0) {
        // Nothing to show for it: no empty folder is left behind as if it were a result.
        std::error_code ec;
        std::filesystem::remove(folder, ec);
        throw ConversionError::conversionFailed();
    }
    logger.success("Wrote " + std::to_string(written) + " page(s)", "Image", lastPathComponent(folder));
    return folder;
}

}  // namespace calvoro
