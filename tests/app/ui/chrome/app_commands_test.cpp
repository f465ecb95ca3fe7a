#include <gtest/gtest.h>

#include <QApplication>
#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <algorithm>
#include <optional>
#include <set>

#include "app/state/conversion_view_model.h"
#include "app/ui/chrome/app_commands.h"
#include "app/ui/chrome/main_window.h"
#include "app/ui/theme/animation_transaction.h"
#include "app/ui/theme/theme.h"
#include "platform/qt/main_thread.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

class Commands : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testing::isolateSettings();
        // Closing a window here must not end the test program, as in the program itself.
        qtmain::runOnMain([] { QApplication::setQuitOnLastWindowClosed(false); });
    }
};

TEST_F(Commands, ShortcutsReachTheViewModel) {
    qtmain::runOnMain([] {
        ConversionViewModel viewModel;
        MainWindow window(viewModel);
        AppCommands commands(&window, viewModel);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

        QTest::keyClick(&window, Qt::Key_L, Qt::ControlModifier);
        EXPECT_TRUE(viewModel.showLogPanel());
        EXPECT_EQ(commands.toggleLog()->text(), "Hide Conversion Log");
        viewModel.toggleLogPanel();  // from elsewhere: the title follows
        EXPECT_EQ(commands.toggleLog()->text(), "Show Conversion Log");

        QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
        EXPECT_TRUE(viewModel.showSettingsPopover());

        viewModel.setFilePickerCategory(FileCategory::image);
        QTest::keyClick(&window, Qt::Key_O, Qt::ControlModifier);
        EXPECT_TRUE(viewModel.showFilePicker());
        EXPECT_FALSE(viewModel.filePickerCategory());

        QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
        EXPECT_FALSE(window.isVisible());
    });
}

TEST_F(Commands, EnabledRulesFollowTheJobList) {
    testing::TempDir dir;
    testing::writeFile(dir / "a.png", std::string("not really a picture"));
    qtmain::runOnMain([&] {
        ConversionViewModel viewModel;
        MainWindow window(viewModel);
        AppCommands commands(&window, viewModel);
        EXPECT_FALSE(commands.convertAll()->isEnabled());
        EXPECT_FALSE(commands.clearAll()->isEnabled());
        EXPECT_FALSE(commands.clearCompleted()->isEnabled());
        viewModel.addFiles({dir / "a.png"});
        ASSERT_EQ(viewModel.jobs().size(), 1u);
        EXPECT_TRUE(commands.convertAll()->isEnabled());
        EXPECT_TRUE(commands.clearAll()->isEnabled());
        EXPECT_FALSE(commands.clearCompleted()->isEnabled());
        commands.clearAll()->trigger();
        EXPECT_TRUE(viewModel.jobs().empty());
        EXPECT_FALSE(commands.clearAll()->isEnabled());
    });
}

TEST_F(Commands, EveryCommandIsInAMenuWithItsShortcut) {
    qtmain::runOnMain([] {
        ConversionViewModel viewModel;
        MainWindow window(viewModel);
        AppCommands commands(&window, viewModel);
        std::set<QAction*> reachable;
        for (QAction* menu : commands.windowMenu()->actions()) {
            ASSERT_TRUE(menu->menu());
            for (QAction* item : menu->menu()->actions()) reachable.insert(item);
        }
        const std::pair<QAction*, QKeySequence> expected[] = {
            {commands.about(), {}},
            {commands.settings(), QKeySequence(Qt::CTRL | Qt::Key_Comma)},
            {commands.quit(), QKeySequence(Qt::CTRL | Qt::Key_Q)},
            {commands.addFiles(), QKeySequence(Qt::CTRL | Qt::Key_O)},
            {commands.convertAll(), QKeySequence(Qt::CTRL | Qt::Key_Return)},
            {commands.closeWindow(), QKeySequence(Qt::CTRL | Qt::Key_W)},
            {commands.toggleLog(), QKeySequence(Qt::CTRL | Qt::Key_L)},
            {commands.clearCompleted(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K)},
            {commands.clearAll(), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete)},
        };
        for (const auto& [action, shortcut] : expected) {
            EXPECT_TRUE(reachable.count(action)) << action->text().toStdString();
            EXPECT_EQ(action->shortcut(), shortcut) << action->text().toStdString();
        }
        EXPECT_EQ(commands.addFiles()->text(), QString::fromUtf8("Add Files\u2026"));
        EXPECT_EQ(commands.settings()->text(), QString::fromUtf8("Settings\u2026"));
    });
}

TEST_F(Commands, WithoutAGlobalMenuTheWindowOffersItsOwn) {
    qtmain::runOnMain([] {
        ConversionViewModel viewModel;
        MainWindow window(viewModel);
        AppCommands commands(&window, viewModel);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        ASSERT_FALSE(commands.usesGlobalMenu());  // none on the offscreen platform
        EXPECT_FALSE(commands.menuBar()->isVisible());
        QTest::keyClick(&window, Qt::Key_F10);
        EXPECT_TRUE(commands.windowMenu()->isVisible());
        commands.windowMenu()->hide();
        // A right click on the background, which no view takes.
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(400, 300), window.mapToGlobal(QPoint(400, 300)));
        QCoreApplication::sendEvent(&window, &click);
        EXPECT_TRUE(commands.windowMenu()->isVisible());
        commands.windowMenu()->hide();
    });
}

// Darkest and lightest pixel of a picture, and the lightness of the given point.
struct Tones {
    int darkest = 255, lightest = 0, at = 0;
};
Tones tones(const QImage& picture, QPoint at) {
    Tones t;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) {
            const int l = QColor(picture.pixel(x, y)).lightness();
            t.darkest = std::min(t.darkest, l);
            t.lightest = std::max(t.lightest, l);
        }
    t.at = QColor(picture.pixel(at)).lightness();
    return t;
}

TEST_F(Commands, TheWindowsMenuTakesEachNewAppearance) {
    qtmain::runOnMain([] {
        ConversionViewModel viewModel;
        viewModel.setAppearanceMode(AppearanceMode::dark);
        MainWindow window(viewModel);
        AppCommands commands(&window, viewModel);
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
        QMenu* menu = commands.windowMenu();
        auto opened = [&] {
            EXPECT_TRUE(menu->isVisible());
            // Beside the items, on the menu's own background.
            const QImage picture = menu->grab().toImage();
            const Tones t = tones(picture, QPoint(picture.width() - 3, picture.height() / 2));
            menu->hide();
            return t;
        };
        QTest::keyClick(&window, Qt::Key_F10);
        const Tones dark = opened();
        EXPECT_LT(dark.at, 60);
        EXPECT_GT(dark.lightest, 180);  // light text

        // Dark to light, then the background's right click: a light card with dark text.
        viewModel.setAppearanceMode(AppearanceMode::light);
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(400, 300), window.mapToGlobal(QPoint(400, 300)));
        QCoreApplication::sendEvent(&window, &click);
        const Tones light = opened();
        EXPECT_GT(light.at, 240);
        EXPECT_LT(light.darkest, 80);

        // And back.
        viewModel.setAppearanceMode(AppearanceMode::dark);
        QTest::keyClick(&window, Qt::Key_F10);
        EXPECT_LT(opened().at, 60);
    });
}

TEST_F(Commands, ClearingRunsInsideTheThemesSpring) {
    testing::TempDir dir;
    testing::writeFile(dir / "a.png", std::string("not really a picture"));
    qtmain::runOnMain([&] {
        ConversionViewModel viewModel;
        MainWindow window(viewModel);
        AppCommands commands(&window, viewModel);
        viewModel.addFiles({dir / "a.png"});
        // What a list sees as the jobs go.
        std::optional<Spring> seen;
        QObject::connect(&viewModel, &ConversionViewModel::jobsStructureChanged, &window,
                         [&] { seen = AnimationTransaction::spring(viewModel, Theme::smooth); });
        commands.clearAll()->trigger();
        ASSERT_TRUE(seen);
        EXPECT_EQ(seen->response, Theme::springAnimation.response);
        EXPECT_EQ(seen->dampingFraction, Theme::springAnimation.dampingFraction);
        // Outside the command, changes take the view's own spring.
        EXPECT_EQ(AnimationTransaction::spring(viewModel, Theme::smooth).dampingFraction, Theme::smooth.dampingFraction);
    });
}

TEST(AnimationTransactions, AnInnerOneGivesTheOuterBack) {
    QObject model;
    EXPECT_EQ(AnimationTransaction::spring(model, Theme::hover).response, Theme::hover.response);
    {
        AnimationTransaction outer(model, Theme::springAnimation);
        {
            AnimationTransaction inner(model, Theme::snappy);
            EXPECT_EQ(AnimationTransaction::spring(model, Theme::hover).response, Theme::snappy.response);
        }
        EXPECT_EQ(AnimationTransaction::spring(model, Theme::hover).dampingFraction, Theme::springAnimation.dampingFraction);
    }
    EXPECT_EQ(AnimationTransaction::spring(model, Theme::hover).response, Theme::hover.response);
}

}  // namespace
}  // namespace calvoro
