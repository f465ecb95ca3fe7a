#include "platform/text/xml_text.h"

#include <string>

#include "core/utf8.h"

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

// Also mends bytes that are not UTF-8 (an HTML parser can emit one for a numeric reference
// far beyond Unicode): each ill-formed sequence becomes U+FFFD, as a decoder would show it.
std::string removingXMLForbiddenCharacters(const std::string& utf8) {
    std::string out;
    out.reserve(utf8.size());
    const size_t n = utf8.size();
    auto byte = [&](size_t i) { return static_cast<unsigned char>(utf8[i]); };
    auto continuation = [&](size_t i) { return i < n && (byte(i) & 0xC0) == 0x80; };
    for (size_t i = 0; i < n;) {
        const unsigned char c = byte(i);
        if (c < 0x80) {
            if (c >= 0x20 || c == 0x09 || c == 0x0A || c == 0x0D) out.push_back(static_cast<char>(c));
            ++i;
            continue;
        }
        const auto start = utf8Start(c);
        const size_t length = start ? start->length : 0;
        size_t good = 1;  // bytes of a well-formed prefix
        if (start && i + 1 < n && byte(i + 1) >= start->secondLow && byte(i + 1) <= start->secondHigh) {
            good = 2;
            while (good < length && continuation(i + good)) ++good;
        }
        if (!length || good < length) {
            out += "\xEF\xBF\xBD";
            i += good;
            continue;
        }
        // U+FFFE and U+FFFF are EF BF BE and EF BF BF.
        const bool nonCharacter = c == 0xEF && byte(i + 1) == 0xBF && (byte(i + 2) == 0xBE || byte(i + 2) == 0xBF);
        if (!nonCharacter) out.append(utf8, i, length);
        i += length;
    }
    return out;
}

}  // namespace calvoro::text
