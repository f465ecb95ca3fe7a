#include "app/ui/controls/hover_button.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include "app/ui/theme/theme.h"

namespace calvoro {

HoverButton::HoverButton(QWidget* parent) : QAbstractButton(parent) {
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::ArrowCursor);
    for (SpringValue* value : {&hover_, &press_}) {
        connect(value, &SpringValue::valueChanged, this, [this] {
            update();
            emit lookChanged();
        });
    }
}

void HoverButton::setLabel(const QString& label) {
    setText(label);
    setAccessibleName(label);
    updateGeometry();
    update();
}

void HoverButton::applyPressScale(QPainter& painter, double pressedScale) const {
    const double scale = 1.0 - (1.0 - pressedScale) * press_.value();
    if (scale == 1.0) return;
    const QPointF centre = QRectF(rect()).center();
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.translate(-centre);
}

void HoverButton::setHovering(bool on) {
    if (hovering_ == on) return;
    hovering_ = on;
    hover_.animateTo(on ? 1.0 : 0.0, Theme::hover);
}

void HoverButton::setPressed(bool on) {
    if (pressed_ == on) return;
    pressed_ = on;
    if (hasPressLook_) press_.animateTo(on ? 1.0 : 0.0, Theme::snappy);
}

void HoverButton::enterEvent(QEnterEvent* event) {
    setHovering(true);
    QAbstractButton::enterEvent(event);
}

void HoverButton::leaveEvent(QEvent* event) {
    setHovering(false);
    QAbstractButton::leaveEvent(event);
}

void HoverButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) setPressed(true);
    QAbstractButton::mousePressEvent(event);
}

void HoverButton::mouseReleaseEvent(QMouseEvent* event) {
    // The press look ends with the press, whether or not the pointer is still inside.
    if (event->button() == Qt::LeftButton) setPressed(false);
    QAbstractButton::mouseReleaseEvent(event);
}

void HoverButton::keyPressEvent(QKeyEvent* event) {
    // Return presses a focused button as Space does, as desktop buttons do.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && !event->isAutoRepeat() && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        animateClick();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void HoverButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) setPressed(false);
    QAbstractButton::changeEvent(event);
}

}  // namespace calvoro
