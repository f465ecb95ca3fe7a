#include <gtest/gtest.h>

#include <QLineEdit>
#include <QScrollBar>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <set>

#include "app/ui/console/accent_button.h"
#include "app/ui/console/console_job_list.h"
#include "app/ui/console/console_main.h"
#include "app/ui/console/ghost_icon_pill_button.h"
#include "app/ui/console/ghost_pill_button.h"
#include "app/ui/console/console_test_support.h"

namespace calvoro {
namespace {

using testing::onMain;

using testing::ConsoleMainTest;

TEST_F(ConsoleMainTest, SearchAndCategoryFilterTheRowsAndSayWhenNothingMatches) {
    const auto files = std::vector{file("alpha.csv"), file("beta.csv"), file("gamma.json", "{}")};
    onMain([&] {
        model->addFiles(files);
        EXPECT_EQ(view->jobList()->rows().size(), 3u);
        EXPECT_FALSE(view->showsEmptyMessage());
        QTest::keyClicks(view->searchField(), "BET");
        EXPECT_EQ(model->searchQuery(), "BET");
        ASSERT_EQ(view->jobList()->shownRows().size(), 1u);
        EXPECT_EQ(view->jobList()->shownRows()[0]->job().fileName, "beta.csv");
        EXPECT_FALSE(view->clearSearchButton()->isHidden());

        QTest::keyClicks(view->searchField(), "zzz");
        EXPECT_TRUE(view->showsEmptyMessage());
        EXPECT_EQ(view->emptyMessage(), "No files match \u201CBETzzz\u201D");
        QTest::mouseClick(view->clearSearchButton(), Qt::LeftButton);
        EXPECT_EQ(model->searchQuery(), "");
        EXPECT_EQ(view->searchField()->text(), "");
        EXPECT_TRUE(view->clearSearchButton()->isHidden());

        model->setLibraryFilter(FileCategory::video);
        EXPECT_TRUE(view->showsEmptyMessage());
        EXPECT_EQ(view->emptyMessage(), "No files of this type.");
        model->setLibraryFilter(std::nullopt);
        EXPECT_EQ(view->jobList()->shownRows().size(), 3u);
    });
}

TEST_F(ConsoleMainTest, SelectionBarCountsEverySelectedJobAndItsActionsWork) {
    const auto files = std::vector{file("a.csv"), file("b.csv"), file("c.json", "{}")};
    onMain([&] {
        model->addFiles(files);
        EXPECT_TRUE(view->selectionToolbar()->isHidden());
        QTest::mouseClick(view->selectAllButton(), Qt::LeftButton);
        EXPECT_EQ(model->selection().size(), 3u);
        EXPECT_EQ(view->selectionText(), "3 selected");
    });
    EXPECT_TRUE(testing::waitUntil([&] { return view->searchToolbar()->isHidden() && view->selectionToolbar()->isVisible(); }));
    onMain([&] {
        // Hidden by the search, still selected and counted.
        model->setSearchQuery("a.csv");
        EXPECT_EQ(view->selectionText(), "3 selected");
        model->setSearchQuery("");
        QTest::mouseClick(view->deselectAllButton(), Qt::LeftButton);
        EXPECT_TRUE(model->selection().empty());
        model->toggleSelection(model->jobs()[0].id);
        QTest::mouseClick(view->removeSelectedButton(), Qt::LeftButton);
        EXPECT_EQ(model->jobs().size(), 2u);
    });
    EXPECT_TRUE(testing::waitUntil([&] { return view->searchToolbar()->isVisible(); }));
}

TEST_F(ConsoleMainTest, FooterAndConvertAllFollowTheList) {
    onMain([&] {
        EXPECT_FALSE(view->convertAllButton()->isEnabled());
        EXPECT_EQ(view->convertAllButton()->text(), "Convert all");
        EXPECT_FALSE(view->clearAllButton()->isEnabled());
        EXPECT_TRUE(view->retryButton()->isHidden());
        EXPECT_EQ(view->outputButton()->text(), "Choose output…");
        EXPECT_EQ(view->outputButton()->toolTip(), "Choose where converted files are saved");
        EXPECT_EQ(view->footerText(), "0 files · 0 done");
        EXPECT_TRUE(view->cancelButton()->isHidden());

        model->addFiles({file("a.csv")});
        EXPECT_TRUE(view->convertAllButton()->isEnabled());
        EXPECT_TRUE(view->clearAllButton()->isEnabled());
        EXPECT_EQ(view->footerText(), "1 files · 0 done");
        model->applyGlobalOutputDirectory(dir.path());
        EXPECT_EQ(view->outputButton()->text(), QString::fromStdString(dir.path().filename().string()));
        EXPECT_EQ(view->outputButton()->toolTip(), QString::fromStdString("Converted files are saved to: " +
                                                                          dir.path().string() + ". Click to change."));
        QTest::mouseClick(view->clearAllButton(), Qt::LeftButton);
        EXPECT_TRUE(model->jobs().empty());
    });
}

TEST_F(ConsoleMainTest, ConvertAllRunsTheBatchAndFailuresOfferARetryThatResetsThem) {
    const auto good = file("good.csv"), bad = file("bad.json", "{not json");
    onMain([&] {
        model->applyGlobalOutputDirectory(dir.path());
        model->addFiles({good, bad});
        QTest::mouseClick(view->convertAllButton(), Qt::LeftButton);
    });
    ASSERT_TRUE(testing::waitUntil([&] { return !model->isProcessing() && model->pendingCount() == 0; }));
    onMain([&] {
        EXPECT_EQ(model->completedCount(), 1);
        ASSERT_EQ(model->failedCount(), 1);
        EXPECT_FALSE(view->retryButton()->isHidden());
        EXPECT_EQ(view->retryButton()->text(), "Retry 1 failed");
        EXPECT_EQ(view->footerText(), "2 files · 1 done");
    });
    // The failed row's own Retry, once the progress has faded out, puts it through again.
    ConsoleRow* failed = nullptr;
    ASSERT_TRUE(testing::waitUntil([&] {
        for (ConsoleRow* row : view->jobList()->shownRows())
            if (row->job().status == ConversionStatus::failed) failed = row;
        return failed && !failed->retryButton()->isHidden();
    }));
    onMain([&] {
        testing::writeFile(bad, std::string("{\"a\": 1}"));
        QTest::mouseClick(failed->retryButton(), Qt::LeftButton);
    });
    ASSERT_TRUE(testing::waitUntil([&] { return model->completedCount() == 2; }));
    onMain([&] { EXPECT_TRUE(view->retryButton()->isHidden()); });
}

TEST_F(ConsoleMainTest, TenThousandJobsKeepOnlyTheRowsOnScreen) {
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 10000; ++i) files.push_back(file("file-" + std::to_string(i) + ".csv"));
    onMain([&] {
        model->addFiles(files);
        ASSERT_EQ(model->jobs().size(), 10000u);
        const int onScreen = view->jobList()->viewport()->height() / ConsoleRow::rowHeight + 2;
        EXPECT_LE(view->jobList()->rowWidgetCount(), onScreen);
        QScrollBar* bar = view->jobList()->verticalScrollBar();
        EXPECT_EQ(bar->maximum(), 10000 * ConsoleRow::rowHeight - view->jobList()->viewport()->height());
        std::set<std::string> seen;
        for (int step = 0; step <= 40; ++step) {
            bar->setValue(bar->maximum() * step / 40);
            for (ConsoleRow* row : view->jobList()->shownRows()) seen.insert(row->job().fileName);
            EXPECT_LE(view->jobList()->rowWidgetCount(), onScreen);
        }
        EXPECT_EQ(seen.count("file-9999.csv"), 1u);
        // The last row sits at the bottom of the view, showing its job.
        const auto shown = view->jobList()->shownRows();
        const auto last = std::max_element(shown.begin(), shown.end(), [](ConsoleRow* a, ConsoleRow* b) { return a->y() < b->y(); });
        EXPECT_EQ((*last)->job().fileName, "file-9999.csv");
        EXPECT_EQ((*last)->geometry().bottom() + 1, view->jobList()->viewport()->height());
    });
}

TEST_F(ConsoleMainTest, TheSearchFieldIsFaintlyLightInDarkAndLightGreyInLightAfterEverySwitch) {
    onMain([&] {
        QWidget* frame = view->searchField()->parentWidget();
        auto fill = [&] {
            const QImage image = view->grab().toImage();
            const QPoint inside = frame->mapTo(view, QPoint(frame->width() - 24, frame->height() / 2));
            const QPoint outside = frame->mapTo(view, QPoint(frame->width() / 2, -4));
            return std::pair{QColor(image.pixel(inside)), QColor(image.pixel(outside))};
        };
        for (ColorScheme scheme : {ColorScheme::light, ColorScheme::dark, ColorScheme::light, ColorScheme::dark}) {
            Theme::applyAppearance(host.get(), scheme, AccentChoice::paper);
            const auto [field, behind] = fill();
            if (scheme == ColorScheme::dark) {
                // White at 0.035, faded by 0.7, over what is behind it.
                const int expected = behind.red() + static_cast<int>(std::lround((255 - behind.red()) * 0.035 * 0.7));
                EXPECT_NEAR(field.red(), expected, 2);
                EXPECT_GE(field.red(), behind.red());
            } else {
                EXPECT_EQ(field, QColor(241, 241, 242));
            }
        }
    });
}

TEST_F(ConsoleMainTest, RowsOfTwoLinesStackWithoutGapsAndTheListStaysVirtualised) {
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 2000; ++i) {
        const std::string name = i % 3 == 0 ? "file-" + std::to_string(i) +
                                                  " with a name long enough to need a second line in the list of jobs.csv"
                                            : "file-" + std::to_string(i) + ".csv";
        files.push_back(file(name));
    }
    onMain([&] {
        model->addFiles(files);
        ConsoleJobList* list = view->jobList();
        const int width = list->viewport()->width();
        int total = 0, tall = 0;
        for (const auto& job : model->jobs()) {
            const int height = ConsoleRow::heightFor(job, width);
            total += height;
            tall += height > ConsoleRow::rowHeight ? 1 : 0;
        }
        EXPECT_GT(tall, 600) << "every third name takes two lines";
        EXPECT_EQ(list->contentHeight(), total);
        QScrollBar* bar = list->verticalScrollBar();
        EXPECT_EQ(bar->maximum(), total - list->viewport()->height());
        const int onScreen = list->viewport()->height() / ConsoleRow::rowHeight + 2;
        for (int step = 0; step <= 20; ++step) {
            bar->setValue(bar->maximum() * step / 20);
            EXPECT_LE(list->rowWidgetCount(), onScreen);
            auto shown = list->shownRows();
            std::sort(shown.begin(), shown.end(), [](ConsoleRow* a, ConsoleRow* b) { return a->y() < b->y(); });
            ASSERT_FALSE(shown.empty());
            EXPECT_LE(shown.front()->y(), 0);
            EXPECT_GE(shown.back()->geometry().bottom() + 1, list->viewport()->height());
            for (size_t i = 0; i + 1 < shown.size(); ++i) {
                EXPECT_EQ(shown[i]->geometry().bottom() + 1, shown[i + 1]->y()) << "rows meet, neither gap nor overlap";
                EXPECT_EQ(shown[i]->height(), ConsoleRow::heightFor(shown[i]->job(), width));
            }
        }
    });
}

}  // namespace
}  // namespace calvoro
