#pragma once

// The window's palette, fonts, springs and colour operations. Every view takes its colours from
// here for the current colour scheme; sRGB components are given as 0 to 255.

#include <QColor>
#include <QFont>
#include <QPainterPath>
#include <QPalette>

#include <cstdint>

#include "app/state/accent_choice.h"
#include "app/state/appearance.h"
#include "app/ui/theme/spring.h"

class QAction;
class QMenu;
class QPainter;
class QWidget;

namespace calvoro {

// 0xRRGGBB as an opaque or translucent sRGB colour.
QColor rgbColor(std::uint32_t hex, double opacity = 1.0);

// Each channel lowered by amount (0 to 1), floored at 0; opacity kept.
QColor darker(const QColor& color, double amount);
// WCAG 2.0 relative luminance, 0 (black) to 1 (white).
double relativeLuminance(const QColor& color);
// a at t = 0, b at t = 1, every channel and the opacity eased alike (for hover fades).
QColor mixColor(const QColor& a, const QColor& b, double t);

class Theme {
public:
    Theme() = delete;

    // Status colours: light greys, the same in both schemes.
    static QColor success();
    static QColor error();
    static QColor warning();
    // The error grey is lost on a light background; there errors read in ink.
    static QColor errorText(ColorScheme scheme);

    static constexpr Spring smooth{0.32, 1.0, 0};
    static constexpr Spring snappy{0.18, 0.85, 0};
    static constexpr Spring hover{0.12, 1.0, 0};
    static constexpr Spring springAnimation{0.32, 0.86, 0};

    static QColor textPrimary(ColorScheme scheme);  // white 0.96 / ink
    static QColor textSecondary(ColorScheme scheme);
    static QColor textTertiary(ColorScheme scheme);
    static QColor textQuaternary(ColorScheme scheme);
    static QColor segmentTrack(ColorScheme scheme);
    static QColor toolbarBackground(ColorScheme scheme);
    static QColor accentFill(AccentChoice accent, ColorScheme scheme);
    // The light scheme's text colour, (22, 22, 24).
    static QColor ink();
    // Hairlines and card outlines: white 0.06 / black 0.12.
    static QColor separator(ColorScheme scheme);
    // The fill of a hovered plain control: white 0.035 / black 0.05.
    static QColor hoverFill(ColorScheme scheme);
    // The fill of a hovered small icon button: white 0.055 / black 0.075.
    static QColor iconHoverFill(ColorScheme scheme);
    // A quiet control's text or symbol: tertiary at rest, primary when hover reaches 1.
    static QColor hoverText(ColorScheme scheme, double hover);
    // Text on an accent fill: white up to luminance 0.45, else (10, 10, 11).
    static QColor contrastOn(const QColor& fill);

    // The keyboard focus ring: a line of ringWidth drawn ringGap outside the control's shape, in
    // the accent fill where it stands out from the scheme's cards, else in the primary text colour.
    static constexpr double focusRingWidth = 2, focusRingGap = 2;
    static QColor focusRing(const QColor& accentFill, ColorScheme scheme);
    // The ring around shape, a rounded rectangle (radius; a capsule when radius is negative).
    static void paintFocusRing(QPainter& painter, const QRectF& shape, double radius, const QColor& colour);
    // How far the ring reaches outside its shape.
    static constexpr double focusRingReach() { return focusRingGap + focusRingWidth; }

    // Inter (else the desktop's sans-serif) at a size in points, where a point is a logical pixel.
    // Numbers drawn in it that must keep their width use TabularText.
    static QFont font(double points, QFont::Weight weight = QFont::Normal);
    // DejaVu Sans Mono, loaded from its installed files: the log's monospaced text.
    static QFont monospaceFont(double points, QFont::Weight weight = QFont::Normal);
    static QFont titleFont();
    // The title of a card's header (settings, conversions).
    static QFont cardTitleFont();
    // Loads Inter, DejaVu Sans Mono and the symbol font from their installed paths; once per process.
    static void loadFonts();

    // The scheme and the accent fill travel down the widget tree in the palette, as the
    // environment does; popups and menus follow it too.
    static QPalette palette(ColorScheme scheme, AccentChoice accent);
    static void applyAppearance(QWidget* root, ColorScheme scheme, AccentChoice accent);
    static ColorScheme scheme(const QWidget* widget);
    static QColor accentFill(const QWidget* widget);

    // Gives a menu the window's look: its card colour, the accent under the chosen item,
    // rounded item highlights, in the appearance of the widget it belongs to at each opening.
    static void styleMenu(QMenu* menu);
    // Gives a menu item the destructive role (the "destructive" property menus read). Its colour,
    // Theme::errorText, reads as the text colour in both schemes: the status colours are greys.
    static void markDestructive(QAction* action);
    static bool isDestructive(const QAction* action);

    // A rounded rectangle with continuous (curvature-smooth) corners.
    static QPainterPath continuousRoundedRect(const QRectF& rect, double radius);
    // One device pixel, in logical pixels.
    static double hairline(const QWidget* widget);
};

}  // namespace calvoro
