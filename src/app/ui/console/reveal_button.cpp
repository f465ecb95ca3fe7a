#include "app/ui/console/reveal_button.h"

#include <QPainter>

#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

RevealButton::RevealButton(QWidget* parent) : HoverButton(parent) {
    setFixedSize(28, 28);
    setToolTip(QStringLiteral("Show converted file in Files"));
    setAccessibleName(QStringLiteral("Show converted file in Files"));
}

void RevealButton::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    const bool dark = scheme == ColorScheme::dark;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face(rect());
    painter.setPen(QPen(dark ? rgbColor(0xFFFFFF, 0.10) : rgbColor(0x000000, 0.16), 1));
    painter.drawPath(Theme::continuousRoundedRect(face.adjusted(0.5, 0.5, -0.5, -0.5), 7.5));
    const QColor colour = Theme::hoverText(scheme, hoverProgress());
    Symbols::paint(painter, face, "magnifyingglass", 11.5, QFont::Medium, colour);
}

}  // namespace calvoro
