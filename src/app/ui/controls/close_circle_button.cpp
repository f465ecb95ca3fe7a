#include "app/ui/controls/close_circle_button.h"

#include <QPainter>

#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

CloseCircleButton::CloseCircleButton(int side, std::function<QColor(ColorScheme)> fill, QWidget* parent)
    : HoverButton(parent), fill_(std::move(fill)) {
    setFixedSize(side, side);
    FocusRing::setShape(this, FocusRing::capsule);
    setToolTip(tr("Close"));
    setAccessibleName(tr("Close"));
}

void CloseCircleButton::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill_(scheme));
    painter.drawEllipse(QRectF(rect()));
    Symbols::paint(painter, QRectF(rect()), "xmark", 11, QFont::DemiBold, Theme::textTertiary(scheme));
}

}  // namespace calvoro
