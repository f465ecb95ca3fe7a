#include "app/ui/controls/chrome_icon_button.h"

#include <QPainter>

#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

ChromeIconButton::ChromeIconButton(std::string icon, bool bordered, const QString& help, std::function<void()> action,
                                   QWidget* parent)
    : HoverButton(parent), icon_(std::move(icon)), bordered_(bordered) {
    setFixedSize(side, side);
    setToolTip(help);
    setAccessibleName(help);
    connect(this, &QAbstractButton::clicked, this, [action = std::move(action)] {
        if (action) action();
    });
}

void ChromeIconButton::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    const bool dark = scheme == ColorScheme::dark;
    const double hover = hoverProgress();
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame(rect());
    const QPainterPath shape = Theme::continuousRoundedRect(frame, 8);
    painter.fillPath(shape, mixColor(Qt::transparent, Theme::hoverFill(scheme), hover));
    const QColor outline = dark ? rgbColor(0xFFFFFF, 0.10) : rgbColor(0x000000, 0.16);
    const QColor stroke = bordered_ ? outline : mixColor(Qt::transparent, outline, hover);
    if (stroke.alpha() > 0)
        painter.strokePath(Theme::continuousRoundedRect(frame.adjusted(0.5, 0.5, -0.5, -0.5), 7.5), QPen(stroke, 1));
    Symbols::paint(painter, frame, icon_, 13, QFont::Medium, Theme::hoverText(scheme, hover));
}

}  // namespace calvoro
