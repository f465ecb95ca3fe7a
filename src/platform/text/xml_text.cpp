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
        // Length and the allowed range of the second byte (no overlongs, surrogates or beyond U+10FFFF).
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) length = 2;
        else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0) low = 0xA0;
            if (c == 0xED) high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0) low = 0x90;
            if (c == 0xF4) high = 0x8F;
        }
        size_t good = 1;  // bytes of a well-formed prefix
        if (length && i + 1 < n && byte(i + 1) >= low && byte(i + 1) <= high) {
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
