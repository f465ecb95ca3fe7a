#include "app/ui/theme/theme.h"

#include <QAction>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "app/ui/theme/symbols.h"

namespace calvoro {

namespace {

constexpr std::uint32_t inkRgb = 0x161618;  // (22, 22, 24)

double channel(double c) { return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4); }

QString& interFamily() {
    static QString family;
    return family;
}

QString& monospaceFamily() {
    static QString family;
    return family;
}

double logicalDpi() {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) return screen->logicalDotsPerInchY();
    return 96.0;
}

}  // namespace

QColor rgbColor(std::uint32_t hex, double opacity) {
    QColor color(static_cast<int>((hex >> 16) & 0xFF), static_cast<int>((hex >> 8) & 0xFF), static_cast<int>(hex & 0xFF));
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

QColor darker(const QColor& color, double amount) {
    const QColor rgb = color.toRgb();
    return QColor::fromRgbF(static_cast<float>(std::max(0.0, rgb.redF() - amount)),
                            static_cast<float>(std::max(0.0, rgb.greenF() - amount)),
                            static_cast<float>(std::max(0.0, rgb.blueF() - amount)), rgb.alphaF());
}

double relativeLuminance(const QColor& color) {
    if (!color.isValid()) return 0.0;
    const QColor rgb = color.toRgb();
    return 0.2126 * channel(rgb.redF()) + 0.7152 * channel(rgb.greenF()) + 0.0722 * channel(rgb.blueF());
}

QColor mixColor(const QColor& a, const QColor& b, double t) {
    // A clear end takes the other end's hue, so fades never pass through grey.
    QColor from = a.toRgb(), to = b.toRgb();
    if (from.alpha() == 0) from = QColor(to.red(), to.green(), to.blue(), 0);
    if (to.alpha() == 0) to = QColor(from.red(), from.green(), from.blue(), 0);
    auto m = [t](float x, float y) { return static_cast<float>(x + (y - x) * t); };
    return QColor::fromRgbF(m(from.redF(), to.redF()), m(from.greenF(), to.greenF()), m(from.blueF(), to.blueF()),
                            m(from.alphaF(), to.alphaF()));
}

QColor Theme::success() { return QColor(228, 231, 234); }
QColor Theme::error() { return QColor(242, 244, 247); }
QColor Theme::warning() { return QColor(191, 196, 202); }
QColor Theme::errorText(ColorScheme scheme) { return scheme == ColorScheme::dark ? error() : ink(); }

QColor Theme::ink() { return rgbColor(inkRgb); }

QColor Theme::textPrimary(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.96) : ink();
}
QColor Theme::textSecondary(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.66) : rgbColor(inkRgb, 0.68);
}
QColor Theme::textTertiary(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.46) : rgbColor(inkRgb, 0.58);
}
QColor Theme::textQuaternary(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.30) : rgbColor(inkRgb, 0.50);
}
QColor Theme::segmentTrack(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? QColor(18, 18, 18) : QColor(232, 232, 234);
}
QColor Theme::toolbarBackground(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? QColor(17, 17, 20) : QColor(238, 238, 235);
}
QColor Theme::separator(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.06) : rgbColor(0x000000, 0.12);
}
QColor Theme::hoverFill(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.035) : rgbColor(0x000000, 0.05);
}
QColor Theme::iconHoverFill(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.055) : rgbColor(0x000000, 0.075);
}
QColor Theme::hoverText(ColorScheme scheme, double hover) { return mixColor(textTertiary(scheme), textPrimary(scheme), hover); }

QColor Theme::accentFill(AccentChoice accent, ColorScheme scheme) {
    if (accent == AccentChoice::paper) return scheme == ColorScheme::dark ? rgbColor(0xF5F6F9) : ink();
    return scheme == ColorScheme::dark ? accent.baseColor() : darker(accent.baseColor(), 0.1);
}

QColor Theme::contrastOn(const QColor& fill) {
    return relativeLuminance(fill) <= 0.45 ? QColor(Qt::white) : QColor(10, 10, 11);
}

QColor Theme::focusRing(const QColor& accentFill, ColorScheme scheme) {
    // Contrast against the card the controls sit on; pale accents vanish on the light card.
    const double card = relativeLuminance(scheme == ColorScheme::dark ? QColor(37, 37, 37) : QColor(Qt::white));
    const double accent = relativeLuminance(accentFill);
    const double ratio = (std::max(card, accent) + 0.05) / (std::min(card, accent) + 0.05);
    return ratio >= 3.0 ? accentFill : textPrimary(scheme);
}

void Theme::paintFocusRing(QPainter& painter, const QRectF& shape, double radius, const QColor& colour) {
    const double out = focusRingGap + focusRingWidth / 2;
    const QRectF line = shape.adjusted(-out, -out, out, out);
    const double corner = radius < 0 ? std::min(line.width(), line.height()) / 2 : radius + out;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(colour, focusRingWidth));
    painter.drawPath(continuousRoundedRect(line, corner));
    painter.restore();
}

void Theme::loadFonts() {
    static std::once_flag once;
    std::call_once(once, [] {
        const QString folder = QStringLiteral("/usr/share/fonts/opentype/inter/");
        for (const char* face : {"Inter-Light.otf", "Inter-Regular.otf", "Inter-Medium.otf", "Inter-SemiBold.otf", "Inter-Bold.otf"}) {
            const int id = QFontDatabase::addApplicationFont(folder + QLatin1String(face));
            if (id >= 0 && interFamily().isEmpty()) interFamily() = QFontDatabase::applicationFontFamilies(id).value(0);
        }
        if (interFamily().isEmpty()) interFamily() = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
        // The log's monospace family by its file, never whatever "monospace" means on this machine.
        const QString dejavu = QStringLiteral("/usr/share/fonts/truetype/dejavu/");
        for (const char* face : {"DejaVuSansMono.ttf", "DejaVuSansMono-Bold.ttf"}) {
            const int id = QFontDatabase::addApplicationFont(dejavu + QLatin1String(face));
            if (id >= 0 && monospaceFamily().isEmpty()) monospaceFamily() = QFontDatabase::applicationFontFamilies(id).value(0);
        }
        if (monospaceFamily().isEmpty()) monospaceFamily() = QStringLiteral("DejaVu Sans Mono");
        Symbols::loadFont();
    });
}

QFont Theme::font(double points, QFont::Weight weight) {
    loadFonts();
    QFont font(interFamily());
    font.setPointSizeF(points * 72.0 / logicalDpi());
    font.setWeight(weight);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QFont Theme::monospaceFont(double points, QFont::Weight weight) {
    loadFonts();
    QFont font(monospaceFamily());
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    font.setStyleStrategy(QFont::PreferAntialias);
    font.setPointSizeF(points * 72.0 / logicalDpi());
    font.setWeight(weight);
    return font;
}

QFont Theme::titleFont() { return font(17, QFont::DemiBold); }

QFont Theme::cardTitleFont() {
    QFont title = font(15, QFont::DemiBold);
    title.setLetterSpacing(QFont::AbsoluteSpacing, -0.2);
    return title;
}

QPalette Theme::palette(ColorScheme scheme, AccentChoice accent) {
    const bool dark = scheme == ColorScheme::dark;
    const QColor text = textPrimary(scheme);
    const QColor card = dark ? QColor(30, 30, 30) : QColor(Qt::white);
    const QColor fill = accentFill(accent, scheme);
    QPalette palette;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, card);
        palette.setColor(group, QPalette::Base, dark ? QColor(37, 37, 37) : QColor(Qt::white));
        palette.setColor(group, QPalette::AlternateBase, segmentTrack(scheme));
        palette.setColor(group, QPalette::Button, dark ? QColor(37, 37, 37) : QColor(246, 246, 247));
        palette.setColor(group, QPalette::WindowText, group == QPalette::Disabled ? textQuaternary(scheme) : text);
        palette.setColor(group, QPalette::Text, group == QPalette::Disabled ? textQuaternary(scheme) : text);
        palette.setColor(group, QPalette::ButtonText, group == QPalette::Disabled ? textQuaternary(scheme) : text);
        palette.setColor(group, QPalette::PlaceholderText, textTertiary(scheme));
        palette.setColor(group, QPalette::Highlight, fill);
        palette.setColor(group, QPalette::HighlightedText, contrastOn(fill));
        palette.setColor(group, QPalette::ToolTipBase, dark ? QColor(37, 37, 37) : QColor(Qt::white));
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::Mid, separator(scheme));
        // Styles etch disabled text with Light; it must vanish into the background.
        palette.setColor(group, QPalette::Light, Qt::transparent);
        palette.setColor(group, QPalette::Midlight, separator(scheme));
        palette.setColor(group, QPalette::Dark, dark ? QColor(18, 18, 18) : QColor(200, 200, 204));
        palette.setColor(group, QPalette::Shadow, rgbColor(0x000000, dark ? 0.55 : 0.2));
        palette.setColor(group, QPalette::Link, fill);
    }
    return palette;
}

void Theme::applyAppearance(QWidget* root, ColorScheme scheme, AccentChoice accent) {
    // Menus and tooltips are windows of their own; they take the palette along too.
    root->setAttribute(Qt::WA_WindowPropagation);
    root->setPalette(palette(scheme, accent));
}

ColorScheme Theme::scheme(const QWidget* widget) {
    if (!widget) return ColorScheme::dark;
    return widget->palette().color(QPalette::Window).lightnessF() < 0.5 ? ColorScheme::dark : ColorScheme::light;
}

QColor Theme::accentFill(const QWidget* widget) {
    return widget ? widget->palette().color(QPalette::Active, QPalette::Highlight) : accentFill(AccentChoice::blue, ColorScheme::dark);
}

namespace {

// Colours in a style sheet: #AARRGGBB keeps the opacity.
QString css(const QColor& colour) { return colour.name(QColor::HexArgb); }

QString menuStyleSheet(ColorScheme scheme, const QColor& accent) {
    const bool dark = scheme == ColorScheme::dark;
    const QColor card = dark ? QColor(37, 37, 37) : QColor(Qt::white);
    // Every colour is written out: a sheet that named the palette's roles would keep the ones it
    // was first polished with after the appearance changes.
    return QStringLiteral(
               "QMenu { background: %1; color: %2; border: 1px solid %3; padding: 5px 0; }"
               "QMenu::item { background: transparent; color: %2; padding: 4px 28px 4px 14px; margin: 0 5px; border-radius: 5px; }"
               "QMenu::item:disabled { color: %4; }"
               "QMenu::item:selected { background: %5; color: %6; }"
               "QMenu::separator { height: 1px; background: %3; margin: 5px 12px; }")
        .arg(css(card), css(Theme::textPrimary(scheme)), css(Theme::separator(scheme)), css(Theme::textQuaternary(scheme)),
             css(accent), css(Theme::contrastOn(accent)));
}

}  // namespace

void Theme::styleMenu(QMenu* menu) {
    menu->setAttribute(Qt::WA_WindowPropagation);
    auto follow = [menu] {
        // The appearance of what the menu belongs to; a submenu asks its menu's owner.
        const QWidget* owner = menu->parentWidget();
        while (qobject_cast<const QMenu*>(owner)) owner = owner->parentWidget();
        const QPalette palette = owner ? owner->palette() : QGuiApplication::palette();
        const ColorScheme scheme =
            palette.color(QPalette::Window).lightnessF() < 0.5 ? ColorScheme::dark : ColorScheme::light;
        const QString sheet = menuStyleSheet(scheme, palette.color(QPalette::Active, QPalette::Highlight));
        if (menu->styleSheet() != sheet) menu->setStyleSheet(sheet);
    };
    follow();
    // Menus that live on, such as the window's own, take the appearance of the moment they open.
    QObject::connect(menu, &QMenu::aboutToShow, menu, follow);
}

void Theme::markDestructive(QAction* action) { action->setProperty("destructive", true); }

bool Theme::isDestructive(const QAction* action) { return action && action->property("destructive").toBool(); }

QPainterPath Theme::continuousRoundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    const double shortest = std::min(rect.width(), rect.height());
    radius = std::max(0.0, radius);
    constexpr double reach = 1.52866483;
    if (radius * reach > shortest / 2) {
        // Too small for the smooth corner's long reach: a plain arc then, as capsules are drawn.
        const double r = std::min(radius, shortest / 2);
        path.addRoundedRect(rect, r, r);
        return path;
    }
    // One corner, from the incoming edge to the outgoing one: (a, b) is a along the incoming
    // edge back from the corner and b along the outgoing edge.
    struct Corner {
        QPointF at, u, v;
    };
    const Corner corners[] = {
        {rect.topRight(), {-1, 0}, {0, 1}},
        {rect.bottomRight(), {0, -1}, {-1, 0}},
        {rect.bottomLeft(), {1, 0}, {0, -1}},
        {rect.topLeft(), {0, 1}, {1, 0}},
    };
    const double r = radius;
    auto point = [r](const Corner& c, double a, double b) { return c.at + c.u * (a * r) + c.v * (b * r); };
    path.moveTo(point(corners[3], 0, reach));
    for (const Corner& c : corners) {
        path.lineTo(point(c, reach, 0));
        path.cubicTo(point(c, 1.08849323, 0), point(c, 0.86840689, 0.02204939), point(c, 0.66993427, 0.06549600));
        path.lineTo(point(c, 0.63149399, 0.07491100));
        path.cubicTo(point(c, 0.37282392, 0.16905899), point(c, 0.16906013, 0.37282401), point(c, 0.07491176, 0.63149399));
        path.cubicTo(point(c, 0.02204963, 0.86840701), point(c, 0, 1.08849299), point(c, 0, reach));
    }
    path.closeSubpath();
    return path;
}

double Theme::hairline(const QWidget* widget) {
    const double ratio = widget ? widget->devicePixelRatioF() : 1.0;
    return 1.0 / std::max(ratio, 1.0);
}

}  // namespace calvoro
