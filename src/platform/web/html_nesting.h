#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace calvoro::web::html {

// Elements are nested no deeper than browsers build them.
inline constexpr size_t maxNesting = 512;

// The page with every tag that would open an element deeper than maxDepth left out, and its end
// tag with it: what it held stays, as text and elements of the last level kept. The HTML5
// parser's work per tag grows with the depth of open elements, so a page of nothing but
// unclosed tags would otherwise take time quadratic in its length. Depth is followed as the
// parser builds it for the tags that close others by themselves (p, li, td, option...), so an
// ordinary page passes unchanged; only tags are removed, never text. A block or cell left out
// leaves a space, so that its words stay apart from those around it.
std::string boundedNesting(std::string html, size_t maxDepth = maxNesting);

// How many blocks and table parts (paragraphs, list items, cells...) the page opens: what a
// reader that keeps a record for each will hold.
size_t blockCount(std::string_view html);

}  // namespace calvoro::web::html
