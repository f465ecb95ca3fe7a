#pragma once

#include <cstddef>
#include <filesystem>

namespace calvoro::DocumentConverter {

// A longer page of rich text is laid out and printed in pieces of about this many bytes.
inline constexpr size_t richTextPieceBytes = 500'000;

// Prints an HTML page of rich text (RTF or DOCX written as HTML, relative references beside it)
// on US Letter pages with the text print's margins, an inch on every side, painted white: the
// page laid out 6.5 inches wide is cut into slices 9 inches high, one a page. A page longer than
// pieceBytes is loaded a piece of its body at a time, each piece set where it lies on its pages,
// so that the renderer holds one piece, not thousands of pages. Nothing is written when it needs
// more than pdfPageLimit pages.
void printRichTextToPDF(const std::filesystem::path& source, const std::filesystem::path& output,
                        size_t pieceBytes = richTextPieceBytes);

}  // namespace calvoro::DocumentConverter
