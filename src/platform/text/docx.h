#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/text/attributed_string.h"

namespace calvoro::text {

// Reads a WordprocessingML document (.docx): paragraphs, tabs, breaks, run fonts and sizes with
// the styles they inherit (headings at least the HTML reader's sizes), bold, italic, colours,
// hyperlinks, tables, numbered and bulleted list items with their markers, and PNG and JPEG
// pictures; the paragraphs of text boxes follow the paragraph that anchors them, and of markup
// alternatives one is read; footnotes and endnotes follow the body, each after its mark. Deleted
// text is left out. Throws ConversionError::corruptFile when the package or its XML is damaged.
// A package that expands past `package` bytes, a part past `part`, or the text of the body and
// its notes together past `part` is refused as soon as that shows, before it is read: its rich
// text would outgrow any memory a conversion may take.
struct DOCXLimits {
    int64_t package = 128'000'000;
    int64_t part = 16'000'000;
};
AttributedString readDOCX(std::span<const uint8_t> bytes, const DOCXLimits& limits = {});

// Writes a .docx package: one paragraph per line, one run per attribute run, ruled tables, list
// items numbered by the package's own list definitions, and pictures in word/media.
std::vector<uint8_t> writeDOCX(const AttributedString& text);

}  // namespace calvoro::text
