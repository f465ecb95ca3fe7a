#include "app/ui/log_panel/log_filter_pill.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/theme.h"

namespace calvoro {
namespace {

QColor activeFill(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.09) : rgbColor(0x000000, 0.11);
}

}  // namespace

LogFilterPill::LogFilterPill(const QString& label, Accent accent, QWidget* parent)
    : HoverButton(parent), label_(label), accent_(std::move(accent)) {
    setAccessibleName(label);
    FocusRing::setShape(this, 11);
    connect(&activeProgress_, &SpringValue::valueChanged, this, [this] { update(); });
    setFixedSize(sizeHint());
}

void LogFilterPill::setActive(bool active, bool animated) {
    if (active_ == active) return;
    active_ = active;
    if (animated) activeProgress_.animateTo(active ? 1.0 : 0.0, Theme::snappy);
    else activeProgress_.setImmediately(active ? 1.0 : 0.0);
    setFixedSize(sizeHint());
}

QSize LogFilterPill::sizeHint() const {
    const QFontMetricsF metrics(Theme::font(11, active_ ? QFont::DemiBold : QFont::Medium));
    return {static_cast<int>(std::ceil(metrics.horizontalAdvance(label_) + 18)), 22};
}

QColor LogFilterPill::textColor() const {
    const ColorScheme scheme = Theme::scheme(this);
    const QColor strong = Theme::textPrimary(scheme);
    const QColor resting = mixColor(Theme::textTertiary(scheme), strong, hoverProgress());
    return mixColor(resting, accent_ ? accent_(scheme) : strong, activeProgress_.value());
}

QColor LogFilterPill::backgroundColor() const {
    const ColorScheme scheme = Theme::scheme(this);
    const QColor resting = mixColor(Qt::transparent, Theme::hoverFill(scheme), hoverProgress());
    return mixColor(resting, activeFill(scheme), activeProgress_.value());
}

void LogFilterPill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame(rect());
    painter.fillPath(Theme::continuousRoundedRect(frame, 11), backgroundColor());
    painter.setFont(Theme::font(11, active_ ? QFont::DemiBold : QFont::Medium));
    painter.setPen(textColor());
    painter.drawText(frame, Qt::AlignCenter, label_);
}

}  // namespace calvoro
