#include "converters/document/pdf_split.h"

#include <cstdio>

#include "core/conversion_error.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"
#include "platform/pdf/page_assembly.h"

namespace calvoro::DocumentConverter {

std::filesystem::path splitPDF(const std::filesystem::path& source, const std::filesystem::path& outputDir,
                               const CancellationToken& cancellation) {
    auto document = pdf::PageAssembly::open(source);
    if (!document) throw ConversionError::failedToLoadFile();

    const std::filesystem::path folder =
        OutputNameRegistry::reserve(outputDir, deletingPathExtension(lastPathComponent(source.string())), "", " (pages)");
    std::filesystem::create_directories(folder);

    const int count = document->pageCount();
    for (int i = 0; i < count; ++i) {
        cancellation.throwIfCancelled();
        char name[32];
        std::snprintf(name, sizeof name, "page_%03d.pdf", i + 1);
        auto page = pdf::PageAssembly::empty();
        if (!page.insertPage(*document, i, 0)) continue;
        // A page that cannot be written must not pass as a complete split.
        if (!page.write(folder / name)) throw ConversionError::failedToCreateOutput();
    }
    return folder;
}

}  // namespace calvoro::DocumentConverter
