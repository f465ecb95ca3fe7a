#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>

#include <optional>

class QWidget;
class QWindow;

namespace calvoro {

class ConversionViewModel;
class TrafficLightHoverView;

// Makes a frameless top-level widget behave as the window: its own close, minimise and zoom
// buttons in the top-left corner, moved by its background, resized at its edges, and its full
// screen state kept in the view model.
class WindowAccessor : public QObject {
    Q_OBJECT
public:
    WindowAccessor(QWidget* window, ConversionViewModel* viewModel);

    TrafficLightHoverView* trafficLights() const { return trafficLights_; }

    // Width of the band along the edges that resizes the window.
    static constexpr int resizeBorder = 5;
    // The edges near a point in window coordinates; none inside, in full screen or maximised.
    Qt::Edges edgesAt(const QPoint& point) const;

    // Keeps the buttons in their place above the content and writes the full-screen flag when it
    // changed. Safe to call any number of times.
    void position();

    // Whether a press on the background waits to become a drag of the window.
    bool awaitsDrag() const { return movePressAt_.has_value(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void attachToWindowHandle();
    void toggleFullScreen();
    void setEdgeCursor(Qt::Edges edges);

    QWidget* window_;
    QPointer<ConversionViewModel> viewModel_;
    TrafficLightHoverView* trafficLights_;
    QWindow* handle_ = nullptr;
    Qt::Edges cursorEdges_;
    // Where a press on the background was, until the pointer drags from it or it is released.
    std::optional<QPoint> movePressAt_;
};

}  // namespace calvoro
