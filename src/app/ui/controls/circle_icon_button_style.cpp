#include "app/ui/controls/circle_icon_button_style.h"

#include <QPainter>

#include <cmath>

#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

CircleIconButtonStyle::CircleIconButtonStyle(std::string symbol, double symbolPoints, QFont::Weight weight, double size,
                                             const QString& help, QWidget* parent)
    : HoverButton(parent), symbol_(std::move(symbol)), symbolPoints_(symbolPoints), weight_(weight), size_(size) {
    setHasPressLook(true);
    FocusRing::setShape(this, 7);
    setToolTip(help);
    setAccessibleName(help);
    setFixedSize(sizeHint());
}

QSize CircleIconButtonStyle::sizeHint() const {
    const int side = static_cast<int>(std::ceil(size_));
    return {side, side};
}

void CircleIconButtonStyle::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    const double hover = hoverProgress();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    applyPressScale(painter, 0.94);
    const QRectF frame(0, 0, size_, size_);
    painter.fillPath(Theme::continuousRoundedRect(frame, 7), mixColor(Qt::transparent, Theme::iconHoverFill(scheme), hover));
    const QColor colour = mixColor(Theme::textSecondary(scheme), Theme::textPrimary(scheme), hover);
    Symbols::paint(painter, frame, symbol_, symbolPoints_, weight_, colour);
}

}  // namespace calvoro
