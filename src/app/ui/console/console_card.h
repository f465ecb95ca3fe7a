#pragma once

#include <QWidget>

#include "app/state/appearance.h"
#include "app/ui/theme/shadow.h"

namespace calvoro {

// The card of the console's columns: a rounded panel, (30, 30, 30) in dark and white in light,
// with a soft shadow in light only and no border.
class ConsoleCard : public QWidget {
    Q_OBJECT
public:
    explicit ConsoleCard(QWidget* parent = nullptr);

    static constexpr double cornerRadius = 9;
    static Shadow shadow(ColorScheme scheme);
    static void paintCard(QPainter& painter, const QRectF& card, ColorScheme scheme);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// Puts content on a console card (the card takes it as its only child, filling it).
ConsoleCard* consoleCard(QWidget* content, QWidget* parent = nullptr);

}  // namespace calvoro
