#include "converters/document/rich_text_print.h"

#include <malloc.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include "converters/document/document_converter.h"
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
// Measures the content and fixes the layout at its height, so that the engine moves nothing
// across page breaks and each printed page is one slice of the page as laid out: the engine's
// own page breaking takes minutes over a long document.
constexpr const char* measureAndFixScript =
    "(function(){var h=Math.max(document.body ? document.body.scrollHeight : 0, document.documentElement.scrollHeight);"
    "var s=document.documentElement.style;s.setProperty('box-sizing','border-box','important');"
    "s.setProperty('height',h+'px','important');s.setProperty('contain','size layout','important');return h;})()";
// What stands above a piece's first element: as high as puts that element where it lies on its page.
constexpr const char* spacerAttribute = "data-piece-top";
// The most pieces' worth a piece may grow to when its elements give no whole page.
constexpr size_t piecesAtMost = 6;
constexpr const char* paragraphTooLongMessage = "This document has a paragraph or table too long to convert to PDF.";
// Links, out of the flow, to every anchor the document links to: the engine marks only the
// anchors its page links to, and a piece may hold an anchor without the link to it.
constexpr const char* linksAttribute = "data-piece-links";
// The top, bottom and top margin of each of the body's elements, in CSS pixels from the page's top.
constexpr const char* boxesScript =
    "(function(){var out=[];for(var e=document.body.firstElementChild;e;e=e.nextElementSibling){"
    "if(e.hasAttribute('data-piece-top')||e.hasAttribute('data-piece-links'))continue;var r=e.getBoundingClientRect();"
    "out.push(r.top+' '+r.bottom+' '+(parseFloat(getComputedStyle(e).marginTop)||0));}return out.join(' ');})()";

// The body of a page written by the rich text writer: where its content starts and ends, and
// where each of its top-level elements starts.
struct Body {
    size_t contentStart = 0;
    size_t contentEnd = 0;
    std::vector<size_t> elements;
    size_t end(size_t i) const { return i < elements.size() ? elements[i] : contentEnd; }
};

bool isVoidElement(const std::string& name) {
    static const char* const names[] = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "wbr"};
    return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return name == n; });
}

// Nothing when the body is not a run of elements closed in order, as the writer gives it.
std::optional<Body> topLevelElements(const std::string& html) {
    std::string lower(html.size(), '\0');
    std::transform(html.begin(), html.end(), lower.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    Body body;
    const size_t open = lower.find("<body");
    body.contentEnd = lower.rfind("</body");
    if (open == std::string::npos || body.contentEnd == std::string::npos || body.contentEnd < open) return std::nullopt;
    body.contentStart = html.find('>', open);
    if (body.contentStart == std::string::npos || body.contentStart > body.contentEnd) return std::nullopt;
    ++body.contentStart;
    int depth = 0;
    for (size_t at = body.contentStart; at < body.contentEnd;) {
        const size_t tag = html.find('<', at);
        const size_t upTo = std::min(tag, body.contentEnd);
        // Text directly in the body would stand between the elements, measured by none of them.
        if (depth == 0 && html.find_first_not_of(" \t\r\n", at) < upTo) return std::nullopt;
        if (tag >= body.contentEnd) break;
        if (lower.compare(tag, 4, "<!--") == 0) {
            const size_t close = html.find("-->", tag);
            if (close == std::string::npos) return std::nullopt;
            at = close + 3;
            continue;
        }
        // The tag's end: the first '>' outside quotes.
        size_t end = tag + 1;
        for (char quote = 0; end < html.size() && (quote || html[end] != '>'); ++end)
            if (html[end] == '"' || html[end] == '\'') quote = quote == html[end] ? 0 : (quote ? quote : html[end]);
        if (end >= html.size()) return std::nullopt;
        const bool closing = html[tag + 1] == '/';
        size_t nameEnd = tag + (closing ? 2 : 1);
        while (nameEnd < end && std::isalnum(static_cast<unsigned char>(lower[nameEnd]))) ++nameEnd;
        const std::string name = lower.substr(tag + (closing ? 2 : 1), nameEnd - tag - (closing ? 2 : 1));
        if (name.empty()) return std::nullopt;
        if (closing) {
            if (--depth < 0) return std::nullopt;
        } else {
            if (depth == 0) body.elements.push_back(tag);
            if (!isVoidElement(name) && html[end - 1] != '/') ++depth;
        }
        at = end + 1;
    }
    if (depth != 0 || body.elements.empty()) return std::nullopt;
    return body;
}

struct Box {
    double top = 0, bottom = 0, marginTop = 0;
};

std::optional<std::vector<Box>> measureBoxes(session::Session& session, size_t count) {
    const auto text = session::evaluateText(session, boxesScript);
    if (!text) return std::nullopt;
    std::vector<double> numbers;
    for (const char *at = text->data(), *end = at + text->size(); at < end;) {
        double n = 0;
        const auto [next, error] = std::from_chars(at, end, n);
        if (error != std::errc()) return std::nullopt;
        numbers.push_back(n);
        at = next < end ? next + 1 : next;
    }
    if (numbers.size() != 3 * count) return std::nullopt;
    std::vector<Box> boxes(count);
    for (size_t i = 0; i < count; ++i) boxes[i] = {numbers[3 * i], numbers[3 * i + 1], numbers[3 * i + 2]};
    return boxes;
}

// Where a piece starts: its first element, the page of the whole document on which the piece's
// top lies (from 0), how far below that page's top the element's border lies and the spacer's
// first height to put it there (its own margins then stand above it), with the pages printed so far.
struct Piece {
    size_t first = 0;
    int originPage = 0;
    double offset = 0;
    double spacer = 0;
    int printed = 0;
};

// The element after the last one of a piece that starts at first and holds about pieceBytes.
size_t pieceEnd(const Body& body, size_t first, size_t pieceBytes) {
    size_t end = first + 1;
    while (end < body.elements.size() && body.elements[end] - body.elements[first] < pieceBytes) ++end;
    return end;
}

// Empty links to the anchors the body's links lead to, in a box out of the flow; nothing when none.
std::string linkedAnchors(const std::string& page, const Body& body) {
    std::string links;
    for (const char quote : {'"', '\''}) {
        const std::string start = std::string("href=") + quote + "#";
        for (size_t at = page.find(start, body.contentStart); at < body.contentEnd; at = page.find(start, at + 1)) {
            const size_t end = page.find(quote, at + start.size());
            if (end == std::string::npos) break;
            links += "<a href=" + page.substr(at + 5, end + 1 - at - 5) + "></a>";
        }
    }
    if (links.empty()) return links;
    return std::string("<div ") + linksAttribute +
           " style=\"position:absolute;left:0;top:0;width:0;height:0;overflow:hidden\">" + links + "</div>";
}

std::string pieceHtml(const std::string& page, const Body& body, const std::string& links, const Piece& piece, size_t end) {
    const size_t from = piece.first == 0 ? body.contentStart : body.elements[piece.first];
    std::string html = page.substr(0, body.contentStart) + links;
    if (piece.first > 0)
        html += std::string("<div ") + spacerAttribute + " style=\"margin:0;padding:0;border:0;height:" +
                std::to_string(piece.spacer) + "px\"></div>";
    return html + page.substr(from, body.end(end) - from) + page.substr(body.contentEnd);
}

// Sets the spacer so that the piece's first element lies offset pixels below the top; false
// when it cannot be put there.
bool placeFirstElement(session::Session& session, double spacer, double offset) {
    for (int attempt = 0; attempt < 4 && spacer >= 0; ++attempt) {
        const auto top = session::evaluateNumber(
            session, std::string("(function(){var s=document.querySelector('div[") + spacerAttribute + "]');s.style.height='" +
                         std::to_string(spacer) + "px';var e=s.nextElementSibling;return e?e.getBoundingClientRect().top:-1e9;})()");
        if (!top) return false;
        if (std::abs(*top - offset) < 0.02) return true;
        spacer += offset - *top;
    }
    return false;
}

void appendPages(pdf::PageAssembly& document, const pdf::PageAssembly& printed) {
    for (int i = 0; i < printed.pageCount(); ++i) {
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

// The document printed a piece at a time: each piece ends before the page on which its last
// element starts, and the next starts with the first element seen on that page. False when a
// piece's elements are not those the page's text gives.
bool printInPieces(session::Session& session, const std::string& page, const Body& body, const std::filesystem::path& source,
                   size_t pieceBytes, pdf::PageAssembly& document) {
    const std::string links = linkedAnchors(page, body);
    Piece piece;
    for (size_t end = pieceEnd(body, 0, pieceBytes);;) {
        // A paragraph or table that fills several pieces by itself is laid out whole: the
        // renderer would need gigabytes for the longest.
        if (body.end(end) - body.elements[piece.first] > piecesAtMost * pieceBytes)
            throw ConversionError::corruptFile(paragraphTooLongMessage);
        loadPage(session, pieceHtml(page, body, links, piece, end), source);
        if (piece.first > 0 && !placeFirstElement(session, piece.spacer, piece.offset)) return false;
        const auto boxes = measureBoxes(session, end - piece.first);
        const auto height = session::evaluateNumber(session, measureAndFixScript);
        if (!boxes || !height || !std::isfinite(*height)) return false;
        const int done = piece.printed - piece.originPage;  // of the piece's own pages
        if (end == body.elements.size()) {
            const int pages = static_cast<int>(std::max(std::ceil(*height / sliceHeight), 1.0));
            if (piece.originPage + pages > pdfPageLimit) throw ConversionError::corruptFile(documentTooLongMessage);
            if (pages > done) appendPages(document, session::printRange(session, pageWidth, sliceHeight, 0, done + 1, pages));
            return true;
        }
        // The page on which the piece's last element starts (one not shown measures at the top).
        double lastTop = 0;
        for (const Box& box : *boxes) lastTop = std::max(lastTop, box.top);
        const int boundary = static_cast<int>(std::floor(lastTop / sliceHeight));
        if (piece.originPage + boundary > pdfPageLimit) throw ConversionError::corruptFile(documentTooLongMessage);
        if (boundary <= done) {
            // No whole page yet: the piece takes more elements.
            end = pieceEnd(body, end, pieceBytes);
            continue;
        }
        appendPages(document, session::printRange(session, pageWidth, sliceHeight, 0, done + 1, boundary));
        size_t next = 0;
        while (next + 1 < boxes->size() && (*boxes)[next].bottom <= boundary * sliceHeight) ++next;
        const Box& box = (*boxes)[next];
        const double above = std::max(box.marginTop, 0.0);
        const int topPage = static_cast<int>(std::floor((box.top - above) / sliceHeight));
        piece = {piece.first + next, piece.originPage + topPage, box.top - topPage * sliceHeight,
                 box.top - above - topPage * sliceHeight, piece.originPage + boundary};
        end = std::max(pieceEnd(body, piece.first, pieceBytes), end + 1);
    }
}

void printWhole(session::Session& session, const std::string& page, const std::filesystem::path& source,
                pdf::PageAssembly& document) {
    loadPage(session, page, source);
    const double height = session::evaluateNumber(session, measureAndFixScript).value_or(sliceHeight);
    const double slices = std::max(std::ceil((std::isfinite(height) ? height : sliceHeight) / sliceHeight), 1.0);
    if (slices > pdfPageLimit) throw ConversionError::corruptFile(documentTooLongMessage);
    auto printed = pdf::PageAssembly::openBytes(session::print(session, pageWidth, sliceHeight));
    for (int i = 0; printed && i < static_cast<int>(slices) && i < printed->pageCount(); ++i) {
        document.insertPage(*printed, i, i);
        document.scalePage(i, 1, pageWidth * 0.75, pageHeight * 0.75, margin * 0.75);
        // The margins are no part of the print: they are painted here.
        document.paintWhiteBehind(i);
    }
    if (printed) document.carryNamedDestinations(*printed);
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
    const auto body = page.size() > pieceBytes ? topLevelElements(page) : std::nullopt;
    if (!body || !printInPieces(*session, page, *body, source, pieceBytes, document)) {
        document = pdf::PageAssembly::empty();
        printWhole(*session, page, source, document);
    }
    if (document.pageCount() == 0 || !document.write(output)) throw ConversionError::failedToCreateOutput();
}

}  // namespace calvoro::DocumentConverter
