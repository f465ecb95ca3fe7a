#include "app/ui/overlays/modal_chrome.h"

#include <QPainter>

#include "app/ui/theme/shadow.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

ModalChrome::ModalChrome(QWidget* parent) : QWidget(parent) {
    new ShadowCaster(this, [this] { return shadow(Theme::scheme(this)); });
}

Shadow ModalChrome::shadow(ColorScheme scheme) {
    return {rgbColor(0x000000, scheme == ColorScheme::dark ? 0.55 : 0.20), 30, {0, 14}, cornerRadius};
}

void ModalChrome::paintCard(QPainter& painter, const QRectF& card, ColorScheme scheme) {
    const bool dark = scheme == ColorScheme::dark;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = Theme::continuousRoundedRect(card, cornerRadius);
    painter.fillPath(shape, dark ? QColor(37, 37, 37) : QColor(Qt::white));
    // A 1-point line centred on the edge: half of it falls inside the card.
    painter.setPen(QPen(dark ? rgbColor(0xFFFFFF, 0.06) : rgbColor(0x000000, 0.12), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(Theme::continuousRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), cornerRadius - 0.5));
    painter.restore();
}

void ModalChrome::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintCard(painter, QRectF(rect()), Theme::scheme(this));
}

}  // namespace calvoro
