#include "app/ui/chrome/full_screen_traffic_lights.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>

#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {
namespace {

constexpr double diameter = 12.5, spacing = 8;

struct DotLook {
    std::uint32_t colour;
    const char* symbol;
};

DotLook look(FullScreenTrafficLights::Dot dot) {
    switch (dot) {
        case FullScreenTrafficLights::Dot::close: return {0xFF5F57, "xmark"};
        case FullScreenTrafficLights::Dot::minimise: return {0xFEBC2E, "minus"};
        case FullScreenTrafficLights::Dot::leaveFullScreen: break;
    }
    return {0x28C840, "arrow.down.right.and.arrow.up.left"};
}

}  // namespace

FullScreenTrafficLights::FullScreenTrafficLights(ConversionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    setFixedSize(96, 44);
    setAttribute(Qt::WA_Hover);
    connect(&hover_, &SpringValue::valueChanged, this, [this] { update(); });
}

QRectF FullScreenTrafficLights::dotRect(Dot dot) {
    const int index = static_cast<int>(dot);
    return QRectF(index * (diameter + spacing), (44 - diameter) / 2, diameter, diameter);
}

QWidget* FullScreenTrafficLights::window() {
    if (QWidget* active = QApplication::activeWindow()) return active;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isWindow() && widget->isVisible() && widget->windowType() == Qt::Window) return widget;
    return nullptr;
}

void FullScreenTrafficLights::enterEvent(QEnterEvent* event) {
    hovering_ = true;
    hover_.animateTo(1.0, Spring{0.16, 1.0, 0});
    QWidget::enterEvent(event);
}

void FullScreenTrafficLights::leaveEvent(QEvent* event) {
    hovering_ = false;
    hover_.animateTo(0.0, Spring{0.16, 1.0, 0});
    QWidget::leaveEvent(event);
}

void FullScreenTrafficLights::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    const QPointF at = event->position();
    auto hit = [&](Dot dot) {
        const QRectF r = dotRect(dot);
        return QLineF(r.center(), at).length() <= diameter / 2;
    };
    QWidget* target = window();
    if (!target) return;
    if (hit(Dot::close)) target->close();
    else if (hit(Dot::leaveFullScreen)) target->isFullScreen() ? target->showNormal() : target->showFullScreen();
    // Minimise takes no clicks in full screen.
}

void FullScreenTrafficLights::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(groupOpacity());
    for (Dot dot : {Dot::close, Dot::minimise, Dot::leaveFullScreen}) {
        const DotLook l = look(dot);
        const QRectF circle = dotRect(dot);
        painter.save();
        if (dot == Dot::minimise) painter.setOpacity(painter.opacity() * 0.35);
        painter.setPen(Qt::NoPen);
        painter.setBrush(rgbColor(l.colour));
        painter.drawEllipse(circle);
        Symbols::paint(painter, circle, l.symbol, 7, QFont::Bold, rgbColor(0x000000, 0.55));
        painter.restore();
    }
}

}  // namespace calvoro
