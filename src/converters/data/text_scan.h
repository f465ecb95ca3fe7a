#pragma once

#include "core/text_util.h"

#include <string>
#include <string_view>
#include <vector>

// Small text helpers shared by the table and subtitle readers (UTF-8 in, views out).
namespace calvoro::datatext {

// Appends one Unicode scalar as UTF-8.
using calvoro::appendUTF8;

// Blanks and tabs only, not line ends.
std::string_view trimBlanksAndTabs(std::string_view text);
// Every Unicode white space character and line end (the White_Space property).
std::string_view trimUnicodeWhitespace(std::string_view text);
// Pieces between occurrences of separator, scanning left to right; keeps empty pieces.
std::vector<std::string_view> components(std::string_view text, std::string_view separator);
// Every occurrence of "from" replaced by "to".
std::string replacingAll(std::string_view text, std::string_view from, std::string_view to);

}  // namespace calvoro::datatext
