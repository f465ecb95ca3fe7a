#pragma once

#include <QProxyStyle>

namespace calvoro {

// Fusion with the window's own tooltips: a small card in the appearance of the widget it
// explains, instead of a plain box outlined in the text colour.
class WindowStyle : public QProxyStyle {
    Q_OBJECT
public:
    WindowStyle();

    static constexpr double tipCornerRadius = 6;

    void polish(QWidget* widget) override;
    using QProxyStyle::polish;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget = nullptr) const override;
    int pixelMetric(PixelMetric metric, const QStyleOption* option = nullptr, const QWidget* widget = nullptr) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr, const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
};

}  // namespace calvoro
