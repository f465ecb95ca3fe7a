#include "app/ui/theme/window_style.h"

#include <QApplication>
#include <QPainter>
#include <QStyleFactory>
#include <QStyleOption>
#include <QWidget>

#include "app/ui/theme/theme.h"

namespace calvoro {
namespace {

bool isTip(const QWidget* widget) { return widget && widget->inherits("QTipLabel"); }

ColorScheme schemeOf(const QPalette& palette) {
    return palette.color(QPalette::ToolTipBase).lightnessF() < 0.5 ? ColorScheme::dark : ColorScheme::light;
}

}  // namespace

WindowStyle::WindowStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

void WindowStyle::polish(QWidget* widget) {
    QProxyStyle::polish(widget);
    if (!isTip(widget)) return;
    // A tip is made with the toolkit's tooltip palette; it takes the appearance of the widget it
    // explains (else the window's), whatever that is at the moment it shows.
    const QWidget* owner = widget->parentWidget();
    QPalette palette = owner ? owner->palette() : QApplication::palette();
    const ColorScheme scheme = palette.color(QPalette::Window).lightnessF() < 0.5 ? ColorScheme::dark : ColorScheme::light;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::ToolTipBase, scheme == ColorScheme::dark ? QColor(37, 37, 37) : QColor(Qt::white));
        palette.setColor(group, QPalette::ToolTipText, Theme::textPrimary(scheme));
    }
    widget->setPalette(palette);
    widget->setFont(Theme::font(11.5));
}

void WindowStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                const QWidget* widget) const {
    if (element != PE_PanelTipLabel) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // The card of the window's sheets, small: its fill and its faint outline, rounded.
    const ColorScheme scheme = schemeOf(option->palette);
    const QRectF card(option->rect);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->fillRect(card, option->palette.toolTipBase());
    painter->setPen(QPen(scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.12) : rgbColor(0x000000, 0.14), 1));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(Theme::continuousRoundedRect(card.adjusted(0.5, 0.5, -0.5, -0.5), tipCornerRadius - 0.5));
    painter->restore();
}

int WindowStyle::pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const {
    // Room around the text, as the cards give their content.
    if (metric == PM_ToolTipLabelFrameWidth) return 5;
    return QProxyStyle::pixelMetric(metric, option, widget);
}

int WindowStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                           QStyleHintReturn* returnData) const {
    if (hint == SH_ToolTipLabel_Opacity) return 255;
    // Buttons of dialogs carry words only, as the desktop's own do.
    if (hint == SH_DialogButtonBox_ButtonsHaveIcons) return 0;
    if (hint == SH_ToolTip_Mask && option) {
        // A tip is a window of its own; without a compositor only a mask rounds its corners.
        if (auto* mask = qstyleoption_cast<QStyleHintReturnMask*>(returnData)) {
            const QPainterPath shape = Theme::continuousRoundedRect(QRectF(option->rect), tipCornerRadius);
            mask->region = QRegion(shape.toFillPolygon().toPolygon());
        }
        return 1;
    }
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

}  // namespace calvoro
