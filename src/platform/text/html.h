#pragma once

#include <string>
#include <string_view>

#include "platform/text/attributed_string.h"

class QTextDocument;

namespace calvoro::text {

// The HTML reader's defaults: body 12 pt; h1 24, h2 18 and h3 14.04 pt, all bold;
// code, pre and tt monospaced.
void applyReaderDefaults(QTextDocument& document);

AttributedString fromTextDocument(const QTextDocument& document);
void fillTextDocument(const AttributedString& text, QTextDocument& document);

// HTML (UTF-8) to rich text through QTextDocument; the parse runs on the Qt main thread.
AttributedString readHTML(std::string_view utf8);
// Rich text to an HTML page (UTF-8) through QTextDocument's writer. The text document holds
// about a kilobyte for each paragraph, so a text of more than maxHTMLParagraphs (a DOCX of
// millions of empty paragraphs fits in a few megabytes) is refused before it is built.
inline constexpr int maxHTMLParagraphs = 400'000;
inline constexpr const char* tooManyParagraphsMessage = "This document has too many paragraphs to convert (over 400,000).";
std::string writeHTML(const AttributedString& text);

}  // namespace calvoro::text
