#include "converters/data/text_scan.h"

#include <cstdint>

namespace calvoro::datatext {

namespace {

bool isWhiteSpaceScalar(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) ||
           c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// Decodes the scalar at the front of text; length 0 when the bytes are not valid UTF-8.
char32_t frontScalar(std::string_view text, size_t& length) {
    auto b = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
    uint8_t lead = b(0);
    if (lead < 0x80) return length = 1, lead;
    size_t n = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (n == 0 || n > text.size()) return length = 0, 0;
    char32_t c = lead & (0x7F >> n);
    for (size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return length = 0, 0;
        c = (c << 6) | (b(i) & 0x3F);
    }
    length = n;
    return c;
}

// Length of the scalar that ends text, 0 when none can be found.
size_t backScalarLength(std::string_view text) {
    size_t n = 1;
    while (n <= 4 && n <= text.size() && (static_cast<uint8_t>(text[text.size() - n]) & 0xC0) == 0x80) ++n;
    return n <= text.size() ? n : 0;
}

}  // namespace

std::string_view trimBlanksAndTabs(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

std::string_view trimUnicodeWhitespace(std::string_view text) {
    while (!text.empty()) {
        size_t length = 0;
        char32_t c = frontScalar(text, length);
        if (length == 0 || !isWhiteSpaceScalar(c)) break;
        text.remove_prefix(length);
    }
    while (!text.empty()) {
        size_t n = backScalarLength(text);
        if (n == 0) break;
        size_t length = 0;
        char32_t c = frontScalar(text.substr(text.size() - n), length);
        if (length != n || !isWhiteSpaceScalar(c)) break;
        text.remove_suffix(n);
    }
    return text;
}

std::vector<std::string_view> components(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    for (;;) {
        size_t at = text.find(separator, start);
        if (at == std::string_view::npos) break;
        pieces.push_back(text.substr(start, at - start));
        start = at + separator.size();
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

std::string replacingAll(std::string_view text, std::string_view from, std::string_view to) {
    std::string out;
    out.reserve(text.size());
    size_t start = 0;
    for (;;) {
        size_t at = text.find(from, start);
        if (at == std::string_view::npos) break;
        out.append(text, start, at - start);
        out.append(to);
        start = at + from.size();
    }
    out.append(text, start);
    return out;
}

}  // namespace calvoro::datatext
