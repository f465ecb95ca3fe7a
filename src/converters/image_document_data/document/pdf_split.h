#pragma once

#include <filesystem>

namespace calvoro::DocumentConverter {

// Writes every page of the PDF as a one-page PDF (page_001.pdf, ...) into a new folder
// named after the source with " (pages)", reserved in outputDir; returns that folder.
std::filesystem::path splitPDF(const std::filesystem::path& source, const std::filesystem::path& outputDir);

}  // namespace calvoro::DocumentConverter
