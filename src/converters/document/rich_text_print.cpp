#include "converters/document/rich_text_print.h"

#include <malloc.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>
#include <string>

#include "converters/document/document_converter.h"
#include "converters/document/page_pieces.h"
#include "converters/document/page_session.h"
#include "core/conversion_error.h"
#include "platform/pdf/page_assembly.h"

namespace calvoro::DocumentConverter {
namespace {

// CSS pixels, 96 an inch: US Letter with the one-inch margins of the text print.
constexpr int pageWidth = 816;
constexpr double pageHeight = 1056;
constexpr double margin = 96;
constexpr double sliceHeight = pageHeight - 2 * margin;
// The page's own style gives the margins at the sides; each slice is set a margin below the
// top of its page.
constexpr const char* marginStyle = "<style>body{margin:0 96px !important;padding:0 !important}</style>";
constexpr const char* paragraphTooLongMessage = "This document has a paragraph or table too long to convert to PDF.";

// Sets a print's pages, at most `most` of them, on Letter pages after the document's own.
void appendPages(pdf::PageAssembly& document, const pdf::PageAssembly& printed, int most = INT_MAX) {
    for (int i = 0; i < printed.pageCount() && i < most; ++i) {
        const int at = document.pageCount();
        document.insertPage(printed, i, at);
        document.scalePage(at, 1, pageWidth * 0.75, pageHeight * 0.75, margin * 0.75);
        // The margins are no part of the print: they are painted here.
        document.paintWhiteBehind(at);
    }
    document.carryNamedDestinations(printed);
}

void loadPage(session::Session& session, const std::string& html, const std::filesystem::path& source) {
    auto loaded = session::load(session, html, std::filesystem::absolute(source).parent_path(), false,
                                WebKitLoadWaiter::defaultTimeout);
    session::await(loaded, WebKitLoadWaiter::defaultTimeout + 60);
}

void printWhole(session::Session& session, const std::string& page, const std::filesystem::path& source,
                pdf::PageAssembly& document) {
    loadPage(session, page, source);
    const double height = session::evaluateNumber(session, session::measureAndFixScript()).value_or(sliceHeight);
    const double slices = std::max(std::ceil((std::isfinite(height) ? height : sliceHeight) / sliceHeight), 1.0);
    if (slices > pdfPageLimit) throw ConversionError::corruptFile(documentTooLongMessage);
    if (auto printed = pdf::PageAssembly::openBytes(session::print(session, pageWidth, sliceHeight)))
        appendPages(document, *printed, static_cast<int>(slices));
}

}  // namespace

void printRichTextToPDF(const std::filesystem::path& source, const std::filesystem::path& output, size_t pieceBytes) {
    // What reading the document took, freed now, goes back to the system before the renderer
    // starts: the heap keeps it otherwise, hundreds of megabytes for the longest documents.
    malloc_trim(0);
    session::SessionGuard session;
    session::startPage(*session, pageWidth, static_cast<int>(pageHeight));
    std::string page = detail::forceLightScheme(readTextFile(source));
    if (const size_t head = page.find("</head>"); head != std::string::npos) page.insert(head, marginStyle);
    auto document = pdf::PageAssembly::empty();
    const auto body = page.size() > pieceBytes ? pieces::topLevelElements(page) : std::nullopt;
    const pieces::Printing printing{pageWidth, sliceHeight, pieceBytes,
                                    [&](const std::string& html) { loadPage(*session, html, source); },
                                    [&](const pdf::PageAssembly& pages, int, std::optional<double>) { appendPages(document, pages); }};
    const auto outcome = body ? pieces::print(*session, page, *body, printing) : pieces::Outcome::notInPieces;
    // Laid out whole, the longest paragraph or table would take the renderer gigabytes.
    if (outcome == pieces::Outcome::elementTooLong) throw ConversionError::corruptFile(paragraphTooLongMessage);
    if (outcome == pieces::Outcome::notInPieces) {
        document = pdf::PageAssembly::empty();
        printWhole(*session, page, source, document);
    }
    if (document.pageCount() == 0 || !document.write(output)) throw ConversionError::failedToCreateOutput();
}

}  // namespace calvoro::DocumentConverter
