#pragma once

// UTF-8: checking it, walking it a character at a time, and showing bytes that are not UTF-8
// (file names are bytes) on screen.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace calvoro {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool isValidUTF8(std::string_view bytes);

// What a byte that starts a UTF-8 character asks of the rest: the character's length in bytes
// and the range of its second byte (later ones are 0x80 to 0xBF). Nothing when no valid
// character starts with it.
struct UTF8Start {
    size_t length;
    uint8_t secondLow, secondHigh;
};
std::optional<UTF8Start> utf8Start(uint8_t byte);

// The length of the UTF-8 character at the start of bytes, or 0 when its first byte begins no
// valid sequence (a byte that is not UTF-8 counts as a character of its own).
size_t utf8SequenceLength(std::string_view bytes);

// For the screen only: valid UTF-8 kept, every byte that is not UTF-8 shown as U+FFFD.
std::string displayText(std::string_view bytes);
// The last component of a path, for the screen.
std::string displayName(const std::filesystem::path& path);

// The longest prefix of text of at most maxBytes bytes that ends between two characters.
std::string_view prefixAtCharacterBoundary(std::string_view text, size_t maxBytes);

// UTF-32 code units in the given byte order (no byte-order mark) as UTF-8; nothing on a
// surrogate, a value past U+10FFFF or a length that is not a multiple of four.
std::optional<std::string> decodeUTF32(std::string_view bytes, bool bigEndian);

}  // namespace calvoro
