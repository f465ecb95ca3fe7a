#pragma once

#include <string>
#include <string_view>

#include "platform/text/attributed_string.h"

namespace calvoro::text {

// Reads an RTF document: text, paragraphs, tabs, font sizes, bold, italic, fixed-pitch fonts,
// colours, field results (HYPERLINK fields as links; a button field without a result shows its
// display text), table rows, list items (Word's list levels, or a bullet or number hanging from an
// indent), PNG and JPEG pictures, the text of shapes where they stand, and footnotes, which follow
// the body each after its mark. Throws ConversionError::corruptFile for data that is not RTF.
AttributedString readRTF(std::string_view bytes);

// Writes an RTF document (ASCII, non-ASCII characters as \u escapes) with one group per run,
// ruled table rows, list items hanging from their level's indent, and pictures.
std::string writeRTF(const AttributedString& text);

}  // namespace calvoro::text
