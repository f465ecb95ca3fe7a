#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace calvoro::text {

// The named encodings documents are decoded with.
enum class Encoding { utf8, utf16, utf32, isoLatin1, windowsCP1252, macOSRoman };

// Strict decoding to UTF-8: nothing when any byte sequence is not valid in the encoding.
// UTF-8 drops a leading byte-order mark; UTF-16 and UTF-32 follow their byte-order mark and read
// big-endian without one.
std::optional<std::string> decode(std::string_view bytes, Encoding encoding);

// True when the bytes open with a UTF-16 byte-order mark (either order).
bool hasUTF16ByteOrderMark(std::string_view bytes);
// True when the bytes open with a UTF-32 byte-order mark (either order); the little-endian one
// begins with that of UTF-16.
bool hasUTF32ByteOrderMark(std::string_view bytes);

}  // namespace calvoro::text
