#pragma once

#include <string>
#include <string_view>

#include "platform/text/attributed_string.h"

namespace calvoro::text {

// Reads an RTF document: text, paragraphs, tabs, font sizes, bold, italic, fixed-pitch fonts,
// colours and HYPERLINK fields. Throws ConversionError::corruptFile for data that is not RTF.
AttributedString readRTF(std::string_view bytes);

// Writes an RTF document (ASCII, non-ASCII characters as \u escapes) with one group per run.
std::string writeRTF(const AttributedString& text);

}  // namespace calvoro::text
