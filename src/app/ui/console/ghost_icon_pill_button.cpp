#include "app/ui/console/ghost_icon_pill_button.h"

#include <QFontMetricsF>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

QFont labelFont() { return Theme::font(12, QFont::Medium); }
constexpr double iconWidth = 13;  // a symbol at 11 points
constexpr double spacing = 6;

}  // namespace

GhostIconPillButton::GhostIconPillButton(std::string icon, const QString& label, double maxLabelWidth, double height,
                                         QWidget* parent)
    : HoverButton(parent), icon_(std::move(icon)), maxLabelWidth_(maxLabelWidth), height_(height) {
    setLabel(label);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QString GhostIconPillButton::shownLabel() const {
    return QFontMetricsF(labelFont()).elidedText(text(), Qt::ElideMiddle, maxLabelWidth_);
}

double GhostIconPillButton::labelWidth() const {
    return std::min(maxLabelWidth_, QFontMetricsF(labelFont()).horizontalAdvance(shownLabel()));
}

QSize GhostIconPillButton::sizeHint() const {
    const double width = 12 + iconWidth + spacing + labelWidth() + 12;
    return {static_cast<int>(std::ceil(width)), static_cast<int>(std::ceil(height_))};
}

void GhostIconPillButton::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    const double hover = hoverProgress();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face(rect());
    painter.fillPath(Theme::continuousRoundedRect(face, 8), mixColor(Qt::transparent, Theme::hoverFill(scheme), hover));
    const QColor colour = mixColor(Theme::textSecondary(scheme), Theme::textPrimary(scheme), hover);
    // The stack keeps its ideal width and sits centred in the pill.
    const double stack = iconWidth + spacing + labelWidth();
    const double left = (face.width() - stack) / 2;
    Symbols::paint(painter, QRectF(left, 0, iconWidth, face.height()), icon_, 11, QFont::Medium, colour);
    painter.setFont(labelFont());
    painter.setPen(colour);
    painter.drawText(QRectF(left + iconWidth + spacing, 0, labelWidth() + 1, face.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, shownLabel());
}

}  // namespace calvoro
