#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QEnterEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "app/ui/controls/chrome_icon_button.h"
#include "app/ui/overlays/conversions_info_popover.h"
#include "app/ui/overlays/drop_overlay.h"
#include "app/ui/chrome/full_screen_traffic_lights.h"
#include "app/ui/overlays/modal_chrome.h"
#include "app/ui/ui_test_support.h"

namespace calvoro {
namespace {

using testing::onMain;
using testing::waitUntil;

void hover(QWidget* widget, bool inside) {
    if (inside) {
        QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), widget->mapToGlobal(QPointF(5, 5)));
        QApplication::sendEvent(widget, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(widget, &leave);
    }
}

class OverlaysTest : public testing::ViewTest {};

TEST_F(OverlaysTest, ChromeIconButtonOutlinesWhenBorderedOrHovered) {
    std::unique_ptr<ChromeIconButton> plain, bordered;
    QImage rest;
    int clicks = 0;
    onMain([&] {
        plain = std::make_unique<ChromeIconButton>("xmark", false, "Hide sidebar", [&] { ++clicks; }, host.get());
        bordered = std::make_unique<ChromeIconButton>("xmark", true, "Hide sidebar", [] {}, host.get());
        EXPECT_EQ(plain->size(), QSize(30, 30));
        EXPECT_EQ(plain->toolTip(), "Hide sidebar");
        rest = plain->grab().toImage();
        EXPECT_NE(rest.pixelColor(15, 0), bordered->grab().toImage().pixelColor(15, 0)) << "only the bordered one has its outline at rest";
        hover(plain.get(), true);
    });
    ASSERT_TRUE(waitUntil([&] { return plain->hoverProgress() == 1.0; }));
    onMain([&] {
        const QImage hovered = plain->grab().toImage();
        EXPECT_NE(hovered.pixelColor(15, 0), rest.pixelColor(15, 0)) << "hovering brings the outline";
        EXPECT_NE(hovered.pixelColor(4, 15), rest.pixelColor(4, 15)) << "and the fill";
        QTest::mouseClick(plain.get(), Qt::LeftButton);
        EXPECT_EQ(clicks, 1);
        plain.reset();
        bordered.reset();
    });
}

TEST_F(OverlaysTest, FullScreenButtonsDimUntilHoveredAndMinimiseNeverActs) {
    std::unique_ptr<QWidget> window;
    FullScreenTrafficLights* lights = nullptr;
    onMain([&] {
        window = std::make_unique<QWidget>();
        // Closing it must not end the tests' event loop.
        window->setAttribute(Qt::WA_QuitOnClose, false);
        window->resize(400, 300);
        lights = new FullScreenTrafficLights(*model, window.get());
        window->show();
        window->activateWindow();
        EXPECT_EQ(lights->size(), QSize(96, 44));
        EXPECT_DOUBLE_EQ(lights->groupOpacity(), 0.35);
        hover(lights, true);
    });
    ASSERT_TRUE(waitUntil([&] { return lights->groupOpacity() == 1.0; }));
    onMain([&] {
        QApplication::setActiveWindow(window.get());
        const QPoint minimise = FullScreenTrafficLights::dotRect(FullScreenTrafficLights::Dot::minimise).center().toPoint();
        QTest::mouseClick(lights, Qt::LeftButton, {}, minimise);
        EXPECT_FALSE(window->isMinimized());
        EXPECT_TRUE(window->isVisible());
        const QPoint leave = FullScreenTrafficLights::dotRect(FullScreenTrafficLights::Dot::leaveFullScreen).center().toPoint();
        QTest::mouseClick(lights, Qt::LeftButton, {}, leave);
        EXPECT_TRUE(window->isFullScreen());
        QTest::mouseClick(lights, Qt::LeftButton, {}, leave);
        EXPECT_FALSE(window->isFullScreen());
        const QPoint close = FullScreenTrafficLights::dotRect(FullScreenTrafficLights::Dot::close).center().toPoint();
        QTest::mouseClick(lights, Qt::LeftButton, {}, close);
        EXPECT_FALSE(window->isVisible());
        hover(lights, false);
        window.reset();
    });
}

TEST_F(OverlaysTest, ConversionsCardListsSixCategoriesAndClosesFromOutsideOrItsButton) {
    onMain([&] {
        int dismissed = 0;
        ConversionsInfoPopover popover([&] { ++dismissed; }, host.get());
        popover.resize(900, 700);
        host->show();
        QApplication::processEvents();
        ASSERT_EQ(popover.summaries().size(), 6u);
        EXPECT_EQ(popover.summaries().front().category, FileCategory::image);
        EXPECT_EQ(popover.summaries().back().category, FileCategory::font);
        EXPECT_NE(popover.summaries()[0].id, popover.summaries()[1].id);
        EXPECT_EQ(popover.card()->size(), QSize(460, 560));
        // Every wrapped line is there: the rows are as tall as they need, scrolling when taller.
        QScrollArea* scroll = popover.scrollArea();
        EXPECT_EQ(scroll->verticalScrollBar()->maximum(), std::max(0, scroll->widget()->height() - scroll->viewport()->height()));

        QTest::mouseClick(&popover, Qt::LeftButton, {}, popover.card()->geometry().center());
        EXPECT_EQ(dismissed, 0);
        QTest::mouseClick(&popover, Qt::LeftButton, {}, QPoint(10, 10));
        EXPECT_EQ(dismissed, 1);
        static_cast<QAbstractButton*>(popover.closeButton())->click();
        EXPECT_EQ(dismissed, 2);
        EXPECT_EQ(popover.closeButton()->toolTip(), "Close");
        testing::saveSnapshot(&popover, "conversions-dark");
        host->hide();
    });
    setScheme(ColorScheme::light);
    onMain([&] {
        ConversionsInfoPopover popover([] {}, host.get());
        popover.resize(900, 700);
        testing::saveSnapshot(&popover, "conversions-light");
        DropOverlay overlay(host.get());
        overlay.resize(900, 700);
        EXPECT_TRUE(overlay.testAttribute(Qt::WA_TransparentForMouseEvents));
        testing::saveSnapshot(&overlay, "drop-overlay-light");
    });
}

TEST_F(OverlaysTest, ACodecsNameNeverBreaksAcrossLines) {
    onMain([&] {
        const QString sentence = QStringLiteral("MP4, MOV, and M4V all interconvert, and any video can become an animated GIF or "
                                                "have its audio saved as M4A. AVI can be opened when it uses a codec this system "
                                                "can decode (like MJPEG or H.264).");
        for (int width = 120; width <= 420; ++width) {
            const QStringList lines = ConversionsInfoPopover::sentenceLines(sentence, width);
            EXPECT_EQ(lines.join(QString()), sentence) << width;
            for (const QString& line : lines) EXPECT_FALSE(line.trimmed().endsWith("H.")) << width;
        }
    });
}

}  // namespace
}  // namespace calvoro
