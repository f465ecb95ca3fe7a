#include "platform/text/encodings.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/unistr.h>

#include <memory>
#include <vector>

#include "core/utf8.h"

namespace calvoro::text {

namespace {

const char* icuName(Encoding encoding) {
    switch (encoding) {
        case Encoding::utf8: return "UTF-8";
        case Encoding::utf16: return "UTF-16";
        case Encoding::utf32: return "UTF-32";
        case Encoding::isoLatin1: return "ISO-8859-1";
        case Encoding::windowsCP1252: return "windows-1252";
        case Encoding::macOSRoman: return "macintosh";
    }
    return "UTF-8";
}

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};

std::optional<std::string> decodeWithICU(std::string_view bytes, const char* name) {
    UErrorCode status = U_ZERO_ERROR;
    std::unique_ptr<UConverter, ConverterCloser> conv(ucnv_open(name, &status));
    if (U_FAILURE(status)) return std::nullopt;
    // Stop at the first invalid or unmapped sequence instead of substituting.
    ucnv_setToUCallBack(conv.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) return std::nullopt;
    std::vector<UChar> out(bytes.size() + 2);
    UChar* target = out.data();
    const char* source = bytes.data();
    ucnv_toUnicode(conv.get(), &target, out.data() + out.size(), &source, bytes.data() + bytes.size(), nullptr, true, &status);
    if (U_FAILURE(status)) return std::nullopt;
    icu::UnicodeString text(false, out.data(), static_cast<int32_t>(target - out.data()));
    std::string result;
    text.toUTF8String(result);
    return result;
}

}  // namespace

bool hasUTF16ByteOrderMark(std::string_view b) {
    return b.size() >= 2 && ((static_cast<unsigned char>(b[0]) == 0xFF && static_cast<unsigned char>(b[1]) == 0xFE) ||
                             (static_cast<unsigned char>(b[0]) == 0xFE && static_cast<unsigned char>(b[1]) == 0xFF));
}

bool hasUTF32ByteOrderMark(std::string_view b) {
    return b.size() >= 4 && (b.substr(0, 4) == std::string_view("\xFF\xFE\0\0", 4) || b.substr(0, 4) == std::string_view("\0\0\xFE\xFF", 4));
}

std::optional<std::string> decode(std::string_view bytes, Encoding encoding) {
    if (encoding == Encoding::utf8) {
        if (!isValidUTF8(bytes)) return std::nullopt;
        if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
        return std::string(bytes);
    }
    if (encoding == Encoding::isoLatin1) {
        // Every byte is a character; no table needed.
        std::string out;
        out.reserve(bytes.size() + bytes.size() / 4);
        for (unsigned char c : bytes) {
            if (c < 0x80) {
                out.push_back(static_cast<char>(c));
            } else {
                out.push_back(static_cast<char>(0xC0 | (c >> 6)));
                out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
            }
        }
        return out;
    }
    if (encoding == Encoding::utf32) {
        // The mark gives the order; without one the text is big-endian.
        const bool littleEndian = bytes.substr(0, 4) == std::string_view("\xFF\xFE\0\0", 4);
        if (littleEndian || bytes.substr(0, 4) == std::string_view("\0\0\xFE\xFF", 4)) bytes.remove_prefix(4);
        return calvoro::decodeUTF32(bytes, !littleEndian);
    }
    if (encoding == Encoding::windowsCP1252) {
        // Five bytes have no character in code page 1252.
        for (unsigned char c : bytes)
            if (c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D) return std::nullopt;
    }
    return decodeWithICU(bytes, icuName(encoding));
}

}  // namespace calvoro::text
