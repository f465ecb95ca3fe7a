#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <system_error>

#include "converters/data/data_converter.h"
#include "converters/data/text_scan.h"
#include "core/utf8.h"
#include "core/source_file.h"
#include "core/text_util.h"

namespace calvoro {

namespace {

// UTF-16 code units in the given byte order; fails on an unpaired surrogate.
std::optional<std::string> decodeUTF16(const uint8_t* p, size_t size, bool bigEndian) {
    if (size % 2 != 0) return std::nullopt;
    std::string out;
    out.reserve(size);
    auto unit = [&](size_t i) -> char32_t {
        return bigEndian ? (char32_t(p[i]) << 8) | p[i + 1] : (char32_t(p[i + 1]) << 8) | p[i];
    };
    for (size_t i = 0; i < size; i += 2) {
        char32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 2 >= size) return std::nullopt;
            char32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) return std::nullopt;
            u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return std::nullopt;
        }
        datatext::appendUTF8(u, out);
    }
    return out;
}

// Without a byte-order mark, UTF-16LE is taken only when the text looks like it:
// ASCII characters with a NUL high byte in the odd positions. Text in a single-byte
// code page never holds NUL bytes, so it is never mistaken for UTF-16.
bool looksLikeUTF16LE(const uint8_t* p, size_t size) {
    if (size < 2 || size % 2 != 0) return false;
    size_t units = size / 2, ascii = 0;
    for (size_t i = 0; i < size; i += 2)
        if (p[i + 1] == 0 && p[i] != 0 && p[i] < 0x80) ++ascii;
    return ascii > 0 && ascii * 4 >= units;
}

// Windows-1252 for 0x80 to 0x9F; 0 marks the five bytes that code page leaves undefined.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

std::optional<std::string> decodeWindows1252(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (unsigned char c : bytes) {
        if (c >= 0x80 && c <= 0x9F) {
            char16_t u = kWindows1252High[c - 0x80];
            if (u == 0) return std::nullopt;
            datatext::appendUTF8(u, out);
        } else {
            datatext::appendUTF8(c, out);
        }
    }
    return out;
}

std::string decodeLatin1(const std::string& bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (unsigned char c : bytes) datatext::appendUTF8(c, out);
    return out;
}

std::string readWholeFile(const std::filesystem::path& url) {
    std::string name = lastPathComponent(url);
    std::optional<SourceFile> file;
    try {
        file.emplace(url);
    } catch (const std::filesystem::filesystem_error& e) {
        throw std::system_error(e.code(), "The file \u201C" + name + "\u201D couldn\u2019t be opened");
    }
    try {
        return file->readAllAsString();
    } catch (const std::filesystem::filesystem_error& e) {
        throw std::system_error(e.code(), "The file \u201C" + name + "\u201D couldn\u2019t be read");
    }
}

}  // namespace

std::string DataConverter::readText(const std::filesystem::path& url) {
    std::string bytes = readWholeFile(url);
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t size = bytes.size();

    if (isValidUTF8(bytes)) {
        // The byte-order mark is no part of the text: left in, it would end up in the first header.
        if (size >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF) bytes.erase(0, 3);
        return bytes;
    }
    // Checked before UTF-16: the UTF-32LE mark begins with the UTF-16LE one.
    const bool utf32LE = size >= 4 && p[0] == 0xFF && p[1] == 0xFE && p[2] == 0 && p[3] == 0;
    const bool utf32BE = size >= 4 && p[0] == 0 && p[1] == 0 && p[2] == 0xFE && p[3] == 0xFF;
    if (utf32LE || utf32BE) {
        if (auto text = decodeUTF32(std::string_view(bytes).substr(4), utf32BE)) return std::move(*text);
    }
    if (size >= 2 && ((p[0] == 0xFF && p[1] == 0xFE) || (p[0] == 0xFE && p[1] == 0xFF))) {
        if (auto text = decodeUTF16(p + 2, size - 2, p[0] == 0xFE)) return std::move(*text);
    }
    if (looksLikeUTF16LE(p, size)) {
        if (auto text = decodeUTF16(p, size, false)) return std::move(*text);
    }
    if (auto text = decodeWindows1252(bytes)) return std::move(*text);
    // Every byte is a Latin-1 character, so the last encoding always fits.
    return decodeLatin1(bytes);
}

}  // namespace calvoro
