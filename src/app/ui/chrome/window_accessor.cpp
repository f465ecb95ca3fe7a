#include "app/ui/chrome/window_accessor.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "app/state/conversion_view_model.h"
#include "app/ui/chrome/traffic_light_hover_view.h"

namespace calvoro {

WindowAccessor::WindowAccessor(QWidget* window, ConversionViewModel* viewModel)
    : QObject(window), window_(window), viewModel_(viewModel), trafficLights_(new TrafficLightHoverView(window)) {
    window_->setWindowFlag(Qt::FramelessWindowHint);
    window_->installEventFilter(this);
    connect(trafficLights_, &TrafficLightHoverView::closeRequested, window_, &QWidget::close);
    connect(trafficLights_, &TrafficLightHoverView::minimizeRequested, window_, &QWidget::showMinimized);
    connect(trafficLights_, &TrafficLightHoverView::zoomRequested, this, &WindowAccessor::toggleFullScreen);
    attachToWindowHandle();
    position();
}

void WindowAccessor::attachToWindowHandle() {
    QWindow* handle = window_->windowHandle();
    if (!handle || handle == handle_) return;
    handle_ = handle;
    // Seen before any widget, so that the edges resize even where content lies under them.
    handle_->installEventFilter(this);
}

void WindowAccessor::position() {
    const bool fullScreen = window_->isFullScreen();
    if (viewModel_ && viewModel_->isFullScreen() != fullScreen) viewModel_->setIsFullScreen(fullScreen);
    // In full screen the sidebar shows its own look-alike buttons instead.
    trafficLights_->setVisible(!fullScreen);
    if (!fullScreen) trafficLights_->position();
}

void WindowAccessor::toggleFullScreen() {
    if (window_->isFullScreen()) {
        window_->showNormal();
    } else {
        window_->showFullScreen();
    }
}

Qt::Edges WindowAccessor::edgesAt(const QPoint& point) const {
    Qt::Edges edges;
    if (window_->isFullScreen() || window_->isMaximized()) return edges;
    const QRect area = window_->rect();
    if (point.x() < area.left() + resizeBorder) edges |= Qt::LeftEdge;
    if (point.x() > area.right() - resizeBorder) edges |= Qt::RightEdge;
    if (point.y() < area.top() + resizeBorder) edges |= Qt::TopEdge;
    if (point.y() > area.bottom() - resizeBorder) edges |= Qt::BottomEdge;
    return edges;
}

void WindowAccessor::setEdgeCursor(Qt::Edges edges) {
    if (edges == cursorEdges_) return;
    if (cursorEdges_) QGuiApplication::restoreOverrideCursor();
    cursorEdges_ = edges;
    if (!edges) return;
    Qt::CursorShape shape = Qt::SizeAllCursor;
    if (edges == (Qt::LeftEdge | Qt::TopEdge) || edges == (Qt::RightEdge | Qt::BottomEdge)) {
        shape = Qt::SizeFDiagCursor;
    } else if (edges == (Qt::RightEdge | Qt::TopEdge) || edges == (Qt::LeftEdge | Qt::BottomEdge)) {
        shape = Qt::SizeBDiagCursor;
    } else if (edges & (Qt::LeftEdge | Qt::RightEdge)) {
        shape = Qt::SizeHorCursor;
    } else {
        shape = Qt::SizeVerCursor;
    }
    QGuiApplication::setOverrideCursor(shape);
}

bool WindowAccessor::eventFilter(QObject* watched, QEvent* event) {
    if (watched == handle_) {
        switch (event->type()) {
            case QEvent::MouseMove: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                if (mouse->buttons() == Qt::NoButton) setEdgeCursor(edgesAt(mouse->position().toPoint()));
                break;
            }
            case QEvent::MouseButtonPress: {
                auto* mouse = static_cast<QMouseEvent*>(event);
                const Qt::Edges edges = edgesAt(mouse->position().toPoint());
                if (mouse->button() == Qt::LeftButton && edges && handle_->startSystemResize(edges)) return true;
                break;
            }
            case QEvent::Leave: setEdgeCursor({}); break;
            default: break;
        }
        return false;
    }
    if (watched != window_) return false;
    switch (event->type()) {
        case QEvent::WinIdChange:
        case QEvent::Show:
            attachToWindowHandle();
            position();
            break;
        case QEvent::Resize:
        case QEvent::WindowStateChange:
        case QEvent::WindowActivate: position(); break;
        case QEvent::ChildAdded:
            // Content added later must not cover the buttons.
            QTimer::singleShot(0, trafficLights_, [this] { trafficLights_->raise(); });
            break;
        case QEvent::MouseButtonPress: {
            // Presses that no control took reach the window itself: its background moves it, once
            // the pointer really drags. A move begun at the press outlives a tap's release, which
            // the desktop may not see, and the window would follow the pointer until the next click.
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (mouse->button() != Qt::LeftButton || !handle_) break;
            movePressAt_ = mouse->globalPosition().toPoint();
            return true;
        }
        case QEvent::MouseMove: {
            auto* mouse = static_cast<QMouseEvent*>(event);
            if (!movePressAt_ || !(mouse->buttons() & Qt::LeftButton)) break;
            if ((mouse->globalPosition().toPoint() - *movePressAt_).manhattanLength() < QApplication::startDragDistance())
                return true;
            movePressAt_.reset();
            if (handle_) handle_->startSystemMove();
            return true;
        }
        case QEvent::MouseButtonRelease: movePressAt_.reset(); break;
        default: break;
    }
    return false;
}

}  // namespace calvoro
