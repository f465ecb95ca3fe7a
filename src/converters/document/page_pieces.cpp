#include "converters/document/page_pieces.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <iterator>

#include "converters/document/text_to_pdf.h"
#include "core/conversion_error.h"
#include "core/text_util.h"

namespace calvoro::DocumentConverter::pieces {
namespace {

// What stands above a piece's first element: as high as puts that element where it lies on its page.
constexpr const char* spacerAttribute = "data-piece-top";
// The most pieces' worth a piece may grow to when its elements give no whole page.
constexpr size_t piecesAtMost = 6;
// Links, out of the flow, to every anchor the document links to: the engine marks only the
// anchors its page links to, and a piece may hold an anchor without the link to it.
constexpr const char* linksAttribute = "data-piece-links";
// The top, bottom and top margin of each of the body's elements, in CSS pixels from the page's top.
constexpr const char* boxesScript =
    "(function(){var out=[];for(var e=document.body.firstElementChild;e;e=e.nextElementSibling){"
    "if(e.hasAttribute('data-piece-top')||e.hasAttribute('data-piece-links'))continue;var r=e.getBoundingClientRect();"
    "out.push(r.top+' '+r.bottom+' '+(parseFloat(getComputedStyle(e).marginTop)||0));}return out.join(' ');})()";

bool isVoidElement(const std::string& name) {
    static const char* const names[] = {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "source", "wbr"};
    return std::any_of(std::begin(names), std::end(names), [&](const char* n) { return name == n; });
}

}  // namespace

std::optional<Body> topLevelElements(const std::string& html) {
    const std::string lower = asciiLowercased(html);
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

namespace {

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

// Sets the spacer so that the piece's first element lies where it lies on its page; false when
// it cannot be put there. A margin that reaches above that page (collapsed from the element's
// first child) starts the piece a page higher.
bool placeFirstElement(session::Session& session, Piece& piece, double sliceHeight) {
    for (int attempt = 0; attempt < 4; ++attempt) {
        if (piece.spacer < 0 && piece.offset < sliceHeight && piece.originPage > 0) {
            piece.spacer += sliceHeight;
            piece.offset += sliceHeight;
            --piece.originPage;
        }
        if (piece.spacer < 0) return false;
        const auto top = session::evaluateNumber(
            session, std::string("(function(){var s=document.querySelector('div[") + spacerAttribute + "]');s.style.height='" +
                         std::to_string(piece.spacer) + "px';var e=s.nextElementSibling;return e?e.getBoundingClientRect().top:-1e9;})()");
        if (!top) return false;
        if (std::abs(*top - piece.offset) < 0.02) return true;
        piece.spacer += piece.offset - *top;
    }
    return false;
}

}  // namespace

// Each piece ends before the page on which its last element starts, and the next starts with
// the first element seen on that page.
Outcome print(session::Session& session, const std::string& page, const Body& body, const Printing& printing) {
    const size_t pieceBytes = printing.pieceBytes;
    const double sliceHeight = printing.sliceHeight;
    const std::string links = linkedAnchors(page, body);
    Piece piece;
    for (size_t end = pieceEnd(body, 0, pieceBytes);;) {
        if (body.end(end) - body.elements[piece.first] > piecesAtMost * pieceBytes) return Outcome::elementTooLong;
        printing.load(pieceHtml(page, body, links, piece, end));
        if (piece.first > 0 && !placeFirstElement(session, piece, sliceHeight)) return Outcome::notInPieces;
        const auto boxes = measureBoxes(session, end - piece.first);
        // Each piece is collected once laid out, so that the renderer holds one piece's leftovers at most.
        const auto height = session::evaluateNumber(session, session::measureAndFixScript(0));
        if (!boxes || !height || !std::isfinite(*height)) return Outcome::notInPieces;
        const int done = piece.printed - piece.originPage;  // of the piece's own pages
        if (end == body.elements.size()) {
            const int pages = static_cast<int>(std::max(std::ceil(*height / sliceHeight), 1.0));
            if (piece.originPage + pages > pdfPageLimit) throw ConversionError::corruptFile(documentTooLongMessage);
            if (pages > done)
                printing.take(session::printRange(session, printing.width, sliceHeight, 0, done + 1, pages), piece.printed + 1,
                              piece.originPage * sliceHeight + *height);
            return Outcome::printed;
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
        printing.take(session::printRange(session, printing.width, sliceHeight, 0, done + 1, boundary), piece.printed + 1,
                      std::nullopt);
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

}  // namespace calvoro::DocumentConverter::pieces
