#pragma once

#include <filesystem>

#include "core/cancellation.h"

namespace calvoro::DocumentConverter {

// Writes every page of the PDF as a one-page PDF (page_001.pdf, ...) into a new folder
// named after the source with " (pages)", reserved in outputDir; returns that folder. A cancelled
// token stops it between pages with CancellationError.
std::filesystem::path splitPDF(const std::filesystem::path& source, const std::filesystem::path& outputDir,
                               const CancellationToken& cancellation = {});

}  // namespace calvoro::DocumentConverter
