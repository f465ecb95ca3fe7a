#pragma once

#include <filesystem>

namespace calvoro::DocumentConverter {

// The most pages a document may take when laid out as PDF.
inline constexpr int pdfPageLimit = 10000;
inline constexpr const char* documentTooLongMessage =
    "This document is too long to convert to PDF (over 10,000 pages).";

// Plain text (Markdown printed as typed) laid out on US Letter pages in the monospaced
// 12-point font with one-inch margins, written as PDF. Nothing is written when the text
// needs more than pdfPageLimit pages.
void textToPDF(const std::filesystem::path& source, const std::filesystem::path& output);

}  // namespace calvoro::DocumentConverter
