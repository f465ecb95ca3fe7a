#include "app/ui/console/ghost_pill_button.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

QFont labelFont() { return Theme::font(12.5, QFont::Medium); }

}  // namespace

GhostPillButton::GhostPillButton(const QString& label, double height, QWidget* parent)
    : HoverButton(parent), height_(height) {
    setHasPressLook(true);
    setLabel(label);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

int GhostPillButton::widthFor(const QString& label) {
    return static_cast<int>(std::ceil(QFontMetricsF(labelFont()).horizontalAdvance(label) + 24));
}

QSize GhostPillButton::sizeHint() const {
    if (measuredWidth_ < 0 || text() != measuredLabel_) {
        measuredLabel_ = text();
        measuredWidth_ = widthFor(measuredLabel_);
    }
    return {static_cast<int>(measuredWidth_), static_cast<int>(std::ceil(height_))};
}

void GhostPillButton::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    const double hover = hoverProgress();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    applyPressScale(painter, 0.97);
    const QRectF face(rect());
    painter.fillPath(Theme::continuousRoundedRect(face, 8), mixColor(Qt::transparent, Theme::hoverFill(scheme), hover));
    painter.setFont(labelFont());
    painter.setPen(mixColor(Theme::textSecondary(scheme), Theme::textPrimary(scheme), hover));
    painter.drawText(face, Qt::AlignCenter, text());
}

}  // namespace calvoro
