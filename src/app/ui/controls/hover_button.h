#pragma once

#include <QAbstractButton>

#include "app/ui/theme/spring.h"

namespace calvoro {

// The base of the window's own buttons: a plain button that draws itself, with a hover progress
// eased by Theme::hover and, where the look has one, a press progress eased by Theme::snappy.
class HoverButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit HoverButton(QWidget* parent = nullptr);

    // The text shown (and read out), for buttons that have one; they size to it.
    void setLabel(const QString& label);

    bool isHovering() const { return hovering_; }
    bool isPressed() const { return pressed_; }
    // 0 at rest, 1 fully hovered or pressed; in between while easing.
    double hoverProgress() const { return hover_.value(); }
    double pressProgress() const { return press_.value(); }

signals:
    // The hover or press progress moved.
    void lookChanged();

protected:
    // Buttons without a press look leave this false.
    void setHasPressLook(bool on) { hasPressLook_ = on; }
    // Scales the painter about the centre towards pressedScale as the press progresses.
    void applyPressScale(QPainter& painter, double pressedScale) const;

    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void setHovering(bool on);
    void setPressed(bool on);

    bool hovering_ = false;
    bool pressed_ = false;
    bool hasPressLook_ = false;
    SpringValue hover_;
    SpringValue press_;
};

}  // namespace calvoro
