#pragma once

#include <optional>
#include <string>

namespace calvoro::pdf {

// The PDF with the text its glyphs stand for given as the source's characters: a glyph that a
// font's character map files under an Arabic presentation form (the joined shape of a letter)
// stands for the letter itself, so that copying and searching find what was written. Nothing
// when the bytes are not a PDF that can be read and written again.
std::optional<std::string> withSourceCharacters(const std::string& pdf);

}  // namespace calvoro::pdf
