#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/text/attributed_string.h"

namespace calvoro::text {

// Reads a WordprocessingML document (.docx): paragraphs, tabs, breaks, run fonts and sizes with
// the styles they inherit, bold, italic, colours and hyperlinks. Drawings and deleted text are
// left out. Throws ConversionError::corruptFile when the package or its XML is damaged.
AttributedString readDOCX(std::span<const uint8_t> bytes);

// Writes a .docx package: one paragraph per line, one run per attribute run.
std::vector<uint8_t> writeDOCX(const AttributedString& text);

}  // namespace calvoro::text
