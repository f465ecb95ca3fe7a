#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/web/html_tree.h"

// What older HTML said with attributes and obsolete elements, said again in CSS, and the
// attribute values an EPUB chapter may carry.
namespace calvoro::DocumentConverter::detail {

// CSS declarations ("a:b;c:d", possibly empty) for the presentational attributes of an
// element (align, width, bgcolor, border, nowrap,
// font's color, face and size, list types...).
std::string presentationalStyle(const GumboNode& element);
// What a table's cellpadding and border give each of its cells.
std::string cellStyleOf(const GumboNode& table);

// "12" → "12px", "50%" → "50%"; nothing for what CSS cannot take.
std::optional<std::string> cssLength(std::string_view value);
// "#fff", "ffffff" → "#ffffff", "red"; nothing for anything else.
std::optional<std::string> cssColor(std::string_view value);
// A link out of the book (http, https, mailto) with what a URL may not hold escaped;
// nothing for any other link.
std::optional<std::string> outsideLink(std::string_view href);
// A language tag of the shape "en", "pt-BR", "zh-Hant-TW".
bool isLanguageTag(std::string_view value);
// A name an XHTML id may take: letters, digits, "-", "_" and "." after a letter or "_".
std::string idName(std::string_view value);
// %xx sequences decoded (invalid ones kept as they are).
std::string percentDecoded(std::string_view value);

}  // namespace calvoro::DocumentConverter::detail
