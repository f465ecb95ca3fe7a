#include <gtest/gtest.h>

#include <QLocale>
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include "app/ui/controls/chrome_icon_button.h"
#include "app/ui/console/console_card.h"
#include "app/ui/console/console_sidebar.h"
#include "app/ui/console/console_test_support.h"
#include "app/ui/console/sidebar_add_footer.h"
#include "app/ui/console/sidebar_nav_row.h"
#include "app/ui/console/sidebar_section.h"
#include "app/ui/chrome/full_screen_traffic_lights.h"
#include "core/settings_store.h"

namespace calvoro {
namespace {

using testing::onMain;

class ConsoleSidebarTest : public testing::ConsoleTest {
protected:
    void show() {
        onMain([&] {
            sidebar = new ConsoleSidebar(*model, host.get());
            sidebar->resize(246, 700);
            host->show();
        });
    }
    // Headers and the rows of open sections, in order.
    QList<QAbstractButton*> sectionButtons() {
        QList<QAbstractButton*> shown;
        for (auto* button : sidebar->sectionsContent()->findChildren<QAbstractButton*>())
            if (button->isVisibleTo(sidebar)) shown << button;
        return shown;
    }
    // The same, by their text.
    QStringList sectionTexts() {
        QStringList texts;
        for (auto* button : sectionButtons())
            texts << (button->objectName().isEmpty() ? button->text() : "[" + button->objectName() + "]");
        return texts;
    }
    ConsoleSidebar* sidebar = nullptr;
};

TEST_F(ConsoleSidebarTest, LibraryCountsJobsAndFiltersTheList) {
    const auto files = std::vector{file("a.csv"), file("b.json", "{}"), file("c.mp3", "ID3")};
    show();
    onMain([&] {
        model->addFiles(files);
        const auto& rows = sidebar->libraryRows();
        ASSERT_EQ(rows.size(), 7u);
        EXPECT_EQ(rows[0]->text(), "All Files");
        EXPECT_EQ(rows[0]->countText(), "3");
        EXPECT_EQ(rows[3]->text(), "Audio");
        EXPECT_EQ(rows[3]->countText(), "1");
        EXPECT_EQ(rows[4]->countText(), "2") << "data files count as documents";
        EXPECT_EQ(rows[2]->countText(), "0") << "zero is shown too";
        EXPECT_TRUE(rows[0]->isSelected());

        QTest::mouseClick(rows[2], Qt::LeftButton);
        EXPECT_EQ(model->libraryFilter(), std::optional<FileCategory>(FileCategory::video));
        EXPECT_TRUE(rows[2]->isSelected());
        EXPECT_FALSE(rows[0]->isSelected());
        QTest::mouseClick(rows[2], Qt::LeftButton);
        EXPECT_TRUE(rows[2]->isSelected()) << "a second tap keeps the filter";
        QTest::mouseClick(rows[0], Qt::LeftButton);
        EXPECT_FALSE(model->libraryFilter().has_value());
    });
}

TEST_F(ConsoleSidebarTest, SelectedRowTextContrastsWithTheAccent) {
    show();
    onMain([&] {
        SidebarNavRow* all = sidebar->libraryRows()[0];
        // Paper's dark fill is nearly white: near-black text; blue's gives white.
        model->setAccent(AccentChoice::paper);
        EXPECT_EQ(all->foregroundColor(), QColor(10, 10, 11));
        QColor count(10, 10, 11);
        count.setAlphaF(0.6f);
        EXPECT_EQ(all->countColor(), count);
        model->setAccent(AccentChoice::blue);
        EXPECT_EQ(all->foregroundColor(), QColor(Qt::white));
        EXPECT_EQ(sidebar->addFooter()->labelColor(), QColor(Qt::white));
    });
}

TEST_F(ConsoleSidebarTest, OnlyExploreShowsWithoutRecentsOrStats) {
    show();
    onMain([&] { EXPECT_EQ(sectionTexts(), (QStringList{"[explore]", "All conversions", "Conversion log"})); });
}

TEST_F(ConsoleSidebarTest, StatsAndRecentsShowTheirRowsAndRecentsReplay) {
    std::vector<RecentJob> recents;
    for (int i = 0; i < 7; ++i)
        recents.push_back(RecentJob{Uuid(), (dir / ("song-" + std::to_string(i) + ".mp3")).string(), "mp3",
                                    i == 0 ? "no-such-format" : "wav", std::chrono::system_clock::now(), std::nullopt});
    file("song-0.mp3", "ID3");
    onMain([&] {
        model.reset();
        auto& store = SettingsStore::shared();
        store.set("Calvoro.statsTotalConversions", 1234);
        store.set("Calvoro.statsBytesSaved", 0);
        const std::string json = RecentJob::encodeList(recents);
        store.setData("Calvoro.recents", std::vector<uint8_t>(json.begin(), json.end()));
        model = std::make_unique<ConversionViewModel>();
    });
    show();
    onMain([&] {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        EXPECT_EQ(ConsoleSidebar::conversionsText(1), "1 file converted");
        EXPECT_EQ(ConsoleSidebar::conversionsText(1234), "1,234 files converted");
        const QStringList texts = sectionTexts();
        ASSERT_EQ(texts.mid(0, 6), (QStringList{"[recent]", "song-0.mp3", "song-1.mp3", "song-2.mp3", "song-3.mp3",
                                                "song-4.mp3"}))
            << "five recents of seven";
        EXPECT_EQ(texts[6], "[stats]");
        EXPECT_EQ(texts.count("1,234 files converted"), 1) << "the stat row is drawn, not a button";

        auto* replay = sectionButtons()[1];
        EXPECT_EQ(replay->toolTip(), "Convert song-0.mp3 again");
        testing::press(replay);
        ASSERT_EQ(model->jobs().size(), 1u);
        EXPECT_EQ(model->jobs()[0].fileName, "song-0.mp3");
        QLocale::setDefault(QLocale::c());
    });
}

// A batch changes the recents and the stats at every file: at each change the headers show and
// every row spans the card, one under the other, without waiting for a later turn.
TEST_F(ConsoleSidebarTest, TheSectionsKeepTheirLayoutWhileABatchChangesRecentsAndStats) {
    std::vector<RecentJob> recents;
    for (int i = 0; i < 4; ++i)
        recents.push_back(RecentJob{Uuid(), (dir / ("old-" + std::to_string(i) + ".csv")).string(), "csv", "json",
                                    std::chrono::system_clock::now(), std::nullopt});
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 3; ++i) files.push_back(file("table-" + std::to_string(i) + ".csv"));
    onMain([&] {
        model.reset();
        auto& store = SettingsStore::shared();
        store.set("Calvoro.statsTotalConversions", 1);
        const std::string json = RecentJob::encodeList(recents);
        store.setData("Calvoro.recents", std::vector<uint8_t>(json.begin(), json.end()));
        model = std::make_unique<ConversionViewModel>();
    });
    show();
    int changes = 0;
    QStringList faults;
    auto check = [&] {
        ++changes;
        QWidget* content = sidebar->sectionsContent();
        int bottom = 0;
        for (QWidget* child : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            const bool section = qobject_cast<SidebarSection*>(child);
            if (child->isHidden() && !section) faults << "a hidden header";
            if (child->isHidden()) continue;
            if (child->width() != content->width() - 32) faults << QString("%1 wide").arg(child->width());
            if (child->y() < bottom) faults << "overlapping";
            bottom = child->geometry().bottom() + 1;
            if (section)
                for (QWidget* row : static_cast<SidebarSection*>(child)->rows())
                    if (row->width() != child->width()) faults << QString("a row %1 wide").arg(row->width());
        }
    };
    onMain([&] {
        for (auto signal : {&ConversionViewModel::recentsChanged, &ConversionViewModel::statsTotalConversionsChanged,
                            &ConversionViewModel::statsBytesSavedChanged})
            QObject::connect(model.get(), signal, sidebar, check);
        model->applyGlobalOutputDirectory(dir.path());
        model->addFiles(files);
        model->convertAll();
    });
    ASSERT_TRUE(testing::waitUntil([&] { return !model->isProcessing() && model->completedCount() == 3; }));
    onMain([&] {
        EXPECT_GE(changes, 6) << "recents and stats changed at every file";
        EXPECT_TRUE(faults.isEmpty()) << faults.join(", ").toStdString();
        const QStringList texts = sectionTexts();
        ASSERT_EQ(texts.mid(0, 4), (QStringList{"[recent]", "table-2.csv", "table-1.csv", "table-0.csv"}));
        EXPECT_TRUE(texts.contains("4 files converted")) << texts.join(", ").toStdString();
    });
}

TEST_F(ConsoleSidebarTest, CollapsedSectionsStayCollapsedAfterARestart) {
    show();
    onMain([&] {
        auto* explore = sidebar->sectionsContent()->findChild<QAbstractButton*>("explore");
        ASSERT_NE(explore, nullptr);
        testing::press(explore);
    });
    EXPECT_TRUE(testing::waitUntil([&] { return sectionTexts() == QStringList{"[explore]"}; }));
    onMain([&] {
        ConversionViewModel restarted;
        EXPECT_FALSE(restarted.isSectionExpanded("explore"));
        EXPECT_TRUE(restarted.isSectionExpanded("recent"));
    });
}

TEST_F(ConsoleSidebarTest, ASectionClosesToNothingAndOpensToItsFullHeight) {
    show();
    SidebarSection* explore = nullptr;
    int open = 0;
    onMain([&] {
        explore = sidebar->sectionsContent()->findChild<SidebarSection*>("explore");
        ASSERT_NE(explore, nullptr);
        open = explore->height();
        EXPECT_EQ(open, 2 * 28 + SidebarSection::rowSpacing);
        model->toggleSection("explore");
        EXPECT_TRUE(explore->isVisible()) << "it closes with a spring, not at once";
        EXPECT_EQ(explore->openness(), 1.0);
    });
    ASSERT_TRUE(testing::waitUntil([&] { return explore->openness() == 0.0; }));
    onMain([&] {
        EXPECT_TRUE(explore->isHidden());
        EXPECT_EQ(sidebar->sectionsContent()->findChild<QAbstractButton*>("explore")->accessibleDescription(), "Collapsed");
        model->toggleSection("explore");
        EXPECT_TRUE(explore->isVisible());
        EXPECT_LT(explore->height(), open);
    });
    ASSERT_TRUE(testing::waitUntil([&] { return explore->openness() == 1.0; }));
    onMain([&] {
        EXPECT_EQ(explore->height(), open);
        EXPECT_EQ(sectionTexts(), (QStringList{"[explore]", "All conversions", "Conversion log"}));
        for (QWidget* row : explore->rows()) EXPECT_LE(row->geometry().bottom(), explore->height());
    });
}

TEST_F(ConsoleSidebarTest, TheAccentFillFadesAcrossAndCountsRoll) {
    const auto files = std::vector{file("a.csv"), file("b.csv")};
    show();
    onMain([&] {
        const auto& rows = sidebar->libraryRows();
        model->setLibraryFilter(FileCategory::video);
        EXPECT_EQ(rows[0]->selectionProgress(), 1.0) << "both move from where they were";
        EXPECT_EQ(rows[2]->selectionProgress(), 0.0);
        EXPECT_TRUE(rows[2]->isSelected());
        model->addFiles(files);
        EXPECT_EQ(rows[0]->countText(), "2");
        EXPECT_TRUE(rows[0]->countTransition().isRolling());
        EXPECT_EQ(rows[0]->countTransition().text(), "2");
    });
    ASSERT_TRUE(testing::waitUntil([&] {
        const auto& rows = sidebar->libraryRows();
        return rows[2]->selectionProgress() == 1.0 && rows[0]->selectionProgress() == 0.0 &&
               !rows[0]->countTransition().isRolling();
    }));
    onMain([&] {
        const auto& rows = sidebar->libraryRows();
        EXPECT_EQ(rows[2]->backgroundColor(), Theme::accentFill(model->accent(), ColorScheme::dark));
        EXPECT_EQ(rows[0]->countColor(), Theme::textQuaternary(ColorScheme::dark));
    });
}

// Under the log panel at the smallest window the column has 384 points: the sections give way
// first, down to a header and two rows, then the library rows scroll, every one still in reach.
TEST_F(ConsoleSidebarTest, AShortColumnScrollsItsRowsOnceTheSectionsHaveGivenWay) {
    show();
    onMain([&] {
        const int whole = sidebar->sizeHint().height();
        auto* library = sidebar->libraryRows().front()->parentWidget();
        auto* sections = qobject_cast<QScrollArea*>(sidebar->sectionsContent()->parentWidget()->parentWidget());
        ASSERT_TRUE(sections);
        sidebar->resize(246, whole);
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(library->visibleRegion().boundingRect(), library->rect()) << "tall enough: every row shows";
        EXPECT_EQ(sections->height(), sections->minimumHeight());
        sidebar->resize(246, 384);
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(sidebar->height(), 384);
        EXPECT_EQ(sections->height(), sections->minimumHeight());
        EXPECT_EQ(sections->verticalScrollBar()->maximum(), 0) << "the least room holds Explore's header and two rows";
        EXPECT_LT(library->visibleRegion().boundingRect().height(), library->height());
        SidebarNavRow* fonts = sidebar->libraryRows().back();
        auto* scroll = qobject_cast<QScrollArea*>(library->parentWidget()->parentWidget());
        ASSERT_TRUE(scroll);
        scroll->ensureWidgetVisible(fonts, 0, 0);
        EXPECT_EQ(fonts->visibleRegion().boundingRect(), fonts->rect()) << "the last row scrolls into view";
        EXPECT_LE(sidebar->addFooter()->geometry().bottom(), 384);
    });
}

TEST_F(ConsoleSidebarTest, LinksGearAndFooterOpenWhatTheyName) {
    show();
    onMain([&] {
        auto links = sectionButtons();
        testing::press(links[1]);
        EXPECT_TRUE(model->showConversionsInfo());
        testing::press(links[2]);
        EXPECT_TRUE(model->showLogPanel());
        QTest::mouseClick(sidebar->settingsButton(), Qt::LeftButton);
        EXPECT_TRUE(model->showSettingsPopover());

        model->setFilePickerCategory(FileCategory::image);
        QTest::mouseClick(sidebar->addFooter(), Qt::LeftButton);
        EXPECT_FALSE(model->filePickerCategory().has_value());
        EXPECT_TRUE(model->showFilePicker());

        EXPECT_EQ(sidebar->findChildren<FullScreenTrafficLights*>().size(), 0);
        model->setIsFullScreen(true);
        EXPECT_EQ(sidebar->findChildren<FullScreenTrafficLights*>().size(), 1);
    });
}

TEST_F(ConsoleSidebarTest, BothCardsKeepTheirRoundCornersAtScaleOne) {
    show();
    onMain([&] {
        const auto cards = sidebar->findChildren<ConsoleCard*>();
        ASSERT_EQ(cards.size(), 2);
        for (ConsoleCard* card : cards) {
            QImage image(card->size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            card->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
            const int w = image.width() - 1, h = image.height() - 1;
            for (const QPoint corner : {QPoint(0, 0), QPoint(w, 0), QPoint(0, h), QPoint(w, h)})
                EXPECT_EQ(qAlpha(image.pixel(corner)), 0) << "corner " << corner.x() << "," << corner.y();
            EXPECT_EQ(qAlpha(image.pixel(w / 2, h - 1)), 255);
        }
    });
}

}  // namespace
}  // namespace calvoro
