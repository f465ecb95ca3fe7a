#include "app/ui/console/row_remove_button.h"

#include <QPainter>

#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

RowRemoveButton::RowRemoveButton(QWidget* parent) : HoverButton(parent) {
    setFixedSize(28, 28);
    setToolTip(tr("Remove from list"));
    setAccessibleName(tr("Remove from list"));
    // The ring hugs the glyph's square, inside the button's frame: drawn around the frame it would
    // touch the status cell's first glyph 4 points away.
    FocusRing::setShape(this, 4, nullptr, QMargins(-3, -3, -3, -3));
    connect(this, &HoverButton::lookChanged, this, qOverload<>(&QWidget::update));
}

void RowRemoveButton::setShown(bool shown) {
    if (shown_ == shown) return;
    shown_ = shown;
    update();
}

QColor RowRemoveButton::iconColor() const {
    // A button reached by Tab shows itself as hovering would.
    const QColor rest = shown_ || hasFocus() ? Theme::textTertiary(Theme::scheme(this)) : QColor(Qt::transparent);
    if (!isEnabled()) {
        // While its job converts the button is dimmed, as disabled controls are.
        QColor dimmed = rest;
        dimmed.setAlphaF(dimmed.alphaF() * static_cast<float>(disabledOpacity));
        return dimmed;
    }
    return mixColor(rest, Theme::errorText(Theme::scheme(this)), hoverProgress());
}

void RowRemoveButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double hover = isEnabled() ? hoverProgress() : 0.0;
    QColor tint = Theme::errorText(Theme::scheme(this));
    tint.setAlphaF(static_cast<float>(0.13 * hover));
    painter.fillPath(Theme::continuousRoundedRect(QRectF(rect()), 6), tint);
    Symbols::paint(painter, QRectF(rect()), "xmark", 11, QFont::Medium, iconColor());
}

}  // namespace calvoro
