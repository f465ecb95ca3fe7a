#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QListView>
#include <QScrollBar>
#include <QTest>

#include "app/ui/controls/circle_icon_button_style.h"
#include "app/ui/controls/hover_button.h"
#include "app/ui/log_panel/log_filter_pill.h"
#include "app/ui/log_panel/log_panel_view.h"
#include "app/ui/ui_test_support.h"

namespace calvoro {
namespace {

using testing::onMain;
using testing::onMainValue;
using testing::waitUntil;
using Level = ConversionLogger::Level;
using Entry = ConversionLogger::LogEntry;

Entry entry(Level level, std::string category, std::string message, std::optional<std::string> detail = std::nullopt) {
    Entry e;
    e.level = level;
    e.category = std::move(category);
    e.message = std::move(message);
    e.detail = std::move(detail);
    return e;
}

std::vector<std::string> messages(const std::vector<Entry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) out.push_back(e.message);
    return out;
}

TEST(LogPanelFilter, LevelAndTextCombineIgnoringCaseAcrossMessageCategoryAndDetail) {
    const std::vector<Entry> log{
        entry(Level::info, "Engine", "Started"),
        entry(Level::warning, "Files", "Skipped one", std::string("notes.xyz")),
        entry(Level::error, "Image", "Failed", std::string("corrupt header")),
        entry(Level::debug, "Engine", "Tick"),
        entry(Level::success, "Font", "Converted"),
    };
    using V = std::vector<std::string>;
    EXPECT_EQ(messages(LogPanelView::filteredEntries(log, std::nullopt, "")), V({"Started", "Skipped one", "Failed", "Tick", "Converted"}));
    EXPECT_EQ(messages(LogPanelView::filteredEntries(log, Level::error, "")), V({"Failed"}));
    EXPECT_EQ(messages(LogPanelView::filteredEntries(log, Level::warning, "")), V({"Skipped one"}));
    EXPECT_EQ(messages(LogPanelView::filteredEntries(log, std::nullopt, "ENGINE")), V({"Started", "Tick"}));
    EXPECT_EQ(messages(LogPanelView::filteredEntries(log, std::nullopt, "Corrupt")), V({"Failed"})) << "detail matches";
    EXPECT_TRUE(LogPanelView::filteredEntries(log, Level::error, "engine").empty()) << "both filters must accept";
    EXPECT_TRUE(LogPanelView::filteredEntries(log, std::nullopt, " Started").empty()) << "the text is used as typed";
    EXPECT_TRUE(LogPanelView::filteredEntries(log, Level::info, "xyz").empty());
}

class LogPanelViewTest : public testing::ViewTest {
protected:
    ConversionLogger& log() { return ConversionLogger::shared(); }
};

TEST_F(LogPanelViewTest, EmptyLogThenNoMatchThenLiveEntries) {
    std::unique_ptr<LogPanelView> panel;
    onMain([&] {
        panel = std::make_unique<LogPanelView>(log(), *model, host.get());
        panel->resize(900, 240);
        EXPECT_EQ(panel->entryCount(), 0);
        EXPECT_EQ(panel->emptyStateText(), QString("No logs yet"));
        log().info("Added 2 files", "Files");
        log().warning("Skipped", "Files", std::string("a.xyz"));
    });
    ASSERT_TRUE(waitUntil([&] { return panel->entryCount() == 2; }));
    onMain([&] {
        EXPECT_FALSE(panel->emptyStateText());
        panel->setSearchText("abc");
        EXPECT_EQ(panel->emptyStateText(), QString("No matching logs"));
        testing::saveSnapshot(panel.get(), "log-no-match");
        EXPECT_TRUE(panel->clearSearchButton()->isVisibleTo(panel.get()));
        QTest::mouseClick(panel->clearSearchButton(), Qt::LeftButton);
        EXPECT_TRUE(panel->searchText().isEmpty());
        EXPECT_FALSE(panel->emptyStateText());
        QTest::mouseClick(panel->pill(Level::error), Qt::LeftButton);
        EXPECT_EQ(panel->filterLevel(), Level::error);
        EXPECT_TRUE(panel->pill(Level::error)->isActive());
        EXPECT_FALSE(panel->pill(std::nullopt)->isActive());
        EXPECT_EQ(panel->entryCount(), 2) << "the badge counts every entry, whatever the filter";
        EXPECT_TRUE(panel->filteredEntries().empty());
        QTest::mouseClick(panel->pill(std::nullopt), Qt::LeftButton);
        EXPECT_EQ(panel->filteredEntries().size(), 2u);
        log().error("Conversion failed", "Image", std::string("The file is damaged and could not be read at all, "
                                                               "not even its header, so nothing was written"));
    });
    ASSERT_TRUE(waitUntil([&] { return panel->filteredEntries().size() == 3; }));
    onMain([&] { testing::saveSnapshot(panel.get(), "log-dark"); });
    // More than the panel shows, at once and then one by one: the newest scrolls into view at the bottom.
    for (const int count : {10, 1, 1}) {
        const size_t before = onMainValue<size_t>([&] { return panel->filteredEntries().size(); });
        onMain([&] {
            for (int i = 0; i < count; ++i) log().info("Converted clip-" + std::to_string(before + i), "Convert");
        });
        const bool shown = waitUntil([&] {
            QListView* list = panel->list();
            const QModelIndex newest = list->model()->index(list->model()->rowCount() - 1, 0);
            return newest.row() + 1u == before + count && list->viewport()->rect().contains(list->visualRect(newest));
        });
        EXPECT_TRUE(shown) << before + count << " entries" << onMainValue<std::string>([&] {
            QListView* list = panel->list();
            const QModelIndex newest = list->model()->index(list->model()->rowCount() - 1, 0);
            auto* bar = list->verticalScrollBar();
            return QString(" bar %1/%2 vr %3+%4 vp %5 w %6").arg(bar->value()).arg(bar->maximum()).arg(list->visualRect(newest).y())
                .arg(list->visualRect(newest).height()).arg(list->viewport()->height()).arg(list->viewport()->width()).toStdString();
        });
        if (!shown) break;
    }
    setScheme(ColorScheme::light);
    onMain([&] {
        testing::saveSnapshot(panel.get(), "log-light");
        panel.reset();
    });
}

TEST_F(LogPanelViewTest, CopyTakesEveryEntryClearEmptiesAndCloseHidesOnlyWhenShown) {
    onMain([&] {
        log().info("First", "Engine");
        log().error("Second", "Image", std::string("why"));
        LogPanelView panel(log(), *model, host.get());
        panel.resize(900, 240);
        panel.setFilterLevel(Level::error);
        QTest::mouseClick(panel.copyButton(), Qt::LeftButton);
        const QString copied = QApplication::clipboard()->text();
        EXPECT_EQ(copied, QString::fromStdString(log().exportText()));
        EXPECT_EQ(copied.count('\n'), 1) << "two lines, no line feed at the end";
        EXPECT_EQ(panel.copyButton()->toolTip(), "Copy logs to clipboard");

        QTest::mouseClick(panel.clearButton(), Qt::LeftButton);
        EXPECT_TRUE(log().entries().empty());
        EXPECT_EQ(panel.emptyStateText(), QString("No logs yet"));
        EXPECT_EQ(panel.entryCount(), 0);

        model->setShowLogPanel(true);
        QTest::mouseClick(panel.closeButton(), Qt::LeftButton);
        EXPECT_FALSE(model->showLogPanel());
        int changes = 0;
        QObject::connect(model.get(), &ConversionViewModel::showLogPanelChanged, [&] { ++changes; });
        QTest::mouseClick(panel.closeButton(), Qt::LeftButton);
        EXPECT_EQ(changes, 0);
    });
}

}  // namespace
}  // namespace calvoro
