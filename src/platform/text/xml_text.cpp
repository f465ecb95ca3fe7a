#include "platform/text/xml_text.h"

#include <string>

namespace calvoro::text {

QString removingXMLForbiddenCharacters(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char16_t c = text[i].unicode();
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 < text.size() && text[i + 1].unicode() >= 0xDC00 && text[i + 1].unicode() <= 0xDFFF) {
                out.append(text[i]);
                out.append(text[i + 1]);
                ++i;
            }
            continue;
        }
        if (c >= 0xDC00 && c <= 0xDFFF) continue;
        if (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) continue;
        if (c == 0xFFFE || c == 0xFFFF) continue;
        out.append(text[i]);
    }
    return out;
}

std::string removingXMLForbiddenCharacters(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D) continue;
        // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
        if (c == 0xEF && i + 2 < utf8.size() && static_cast<unsigned char>(utf8[i + 1]) == 0xBF &&
            (static_cast<unsigned char>(utf8[i + 2]) == 0xBE || static_cast<unsigned char>(utf8[i + 2]) == 0xBF)) {
            i += 2;
            continue;
        }
        out.push_back(static_cast<char>(c));
    }
    return out;
}

}  // namespace calvoro::text
