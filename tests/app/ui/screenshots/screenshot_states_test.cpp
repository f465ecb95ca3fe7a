// The preset queues and the output folder of the screenshot mode, in-process.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>

#include <cstdlib>

#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/console/console_main.h"
#include "app/ui/console/console_row.h"
#include "app/ui/console/console_view.h"
#include "app/ui/theme/theme.h"
#include "platform/qt/main_thread.h"
#include "screenshot_test_support.h"

namespace calvoro {
namespace {

using testing::SeedFilePlacement;

struct JobState {
    std::string name;
    ConversionStatus status;
    double progress;
    bool operator==(const JobState&) const = default;
};

void PrintTo(const JobState& job, std::ostream* out) {
    *out << job.name << " " << job.status.rawValue() << " " << job.progress;
}

std::vector<JobState> seededQueue() {
    testing::isolateSettings();
    ScreenshotMode::active = true;
    return qtmain::callOnMain<std::vector<JobState>>([] {
        auto viewModel = ScreenshotRenderer::seededViewModel(true, AppearanceMode::light, AccentChoice::graphite);
        EXPECT_EQ(viewModel->appearanceMode(), AppearanceMode::light);
        EXPECT_EQ(viewModel->accent(), AccentChoice::graphite);
        EXPECT_TRUE(viewModel->hasChosenOutputLocation());
        std::vector<JobState> jobs;
        for (const auto& job : viewModel->jobs()) jobs.push_back({job.fileName, job.status, job.progress});
        return jobs;
    });
}

TEST(ScreenshotStates, AllSevenSeedFilesGiveOneCompletedOneConvertingAndFivePending) {
    SeedFilePlacement seeds(7);
    const auto jobs = seededQueue();
    const std::vector<JobState> expected{
        {"Vacation Photo.png", ConversionStatus::completed, 1.0},  {"Team Headshot.jpg", ConversionStatus::pending, 0.0},
        {"Product Shot.heic", ConversionStatus::pending, 0.0},     {"Screen Recording.mov", ConversionStatus::converting, 0.62},
        {"Podcast Ep.14.wav", ConversionStatus::pending, 0.0},     {"Quarterly Report.txt", ConversionStatus::pending, 0.0},
        {"Project Archive.zip", ConversionStatus::pending, 0.0}};
    EXPECT_EQ(jobs, expected);
}

TEST(ScreenshotStates, PartialSeedsTouchOnlyTheJobsThatExist) {
    {
        SeedFilePlacement seeds(1);
        EXPECT_EQ(seededQueue(), (std::vector<JobState>{{"Vacation Photo.png", ConversionStatus::completed, 1.0}}));
    }
    {
        SeedFilePlacement seeds(3);
        EXPECT_EQ(seededQueue(), (std::vector<JobState>{{"Vacation Photo.png", ConversionStatus::completed, 1.0},
                                                        {"Team Headshot.jpg", ConversionStatus::pending, 0.0},
                                                        {"Product Shot.heic", ConversionStatus::pending, 0.0}}));
    }
    {
        SeedFilePlacement seeds(0);
        EXPECT_TRUE(seededQueue().empty());
    }
}

// A view made with the settings popover already up, and laid out without a screen, still paints
// every row behind it.
TEST(ScreenshotStates, EveryRowPaintsBehindAPopoverThatIsUpFromTheStart) {
    SeedFilePlacement seeds(7);
    testing::isolateSettings();
    ScreenshotMode::active = true;
    qtmain::runOnMain([] {
        QApplication::setQuitOnLastWindowClosed(false);
        auto viewModel = ScreenshotRenderer::seededViewModel(true, AppearanceMode::dark, AccentChoice::graphite);
        viewModel->setShowSettingsPopover(true);
        ContentView view(*viewModel, consoleViews());
        view.setAttribute(Qt::WA_DontShowOnScreen);
        view.setFixedSize(ScreenshotRenderer::pointWidth, ScreenshotRenderer::pointHeight);
        view.show();
        QCoreApplication::processEvents();
        const auto rows = view.findChildren<ConsoleRow*>();
        EXPECT_EQ(rows.size(), 7);
        for (const ConsoleRow* row : rows) {
            EXPECT_TRUE(row->isVisible()) << row->job().fileName;
            EXPECT_TRUE(row->updatesEnabled()) << row->job().fileName;
        }
    });
}

TEST(ScreenshotStates, TheSearchFieldIsStaticTextInTheQuaternaryColourInBothSchemes) {
    SeedFilePlacement seeds(7);
    testing::isolateSettings();
    ScreenshotMode::active = true;
    qtmain::runOnMain([] {
        QApplication::setQuitOnLastWindowClosed(false);
        for (const auto mode : {AppearanceMode::dark, AppearanceMode::light}) {
            auto viewModel = ScreenshotRenderer::seededViewModel(true, mode, AccentChoice::graphite);
            ContentView view(*viewModel, consoleViews());
            view.setAttribute(Qt::WA_DontShowOnScreen);
            view.show();
            QCoreApplication::processEvents();
            const auto* main = view.findChild<ConsoleMain*>();
            ASSERT_NE(main, nullptr);
            EXPECT_FALSE(main->searchField()->isVisible());
            const QLabel* text = main->searchPlaceholderText();
            ASSERT_TRUE(text->isVisible());
            EXPECT_EQ(text->text(), "Search files");
            const ColorScheme scheme = mode == AppearanceMode::dark ? ColorScheme::dark : ColorScheme::light;
            EXPECT_EQ(text->palette().color(QPalette::WindowText), Theme::textQuaternary(scheme));
        }
    });
}

class EnvironmentOverride {
public:
    EnvironmentOverride(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value->c_str(), 1);
        else unsetenv(name);
    }
    ~EnvironmentOverride() {
        if (old_) setenv(name_, old_->c_str(), 1);
        else unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(ScreenshotStates, OutputFolderIsTheArgumentElseTheDesktopFolder) {
    testing::TempDir home;
    EnvironmentOverride homeVariable("HOME", home.path().string());
    EnvironmentOverride config("XDG_CONFIG_HOME", std::nullopt);
    EnvironmentOverride desktop("XDG_DESKTOP_DIR", std::nullopt);
    using ScreenshotRenderer::outputFolder;
    // Whatever follows the flag is the folder, even another flag.
    EXPECT_EQ(outputFolder({"calvoro", "--render-screenshots", "/x/y"}), "/x/y");
    EXPECT_EQ(outputFolder({"calvoro", "--render-screenshots", "--test"}), std::filesystem::current_path() / "--test");
    // No desktop folder configured: ~/Desktop.
    EXPECT_EQ(outputFolder({"calvoro", "--render-screenshots"}), home / "Desktop" / "Calvoro-Screenshots");
    // One that points at the home folder itself counts as none.
    testing::writeFile(home / ".config" / "user-dirs.dirs", std::string("XDG_DESKTOP_DIR=\"$HOME/\"\n"));
    EXPECT_EQ(outputFolder({"calvoro", "--render-screenshots"}), home / "Desktop" / "Calvoro-Screenshots");
    testing::writeFile(home / ".config" / "user-dirs.dirs", std::string("XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"));
    EXPECT_EQ(outputFolder({"calvoro", "--render-screenshots"}), home / "Bureau" / "Calvoro-Screenshots");
}

}  // namespace
}  // namespace calvoro
