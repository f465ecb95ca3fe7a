#pragma once

#include <QString>

#include <cstdint>
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

struct Attributes {
    std::optional<Font> font;
    std::optional<Color> foreground;
    std::optional<Link> link;
    friend bool operator==(const Attributes&, const Attributes&) = default;
};

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
    std::string plainText() const;  // UTF-8
    int length() const { return static_cast<int>(characters_.size()); }
    bool empty() const { return characters_.isEmpty(); }

    const std::vector<Run>& runs() const { return runs_; }
    // The runs cut to a range, in order.
    std::vector<Run> runs(int location, int length) const;
    // Attributes at a UTF-16 position; nothing past the end.
    const Attributes* attributesAt(int position) const;

private:
    QString characters_;
    std::vector<Run> runs_;
};

}  // namespace calvoro::text
