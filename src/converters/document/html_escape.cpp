#include "converters/document/text_pages.h"

namespace calvoro::DocumentConverter {

void appendHTMLEscaped(std::string& out, std::string_view text) {
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out.push_back(c);
        }
    }
}

std::string htmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    appendHTMLEscaped(out, text);
    return out;
}

}  // namespace calvoro::DocumentConverter
