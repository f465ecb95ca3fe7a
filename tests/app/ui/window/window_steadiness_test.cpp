#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QWheelEvent>
#include <QWindow>

#include <set>

#include "app/ui/chrome/app_commands.h"
#include "app/ui/console/console_job_list.h"
#include "app/ui/console/console_main.h"
#include "app/ui/console/console_row.h"
#include "app/ui/console/console_settings_popover.h"
#include "app/ui/console/console_sidebar.h"
#include "app/ui/console/sidebar_nav_row.h"
#include "app/ui/console/console_test_support.h"
#include "app/ui/console/console_view.h"
#include "app/ui/console/row_remove_button.h"
#include "app/ui/controls/circle_icon_button_style.h"
#include "app/ui/log_panel/log_panel_view.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/window/content_view.h"

namespace calvoro {
namespace {

using testing::onMain;
using testing::waitUntil;

QWidget* focused() { return QApplication::focusWidget(); }

// The whole window with the console; jobs are added and their rows left to settle.
class SteadyWindowTest : public testing::WholeWindowTest {
protected:
    void addJobs(int count) {
        WholeWindowTest::addJobs(count);
        ASSERT_TRUE(waitUntil([&] { return list() && !list()->isAnimating(); }));
    }
    ConsoleJobList* list() const {
        ConsoleMain* main = consoleMain();
        return main ? main->jobList() : nullptr;
    }
    std::set<ConsoleRow*> hoveredRows() const {
        std::set<ConsoleRow*> hovered;
        for (ConsoleRow* row : list()->findChildren<ConsoleRow*>())
            if (row->isHovering()) hovered.insert(row);
        return hovered;
    }
    // The shown row at a point of the list's viewport.
    ConsoleRow* rowAt(QPoint at) const {
        for (ConsoleRow* row : list()->shownRows())
            if (row->geometry().contains(at)) return row;
        return nullptr;
    }
};

TEST_F(SteadyWindowTest, ARowIsHoveredExactlyWhileThePointerIsOverIt) {
    addJobs(40);
    QPoint at;
    onMain([&] {
        QWidget* viewport = list()->viewport();
        at = QPoint(viewport->width() / 2, viewport->height() / 3);
        ConsoleRow* first = rowAt(at);
        ASSERT_TRUE(first);
        const Uuid firstJob = first->job().id;
        QCursor::setPos(viewport->mapToGlobal(at));
        testing::hoverWidget(first, true);  // as the toolkit does when the pointer comes in
        ASSERT_EQ(hoveredRows(), std::set<ConsoleRow*>{first});

        // The list scrolls under the still pointer: the hover goes to the row now under it.
        QScrollBar* bar = list()->verticalScrollBar();
        bar->setValue(bar->value() + first->height() * 5 / 2);
        ConsoleRow* now = rowAt(at);
        ASSERT_TRUE(now);
        EXPECT_NE(now->job().id, firstJob);
        EXPECT_EQ(hoveredRows(), std::set<ConsoleRow*>{now});
        EXPECT_TRUE(now->removeButton()->isVisible());

        // The toolkit never entered that row, so it need not tell it the pointer went: on over the
        // sidebar, then out of the window, no row is hovered.
        QWidget* nav = view->findChild<ConsoleSidebar*>()->libraryRows().front();
        QCursor::setPos(nav->mapToGlobal(QPoint(4, 4)));
        testing::hoverWidget(nav, true);
        EXPECT_TRUE(hoveredRows().empty());
        QCursor::setPos(viewport->mapToGlobal(at));
        list()->recheckHover();
        ASSERT_EQ(hoveredRows(), std::set<ConsoleRow*>{now});
        testing::hoverWidget(host.get(), false);
        EXPECT_TRUE(hoveredRows().empty());
        list()->recheckHover();

        // A card over the rows takes the hover; when it goes, the row under the pointer has it again.
        model->setCompressingJob(model->jobs()[0]);
        EXPECT_TRUE(hoveredRows().empty());
        model->setCompressingJob(std::nullopt);
        EXPECT_EQ(hoveredRows(), std::set<ConsoleRow*>{now});

        // Another row entered: the one that never heard the pointer leave lets go.
        ConsoleRow* other = nullptr;
        for (ConsoleRow* row : list()->shownRows())
            if (row != now) other = row;
        testing::hoverWidget(other, true);
        EXPECT_EQ(hoveredRows(), std::set<ConsoleRow*>{other});

        // The pointer moves off the list while a card is up: no row is hovered after it closes.
        model->setShowSettingsPopover(true);
        QCursor::setPos(view->mapToGlobal(QPoint(view->width() / 2, 2)));
        model->setShowSettingsPopover(false);
        EXPECT_TRUE(hoveredRows().empty());
    });
}

TEST_F(SteadyWindowTest, AfterAWheelScrollThePointerLeavingTheWindowTakesTheHoverAlong) {
    addJobs(40);
    onMain([&] {
        QWidget* viewport = list()->viewport();
        const QPoint at(viewport->width() / 2, viewport->height() / 3);
        // The pointer comes in through the window, as the desktop sends it.
        QTest::mouseMove(viewport, at);
        ConsoleRow* first = rowAt(at);
        ASSERT_TRUE(first);
        QCursor::setPos(viewport->mapToGlobal(at));
        ASSERT_EQ(hoveredRows(), std::set<ConsoleRow*>{first});

        QWheelEvent wheel(QPointF(at), QPointF(viewport->mapToGlobal(at)), QPoint(), QPoint(0, -360), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
        ASSERT_GT(list()->verticalScrollBar()->value(), 0);
        ConsoleRow* now = rowAt(at);
        ASSERT_TRUE(now);
        ASSERT_EQ(hoveredRows(), std::set<ConsoleRow*>{now});

        // The pointer leaves the window without moving over the list again.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(host->windowHandle(), &leave);
        EXPECT_TRUE(hoveredRows().empty());
        EXPECT_FALSE(now->removeButton()->isShown());
    });
}

TEST_F(SteadyWindowTest, ClosingTheLogPanelWithTheMouseGivesTheFocusBackWithoutARing) {
    addJobs(3);
    QWidget* before = nullptr;
    onMain([&] {
        before = list()->shownRows()[0]->checkbox();
        before->setFocus(Qt::MouseFocusReason);
        model->setShowLogPanel(true);
    });
    ASSERT_TRUE(waitUntil([&] { return view->logPanel() && view->logPanel()->closeButton()->isVisible(); }));
    onMain([&] {
        LogPanelView* panel = view->logPanel();
        // The keys went into the panel's search field, then its close button is clicked.
        auto* field = panel->findChild<QLineEdit*>();
        ASSERT_TRUE(field);
        QTest::mouseClick(field, Qt::LeftButton);
        field->setFocus(Qt::MouseFocusReason);
        ASSERT_TRUE(panel->isAncestorOf(focused()));
        testing::press(panel->closeButton());
        EXPECT_FALSE(model->showLogPanel());
        EXPECT_EQ(focused(), before);
        EXPECT_FALSE(view->focusRing()->isShowing());
    });
    ASSERT_TRUE(waitUntil([&] { return !view->logPanel(); }));
    onMain([&] {
        EXPECT_EQ(focused(), before);
        EXPECT_FALSE(view->focusRing()->isShowing());
    });
}

TEST_F(SteadyWindowTest, EscapeInTheLogFilterEmptiesItThenClosesThePanel) {
    onMain([&] { model->setShowLogPanel(true); });
    ASSERT_TRUE(waitUntil([&] { return view->logPanel() && view->logPanel()->closeButton()->isVisible(); }));
    onMain([&] {
        LogPanelView* panel = view->logPanel();
        auto* field = panel->findChild<QLineEdit*>();
        ASSERT_TRUE(field);
        field->setFocus(Qt::MouseFocusReason);
        QTest::keyClicks(field, "png");
        ASSERT_EQ(panel->searchText(), "png");
        QTest::keyClick(field, Qt::Key_Escape);
        EXPECT_TRUE(panel->searchText().isEmpty());
        EXPECT_TRUE(model->showLogPanel()) << "the first Escape only empties the field";
        EXPECT_EQ(focused(), field);
        QTest::keyClick(field, Qt::Key_Escape);
        EXPECT_FALSE(model->showLogPanel());
    });
    ASSERT_TRUE(waitUntil([&] { return !view->logPanel(); }));
}

TEST_F(SteadyWindowTest, TheSettingsCardIsCentredOnceAndKeepsItsTopEdgeFromPageToPage) {
    ConsoleSettingsPopover* card = nullptr;
    onMain([&] { model->setShowSettingsPopover(true); });
    ASSERT_TRUE(waitUntil([&] {
        card = view->settingsLayer() ? view->settingsLayer()->findChild<ConsoleSettingsPopover*>() : nullptr;
        return card && card->isVisible();
    }));
    onMain([&] {
        QWidget* layer = view->settingsLayer();
        EXPECT_NEAR(card->y(), (layer->height() - card->height()) / 2, 1);
        EXPECT_NEAR(card->x(), (layer->width() - card->width()) / 2, 1);
        const QPoint top = card->pos();
        const QPoint switcher = card->switcher()->mapTo(layer, QPoint(0, 0));
        std::set<int> heights;
        for (SettingsCategory category : {SettingsCategory::conversion, SettingsCategory::defaults, SettingsCategory::files,
                                          SettingsCategory::appearance}) {
            card->setCategory(category);
            QApplication::processEvents();
            heights.insert(card->height());
            EXPECT_EQ(card->pos(), top);
            EXPECT_EQ(card->switcher()->mapTo(layer, QPoint(0, 0)), switcher);
            EXPECT_LE(card->geometry().bottom(), layer->height());
        }
        // The pages differ in height, else this would prove nothing.
        EXPECT_GT(heights.size(), 1u);
    });
    // Opened again, it is centred again on its first page.
    onMain([&] { model->setShowSettingsPopover(false); });
    ASSERT_TRUE(waitUntil([&] { return !view->settingsLayer(); }));
    onMain([&] { model->setShowSettingsPopover(true); });
    ASSERT_TRUE(waitUntil([&] {
        card = view->settingsLayer() ? view->settingsLayer()->findChild<ConsoleSettingsPopover*>() : nullptr;
        return card && card->isVisible();
    }));
    onMain([&] { EXPECT_NEAR(card->y(), (view->settingsLayer()->height() - card->height()) / 2, 1); });
}

TEST_F(SteadyWindowTest, CtrlBackspaceDeletesAWordInEitherFieldAndTheMenusOwnKeyClearsTheList) {
    addJobs(3);
    onMain([&] { new AppCommands(host.get(), *model); });
    onMain([&] { model->setShowLogPanel(true); });
    ASSERT_TRUE(waitUntil([&] { return view->logPanel() && view->logPanel()->closeButton()->isVisible(); }));
    onMain([&] {
        for (QLineEdit* field : {consoleMain()->searchField(), view->logPanel()->findChild<QLineEdit*>()}) {
            field->setFocus(Qt::MouseFocusReason);
            QTest::keyClicks(field, "table zzz");
            QTest::keyClick(field, Qt::Key_Backspace, Qt::ControlModifier);
            EXPECT_EQ(field->text(), "table ");
            EXPECT_EQ(model->jobs().size(), 3u);
            field->clear();
        }
        QTest::keyClick(focused(), Qt::Key_Delete, Qt::ControlModifier | Qt::ShiftModifier);
        EXPECT_TRUE(model->jobs().empty());
    });
}

}  // namespace
}  // namespace calvoro
