#include "app/ui/overlays/drop_overlay.h"

#include <QFontMetricsF>
#include <QPainter>

#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

DropOverlay::DropOverlay(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAcceptDrops(false);
}

void DropOverlay::paintEvent(QPaintEvent*) {
    const bool dark = Theme::scheme(this) == ColorScheme::dark;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), dark ? rgbColor(0x000000, 0.55) : rgbColor(0xFFFFFF, 0.65));
    // A 2-point line inside the outline of a rectangle inset 10 from the edges.
    const QRectF frame = QRectF(rect()).adjusted(10 + 1, 10 + 1, -10 - 1, -10 - 1);
    const QColor ink = dark ? QColor(Qt::white) : Theme::ink();
    QColor line = ink;
    line.setAlphaF(0.32f);
    painter.strokePath(Theme::continuousRoundedRect(frame, 17 - 1), QPen(line, 2));

    QFont title = Theme::font(22, QFont::DemiBold);
    title.setLetterSpacing(QFont::AbsoluteSpacing, -0.66);
    const QFont subtitle = Theme::font(13);
    const double iconHeight = 52, titleHeight = QFontMetricsF(title).height(), subtitleHeight = QFontMetricsF(subtitle).height();
    double y = (height() - (iconHeight + 14 + titleHeight + 4 + subtitleHeight)) / 2;
    Symbols::paint(painter, QRectF(0, y, width(), iconHeight), "arrow.down.doc.fill", 44, QFont::DemiBold, ink);
    y += iconHeight + 14;
    painter.setFont(title);
    painter.setPen(ink);
    painter.drawText(QRectF(0, y, width(), titleHeight), Qt::AlignCenter, QStringLiteral("Drop to add"));
    y += titleHeight + 4;
    QColor faint = ink;
    faint.setAlphaF(0.72f);
    painter.setFont(subtitle);
    painter.setPen(faint);
    painter.drawText(QRectF(0, y, width(), subtitleHeight), Qt::AlignCenter, QStringLiteral("Release anywhere in the window"));
}

}  // namespace calvoro
