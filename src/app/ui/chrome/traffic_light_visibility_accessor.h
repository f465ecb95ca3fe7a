#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <array>

namespace calvoro {

// Fades the window's own close, minimise and zoom buttons out (and disables them) while hidden,
// back in (and enables them) otherwise, over 0.18 s. It draws nothing; it acts on the window
// of the widget it is given, on the next turn of the event loop.
class TrafficLightVisibilityAccessor : public QObject {
    Q_OBJECT
public:
    // The object names the window gives its standard buttons, in the order they are handled.
    static constexpr std::array<const char*, 3> buttonNames{"closeButton", "minimiseButton", "zoomButton"};

    explicit TrafficLightVisibilityAccessor(QWidget* view);

    void setHidden(bool hidden);
    bool hidden() const { return hidden_; }

private:
    void apply();

    QPointer<QWidget> view_;
    bool hidden_ = false;
};

}  // namespace calvoro
