#include "app/ui/console/text_button.h"

#include <QPainter>

#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

TextButton::TextButton(const QString& label, double points, bool underlined, QWidget* parent) : HoverButton(parent) {
    setLabel(label);
    QFont font = Theme::font(points);
    font.setUnderline(underlined);
    setFont(font);
    setCursor(Qt::PointingHandCursor);
    FocusRing::setShape(this, 4);
}

QSize TextButton::sizeHint() const { return fontMetrics().size(0, text()) + QSize(2, 4); }

void TextButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(Theme::textTertiary(Theme::scheme(this)));
    painter.drawText(rect(), Qt::AlignCenter, text());
}

}  // namespace calvoro
