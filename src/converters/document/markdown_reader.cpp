#include "converters/document/text_pages.h"
#include "core/text_util.h"
#include "platform/text/regex.h"

namespace calvoro::DocumentConverter {

std::string markdownBodyHTML(std::string_view markdown) {
    std::string text = htmlEscape(markdown);
    static const text::Regex h3("(?m)^### (.+)$");
    static const text::Regex h2("(?m)^## (.+)$");
    static const text::Regex h1("(?m)^# (.+)$");
    static const text::Regex strong("\\*\\*(.+?)\\*\\*");
    static const text::Regex em("\\*(.+?)\\*");
    static const text::Regex code("`(.+?)`");
    text = h3.replaceAll(text, "<h3>$1</h3>");
    text = h2.replaceAll(text, "<h2>$1</h2>");
    text = h1.replaceAll(text, "<h1>$1</h1>");
    text = strong.replaceAll(text, "<strong>$1</strong>");
    text = em.replaceAll(text, "<em>$1</em>");
    text = code.replaceAll(text, "<code>$1</code>");
    return "<p>" + replacingOccurrences(text, "\n\n", "</p><p>") + "</p>";
}

}  // namespace calvoro::DocumentConverter
