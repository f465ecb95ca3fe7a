#pragma once

#include <QMargins>
#include <QPointer>
#include <QRectF>
#include <QWidget>

namespace calvoro {

// Keyboard focus made visible. One ring serves a whole window's content: while a control inside
// its host holds the focus and that focus came from the keyboard (Tab, Backtab, a shortcut), the
// ring is drawn around the control's shape, above everything and clipped to the scroll view the
// control sits in. Focus given by a click or by the program shows no ring, and a mouse press
// hides it until the keyboard moves the focus again. Nothing is drawn in screenshot mode.
class FocusRing : public QWidget {
    Q_OBJECT
public:
    // Radius for controls drawn as capsules or circles.
    static constexpr double capsule = -1;

    explicit FocusRing(QWidget* host);

    // The corner radius of the control's own rounded shape (8 when never set), and optionally
    // another widget to ring in its place, such as the frame around a text field, and how far
    // the drawn shape reaches beyond that widget's rectangle (a field painted around its editor).
    static void setShape(QWidget* control, double radius, QWidget* around = nullptr, QMargins outset = {});
    // Cards and holders that take the focus only to pass it on get no ring.
    static void setNoRing(QWidget* widget);

    // The focused control, whether or not the ring shows.
    QWidget* control() const { return control_; }
    // Whether the ring is on screen, and the widget it surrounds.
    bool isShowing() const { return isVisible(); }
    QWidget* ringedWidget() const { return isVisible() ? ringed_.data() : nullptr; }
    // True while the focus last moved by the keyboard.

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void refresh();
    bool follows(const QWidget* widget) const;

    QWidget* host_;
    QPointer<QWidget> control_;
    QPointer<QWidget> ringed_;
    QRectF shape_;  // in this widget's coordinates
    double radius_ = 8;
    bool fromKeyboard_ = false;
};

}  // namespace calvoro
