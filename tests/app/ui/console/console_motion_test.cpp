#include <gtest/gtest.h>

#include <QGraphicsEffect>
#include <QImage>
#include <QScrollBar>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "app/state/screenshot_mode.h"
#include "app/ui/console/console_job_list.h"
#include "app/ui/console/console_main.h"
#include "app/ui/console/console_test_support.h"

namespace calvoro {
namespace {

using testing::onMain;

// The list's motion: rows that come, go and move when the list changes, never when it scrolls.
class ConsoleMotionTest : public testing::ConsoleMainTest {
protected:
    void TearDown() override {
        onMain([] { ScreenshotMode::active = false; });
        ConsoleMainTest::TearDown();
    }
    ConsoleJobList* list() const { return view->jobList(); }
    ConsoleRow* row(const std::string& name) const {
        for (ConsoleRow* r : list()->shownRows())
            if (r->job().fileName == name) return r;
        return nullptr;
    }
    void settle() { ASSERT_TRUE(testing::waitUntil([&] { return !list()->isAnimating(); })); }

};

TEST_F(ConsoleMotionTest, AddedRowsFadeInFromBelowWhileTheOthersStay) {
    const auto first = std::vector{file("alpha.csv"), file("beta.csv")};
    const auto later = file("gamma.csv");
    onMain([&] { model->addFiles(first); });
    settle();
    onMain([&] {
        model->addFiles({later});
        ConsoleRow* gamma = row("gamma.csv");
        ASSERT_NE(gamma, nullptr) << "a row that comes in counts as shown at once";
        EXPECT_TRUE(list()->isAnimating());
        EXPECT_DOUBLE_EQ(gamma->opacity(), 0.0);
        EXPECT_EQ(gamma->y(), 2 * ConsoleRow::rowHeight + 6);
        EXPECT_DOUBLE_EQ(row("alpha.csv")->opacity(), 1.0);
        EXPECT_EQ(row("beta.csv")->y(), ConsoleRow::rowHeight);
    });
    settle();
    onMain([&] {
        ConsoleRow* gamma = row("gamma.csv");
        EXPECT_DOUBLE_EQ(gamma->opacity(), 1.0);
        EXPECT_EQ(gamma->geometry(), QRect(0, 2 * ConsoleRow::rowHeight, list()->viewport()->width(), ConsoleRow::rowHeight));
    });
}

TEST_F(ConsoleMotionTest, ASearchFadesOutTheRowsThatGoAndSlidesTheOneThatStays) {
    const auto files = std::vector{file("alpha.csv"), file("beta.csv"), file("gamma.csv")};
    onMain([&] { model->addFiles(files); });
    settle();
    onMain([&] {
        model->setSearchQuery("gamma");
        ASSERT_EQ(list()->shownRows().size(), 1u);
        const auto leaving = list()->leavingRows();
        ASSERT_EQ(leaving.size(), 2u);
        for (ConsoleRow* r : leaving) {
            EXPECT_DOUBLE_EQ(r->opacity(), 1.0) << "they fade from where they are";
            EXPECT_TRUE(r->isFrozen());
            EXPECT_TRUE(r->testAttribute(Qt::WA_TransparentForMouseEvents)) << "a row going away takes no clicks";
        }
        EXPECT_EQ(list()->rowForJob(0), nullptr) << "a row on its way out takes no updates";
        EXPECT_EQ(row("gamma.csv")->y(), 2 * ConsoleRow::rowHeight) << "the staying row starts from its old place";
    });
    settle();
    onMain([&] {
        EXPECT_TRUE(list()->leavingRows().empty());
        EXPECT_EQ(row("gamma.csv")->y(), 0);
        // Taking the query back brings the others in again and moves gamma down.
        model->setSearchQuery("");
        EXPECT_EQ(row("gamma.csv")->y(), 0);
        EXPECT_DOUBLE_EQ(row("alpha.csv")->opacity(), 0.0);
        EXPECT_FALSE(row("alpha.csv")->isFrozen());
        EXPECT_FALSE(row("alpha.csv")->testAttribute(Qt::WA_TransparentForMouseEvents));
    });
    settle();
    onMain([&] {
        EXPECT_EQ(row("gamma.csv")->y(), 2 * ConsoleRow::rowHeight);
        EXPECT_LE(list()->rowWidgetCount(), 6);
        for (ConsoleRow* r : list()->shownRows()) EXPECT_DOUBLE_EQ(r->opacity(), 1.0);
    });
}

TEST_F(ConsoleMotionTest, AQueryTakenBackMidWayBringsTheFadingRowsBack) {
    const auto files = std::vector{file("alpha.csv"), file("beta.csv")};
    onMain([&] { model->addFiles(files); });
    settle();
    onMain([&] {
        model->setSearchQuery("beta");
        ConsoleRow* alpha = list()->leavingRows().front();
        model->setSearchQuery("");
        EXPECT_TRUE(list()->leavingRows().empty());
        EXPECT_EQ(row("alpha.csv"), alpha) << "the same row comes back, not a second one";
    });
    settle();
    onMain([&] { EXPECT_DOUBLE_EQ(row("alpha.csv")->opacity(), 1.0); });
}

TEST_F(ConsoleMotionTest, ScrollingNeverAnimatesAndEndsAMotionAtOnce) {
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 40; ++i) files.push_back(file("file-" + std::to_string(i) + ".csv"));
    onMain([&] { model->addFiles(files); });
    settle();
    onMain([&] {
        QScrollBar* bar = list()->verticalScrollBar();
        bar->setValue(ConsoleRow::rowHeight * 3 + 10);
        EXPECT_FALSE(list()->isAnimating());
        for (ConsoleRow* r : list()->shownRows()) {
            EXPECT_DOUBLE_EQ(r->opacity(), 1.0);
            EXPECT_EQ((r->y() + 10) % ConsoleRow::rowHeight, 0) << "rows sit on the scrolled grid";
        }
        // A scroll in the middle of a change jumps to its end.
        model->setSearchQuery("file-1");
        EXPECT_TRUE(list()->isAnimating());
        bar->setValue(0);
        EXPECT_FALSE(list()->isAnimating());
        EXPECT_TRUE(list()->leavingRows().empty());
        for (ConsoleRow* r : list()->shownRows()) EXPECT_DOUBLE_EQ(r->opacity(), 1.0);
    });
}

TEST_F(ConsoleMotionTest, QuickChangesKeepTheRowWidgetsBounded) {
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 200; ++i) files.push_back(file("file-" + std::to_string(i) + ".csv"));
    onMain([&] { model->addFiles(files); });
    settle();
    onMain([&] {
        const int onScreen = list()->viewport()->height() / ConsoleRow::rowHeight + 2;
        // Each step swaps every row on screen while the last swap is still fading.
        for (const char* query : {"file-1", "file-2", "file-3", "file-1", "", "file-4", "file-19"}) {
            model->setSearchQuery(query);
            EXPECT_LE(list()->rowWidgetCount(), 2 * onScreen) << query;
            EXPECT_LE(static_cast<int>(list()->shownRows().size()), onScreen) << query;
        }
    });
    settle();
    onMain([&] {
        EXPECT_TRUE(list()->leavingRows().empty());
        EXPECT_EQ(list()->rows().size(), 11u) << "file-19 and file-190 to file-199";
        for (ConsoleRow* r : list()->shownRows()) EXPECT_DOUBLE_EQ(r->opacity(), 1.0);
    });
}

// Rows are recycled: a file added again after Clear All, to the place in the list it had, lands
// on the row that showed it. That row shows its thumbnail again: from the cache, or made anew
// when the file changed meanwhile. A second row of a file whose thumbnail is being made shows it
// once it is made.
TEST_F(ConsoleMotionTest, RowsOfFilesAddedAgainOrTwiceShowTheirThumbnails) {
    auto picture = [&](const std::string& name, QColor colour) {
        QImage image(64, 48, QImage::Format_RGB32);
        image.fill(colour);
        EXPECT_TRUE(image.save(QString::fromStdString((dir / name).string())));
        return dir / name;
    };
    const auto files = std::vector{picture("photo.png", Qt::red), picture("still.jpg", Qt::blue)};
    auto thumbnailsShown = [&] {
        const auto shown = list()->shownRows();
        return shown.size() == 2 && std::all_of(shown.begin(), shown.end(), [](ConsoleRow* r) { return r->hasThumbnail(); });
    };
    onMain([&] { model->addFiles(files); });
    ASSERT_TRUE(testing::waitUntil(thumbnailsShown));
    settle();
    std::vector<ConsoleRow*> before;
    onMain([&] {
        before = list()->shownRows();
        model->clearAll();
    });
    settle();
    // The picture changed on disk: its old thumbnail no longer counts.
    std::filesystem::last_write_time(files[1], std::filesystem::last_write_time(files[1]) + std::chrono::seconds(5));
    onMain([&] {
        model->addFiles(files);
        EXPECT_EQ(list()->shownRows(), before) << "the rows that showed the files show them again";
    });
    EXPECT_TRUE(testing::waitUntil(thumbnailsShown));

    const auto third = picture("scan.png", Qt::green);
    onMain([&] {
        model->clearAll();
        model->addFiles({third});
        model->duplicateJob(model->jobs().front());
    });
    EXPECT_TRUE(testing::waitUntil(thumbnailsShown)) << "both rows of the file being made";
}

TEST_F(ConsoleMotionTest, ScreenshotModeShowsTheSettledList) {
    const auto files = std::vector{file("alpha.csv"), file("beta.csv")};
    onMain([&] {
        ScreenshotMode::active = true;
        model->addFiles(files);
        EXPECT_FALSE(list()->isAnimating());
        EXPECT_DOUBLE_EQ(row("beta.csv")->opacity(), 1.0);
        EXPECT_EQ(row("beta.csv")->y(), ConsoleRow::rowHeight);
        model->toggleSelection(model->jobs()[0].id);
        EXPECT_DOUBLE_EQ(static_cast<RowCheckbox*>(row("alpha.csv")->checkbox())->selectionProgress(), 1.0);
    });
}

TEST_F(ConsoleMotionTest, TheToolbarsCrossFadeAndSettleWithoutAnEffect) {
    const auto files = std::vector{file("alpha.csv")};
    onMain([&] {
        model->addFiles(files);
        model->toggleSelection(model->jobs()[0].id);
    });
    // Part-way both show, each through an opacity effect.
    EXPECT_TRUE(testing::waitUntil([&] {
        return view->searchToolbar()->isVisible() && view->selectionToolbar()->isVisible() &&
               view->selectionToolbar()->graphicsEffect();
    }));
    ASSERT_TRUE(testing::waitUntil([&] { return view->searchToolbar()->isHidden(); }));
    onMain([&] {
        EXPECT_EQ(view->selectionToolbar()->graphicsEffect(), nullptr);
        EXPECT_EQ(view->selectionToolbar()->y(), 0);
    });
}

}  // namespace
}  // namespace calvoro
