#pragma once

#include <filesystem>

namespace calvoro::DocumentConverter {

// Prints an HTML page of rich text (RTF or DOCX written as HTML, relative references beside it)
// on US Letter pages with the text print's margins, an inch on every side, painted white: the
// page laid out 6.5 inches wide is cut into slices 9 inches high, one a page. Nothing is written
// when it needs more than pdfPageLimit pages.
void printRichTextToPDF(const std::filesystem::path& source, const std::filesystem::path& output);

}  // namespace calvoro::DocumentConverter
