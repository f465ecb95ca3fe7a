#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QPointer>
#include <QTest>

#include "app/ui/console/console_row.h"
#include "app/ui/console/from_to_pills.h"
#include "app/ui/console/ghost_pill_button.h"
#include "app/ui/console/percent_text.h"
#include "app/ui/console/reveal_button.h"
#include "app/ui/console/row_remove_button.h"
#include "app/ui/console/console_test_support.h"
#include "core/text_util.h"

namespace calvoro {
namespace {

using testing::ConsoleTest;
using testing::menuAction;
using testing::menuTexts;
using testing::onMain;

class ConsoleRowTest : public ConsoleTest {};

TEST_F(ConsoleRowTest, PillMenuListsTheSourcesTargetsAndCompressWhereItCan) {
    onMain([&] {
        auto mp3 = job("song.mp3", SupportedFormat::mp3);
        mp3.targetFormat = SupportedFormat::wav;
        FromToPills pills(*model, mp3, host.get());
        EXPECT_EQ(pills.fromText(), "MP3");
        EXPECT_EQ(pills.targetText(), "WAV");
        std::unique_ptr<QMenu> menu(pills.makeMenu(nullptr));
        EXPECT_EQ(menuTexts(menu.get()), (QStringList{"M4A", "AAC", "ALAC", "WAV", "AIFF", "FLAC", "-", "Compress…"}));
        int checked = 0;
        for (QAction* action : menu->actions()) checked += action->isChecked() ? 1 : 0;
        EXPECT_EQ(checked, 1);
        EXPECT_TRUE(menuAction(menu.get(), "WAV")->isChecked());

        auto svg = job("logo", SupportedFormat::svg);
        svg.targetFormat.reset();
        pills.setJob(svg);
        EXPECT_EQ(pills.fromText(), "") << "no extension, empty segment";
        EXPECT_EQ(pills.targetText(), "Choose");
        menu.reset(pills.makeMenu(nullptr));
        EXPECT_TRUE(menuTexts(menu.get()).isEmpty());
    });
}

TEST_F(ConsoleRowTest, ChoosingATargetReachesTheJobAndCompressOpensTheSheet) {
    const auto csv = file("table.csv");
    const auto wav = file("tone.mp3", "ID3");
    onMain([&] {
        model->addFiles({csv, wav});
        ASSERT_EQ(model->jobs().size(), 2u);
        FromToPills pills(*model, model->jobs()[0], host.get());
        std::unique_ptr<QMenu> menu(pills.makeMenu(nullptr));
        QAction* json = menuAction(menu.get(), "JSON");
        ASSERT_NE(json, nullptr);
        json->trigger();
        EXPECT_EQ(model->jobs()[0].targetFormat, std::optional<SupportedFormat>(SupportedFormat::json));
        EXPECT_EQ(menuAction(menu.get(), "Compress…"), nullptr);

        ConsoleRow row(*model, model->jobs()[1], host.get());
        std::unique_ptr<QMenu> rowMenu(row.makeContextMenu(nullptr));
        QAction* compress = menuAction(rowMenu.get(), "Compress…");
        ASSERT_NE(compress, nullptr);
        compress->trigger();
        ASSERT_TRUE(model->compressingJob());
        EXPECT_EQ(model->compressingJob()->id, model->jobs()[1].id);
    });
}

TEST_F(ConsoleRowTest, ConvertingFreezesThePillAndTheRemoveButton) {
    onMain([&] {
        ConsoleRow row(*model, job("clip.mov", SupportedFormat::mov, ConversionStatus::converting), host.get());
        EXPECT_FALSE(row.pills()->hasMenu());
        EXPECT_EQ(row.pills()->toolTip(), "Converting…");
        EXPECT_FALSE(row.removeButton()->isEnabled());
        row.removeButton()->setShown(true);
        const double dimmed = row.removeButton()->iconColor().alphaF();
        row.setJob(job("clip.mov", SupportedFormat::mov, ConversionStatus::failed));
        row.removeButton()->setShown(true);
        EXPECT_NEAR(dimmed, row.removeButton()->iconColor().alphaF() * RowRemoveButton::disabledOpacity, 0.01)
            << "a disabled remove button is drawn dimmed";
        EXPECT_TRUE(row.pills()->hasMenu()) << "a failed job keeps its menu";
        EXPECT_EQ(row.pills()->toolTip(), "Choose the output format");
        EXPECT_TRUE(row.removeButton()->isEnabled());
    });
}

TEST_F(ConsoleRowTest, RemoveButtonShowsOnlyWhileTheRowIsHoveredButActsOnItsOwnHover) {
    const auto csv = file("table.csv");
    onMain([&] {
        model->addFiles({csv});
        host->show();
        ConsoleRow row(*model, model->jobs()[0], host.get());
        row.resize(720, ConsoleRow::rowHeight);
        row.show();
        EXPECT_EQ(row.removeButton()->iconColor().alpha(), 0);
        testing::hoverWidget(&row, true);
        EXPECT_TRUE(row.removeButton()->isShown());
        testing::hoverWidget(&row, false);
        EXPECT_FALSE(row.removeButton()->isShown());
        QTest::mouseClick(row.removeButton(), Qt::LeftButton);
        EXPECT_TRUE(model->jobs().empty());
    });
}

TEST_F(ConsoleRowTest, ProgressReadsTheTruncatedPercentageWithAStubAtZero) {
    EXPECT_EQ(truncatedPercent(0.29), 29) << "0.29 * 100 lies just below 29 in binary";
    EXPECT_EQ(truncatedPercent(0.57), 57);
    EXPECT_EQ(truncatedPercent(0.999), 99);
    EXPECT_EQ(truncatedPercent(1.0), 100);
    onMain([&] {
        auto converting = job("a.png", SupportedFormat::png, ConversionStatus::converting);
        ConsoleRow row(*model, converting, host.get());
        EXPECT_EQ(row.percentText(), "0%");
        EXPECT_DOUBLE_EQ(row.progressFillWidth(), 4.0);
        converting.progress = 0.999;
        row.setJob(converting);
        EXPECT_EQ(row.percentText(), "99%");
        converting.progress = 1.0;
        row.setJob(converting);
        EXPECT_EQ(row.percentText(), "100%");
        EXPECT_DOUBLE_EQ(row.progressFillWidth(), 90.0);
    });
}

TEST_F(ConsoleRowTest, StatusCellAndDetailLineFollowTheStatus) {
    onMain([&] {
        auto j = job("photo.png", SupportedFormat::png);
        ConsoleRow row(*model, j, host.get());
        EXPECT_FALSE(row.convertButton()->isHidden());
        EXPECT_TRUE(row.retryButton()->isHidden());
        EXPECT_EQ(row.detailText(), QString::fromStdString(formatByteCount(2048)));

        j.status = ConversionStatus::completed;
        row.setJob(j);
        EXPECT_FALSE(row.revealButton()->isHidden());
        EXPECT_TRUE(row.convertButton()->isHidden());
        EXPECT_EQ(row.detailText(), QString::fromStdString(formatByteCount(2048))) << "no output size: the plain size";
        EXPECT_FALSE(row.canDrag()) << "completed without an output file";
        j.outputURL = "/tmp/photo.jpg";
        row.setJob(j);
        EXPECT_TRUE(row.canDrag());

        j.status = ConversionStatus::failed;
        row.setJob(j);
        EXPECT_FALSE(row.canDrag());
        // Retry comes once "Done" has faded out, not over it.
        EXPECT_TRUE(row.retryButton()->isHidden());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !row.retryButton()->isHidden(); }));
        EXPECT_EQ(row.detailText(), "Conversion failed");
        j.errorMessage = "The file is damaged";
        row.setJob(j);
        EXPECT_EQ(row.detailText(), "The file is damaged");
    });
}

TEST_F(ConsoleRowTest, ContextMenuListsRevealsOnlyForWhatExists) {
    onMain([&] {
        auto svg = job("logo.svg", SupportedFormat::svg);
        ConsoleRow row(*model, svg, host.get());
        std::unique_ptr<QMenu> menu(row.makeContextMenu(nullptr));
        EXPECT_EQ(menuTexts(menu.get()), (QStringList{"Show Source in Files", "-", "Set Output Folder for This File…",
                                                      "Duplicate Row", "-", "Remove"}));
        svg.outputURL = "/tmp/logo.png";
        row.setJob(svg);
        menu.reset(row.makeContextMenu(nullptr));
        EXPECT_EQ(menuTexts(menu.get()).mid(0, 3), (QStringList{"Show Source in Files", "Show Converted File", "-"}));
        for (QAction* action : menu->actions())
            EXPECT_EQ(Theme::isDestructive(action), action->text() == "Remove") << action->text().toStdString();
    });
}

// A chooser run inside the menu's own mouse release left the toolkit delivering the next mouse
// event to the menu after it was deleted: the chooser opens once the menu is gone.
TEST_F(ConsoleRowTest, TheRowMenusFolderChooserOpensOnceTheMenuHasGone) {
    const auto csv = file("table.csv");
    QPointer<QMenu> menu;
    int opened = 0;
    bool menuGoneFirst = false;
    onMain([&] {
        model->addFiles({csv});
        model->setFolderPanel([&](const ConversionViewModel::FolderPanelRequest&) {
            ++opened;
            menuGoneFirst = !menu && !QApplication::activePopupWidget();
            return std::optional(dir.path());
        });
        auto* row = new ConsoleRow(*model, model->jobs()[0], host.get());
        row->resize(700, ConsoleRow::rowHeight);
        host->show();
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(300, 20), row->mapToGlobal(QPoint(300, 20)));
        QApplication::sendEvent(row, &click);
        menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu);
        QAction* item = menuAction(menu, QString::fromUtf8("Set Output Folder for This File\u2026"));
        ASSERT_TRUE(item);
        const QPoint at = menu->actionGeometry(item).center();
        QTest::mousePress(menu, Qt::LeftButton, {}, at);
        QTest::mouseRelease(menu, Qt::LeftButton, {}, at);
        EXPECT_EQ(opened, 0) << "not inside the menu's release";
    });
    ASSERT_TRUE(testing::waitUntil([&] { return opened == 1; }));
    onMain([&] {
        EXPECT_TRUE(menuGoneFirst);
        EXPECT_EQ(model->jobs()[0].customOutputDir, dir.path());
    });
}

TEST_F(ConsoleRowTest, SelectionWinsOverHoverAndTheCheckboxToggles) {
    const auto csv = file("table.csv");
    onMain([&] {
        model->addFiles({csv});
        ConsoleRow row(*model, model->jobs()[0], host.get());
        row.show();
        testing::hoverWidget(&row, true);
        QTest::mouseClick(row.checkbox(), Qt::LeftButton);
        EXPECT_TRUE(row.isSelected());
        EXPECT_EQ(row.backgroundColor(), rgbColor(0xFFFFFF, 0.09));
        EXPECT_EQ(row.checkbox()->toolTip(), "Deselect");
        QTest::mouseClick(row.checkbox(), Qt::LeftButton);
        EXPECT_TRUE(model->selection().empty());
    });
}

TEST_F(ConsoleRowTest, ANewValueOfTheSameJobMovesButAnotherJobShowsAtOnce) {
    std::unique_ptr<ConsoleRow> row;
    auto a = job("a.png", SupportedFormat::png, ConversionStatus::converting);
    a.progress = 0.2;
    onMain([&] {
        row = std::make_unique<ConsoleRow>(*model, a, host.get());
        row->show();
        EXPECT_DOUBLE_EQ(row->displayedProgress(), 0.2);
        a.progress = 0.8;
        row->setJob(a);
        EXPECT_DOUBLE_EQ(row->displayedProgress(), 0.2) << "the bar catches up with a spring";
        EXPECT_EQ(row->percentText(), "80%");
        model->toggleSelection(a.id);
        EXPECT_LT(static_cast<RowCheckbox*>(row->checkbox())->selectionProgress(), 1.0);
    });
    ASSERT_TRUE(testing::waitUntil([&] { return row->displayedProgress() == 0.8; }));
    ASSERT_TRUE(testing::waitUntil([&] { return static_cast<RowCheckbox*>(row->checkbox())->selectionProgress() == 1.0; }));
    onMain([&] {
        a.status = ConversionStatus::completed;
        a.progress = 1.0;
        a.outputSize = 1024;
        row->setJob(a);
        EXPECT_EQ(row->statusTransition(), 0.0) << "the status cell fades from converting to done";
        EXPECT_TRUE(row->detailTransition().isRolling());
        EXPECT_EQ(row->detailTransition().text(), row->detailText());
    });
    ASSERT_TRUE(testing::waitUntil([&] { return row->statusTransition() == 1.0 && !row->detailTransition().isRolling(); }));
    onMain([&] {
        // Reused for another job: nothing of the last one moves on.
        a.progress = 0.5;
        a.status = ConversionStatus::converting;
        row->setJob(a);
        auto b = job("b.png", SupportedFormat::png, ConversionStatus::failed);
        b.progress = 0.1;
        row->setJob(b);
        EXPECT_DOUBLE_EQ(row->displayedProgress(), 0.1);
        EXPECT_EQ(row->statusTransition(), 1.0);
        EXPECT_FALSE(row->detailTransition().isRolling());
        EXPECT_EQ(static_cast<RowCheckbox*>(row->checkbox())->selectionProgress(), 0.0);
        // A retried job's bar starts from its new value, not from where the failed run left it.
        b.status = ConversionStatus::pending;
        b.progress = 0;
        row->setJob(b);
        b.status = ConversionStatus::converting;
        b.progress = 0.05;
        row->setJob(b);
        EXPECT_DOUBLE_EQ(row->displayedProgress(), 0.05);
        row.reset();
    });
}

TEST_F(ConsoleRowTest, AFadingRowDrawsItsChildrenAtItsOwnOpacity) {
    onMain([&] {
        host->resize(720, ConsoleRow::rowHeight);
        Theme::applyAppearance(host.get(), ColorScheme::light, AccentChoice::paper);
        ConsoleRow row(*model, job("a.png", SupportedFormat::png), host.get());
        row.resize(720, ConsoleRow::rowHeight);
        host->show();
        // The Convert button's text is dark on white: how dark it reads shows its opacity.
        auto darkest = [&] {
            const QImage image = host->grab(row.convertButton()->geometry()).toImage();
            int least = 255;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x) least = std::min(least, qGray(image.pixel(x, y)));
            return least;
        };
        const int opaque = darkest();
        row.setOpacity(0.3);
        const int faded = darkest();
        EXPECT_GT(faded, opaque + 60) << "the button fades with the row";
        row.setOpacity(1.0);
        EXPECT_EQ(darkest(), opaque);
    });
}

TEST_F(ConsoleRowTest, LongNamesAndFailuresTakeTwoLinesAndTheRowGrowsToHoldThem) {
    onMain([&] {
        const std::string longName = "A very long file name from the holiday trip to the seaside in summer 2024, "
                                     "with every photo of the last evening on the beach.png";
        auto shortJob = job("photo.png", SupportedFormat::png);
        auto longJob = job(longName, SupportedFormat::png);
        EXPECT_EQ(ConsoleRow::heightFor(shortJob, 720), ConsoleRow::rowHeight);
        const int twoLineName = ConsoleRow::heightFor(longJob, 720);
        EXPECT_GT(twoLineName, ConsoleRow::rowHeight);

        ConsoleRow row(*model, longJob, host.get());
        row.resize(720, twoLineName);
        const QStringList name = row.nameLines();
        ASSERT_EQ(name.size(), 2);
        EXPECT_TRUE(name.front().startsWith("A very long")) << name.join('|').toStdString();
        EXPECT_TRUE(name.back().endsWith("beach.png")) << "cut in the middle: " << name.join('|').toStdString();
        EXPECT_TRUE(name.join("").contains(QChar(0x2026)));

        // A failure message takes a second line, cut at its end when even that is not enough.
        longJob.status = ConversionStatus::failed;
        longJob.errorMessage = "Could not read the source file. It may be corrupted or in an unsupported variant. " +
                               std::string(200, 'x');
        const int failed = ConsoleRow::heightFor(longJob, 720);
        EXPECT_GT(failed, twoLineName);
        row.setJob(longJob);
        row.resize(720, failed);
        const QStringList detail = row.detailLines();
        ASSERT_EQ(detail.size(), 2);
        EXPECT_TRUE(detail.front().startsWith("Could not read the source file."));
        EXPECT_TRUE(detail.back().endsWith(QChar(0x2026)));
        // A short failure stays on one line.
        shortJob.status = ConversionStatus::failed;
        shortJob.errorMessage = "The file is damaged";
        EXPECT_EQ(ConsoleRow::heightFor(shortJob, 720), ConsoleRow::rowHeight);
        // A narrower row needs the second line sooner.
        EXPECT_GE(ConsoleRow::heightFor(job("Quarterly report for the board.txt", SupportedFormat::txt), 480),
                  ConsoleRow::heightFor(job("Quarterly report for the board.txt", SupportedFormat::txt), 1200));
    });
}

TEST_F(ConsoleRowTest, ALongNameIsCutInTheMiddleItsBeginningAboveItsEndAtAWord) {
    onMain([&] {
        // The first line holds the beginning, the second an ellipsis and the end: what the two
        // show is the name with one run of characters left out, and the cut starts a word.
        auto check = [&](const std::string& name, int width, bool words) -> QStringList {
            const QString full = QString::fromStdString(name);
            auto j = job(name, SupportedFormat::png);
            ConsoleRow row(*model, j, host.get());
            row.resize(width, ConsoleRow::heightFor(j, width));
            const QStringList lines = row.nameLines();
            const std::string shown = lines.join('|').toStdString();
            if (lines.size() != 2 || !lines[1].startsWith(QChar(0x2026))) {
                ADD_FAILURE() << "two lines, the second after the cut: " << shown;
                return lines;
            }
            EXPECT_FALSE(lines[0].contains(QChar(0x2026))) << shown;
            const QString end = lines[1].mid(1);
            EXPECT_TRUE(full.startsWith(lines[0])) << shown;
            EXPECT_TRUE(full.endsWith(end)) << shown;
            EXPECT_TRUE(end.endsWith(".png")) << shown;
            EXPECT_GT(full.size(), lines[0].size() + end.size()) << "something was left out: " << shown;
            const qsizetype cut = full.size() - end.size();
            if (words) EXPECT_TRUE(full[cut - 1].isSpace()) << "the end starts with a word: " << shown;
            return lines;
        };
        check("Please review this draft of the annual report until it reaches exactly the required length, "
              "then send it on to the whole board before Friday!.png", 720, true);
        check("Please review this draft of the annual report until it reaches exactly the required length!.png", 560, true);
        check(std::string(140, 'x') + ".png", 720, false);
        // A long word after a short one does not leave the first line nearly empty.
        EXPECT_GT(check("Short " + std::string(160, 'y') + ".png", 720, false).value(0).size(), 20);
    });
}

// A row followed frame by frame through a change of status: what each frame shows.
struct Frame {
    double out, in;
    int pillsX, pillsRight, nameLines, lineRoom;
};

TEST_F(ConsoleRowTest, AFinishedRowHandsItsCellOverWithoutOverlapAndMovesThePillsOnceToTheirPlace) {
    std::unique_ptr<ConsoleRow> row;
    std::vector<Frame> frames;
    int startX = 0, endX = 0;
    // A name that needs two lines beside the progress cell and one beside "Done".
    std::string name = "Quarterly figures";
    auto converting = job(name + ".csv", SupportedFormat::csv, ConversionStatus::converting);
    auto done = converting;
    done.status = ConversionStatus::completed;
    onMain([&] {
        while (ConsoleRow::heightFor(converting, 720) == ConsoleRow::rowHeight) {
            name += " x";
            converting = job(name + ".csv", SupportedFormat::csv, ConversionStatus::converting);
        }
        done = converting;
        done.status = ConversionStatus::completed;
        ASSERT_EQ(ConsoleRow::heightFor(done, 720), ConsoleRow::rowHeight) << "one line beside the narrower cell";
        converting.progress = 0.97;
        done.progress = 1;
        host->show();
        // Where the pills end up: a row that shows the finished job from the start.
        ConsoleRow settled(*model, done, host.get());
        settled.resize(720, ConsoleRow::rowHeight);
        settled.show();
        endX = settled.pills()->x();

        row = std::make_unique<ConsoleRow>(*model, converting, host.get());
        row->resize(720, ConsoleRow::heightFor(converting, 720));
        row->show();
        startX = row->pills()->x();
        ASSERT_GT(endX, startX + 20) << "the narrower cell gives the pills room";
        ASSERT_EQ(row->nameLines().size(), 2) << "drawn in two lines while converting";
        // The list hands over the new value, and the row's height for it.
        row->setJob(done);
        row->resize(720, ConsoleRow::heightFor(done, 720));
    });
    auto record = [&] {
        frames.push_back(Frame{row->outgoingCellOpacity(), row->incomingCellOpacity(), row->pills()->x(),
                               row->pills()->geometry().right(), static_cast<int>(row->nameLines().size()),
                               row->height() > ConsoleRow::rowHeight ? 2 : 1});
    };
    onMain(record);
    ASSERT_TRUE(testing::waitUntil([&] {
        record();
        return row->statusTransition() >= 1.0 && row->pills()->x() == endX && row->outgoingCellOpacity() == 0.0;
    }));
    // The progress cell as it was: a 90-point bar, 10 points, a 34-point percentage.
    const int barLeft = 720 - 16 - (90 + 10 + 34);
    int last = startX;
    for (const Frame& f : frames) {
        EXPECT_FALSE(f.out > 0 && f.in > 0) << "the two cells never show together";
        if (f.out > 0) EXPECT_LT(f.pillsRight, barLeft) << "the pills stay clear of the bar while it shows";
        EXPECT_LE(f.nameLines, f.lineRoom) << "the name is never drawn in more lines than the row has room for";
        EXPECT_GE(f.pillsX, last - 1) << "the pills move one way only";
        EXPECT_LE(f.pillsX, endX + 1);
        last = f.pillsX;
    }
    EXPECT_EQ(frames.front().pillsX, startX) << "they start from where they stood, not with a jump";
    onMain([&] {
        EXPECT_EQ(row->pills()->x(), endX);
        EXPECT_EQ(row->removeButton()->x(), 720 - 16 - 92 - 4 - 28);
        row.reset();
    });
}

TEST_F(ConsoleRowTest, OnlyPicturesVideosAndPdfsAskForAThumbnail) {
    onMain([&] {
        for (const auto& [format, wanted] : std::vector<std::pair<SupportedFormat, bool>>{
                 {SupportedFormat::png, true}, {SupportedFormat::mov, true}, {SupportedFormat::pdf, true},
                 {SupportedFormat::mp3, false}, {SupportedFormat::ttf, false}, {SupportedFormat::zip, false},
                 {SupportedFormat::txt, false}}) {
            ConsoleRow row(*model, job("x", format), host.get());
            EXPECT_EQ(row.wantsThumbnail(), wanted) << format.rawValue();
        }
    });
}

}  // namespace
}  // namespace calvoro
