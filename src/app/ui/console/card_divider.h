#pragma once

#include <QWidget>

#include "app/state/appearance.h"

namespace calvoro {

// The one-device-pixel hairline between the console's bars and rows, inset from both sides.
class CardDivider : public QWidget {
    Q_OBJECT
public:
    explicit CardDivider(double inset = 0, QWidget* parent = nullptr);

    // The line's thickness in logical pixels: one device pixel, one point below scale 1.
    static double thickness(double displayScale);
    static QColor color(ColorScheme scheme);
    // For rows painted by a delegate: the line along the top of `band`, inset on both sides.
    static void paint(QPainter& painter, const QRectF& band, double inset, ColorScheme scheme, double displayScale);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double inset_;
};

}  // namespace calvoro
