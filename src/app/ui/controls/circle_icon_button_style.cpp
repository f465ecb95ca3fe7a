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
    const bool dark = scheme == ColorScheme::dark;
    const double hover = hoverProgress();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    applyPressScale(painter, 0.94);
    const QRectF frame(0, 0, size_, size_);
    const QColor fill = dark ? rgbColor(0xFFFFFF, 0.055) : rgbColor(0x000000, 0.075);
    painter.fillPath(Theme::continuousRoundedRect(frame, 7), mixColor(Qt::transparent, fill, hover));
    const QColor rest = Theme::textSecondary(scheme);
    const QColor hovered = dark ? rgbColor(0xFFFFFF, 0.96) : Theme::ink();
    Symbols::paint(painter, frame, symbol_, symbolPoints_, weight_, mixColor(rest, hovered, hover));
}

}  // namespace calvoro
