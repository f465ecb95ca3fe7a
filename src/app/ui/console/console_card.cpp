#include "app/ui/console/console_card.h"

#include <QPainter>
#include <QVBoxLayout>

#include "app/ui/theme/theme.h"

namespace calvoro {

ConsoleCard::ConsoleCard(QWidget* parent) : QWidget(parent) {
    new ShadowCaster(this, [this] { return shadow(Theme::scheme(this)); });
}

Shadow ConsoleCard::shadow(ColorScheme scheme) {
    if (scheme == ColorScheme::dark) return {Qt::transparent, 0, {0, 0}, cornerRadius};
    return {rgbColor(0x000000, 0.07), 14, {0, 5}, cornerRadius};
}

void ConsoleCard::paintCard(QPainter& painter, const QRectF& card, ColorScheme scheme) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillPath(Theme::continuousRoundedRect(card, cornerRadius),
                     scheme == ColorScheme::dark ? QColor(30, 30, 30) : QColor(Qt::white));
    painter.restore();
}

void ConsoleCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintCard(painter, QRectF(rect()), Theme::scheme(this));
}

ConsoleCard* consoleCard(QWidget* content, QWidget* parent) {
    auto* card = new ConsoleCard(parent);
    auto* layout = new QVBoxLayout(card);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(content);
    return card;
}

}  // namespace calvoro
