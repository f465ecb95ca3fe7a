// The screenshot mode through the real program: files, lines, exit status, repeatability.
#include <gtest/gtest.h>

#include <QImage>
#include <QString>

#include "screenshot_test_support.h"

namespace calvoro {
namespace {

using testing::runScreenshots;
using testing::screenshotNames;
using testing::SeedFilePlacement;
using testing::TempDir;

QImage load(const std::filesystem::path& file) { return QImage(QString::fromStdString(file.string())); }

TEST(ScreenshotMode, SevenPicturesWithTheirLinesIntoAFolderItCreates) {
    SeedFilePlacement seeds(7);
    TempDir scratch;
    const auto folder = scratch / "out" / "nested";
    const auto r = runScreenshots(scratch, testing::shellQuote(folder.string()));
    EXPECT_EQ(r.status, 0) << r.output;
    ASSERT_EQ(r.lines.size(), 7u) << r.output;
    for (size_t i = 0; i < 7; ++i) {
        EXPECT_EQ(r.lines[i], "✓ " + screenshotNames()[i] + "  2560×1600");
        const QImage image = load(folder / screenshotNames()[i]);
        EXPECT_EQ(image.size(), QSize(2560, 1600)) << screenshotNames()[i];
    }
    // The states keep their settings to themselves: the user's settings are never written.
    EXPECT_FALSE(std::filesystem::exists(scratch / "config" / "settings.json"));
    // The queue, the appearance and the popover each change the picture.
    EXPECT_NE(load(folder / "01-empty-dark.png"), load(folder / "02-queue-dark.png"));
    EXPECT_NE(load(folder / "02-queue-dark.png"), load(folder / "04-queue-light.png"));
    EXPECT_NE(load(folder / "05-queue-graphite.png"), load(folder / "06-settings-dark.png"));
}

TEST(ScreenshotMode, TwoRunsGiveTheSameFiles) {
    SeedFilePlacement seeds(7);
    TempDir first, second;
    ASSERT_EQ(runScreenshots(first, "out").status, 0);
    ASSERT_EQ(runScreenshots(second, "out").status, 0);
    for (const auto& name : screenshotNames())
        EXPECT_EQ(testing::readFile(first / "out" / name), testing::readFile(second / "out" / name)) << name;
}

TEST(ScreenshotMode, WithoutSeedFilesTheQueueStatesAreEmpty) {
    SeedFilePlacement seeds(0);
    TempDir scratch;
    const auto r = runScreenshots(scratch, "out");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines.size(), 7u) << r.output;
    EXPECT_EQ(testing::readFile(scratch / "out" / "01-empty-dark.png"), testing::readFile(scratch / "out" / "02-queue-dark.png"));
    EXPECT_EQ(testing::readFile(scratch / "out" / "03-empty-light.png"), testing::readFile(scratch / "out" / "04-queue-light.png"));
}

TEST(ScreenshotMode, AFolderThatCannotBeWrittenSaysSoForEachPictureAndStillEndsWithZero) {
    SeedFilePlacement seeds(1);
    TempDir scratch;
    testing::writeFile(scratch / "plain-file", std::string("not a folder"));
    const auto r = runScreenshots(scratch, testing::shellQuote((scratch / "plain-file" / "out").string()));
    EXPECT_EQ(r.status, 0);
    ASSERT_EQ(r.lines.size(), 7u) << r.output;
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(r.lines[i], "✗ " + screenshotNames()[i] + ": write failed");
}

TEST(ScreenshotMode, WithoutAFolderArgumentThePicturesGoToTheDesktopFolder) {
    SeedFilePlacement seeds(0);
    TempDir scratch;
    const auto home = scratch / "home";
    testing::writeFile(home / ".config" / "user-dirs.dirs", std::string("XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"));
    const auto r = runScreenshots(scratch, "", "HOME=" + testing::shellQuote(home.string()) + " XDG_CONFIG_HOME= XDG_DESKTOP_DIR=");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.lines.size(), 7u) << r.output;
    for (const auto& name : screenshotNames())
        EXPECT_TRUE(std::filesystem::exists(home / "Schreibtisch" / "Calvoro-Screenshots" / name)) << name;
}

}  // namespace
}  // namespace calvoro
