#include <gtest/gtest.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include "app/state/conversion_view_model.h"
#include "app/ui/chrome/main_window.h"
#include "app/ui/chrome/traffic_light_hover_view.h"
#include "app/ui/chrome/window_accessor.h"
#include "platform/qt/main_thread.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using Kind = TrafficLightButton::Kind;

class WindowChrome : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testing::isolateSettings();
        // Closing a window here must not end the test program, as in the program itself.
        qtmain::runOnMain([] { QApplication::setQuitOnLastWindowClosed(false); });
    }
};

void expectButtonsInPlace(MainWindow& window) {
    const Kind kinds[] = {Kind::close, Kind::minimize, Kind::zoom};
    for (int i = 0; i < 3; ++i) {
        TrafficLightButton* button = window.accessor()->trafficLights()->button(kinds[i]);
        const QRect frame(button->mapTo(&window, QPoint(0, 0)), button->size());
        EXPECT_EQ(frame.x(), 22 + 20 * i);
        EXPECT_EQ(frame.center().y() + 1, 28) << "centre line";  // QRect's centre rounds down
        EXPECT_TRUE(button->isVisibleTo(&window));
    }
}

TEST_F(WindowChrome, ButtonsKeepTheirCornerThroughResizes) {
    qtmain::runOnMain([] {
        ConversionViewModel viewModel;
        MainWindow window(viewModel);
        EXPECT_EQ(window.size(), MainWindow::defaultSize);
        EXPECT_EQ(window.minimumSize(), QSize(820, 640));
        EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
        window.show();
        expectButtonsInPlace(window);
        window.resize(1300, 900);
        expectButtonsInPlace(window);
        // Content added later stays beneath the buttons.
        window.setContentView(new QWidget);
        QCoreApplication::processEvents();
        EXPECT_EQ(window.childAt(29, 28), window.accessor()->trafficLights()->button(Kind::close));
        EXPECT_EQ(window.findChild<QWidget*>("zoomButton"), window.accessor()->trafficLights()->button(Kind::zoom));
    });
}

TEST_F(WindowChrome, HoveringTheGroupOrItsMarginHighlightsAllThree) {
    qtmain::runOnMain([] {
        ConversionViewModel viewModel;
        MainWindow window(viewModel);
        window.show();
        TrafficLightHoverView* lights = window.accessor()->trafficLights();
        // The hover area is the buttons' union grown by 4 points.
        EXPECT_EQ(QRect(lights->mapTo(&window, QPoint(0, 0)), lights->size()), QRect(18, 17, 62, 22));
        QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
        QCoreApplication::sendEvent(lights, &enter);
        for (Kind kind : {Kind::close, Kind::minimize, Kind::zoom}) EXPECT_TRUE(lights->button(kind)->isHighlighted());
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(lights, &leave);
        for (Kind kind : {Kind::close, Kind::minimize, Kind::zoom}) EXPECT_FALSE(lights->button(kind)->isHighlighted());
    });
}

TEST_F(WindowChrome, ZoomEntersFullScreenAndTheFlagFollows) {
    qtmain::runOnMain([] {
        ConversionViewModel viewModel;
        MainWindow window(viewModel);
        window.show();
        QSignalSpy flag(&viewModel, &ConversionViewModel::isFullScreenChanged);
        TrafficLightHoverView* lights = window.accessor()->trafficLights();
        QTest::mouseClick(lights->button(Kind::zoom), Qt::LeftButton);
        QTRY_VERIFY(window.isFullScreen());
        EXPECT_TRUE(viewModel.isFullScreen());
        EXPECT_FALSE(lights->isVisible());
        EXPECT_EQ(flag.count(), 1);
        // Nothing changed: nothing written.
        window.accessor()->position();
        window.accessor()->position();
        EXPECT_EQ(flag.count(), 1);
        window.showNormal();
        QTRY_VERIFY(!window.isFullScreen());
        EXPECT_FALSE(viewModel.isFullScreen());
        EXPECT_TRUE(lights->isVisible());
        expectButtonsInPlace(window);
        EXPECT_EQ(flag.count(), 2);
    });
}

TEST_F(WindowChrome, CloseAndMinimiseActOnTheWindow) {
    qtmain::runOnMain([] {
        ConversionViewModel viewModel;
        MainWindow window(viewModel);
        QSignalSpy closed(&window, &MainWindow::closed);
        window.show();
        TrafficLightHoverView* lights = window.accessor()->trafficLights();
        QTest::mouseClick(lights->button(Kind::minimize), Qt::LeftButton);
        QTRY_VERIFY(window.isMinimized());
        window.showNormal();
        QTest::mouseClick(lights->button(Kind::close), Qt::LeftButton);
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(closed.count(), 1);
    });
}

TEST_F(WindowChrome, EdgesResizeAndTheInsideDoesNot) {
    qtmain::runOnMain([] {
        ConversionViewModel viewModel;
        MainWindow window(viewModel);
        window.show();
        const WindowAccessor& accessor = *window.accessor();
        EXPECT_EQ(accessor.edgesAt(QPoint(1, 1)), Qt::LeftEdge | Qt::TopEdge);
        EXPECT_EQ(accessor.edgesAt(QPoint(979, 400)), Qt::RightEdge);
        EXPECT_EQ(accessor.edgesAt(QPoint(500, 719)), Qt::BottomEdge);
        EXPECT_EQ(accessor.edgesAt(QPoint(500, 400)), Qt::Edges());
        // The background moves the window only on a real drag: a tap leaves nothing pending.
        QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(500, 400));
        EXPECT_TRUE(accessor.awaitsDrag());
        QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(500, 400));
        EXPECT_FALSE(accessor.awaitsDrag());
        QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(500, 400));
        QTest::mouseMove(&window, QPoint(500 + 2 * QApplication::startDragDistance(), 400));
        EXPECT_FALSE(accessor.awaitsDrag()) << "the drag has begun";
        QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(500 + 2 * QApplication::startDragDistance(), 400));
        window.showFullScreen();
        QTRY_VERIFY(window.isFullScreen());
        EXPECT_EQ(accessor.edgesAt(QPoint(1, 1)), Qt::Edges());
    });
}

}  // namespace
}  // namespace calvoro
