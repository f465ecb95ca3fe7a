#include "core/utf8.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "core/text_util.h"

namespace calvoro {

std::optional<UTF8Start> utf8Start(uint8_t c) {
    if (c < 0x80) return UTF8Start{1, 0x80, 0xBF};
    if (c >= 0xC2 && c <= 0xDF) return UTF8Start{2, 0x80, 0xBF};
    if (c >= 0xE0 && c <= 0xEF) return UTF8Start{3, uint8_t(c == 0xE0 ? 0xA0 : 0x80), uint8_t(c == 0xED ? 0x9F : 0xBF)};
    if (c >= 0xF0 && c <= 0xF4) return UTF8Start{4, uint8_t(c == 0xF0 ? 0x90 : 0x80), uint8_t(c == 0xF4 ? 0x8F : 0xBF)};
    return std::nullopt;
}

size_t utf8SequenceLength(std::string_view bytes) {
    if (bytes.empty()) return 0;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    const auto start = utf8Start(p[0]);
    if (!start) return 0;
    const size_t n = start->length;
    if (n == 1) return 1;
    if (bytes.size() < n || p[1] < start->secondLow || p[1] > start->secondHigh) return 0;
    for (size_t i = 2; i < n; ++i)
        if ((p[i] & 0xC0) != 0x80) return 0;
    return n;
}

bool isValidUTF8(std::string_view bytes) {
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t i = 0;
    while (i < bytes.size()) {
        // Most text is ASCII: skip it eight bytes at a time.
        while (bytes.size() - i >= 8) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (word & 0x8080808080808080ULL) break;
            i += 8;
        }
        if (i >= bytes.size()) break;
        const size_t n = utf8SequenceLength(bytes.substr(i));
        if (n == 0) return false;
        i += n;
    }
    return true;
}

std::string displayText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const size_t n = utf8SequenceLength(bytes);
        if (n == 0) {
            out += "\uFFFD";
            bytes.remove_prefix(1);
        } else {
            out.append(bytes.substr(0, n));
            bytes.remove_prefix(n);
        }
    }
    return out;
}

std::string displayName(const std::filesystem::path& path) { return displayText(lastPathComponent(path)); }

std::string_view prefixAtCharacterBoundary(std::string_view text, size_t maxBytes) {
    size_t end = 0;
    while (end < text.size()) {
        const size_t n = std::max<size_t>(1, utf8SequenceLength(text.substr(end)));
        if (end + n > maxBytes) break;
        end += n;
    }
    return text.substr(0, end);
}

std::optional<std::string> decodeUTF32(std::string_view bytes, bool bigEndian) {
    if (bytes.size() % 4 != 0) return std::nullopt;
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    std::string out;
    out.reserve(bytes.size() / 4);
    for (size_t i = 0; i < bytes.size(); i += 4) {
        const char32_t u = bigEndian ? (char32_t(p[i]) << 24) | (char32_t(p[i + 1]) << 16) | (char32_t(p[i + 2]) << 8) | p[i + 3]
                                     : (char32_t(p[i + 3]) << 24) | (char32_t(p[i + 2]) << 16) | (char32_t(p[i + 1]) << 8) | p[i];
        if (u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) return std::nullopt;
        appendUTF8(u, out);
    }
    return out;
}

}  // namespace calvoro
