#include "app/ui/console/row_checkbox.h"

#include <QPainter>

#include <algorithm>

#include "app/ui/theme/symbols.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {
constexpr int side = 19;
}  // namespace

RowCheckbox::RowCheckbox(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setFixedSize(side, side);
    FocusRing::setShape(this, 6);
    setCursor(Qt::PointingHandCursor);
    connect(&progress_, &SpringValue::valueChanged, this, qOverload<>(&QWidget::update));
}

void RowCheckbox::setSelected(bool selected, bool animated) {
    setChecked(selected);
    if (animated) progress_.animateTo(selected ? 1.0 : 0.0, Theme::snappy);
    else progress_.setImmediately(selected ? 1.0 : 0.0);
}

void RowCheckbox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double p = progress_.value();
    const double shown = std::clamp(p, 0.0, 1.0);
    const QColor accent = Theme::accentFill(this);
    const QPainterPath box = Theme::continuousRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), 6);
    if (shown > 0) painter.fillPath(box, mixColor(Qt::transparent, accent, shown));
    QColor rest = Theme::textQuaternary(Theme::scheme(this));
    rest.setAlphaF(rest.alphaF() * 0.8f);
    painter.setPen(QPen(shown >= 1 ? accent : shown <= 0 ? rest : mixColor(rest, accent, shown), 1.5));
    painter.drawPath(box);
    if (shown <= 0) return;
    // The mark: from 0.4 of its size about the centre, fading in (the snappy spring overshoots a little).
    const double scale = 0.4 + 0.6 * std::max(p, 0.0);
    const QPointF centre = QRectF(rect()).center();
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);
    painter.setOpacity(shown);
    Symbols::paint(painter, QRectF(rect()), "checkmark", 10, QFont::Bold, Theme::contrastOn(accent));
}

}  // namespace calvoro
