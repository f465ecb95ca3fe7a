// Font outputs: the container's signature, web fonts decoded back to sfnt, then a load in
// the system font engine (FreeType) that must give a PostScript name and glyphs.
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_SFNT_NAMES_H
#include FT_TRUETYPE_IDS_H

#include <cstring>
#include <memory>

#include "converters/font/font_converter.h"
#include "core/byte_order.h"
#include "engine/validation_checks.h"

namespace calvoro::validation {
namespace {

uint32_t tagAt(const std::vector<uint8_t>& d) { return byte_order::be32(d.data()); }

constexpr uint32_t tagTrueType = 0x00010000;
constexpr uint32_t tagTrue = 0x74727565;   // "true"
constexpr uint32_t tagOTTO = 0x4F54544F;   // "OTTO"
constexpr uint32_t tagWOFF = 0x774F4646;   // "wOFF"
constexpr uint32_t tagWOFF2 = 0x774F4632;  // "wOF2"

bool isSFNT(uint32_t tag) { return tag == tagTrueType || tag == tagTrue || tag == tagOTTO; }

struct LibraryDeleter {
    void operator()(FT_Library lib) const { FT_Done_FreeType(lib); }
};
struct FaceDeleter {
    void operator()(FT_Face face) const { FT_Done_Face(face); }
};

// Whether the name table holds a PostScript name (ID 6) on any platform. FreeType gives no
// PostScript name where it holds a character PostScript does not allow (a space, as in
// "Inter Display"), yet the name is there, and other readers take it.
bool namesPostScriptName(FT_Face face) {
    const FT_UInt count = FT_Get_Sfnt_Name_Count(face);
    for (FT_UInt i = 0; i < count; ++i) {
        FT_SfntName name;
        if (FT_Get_Sfnt_Name(face, i, &name) == 0 && name.name_id == TT_NAME_ID_PS_NAME && name.string_len > 0) return true;
    }
    return false;
}

// Loads the sfnt bytes with FreeType; each call has its own library instance.
Status loadInFontEngine(const std::vector<uint8_t>& data) {
    FT_Library raw = nullptr;
    if (FT_Init_FreeType(&raw) != 0) return Status::failed("The system font engine could not load the output.");
    std::unique_ptr<FT_LibraryRec_, LibraryDeleter> library(raw);
    FT_Face rawFace = nullptr;
    if (FT_New_Memory_Face(library.get(), data.data(), static_cast<FT_Long>(data.size()), 0, &rawFace) != 0 || !rawFace)
        return Status::failed("The system font engine could not load the output.");
    std::unique_ptr<FT_FaceRec_, FaceDeleter> face(rawFace);
    // Asked first: FreeType empties a name record it finds unfit to give as the PostScript name.
    const bool named = namesPostScriptName(face.get());
    const char* postscript = FT_Get_Postscript_Name(face.get());
    if (!named && (!postscript || !*postscript))
        return Status::failed("Output font has no PostScript name \u2014 the name table did not survive.");
    if (face->num_glyphs < 1) return Status::failed("Output font contains no glyphs.");
    return Status::passed();
}

}  // namespace


Status validateFont(const fs::path& url, SupportedFormat target) {
    const auto bytes = readBytes(url);
    if (!bytes || bytes->size() <= 12) return Status::failed("Font file is empty or truncated.");
    const uint32_t tag = tagAt(*bytes);
    switch (target) {
        case SupportedFormat::ttf:
            if (!isSFNT(tag)) return Status::failed("Not a recognised TrueType container.");
            return loadInFontEngine(*bytes);
        case SupportedFormat::otf:
            if (!isSFNT(tag)) return Status::failed("Not a recognised OpenType container.");
            return loadInFontEngine(*bytes);
        case SupportedFormat::woff: {
            if (tag != tagWOFF) return Status::failed("Missing wOFF signature.");
            std::vector<uint8_t> font;
            try {
                font = FontConverter::decodeWOFF(*bytes).sfntData();
            } catch (...) {
                return Status::failed("WOFF file does not decode back to a valid font.");
            }
            return loadInFontEngine(font);
        }
        case SupportedFormat::woff2: {
            if (tag != tagWOFF2) return Status::failed("Missing wOF2 signature.");
            std::vector<uint8_t> font;
            try {
                font = FontConverter::decodeWOFF2(*bytes).sfntData();
            } catch (...) {
                return Status::failed("WOFF2 file does not decode back to a valid font.");
            }
            return loadInFontEngine(font);
        }
        default:
            return Status::passed();
    }
}

}  // namespace calvoro::validation
