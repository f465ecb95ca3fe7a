#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <set>

#include "app/state/screenshot_mode.h"
#include "app/ui/compress_sheet/compress_sheet.h"
#include "app/ui/console/accent_button.h"
#include "app/ui/console/console_job_list.h"
#include "app/ui/console/console_main.h"
#include "app/ui/console/from_to_pills.h"
#include "app/ui/console/console_test_support.h"
#include "app/ui/console/console_view.h"
#include "app/ui/console/ghost_pill_button.h"
#include "app/ui/console/row_remove_button.h"
#include "app/ui/console/settings_controls.h"
#include "app/ui/window/content_view.h"
#include "app/ui/overlays/conversions_info_popover.h"
#include "app/ui/theme/focus_order.h"
#include "app/ui/theme/focus_ring.h"

namespace calvoro {
namespace {

using testing::onMain;
using testing::waitUntil;

QWidget* focused() { return QApplication::focusWidget(); }

void tab(bool forward = true) { QTest::keyClick(focused(), forward ? Qt::Key_Tab : Qt::Key_Backtab); }

// Lightness of the host's picture at a point, in logical pixels.
int lightnessAt(const QImage& picture, QPoint point) {
    const double scale = picture.devicePixelRatio();
    return QColor(picture.pixel(static_cast<int>(point.x() * scale), static_cast<int>(point.y() * scale))).lightness();
}

class FocusRingTest : public testing::ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        onMain([&] {
            ring = new FocusRing(host.get());
            first = new GhostPillButton("Select all", 32, host.get());
            first->move(40, 40);
            second = new GhostPillButton("Remove", 32, host.get());
            second->move(200, 40);
            toggle = new SettingsSwitch(*model, false, host.get());
            toggle->move(360, 46);
            host->show();
            host->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
        });
    }
    FocusRing* ring = nullptr;
    GhostPillButton* first = nullptr;
    GhostPillButton* second = nullptr;
    SettingsSwitch* toggle = nullptr;
};

TEST_F(FocusRingTest, AFailedRowsRemoveButtonKeepsItsRingClearOfTheWarningGlyph) {
    onMain([&] {
        auto failed = job("broken.json", SupportedFormat::json, ConversionStatus::failed);
        auto* row = new ConsoleRow(*model, failed, host.get());
        row->setGeometry(0, 120, 720, ConsoleRow::heightFor(failed, 720));
        row->show();
        RowRemoveButton* remove = row->removeButton();
        remove->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(ring->ringedWidget(), remove);
        // The status cell, the glyph at its left edge, starts 4 points right of the button; the
        // ring's line and its antialiased edge stay left of it.
        const int glyphLeft = row->mapTo(host.get(), remove->geometry().topRight()).x() + 1 + 4;
        EXPECT_LT(ring->geometry().right(), glyphLeft);
    });
}

TEST_F(FocusRingTest, ShowsAroundKeyboardFocusOnlyAndAMouseClickPutsItAway) {
    onMain([&] {
        second->setFocus(Qt::OtherFocusReason);
        EXPECT_FALSE(ring->isShowing());
        first->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(ring->ringedWidget(), first);
        // The ring lies just outside the button's edge; a few points further out is the window.
        QImage picture = host->grab().toImage();
        const int y = first->geometry().center().y();
        EXPECT_GT(lightnessAt(picture, {first->x() - 3, y}), 150);
        EXPECT_LT(lightnessAt(picture, {first->x() - 8, y}), 80);
        EXPECT_LT(lightnessAt(picture, {first->x() + 3, first->y() + 3}), 80);
        testing::saveSnapshot(host.get(), "focus-ring-dark");

        tab();
        EXPECT_EQ(focused(), second);
        EXPECT_EQ(ring->ringedWidget(), second);

        // A click that gives the focus shows none.
        QTest::mouseClick(toggle, Qt::LeftButton);
        EXPECT_EQ(focused(), toggle);
        EXPECT_TRUE(toggle->isChecked());
        EXPECT_FALSE(ring->isShowing());
        picture = host->grab().toImage();
        EXPECT_LT(lightnessAt(picture, {first->x() - 3, y}), 80);

        tab(false);
        EXPECT_EQ(ring->ringedWidget(), second);
        // A press elsewhere puts the ring away though the focus stays.
        QTest::mouseClick(host.get(), Qt::LeftButton, {}, QPoint(5, 300));
        EXPECT_EQ(focused(), second);
        EXPECT_FALSE(ring->isShowing());
        // Coming back from another window keeps the look the focus had.
        tab(false);
        EXPECT_EQ(ring->ringedWidget(), first);
        QFocusEvent back(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
        QApplication::sendEvent(first, &back);
        EXPECT_TRUE(ring->isShowing());
        // Focus given by the program is not the keyboard's.
        second->setFocus(Qt::OtherFocusReason);
        EXPECT_FALSE(ring->isShowing());
    });
}

TEST_F(FocusRingTest, FollowsTheControlsShapeAndStaysOutOfScreenshots) {
    onMain([&] {
        toggle->setFocus(Qt::TabFocusReason);
        ASSERT_EQ(ring->ringedWidget(), toggle);
        // The switch's capsule: the ring is round at its ends, so its corner stays clear.
        const QImage picture = host->grab().toImage();
        EXPECT_GT(lightnessAt(picture, {toggle->x() - 3, toggle->geometry().center().y()}), 150);
        EXPECT_LT(lightnessAt(picture, {toggle->x() - 3, toggle->y() - 3}), 80);
        // It moves with the control.
        toggle->move(400, 100);
        EXPECT_EQ(ring->geometry().center(), toggle->geometry().center());

        // On the light scheme the pale ring would vanish: it is drawn in ink.
        Theme::applyAppearance(host.get(), ColorScheme::light, AccentChoice::paper);
        const QImage light = host->grab().toImage();
        EXPECT_LT(lightnessAt(light, {toggle->x() - 3, toggle->geometry().center().y()}), 80);
        EXPECT_GT(lightnessAt(light, {toggle->x() - 8, toggle->geometry().center().y()}), 200);
        testing::saveSnapshot(host.get(), "focus-ring-light");

        first->setFocus(Qt::TabFocusReason);
        ScreenshotMode::active = true;
        second->setFocus(Qt::TabFocusReason);
        const bool shownInScreenshot = ring->isShowing();
        ScreenshotMode::active = false;
        EXPECT_FALSE(shownInScreenshot);
    });
}

TEST_F(FocusRingTest, ReturnAndSpacePressTheFocusedButton) {
    QSignalSpy* clicks = nullptr;
    onMain([&] {
        clicks = new QSignalSpy(second, &QAbstractButton::clicked);
        second->setFocus(Qt::TabFocusReason);
        QTest::keyClick(second, Qt::Key_Space);
        EXPECT_EQ(clicks->count(), 1);
        QTest::keyClick(second, Qt::Key_Return);
        // With a modifier Return is a shortcut's, not the button's.
        QTest::keyClick(second, Qt::Key_Return, Qt::ControlModifier);
    });
    EXPECT_TRUE(waitUntil([&] { return clicks->count() == 2; }));
    QTest::qWait(300);
    onMain([&] {
        EXPECT_EQ(clicks->count(), 2);
        delete clicks;
    });
}

TEST_F(FocusRingTest, TheThemeChoiceStepsWithTheArrowsAndStopsAtTheEnds) {
    onMain([&] {
        auto* theme = new SettingsSegmented({QStringLiteral("Dark"), QStringLiteral("Light")}, QStringLiteral("Dark"), host.get());
        QSignalSpy chosen(theme, &SettingsSegmented::chosen);
        EXPECT_TRUE(theme->focusPolicy() & Qt::TabFocus);
        QTest::keyClick(theme, Qt::Key_Right);
        EXPECT_EQ(theme->selected(), "Light");
        QTest::keyClick(theme, Qt::Key_Right);
        EXPECT_EQ(theme->selected(), "Light");
        QTest::keyClick(theme, Qt::Key_Left);
        EXPECT_EQ(theme->selected(), "Dark");
        EXPECT_EQ(chosen.count(), 2);
    });
}

TEST(FocusRingColour, TheAccentUnlessItFadesIntoTheCard) {
    const QColor blue = Theme::accentFill(AccentChoice::blue, ColorScheme::dark);
    EXPECT_EQ(Theme::focusRing(blue, ColorScheme::dark), blue);
    EXPECT_EQ(Theme::focusRing(Theme::accentFill(AccentChoice::paper, ColorScheme::light), ColorScheme::light), Theme::ink());
    // Silver on white would barely show: the ring is drawn in ink there.
    EXPECT_EQ(Theme::focusRing(Theme::accentFill(AccentChoice::silver, ColorScheme::light), ColorScheme::light),
              Theme::textPrimary(ColorScheme::light));
}

// The whole window: console, cards and their keys.
class KeyboardFocusTest : public testing::WholeWindowTest {
protected:

    // Tabs steps times; every stop reached must lie inside scope and show the ring. The distinct stops.
    std::set<QWidget*> walk(QWidget* scope, size_t steps, bool forward) {
        std::set<QWidget*> seen;
        for (size_t i = 0; i < steps; ++i) {
            tab(forward);
            QWidget* now = focused();
            EXPECT_TRUE(now && scope->isAncestorOf(now)) << "step " << i << ": " << (now ? now->metaObject()->className() : "none");
            EXPECT_TRUE(view->focusRing()->isShowing()) << "step " << i;
            seen.insert(now);
        }
        return seen;
    }
};

TEST_F(KeyboardFocusTest, TabGoesRoundTheSettingsCardOnlyAndEscapeGivesTheFocusBack) {
    addJobs(3);
    QLineEdit* search = nullptr;
    onMain([&] {
        ASSERT_TRUE(consoleMain());
        search = consoleMain()->searchField();
        search->setFocus(Qt::TabFocusReason);
        model->setShowSettingsPopover(true);
    });
    ASSERT_TRUE(waitUntil([&] { return view->settingsLayer() && view->settingsLayer()->isAncestorOf(focused()); }));
    onMain([&] {
        QWidget* layer = view->settingsLayer();
        ASSERT_EQ(view->focusScope(), layer);
        const auto stops = FocusOrder::inside(layer);
        // In reading order: close, the switcher, the appearance controls, the two footer buttons,
        // though the section's controls are made after the footer.
        ASSERT_GE(stops.size(), 6u);
        EXPECT_EQ(stops.front()->accessibleName(), "Close");
        EXPECT_EQ(stops[stops.size() - 2]->accessibleName(), "All conversions");
        for (size_t i = 1; i < stops.size(); ++i)
            EXPECT_GE(stops[i]->mapTo(layer, QPoint(0, stops[i]->height())).y(), stops[i - 1]->mapTo(layer, QPoint(0, 0)).y()) << i;
        EXPECT_EQ(walk(layer, stops.size() + 2, true).size(), stops.size());
        EXPECT_EQ(walk(layer, stops.size() + 2, false).size(), stops.size());
        testing::saveSnapshot(view, "focus-settings-dark");

        QPointer<QWidget> leaving = layer;
        QTest::keyClick(focused(), Qt::Key_Escape);
        EXPECT_FALSE(model->showSettingsPopover());
        EXPECT_EQ(focused(), search);
        // The card fades out in front of the console, not behind it.
        if (leaving) {
            EXPECT_GT(view->children().indexOf(leaving), view->children().indexOf(view->consoleRow()));
        }
        // The keyboard brought the card and took it away: the field shows the ring again.
        EXPECT_TRUE(view->focusRing()->isShowing());
        testing::saveSnapshot(view, "focus-search-dark");
    });
}

TEST_F(KeyboardFocusTest, TheCompressSheetHoldsTheKeysAndClosesOnEscape) {
    addJobs(2);
    QWidget* before = nullptr;
    onMain([&] {
        before = consoleMain()->jobList()->shownRows()[0]->checkbox();
        before->setFocus(Qt::TabFocusReason);
        model->setCompressingJob(model->jobs()[0]);
    });
    ASSERT_TRUE(waitUntil([&] { return view->compressSheet() && view->compressSheet()->state() != CompressSheet::State::measuring; }));
    ASSERT_TRUE(waitUntil([&] { return view->compressLayer()->isAncestorOf(focused()); }));
    onMain([&] {
        CompressionEstimate small, tiny;
        small.level = CompressionLevel::small;
        small.byteSize = 300;
        small.originalSize = 1000;
        tiny = small;
        tiny.level = CompressionLevel::tiny;
        tiny.byteSize = 100;
        view->compressSheet()->applyEstimates({small, tiny});
        QWidget* layer = view->compressLayer();
        // Two levels, Cancel and Compress.
        ASSERT_EQ(FocusOrder::inside(layer).size(), 4u);
        EXPECT_EQ(walk(layer, 6, true).size(), 4u);
        EXPECT_EQ(walk(layer, 6, false).size(), 4u);
        // Space on a level chooses it.
        QWidget* level = view->compressSheet()->row(CompressionLevel::tiny);
        for (int i = 0; i < 4 && focused() != level; ++i) tab();
        ASSERT_EQ(focused(), level);
        QTest::keyClick(level, Qt::Key_Space);
        EXPECT_EQ(view->compressSheet()->selected(), CompressionLevel(CompressionLevel::tiny));
        testing::saveSnapshot(view, "focus-compress-dark");

        QTest::keyClick(focused(), Qt::Key_Escape);
        EXPECT_FALSE(model->compressingJob());
        EXPECT_EQ(focused(), before);
    });
}

TEST_F(KeyboardFocusTest, TheConversionsCardTakesTheKeysAtOnceAndAGoneControlLeavesThemWithTheWindow) {
    addJobs(1);
    onMain([&] {
        consoleMain()->searchField()->setFocus(Qt::TabFocusReason);
        model->setShowConversionsInfo(true);
        ConversionsInfoPopover* card = view->conversionsPopover();
        ASSERT_TRUE(card);
        EXPECT_TRUE(card == focused() || card->isAncestorOf(focused()));
        // The close button and the scrolling table.
        EXPECT_EQ(walk(card, 4, true).size(), 2u);
        // Escape is the card's only while a card is open.
        QTest::keyClick(focused(), Qt::Key_Escape);
        EXPECT_FALSE(model->showConversionsInfo());
        EXPECT_EQ(focused(), consoleMain()->searchField());

        // The row whose control had the focus is gone when the card closes: the keys stay in the window.
        QWidget* checkbox = consoleMain()->jobList()->shownRows()[0]->checkbox();
        checkbox->setFocus(Qt::TabFocusReason);
        model->setShowConversionsInfo(true);
        tab();
        model->clearAll();
        model->setShowConversionsInfo(false);
        EXPECT_EQ(focused(), view) << (focused() ? focused()->metaObject()->className() : "none") << " " << (focused() ? focused()->parentWidget()->metaObject()->className() : "");
        EXPECT_FALSE(view->conversionsPopover());
    });
}

TEST_F(KeyboardFocusTest, TabWalksTheListRowByRowFromTheToolbarAndScrollsTheRowItReaches) {
    addJobs(30);
    onMain([&] {
        ConsoleMain* main = consoleMain();
        ConsoleJobList* list = main->jobList();
        main->searchField()->setFocus(Qt::TabFocusReason);
        // Search field, then the toolbar's buttons, then the top row's checkbox.
        int steps = 0;
        while (!list->isAncestorOf(focused()) && steps < 10) tab(), ++steps;
        ASSERT_TRUE(list->isAncestorOf(focused()));
        ConsoleRow* top = list->shownRows()[0];
        for (ConsoleRow* row : list->shownRows())
            if (row->y() < top->y()) top = row;
        EXPECT_EQ(focused(), top->checkbox());
        EXPECT_EQ(top->job().fileName, "table-100.csv");
        testing::saveSnapshot(view, "focus-row-dark");
        model->setAppearanceMode(AppearanceMode::light);
        testing::saveSnapshot(view, "focus-row-light");
        model->setAppearanceMode(AppearanceMode::dark);
        // Backtab leaves the list for the toolbar's last button.
        tab(false);
        EXPECT_FALSE(list->isAncestorOf(focused()));
        EXPECT_TRUE(main->isAncestorOf(focused()));
        tab();

        // Down the list: each row's controls, the rows in their order, the reached row in view.
        std::string lastName = top->job().fileName;
        for (int i = 0; i < 60; ++i) {
            tab();
            ASSERT_TRUE(list->isAncestorOf(focused())) << i;
            QWidget* row = focused()->parentWidget();
            const auto* consoleRow = static_cast<ConsoleRow*>(row);
            EXPECT_GE(consoleRow->job().fileName, lastName);
            lastName = consoleRow->job().fileName;
            EXPECT_GE(row->y(), 0);
            EXPECT_LE(row->y() + row->height(), list->viewport()->height());
        }
        EXPECT_GT(list->verticalScrollBar()->value(), 0);
        EXPECT_GT(lastName, "table-110.csv");

        // The format pill opens its menu from the keyboard.
        ConsoleRow* row = static_cast<ConsoleRow*>(focused()->parentWidget());
        row->pills()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(row->pills(), Qt::Key_Space);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu);
        EXPECT_TRUE(testing::menuTexts(menu).contains("TSV"));
        menu->close();
    });
}

TEST_F(KeyboardFocusTest, AButtonThatHidesHandsTheFocusToItsNeighbourOnTheWay) {
    addJobs(3);
    ConsoleMain* main = nullptr;
    onMain([&] {
        main = consoleMain();
        main->selectAllButton()->setFocus(Qt::TabFocusReason);
        QTest::keyClick(main->selectAllButton(), Qt::Key_Space);
        EXPECT_EQ(model->selection().size(), 3u);
    });
    ASSERT_TRUE(waitUntil([&] { return main->searchToolbar()->isHidden(); }));
    onMain([&] {
        // The selection bar took its place: the keys stay in the toolbar.
        EXPECT_EQ(focused(), static_cast<QWidget*>(main->convertSelectedButton()));
        EXPECT_TRUE(view->focusRing()->isShowing());
    });
}

TEST_F(KeyboardFocusTest, ScrollingTheFocusedRowAwayLeavesTheFocusWithTheList) {
    addJobs(40);
    onMain([&] {
        ConsoleJobList* list = consoleMain()->jobList();
        ConsoleRow* row = list->shownRows()[0];
        const Uuid job = row->job().id;
        row->convertButton()->setFocus(Qt::TabFocusReason);
        list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
        // Never a control of another job.
        const bool stillOnItsJob = row->isAncestorOf(focused()) && row->job().id == job;
        EXPECT_TRUE(stillOnItsJob || focused() == list);
        EXPECT_EQ(focused(), list);
        // Tab from there goes to a row on screen.
        tab();
        ASSERT_TRUE(list->isAncestorOf(focused()));
        const QWidget* reached = focused()->parentWidget();
        EXPECT_GE(reached->y() + reached->height(), 0);
        EXPECT_LE(reached->y(), list->viewport()->height());
    });
}

}  // namespace
}  // namespace calvoro
