#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "converters/document/page_session.h"
#include "platform/pdf/page_assembly.h"

// A long page laid out and printed a piece of its body at a time: each piece, a run of the body's
// top-level elements, is loaded on its own and set as far below the top of its first page as it
// lies in the whole page, so that every printed page is the same slice of the same layout while
// the renderer holds one piece, not thousands of pages.
namespace calvoro::DocumentConverter::pieces {

// Where a page's body content starts and ends, and where each of its top-level elements starts.
struct Body {
    size_t contentStart = 0;
    size_t contentEnd = 0;
    std::vector<size_t> elements;
    size_t end(size_t i) const { return i < elements.size() ? elements[i] : contentEnd; }
};

// Nothing when the body is not a run of elements closed in order, without text between them.
std::optional<Body> topLevelElements(const std::string& html);

// How one kind of page is printed.
struct Printing {
    int width = 0;             // CSS pixels
    double sliceHeight = 0;    // of the page, printed on each sheet
    size_t pieceBytes = 0;     // of HTML, about, in a piece
    // Loads a piece's HTML into the session's page and returns once it is laid out.
    std::function<void(const std::string& html)> load;
    // Takes one print's pages, the first of them page firstPage of the whole (from 1); height, the
    // whole page's height in CSS pixels, comes with the last print.
    std::function<void(const pdf::PageAssembly& pages, int firstPage, std::optional<double> height)> take;
};

enum class Outcome {
    printed,
    notInPieces,     // a piece's elements are not those its text gives
    elementTooLong,  // one element (a paragraph, a table) fills several pieces by itself
};

// Prints page (whose body is body) in pieces, unless it cannot be. Throws ConversionError when a
// print fails and when the page needs more than pdfPageLimit sheets.
Outcome print(session::Session& session, const std::string& page, const Body& body, const Printing& printing);

}  // namespace calvoro::DocumentConverter::pieces
