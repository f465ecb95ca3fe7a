#pragma once

// File names are bytes. These helpers carry them into text that must be UTF-8 (JSON, the
// screen) and back, without losing a byte.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

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

// "file://" and the path's bytes, percent-encoded where a URL needs it as the desktop does it
// (a thumbnail's key depends on it): every byte travels.
std::string fileURL(const std::filesystem::path& path);

// The path a "file:" URL names, every byte of it: "file:///a%E9" or "file://localhost/a%E9" is
// "/a\xE9". Nothing for another scheme or host, a relative path, a query, a fragment or a broken
// escape.
std::optional<std::filesystem::path> pathFromFileURL(std::string_view url);

// Percent escapes decoded into their bytes ("+" stays "+"); nothing for a broken escape.
std::optional<std::string> decodedPercentEscapes(std::string_view text);

// UTF-8 text that tells paths apart, for keys: the path itself when it is UTF-8, else its file
// URL (two names that are not UTF-8 would look alike on screen, and a QString made from them too).
std::string pathKey(const std::filesystem::path& path);

// UTF-32 code units in the given byte order (no byte-order mark) as UTF-8; nothing on a
// surrogate, a value past U+10FFFF or a length that is not a multiple of four.
std::optional<std::string> decodeUTF32(std::string_view bytes, bool bigEndian);

// JSON whose strings may hold bytes that are not UTF-8, as file names can: each such byte is
// written as a lone low-surrogate escape, \udc80 to \udcff, and that escape reads back as the
// byte. Everything else is the usual JSON. Writing never throws.
std::string dumpJSON(const nlohmann::ordered_json& value, int indent = -1);
// Nothing when text is not one JSON value (or nests deeper than maxDepth); a lone surrogate
// outside \udc80 to \udcff names no byte and is refused too.
std::optional<nlohmann::ordered_json> parseJSON(std::string_view text, int maxDepth = 256);

}  // namespace calvoro
