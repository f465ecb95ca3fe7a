#include "core/text_util.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <unicode/ucasemap.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

namespace calvoro {

namespace {

char lowerASCII(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Rounds to the given decimals and drops trailing zeros, in the C locale.
std::string trimmedDecimal(double value, int decimals) {
    std::string text = formatFixed(value, decimals);
    if (text.find('.') != std::string::npos) {
        while (!text.empty() && text.back() == '0') text.pop_back();
        if (!text.empty() && text.back() == '.') text.pop_back();
    }
    return text;
}

std::string withThousands(int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    std::string out;
    int count = 0;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        if (count && count % 3 == 0) out.insert(out.begin(), ',');
        out.insert(out.begin(), *it);
        ++count;
    }
    return n < 0 ? "-" + out : out;
}

bool toUTF16(std::string_view text, std::vector<UChar>& out) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strFromUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
    out.assign(static_cast<size_t>(length) + 1, 0);
    status = U_ZERO_ERROR;
    u_strFromUTF8(out.data(), length + 1, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    if (U_FAILURE(status)) return false;
    out.resize(static_cast<size_t>(length));
    return true;
}

std::string fromUTF16(const std::vector<UChar>& text) {
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = 0;
    u_strToUTF8(nullptr, 0, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    std::string out(static_cast<size_t>(length), '\0');
    status = U_ZERO_ERROR;
    u_strToUTF8(out.data(), length, &length, text.data(), static_cast<int32_t>(text.size()), &status);
    return out;
}

bool isASCII(std::string_view text) {
    for (unsigned char c : text)
        if (c >= 0x80) return false;
    return true;
}

}  // namespace

std::string formatByteCount(int64_t bytes) {
    if (bytes == 0) return "Zero KB";
    int64_t magnitude = bytes < 0 ? -bytes : bytes;
    if (magnitude == 1) return bytes < 0 ? "-1 byte" : "1 byte";
    if (magnitude < 1000) return withThousands(bytes) + " bytes";
    static const char* units[] = {"KB", "MB", "GB", "TB", "PB", "EB"};
    static const int decimals[] = {0, 1, 2, 2, 2, 2};
    double value = static_cast<double>(bytes) / 1000.0;
    int unit = 0;
    for (;;) {
        double scale = std::pow(10.0, decimals[unit]);
        double rounded = std::round(std::fabs(value) * scale) / scale;
        if (rounded < 1000.0 || unit == 5) break;
        value /= 1000.0;
        ++unit;
    }
    return trimmedDecimal(value, decimals[unit]) + " " + units[unit];
}

std::pair<std::string, std::string> formatDistinctByteCounts(int64_t first, int64_t second) {
    std::string a = formatByteCount(first);
    std::string b = formatByteCount(second);
    if (a != b || first == second) return {std::move(a), std::move(b)};
    auto exact = [](int64_t n) { return withThousands(n) + (n == 1 || n == -1 ? " byte" : " bytes"); };
    return {exact(first), exact(second)};
}

std::string asciiLowercased(std::string text) {
    for (char& c : text) c = lowerASCII(c);
    return text;
}

bool containsIgnoringASCIICase(std::string_view text, std::string_view needle) {
    const auto same = [](char a, char b) { return lowerASCII(a) == lowerASCII(b); };
    return std::search(text.begin(), text.end(), needle.begin(), needle.end(), same) != text.end();
}

std::string unicodeLowercased(std::string_view text) {
    if (isASCII(text)) return asciiLowercased(std::string(text));
    UErrorCode status = U_ZERO_ERROR;
    UCaseMap* map = ucasemap_open("", 0, &status);
    if (U_FAILURE(status)) return std::string(text);
    std::string out(text.size() * 3 + 8, '\0');
    status = U_ZERO_ERROR;
    int32_t n = ucasemap_utf8ToLower(map, out.data(), static_cast<int32_t>(out.size()), text.data(),
                                     static_cast<int32_t>(text.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.assign(static_cast<size_t>(n), '\0');
        status = U_ZERO_ERROR;
        n = ucasemap_utf8ToLower(map, out.data(), n, text.data(), static_cast<int32_t>(text.size()), &status);
    }
    ucasemap_close(map);
    if (U_FAILURE(status)) return std::string(text);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string unicodeCaseFolded(std::string_view text) {
    if (isASCII(text)) return unicodeLowercased(text);
    UErrorCode status = U_ZERO_ERROR;
    UCaseMap* map = ucasemap_open("", 0, &status);
    if (U_FAILURE(status)) return std::string(text);
    std::string out(text.size() * 3 + 8, '\0');
    status = U_ZERO_ERROR;
    int32_t n = ucasemap_utf8FoldCase(map, out.data(), static_cast<int32_t>(out.size()), text.data(),
                                      static_cast<int32_t>(text.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        out.assign(static_cast<size_t>(n), '\0');
        status = U_ZERO_ERROR;
        n = ucasemap_utf8FoldCase(map, out.data(), n, text.data(), static_cast<int32_t>(text.size()), &status);
    }
    ucasemap_close(map);
    if (U_FAILURE(status)) return std::string(text);
    out.resize(static_cast<size_t>(n));
    return out;
}

std::string unicodeNFC(std::string_view text) {
    if (isASCII(text)) return std::string(text);
    UErrorCode status = U_ZERO_ERROR;
    const UNormalizer2* nfc = unorm2_getNFCInstance(&status);
    std::vector<UChar> source;
    if (U_FAILURE(status) || !toUTF16(text, source)) return std::string(text);
    std::vector<UChar> dest(source.size() * 3 + 8);
    status = U_ZERO_ERROR;
    int32_t n = unorm2_normalize(nfc, source.data(), static_cast<int32_t>(source.size()), dest.data(),
                                 static_cast<int32_t>(dest.size()), &status);
    if (U_FAILURE(status)) return std::string(text);
    dest.resize(static_cast<size_t>(n));
    return fromUTF16(dest);
}

std::string formatFixed(double value, int decimals) {
    char buf[64];
    auto result = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc()) return formatC("%.*f", decimals, value);
    return std::string(buf, result.ptr);
}

std::string formatShortestDouble(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    char buf[64];
    double magnitude = std::fabs(value);
    // Plain decimal notation from 1e-4 up to 2^53 (where every integer is still exact),
    // exponent notation outside: 9007199254740992.0, but 9.5e+15 and 1e+16.
    bool scientific = magnitude != 0 && (magnitude < 1e-4 || magnitude > 9007199254740992.0);
    auto result = std::to_chars(buf, buf + sizeof buf, value,
                                scientific ? std::chars_format::scientific : std::chars_format::fixed);
    std::string text(buf, result.ptr);
    if (!scientific) {
        if (text.find('.') == std::string::npos) text += ".0";
        return text;
    }
    // to_chars writes "1e-07" as "1e-07" already; make sure of two exponent digits and a sign.
    auto e = text.find('e');
    std::string mantissa = text.substr(0, e);
    std::string exponent = text.substr(e + 1);
    char sign = '+';
    if (!exponent.empty() && (exponent[0] == '-' || exponent[0] == '+')) {
        sign = exponent[0];
        exponent.erase(0, 1);
    }
    while (exponent.size() < 2) exponent.insert(exponent.begin(), '0');
    return mantissa + "e" + sign + exponent;
}

std::string formatC(const char* format, ...) {
    // vsnprintf follows LC_NUMERIC; the program never changes it from "C", and uselocale guards threads.
    locale_t c = newlocale(LC_NUMERIC_MASK, "C", nullptr);
    locale_t previous = c ? uselocale(c) : nullptr;
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int n = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    std::string out(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(out.data(), out.size() + 1, format, args);
    va_end(args);
    if (c) {
        uselocale(previous);
        freelocale(c);
    }
    return out;
}

std::filesystem::path expandTilde(std::string_view path) {
    if (path.empty() || path[0] != '~') return std::filesystem::path(path);
    if (path.size() > 1 && path[1] != '/') return std::filesystem::path(path);
    const char* home = std::getenv("HOME");
    std::string base = home ? home : "";
    return std::filesystem::path(base + std::string(path.substr(1)));
}

std::string lastPathComponent(const std::filesystem::path& path) {
    std::string s = path.string();
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    auto slash = s.rfind('/');
    return slash == std::string::npos ? s : s.substr(slash + 1);
}

std::string pathExtension(const std::filesystem::path& path) {
    std::string name = lastPathComponent(path);
    auto dot = name.rfind('.');
    if (dot == std::string::npos) return "";
    return name.substr(dot + 1);
}

std::string deletingPathExtension(const std::string& fileName) {
    auto dot = fileName.rfind('.');
    if (dot == std::string::npos || dot == 0) return fileName;
    return fileName.substr(0, dot);
}

void appendUTF8(char32_t c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

std::string replacingOccurrences(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    size_t pos = 0;
    for (;;) {
        size_t hit = text.find(from, pos);
        if (hit == std::string_view::npos) break;
        out.append(text, pos, hit - pos);
        out.append(to);
        pos = hit + from.size();
    }
    out.append(text, pos, std::string_view::npos);
    return out;
}

std::string_view trimWhitespace(std::string_view text) {
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace calvoro
