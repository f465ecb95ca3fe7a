#pragma once

#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/font_families.h"

namespace calvoro::text {

// The family names behind "the system font" and "the monospaced system font".
inline constexpr const char* systemFontFamily = fonts::sans;
inline constexpr const char* monospacedFontFamily = fonts::monospace;

struct Font {
    double pointSize = 12;
    bool bold = false;
    bool italic = false;
    bool monospace = false;
    std::string family;
    friend bool operator==(const Font&, const Font&) = default;
};

Font systemFont(double pointSize);
Font monospacedSystemFont(double pointSize);

struct Color {
    uint8_t red = 0, green = 0, blue = 0, alpha = 255;
    friend bool operator==(const Color&, const Color&) = default;
};

// A link is a URL (kept as its absolute string) or a plain string.
struct Link {
    enum class Kind { url, string };
    Kind kind = Kind::url;
    std::string value;
    friend bool operator==(const Link&, const Link&) = default;
};

// An embedded picture: its encoded bytes as they came (PNG or JPEG) and its size on the page.
struct Picture {
    std::vector<uint8_t> bytes;
    std::string mimeType;  // "image/png" or "image/jpeg"
    double width = 0, height = 0;  // points
};

// Picture bytes in a known format and their type, or nothing.
std::optional<std::string> pictureMimeType(const std::vector<uint8_t>& bytes);
// A picture without a size on the page gets its pixel size at 96 pixels an inch.
void completePictureSize(Picture& picture);

struct Attributes {
    std::optional<Font> font;
    std::optional<Color> foreground;
    std::optional<Link> link;
    // Set on the object replacement character (U+FFFC) that stands for a picture.
    std::shared_ptr<const Picture> picture;
    friend bool operator==(const Attributes&, const Attributes&) = default;
};

inline constexpr char16_t attachmentCharacter = 0xFFFC;

// What a paragraph belongs to: a list item (its characters begin with `markerLength` units of
// indentation, marker and tab) and/or a table cell.
struct Block {
    int listLevel = -1;  // 0 for the outermost list; -1 outside lists
    bool ordered = false;
    int markerLength = 0;
    int table = -1;  // tables are numbered from 0 in document order; -1 outside tables
    int row = 0, column = 0;
    friend bool operator==(const Block&, const Block&) = default;
};

// The marker of a list item at a level: bullets "•", "◦", "▪" by depth, or the number "1.".
QString listMarker(int level, bool ordered, int number);
// Indentation, marker and tab at the start of a list item's characters.
QString listItemPrefix(int level, bool ordered, int number);

// A run of characters sharing attributes; location and length in UTF-16 units.
struct Run {
    int location = 0;
    int length = 0;
    Attributes attributes;
};

// Rich text: characters (UTF-16, paragraphs ended by line feeds) with attribute runs that
// cover the whole string; neighbouring runs always differ.
class AttributedString {
public:
    AttributedString() = default;
    static AttributedString plain(std::string_view utf8, const Attributes& attributes);

    void append(const QString& characters, const Attributes& attributes);
    void append(std::string_view utf8, const Attributes& attributes);
    void append(const char* utf8, const Attributes& attributes) { append(std::string_view(utf8), attributes); }

    const QString& characters() const { return characters_; }
    std::string plainText() const;  // UTF-8, without the placeholders of pictures
    int length() const { return static_cast<int>(characters_.size()); }
    bool empty() const { return characters_.isEmpty(); }

    const std::vector<Run>& runs() const { return runs_; }
    // The runs cut to a range, in order.
    std::vector<Run> runs(int location, int length) const;
    // Attributes at a UTF-16 position; nothing past the end.
    const Attributes* attributesAt(int position) const;

    // Paragraphs are counted from 0; a paragraph ends at each line feed.
    int paragraphCount() const { return lineFeeds_ + 1; }
    // The block of the last paragraph (the one being appended to).
    void setBlock(const Block& block) { setBlock(lineFeeds_, block); }
    void setBlock(int paragraph, const Block& block);
    const Block* block(int paragraph) const;

private:
    QString characters_;
    std::vector<Run> runs_;
    std::map<int, Block> blocks_;
    int lineFeeds_ = 0;
};

// Rows and columns of each table of a text, by table number.
std::map<int, std::pair<int, int>> tableSizes(const AttributedString& text);

}  // namespace calvoro::text
