#pragma once

// The symbols the views name, drawn from the Material Design Icons font. A name without a mapping
// draws a question mark and warns: the tests hold every name the views use.

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QRectF>

#include <optional>
#include <string_view>
#include <vector>

class QPainter;

namespace calvoro {

class Symbols {
public:
    Symbols() = delete;

    static std::optional<char32_t> codepoint(std::string_view name);
    static std::vector<std::string_view> names();

    // Loads the icon font from its installed path; Theme::loadFonts calls it.
    static void loadFont();
    // True when the font is loaded and has the glyph.
    static bool hasGlyph(std::string_view name);

    // Draws the symbol centred in frame at a size in points (as a text size would be) and a
    // weight; weights above regular thicken the outline, as the font has one weight only.
    static void paint(QPainter& painter, const QRectF& frame, std::string_view name, double points,
                      QFont::Weight weight, const QColor& color);
    // The symbol as an icon for menus and actions.
    static QIcon icon(std::string_view name, double points, const QColor& color);
};

}  // namespace calvoro
