#include "app/ui/theme/symbols.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRawFont>
#include <QtGlobal>

#include <array>
#include <mutex>
#include <utility>

namespace calvoro {

namespace {

// Each name the views use, with the Material glyph closest in meaning and shape.
constexpr std::array<std::pair<std::string_view, char32_t>, 38> registry{{
    {"archivebox", 0xE1A1},                          // inventory_2
    {"arrow.counterclockwise", 0xE042},              // replay
    {"arrow.down.doc", 0xE2C4},                      // file_download
    {"arrow.down.doc.fill", 0xE2C4},                 // file_download
    {"arrow.down.right.and.arrow.up.left", 0xF1CF},  // close_fullscreen
    {"arrow.left.arrow.right", 0xE8D4},              // swap_horiz
    {"arrow.up.forward.app", 0xE89E},                // open_in_new
    {"checkmark", 0xE5CA},                           // check
    {"checkmark.seal", 0xEF76},                      // verified
    {"chevron.down", 0xE5CF},                        // expand_more
    {"chevron.right", 0xE5CC},                       // chevron_right
    {"chevron.up.chevron.down", 0xE5D7},             // unfold_more
    {"circle", 0xE836},                              // radio_button_unchecked
    {"doc.on.doc", 0xE14D},                          // content_copy
    {"doc.text", 0xE873},                            // description
    {"doc.text.magnifyingglass", 0xE880},            // find_in_page
    {"exclamationmark.triangle.fill", 0xE002},       // warning
    {"film", 0xE02C},                                // movie
    {"folder", 0xE2C8},                              // folder_open
    {"gearshape", 0xE8B8},                           // settings
    {"internaldrive", 0xE1DB},                       // storage
    {"largecircle.fill.circle", 0xE837},             // radio_button_checked
    {"list.bullet.rectangle", 0xE0EE},               // list_alt
    {"magnifyingglass", 0xE8B6},                     // search
    {"minus", 0xE15B},                               // remove
    {"paintbrush", 0xE3AE},                          // brush
    {"photo", 0xE410},                               // photo
    {"plus", 0xE145},                                // add
    {"questionmark.folder", 0xE8FD},                 // help_outline
    {"slider.horizontal.3", 0xE429},                 // tune
    {"square.grid.2x2", 0xE9B0},                     // grid_view
    {"text.alignleft", 0xE236},                      // format_align_left
    {"textformat", 0xE262},                          // text_fields
    {"trash", 0xE92E},                               // delete_outline
    {"wand.and.stars", 0xE663},                      // auto_fix_high
    {"waveform", 0xE1B8},                            // graphic_eq
    {"xmark", 0xE5CD},                               // close
    {"xmark.circle.fill", 0xE5C9},                   // cancel
}};

constexpr char32_t unknownGlyph = 0xE8FD;  // help_outline
// Material glyphs fill about three quarters of their em; this brings them to a text symbol's size.
constexpr double emPerPoint = 1.3;

struct FontState {
    std::once_flag once;
    QString family;
};

FontState& fontState() {
    static FontState state;
    return state;
}

QFont symbolFont(double pixelSize) {
    Symbols::loadFont();
    QFont font(fontState().family);
    font.setPixelSize(std::max(1, qRound(pixelSize)));
    font.setHintingPreference(QFont::PreferNoHinting);
    return font;
}

// The glyph outline at the origin; built once per glyph and size. Painting happens on the main
// thread only, so the cache needs no lock.
const QPainterPath& glyphPath(char32_t glyph, int pixelSize) {
    static QHash<quint64, QPainterPath> cache;
    const quint64 key = (static_cast<quint64>(glyph) << 16) | static_cast<quint64>(pixelSize);
    auto it = cache.find(key);
    if (it == cache.end()) {
        QPainterPath path;
        path.addText(0, 0, symbolFont(pixelSize), QString::fromUcs4(&glyph, 1));
        it = cache.insert(key, path);
    }
    return *it;
}

double strokeFor(QFont::Weight weight, double pixelSize) {
    // The font's glyphs are already as heavy as a medium symbol.
    if (weight >= QFont::Bold) return pixelSize * 0.06;
    if (weight >= QFont::DemiBold) return pixelSize * 0.03;
    return 0;
}

}  // namespace

std::optional<char32_t> Symbols::codepoint(std::string_view name) {
    for (const auto& [symbol, glyph] : registry)
        if (symbol == name) return glyph;
    return std::nullopt;
}

std::vector<std::string_view> Symbols::names() {
    std::vector<std::string_view> all;
    for (const auto& entry : registry) all.push_back(entry.first);
    return all;
}

void Symbols::loadFont() {
    FontState& state = fontState();
    std::call_once(state.once, [&] {
        const int id = QFontDatabase::addApplicationFont(
            QStringLiteral("/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf"));
        state.family = id >= 0 ? QFontDatabase::applicationFontFamilies(id).value(0) : QStringLiteral("Material Icons");
    });
}

bool Symbols::hasGlyph(std::string_view name) {
    const auto glyph = codepoint(name);
    if (!glyph) return false;
    const QRawFont raw = QRawFont::fromFont(symbolFont(24));
    return raw.isValid() && raw.familyName() == fontState().family && raw.supportsCharacter(*glyph);
}

void Symbols::paint(QPainter& painter, const QRectF& frame, std::string_view name, double points, QFont::Weight weight,
                    const QColor& color) {
    auto glyph = codepoint(name);
    if (!glyph) {
        qWarning("No symbol mapped for \"%.*s\"", static_cast<int>(name.size()), name.data());
        glyph = unknownGlyph;
    }
    const int pixelSize = std::max(1, qRound(points * emPerPoint));
    const QPainterPath& path = glyphPath(*glyph, pixelSize);
    // Centred by the glyph's own bounds, as symbols sit optically in their frames.
    const QRectF bounds = path.boundingRect();
    const QPointF offset = frame.center() - bounds.center();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(offset);
    painter.fillPath(path, color);
    if (const double stroke = strokeFor(weight, pixelSize); stroke > 0)
        painter.strokePath(path, QPen(color, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.restore();
}

QIcon Symbols::icon(std::string_view name, double points, const QColor& color) {
    const int side = qRound(points * emPerPoint) + 2;
    QIcon icon;
    for (int scale : {1, 2}) {
        QPixmap pixmap(side * scale, side * scale);
        pixmap.setDevicePixelRatio(scale);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(painter, QRectF(0, 0, side, side), name, points, QFont::Normal, color);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace calvoro
