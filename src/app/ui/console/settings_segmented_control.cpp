#include "app/ui/console/settings_segmented_control.h"

#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>

#include "app/ui/theme/shadow.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

const std::array<SettingsCategory, 4>& allSettingsCategories() {
    static constexpr std::array<SettingsCategory, 4> all{SettingsCategory::appearance, SettingsCategory::conversion,
                                                         SettingsCategory::defaults, SettingsCategory::files};
    return all;
}

std::string rawValue(SettingsCategory category) {
    switch (category) {
        case SettingsCategory::appearance: return "Appearance";
        case SettingsCategory::conversion: return "Conversion";
        case SettingsCategory::defaults: return "Defaults";
        case SettingsCategory::files: return "Files";
    }
    return {};
}

std::optional<SettingsCategory> settingsCategoryFromRawValue(std::string_view raw) {
    for (const SettingsCategory category : allSettingsCategories())
        if (rawValue(category) == raw) return category;
    return std::nullopt;
}

std::string symbolName(SettingsCategory category) {
    switch (category) {
        case SettingsCategory::appearance: return "paintbrush";
        case SettingsCategory::conversion: return "slider.horizontal.3";
        case SettingsCategory::defaults: return "wand.and.stars";
        case SettingsCategory::files: return "folder";
    }
    return {};
}

SettingsSegmentedControl::SettingsSegmentedControl(SettingsCategory selection, QWidget* parent)
    : QWidget(parent), selection_(selection), pill_(static_cast<double>(selection)) {
    setFixedHeight(40);
    setMouseTracking(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    connect(&pill_, &SpringValue::valueChanged, this, qOverload<>(&QWidget::update));
}

void SettingsSegmentedControl::setSelection(SettingsCategory category) {
    if (category == selection_) return;
    selection_ = category;
    pill_.animateTo(static_cast<double>(category), Spring{0.22, 1.0, 0});
    update();
    emit selectionChanged(category);
}

QRectF SettingsSegmentedControl::segmentRect(SettingsCategory category) const {
    const double inner = width() - 6, segment = (inner - 2 * 3) / 4;
    return {3 + static_cast<int>(category) * (segment + 2), 3, segment, 34};
}

std::optional<SettingsCategory> SettingsSegmentedControl::categoryAt(const QPointF& point) const {
    for (const SettingsCategory category : allSettingsCategories())
        if (segmentRect(category).contains(point)) return category;
    return std::nullopt;
}

void SettingsSegmentedControl::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    const bool dark = scheme == ColorScheme::dark;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(Theme::continuousRoundedRect(QRectF(rect()), 8), Theme::segmentTrack(scheme));
    if (hovered_ && *hovered_ != selection_)
        painter.fillPath(Theme::continuousRoundedRect(segmentRect(*hovered_), 7),
                         dark ? rgbColor(0xFFFFFF, 0.05) : rgbColor(0x000000, 0.04));
    // The pill slides between segments.
    const QRectF first = segmentRect(SettingsCategory::appearance);
    const QRectF pill = first.translated(pill_.value() * (first.width() + 2), 0);
    paintShadow(painter, pill, Shadow{rgbColor(0x000000, dark ? 0.45 : 0.12), 3, {0, 1}, 7});
    painter.fillPath(Theme::continuousRoundedRect(pill, 7), dark ? QColor(58, 58, 58) : QColor(Qt::white));

    for (const SettingsCategory category : allSettingsCategories()) {
        const bool selected = category == selection_;
        const QColor colour = selected ? Theme::textPrimary(scheme) : Theme::textSecondary(scheme);
        const QFont font = Theme::font(12.5, selected ? QFont::DemiBold : QFont::Medium);
        const QString title = QString::fromStdString(rawValue(category));
        const double textWidth = QFontMetricsF(font).horizontalAdvance(title);
        const QRectF cell = segmentRect(category);
        const double left = cell.center().x() - (14 + 6 + textWidth) / 2;
        Symbols::paint(painter, QRectF(left, cell.top(), 14, cell.height()), symbolName(category), 11.5, QFont::Medium, colour);
        painter.setFont(font);
        painter.setPen(colour);
        painter.drawText(QRectF(left + 20, cell.top(), textWidth + 2, cell.height()), Qt::AlignLeft | Qt::AlignVCenter, title);
    }
}

void SettingsSegmentedControl::mouseMoveEvent(QMouseEvent* event) {
    const auto at = categoryAt(event->position());
    // Entering a segment names it; leaving one clears only the segment still named.
    if (at) hovered_ = at;
    else hovered_.reset();
    update();
}

void SettingsSegmentedControl::leaveEvent(QEvent*) {
    hovered_.reset();
    update();
}

void SettingsSegmentedControl::keyPressEvent(QKeyEvent* event) {
    // The arrows step through the categories and stop at either end.
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (step == 0) return QWidget::keyPressEvent(event);
    const int next = static_cast<int>(selection_) + step;
    if (next >= 0 && next < static_cast<int>(allSettingsCategories().size())) setSelection(allSettingsCategories()[next]);
}

void SettingsSegmentedControl::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    if (const auto at = categoryAt(event->position())) setSelection(*at);
}

}  // namespace calvoro
