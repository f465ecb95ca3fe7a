#include "app/ui/console/card_divider.h"

#include <QPainter>

#include <algorithm>

#include "app/ui/theme/theme.h"

namespace calvoro {

CardDivider::CardDivider(double inset, QWidget* parent) : QWidget(parent), inset_(inset) {
    // A widget is at least one logical pixel high; the line inside it is one device pixel.
    setFixedHeight(1);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

double CardDivider::thickness(double displayScale) { return 1.0 / std::max(displayScale, 1.0); }

QColor CardDivider::color(ColorScheme scheme) { return Theme::separator(scheme); }

void CardDivider::paint(QPainter& painter, const QRectF& band, double inset, ColorScheme scheme, double displayScale) {
    const QRectF line(band.left() + inset, band.top(), std::max(0.0, band.width() - 2 * inset), thickness(displayScale));
    painter.fillRect(line, color(scheme));
}

void CardDivider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, QRectF(rect()), inset_, Theme::scheme(this), devicePixelRatioF());
}

}  // namespace calvoro
