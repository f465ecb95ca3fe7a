#pragma once

#include <QWidget>

#include "app/ui/theme/spring.h"

namespace calvoro {

class ConversionViewModel;

// Stand-ins for the window's own buttons in full screen, at the head of the sidebar: close,
// a dimmed minimise that does nothing, and leave full screen. Dim until the pointer comes near.
class FullScreenTrafficLights : public QWidget {
    Q_OBJECT
public:
    explicit FullScreenTrafficLights(ConversionViewModel& viewModel, QWidget* parent = nullptr);

    enum class Dot { close, minimise, leaveFullScreen };
    // The circle of a dot, in the widget's coordinates.
    static QRectF dotRect(Dot dot);
    bool hovering() const { return hovering_; }
    double groupOpacity() const { return 0.35 + 0.65 * hover_.value(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // The key window, else the first window of the program.
    static QWidget* window();

    ConversionViewModel& viewModel_;
    bool hovering_ = false;
    SpringValue hover_;
};

}  // namespace calvoro
