#include <gtest/gtest.h>

#include <QDir>
#include <QTest>

#include "app/ui/console/appearance_settings_section.h"
#include "app/ui/console/console_settings_popover.h"
#include "app/ui/console/console_test_support.h"
#include "app/ui/console/conversion_settings_section.h"
#include "app/ui/console/default_target_row.h"
#include "app/ui/console/default_targets_settings_section.h"
#include "app/ui/console/files_settings_section.h"
#include "app/ui/console/settings_controls.h"
#include "app/ui/console/settings_group.h"
#include "app/ui/console/settings_row.h"
#include "core/folder_access.h"
#include "core/settings_store.h"

namespace calvoro {
namespace {

using testing::menuAction;
using testing::menuTexts;
using testing::onMain;

class SettingsPopoverTest : public testing::ConsoleTest {
protected:
    void open() {
        onMain([&] {
            popover = new ConsoleSettingsPopover(*model, [&] { ++conversionsShown; }, host.get());
            popover->resize(popover->sizeHint());
            host->show();
        });
    }
    template <typename Section>
    Section* page(SettingsCategory category) {
        popover->setCategory(category);
        auto* section = qobject_cast<Section*>(popover->page());
        EXPECT_NE(section, nullptr);
        return section;
    }

    ConsoleSettingsPopover* popover = nullptr;
    int conversionsShown = 0;
};

TEST_F(SettingsPopoverTest, OpensOnAppearanceEveryTimeAndKeepsItsContentWithinBounds) {
    open();
    onMain([&] {
        EXPECT_EQ(popover->category(), SettingsCategory::appearance);
        EXPECT_EQ(popover->width(), ConsoleSettingsPopover::cardWidth);
        for (const auto category : allSettingsCategories()) {
            popover->setCategory(category);
            EXPECT_GE(popover->contentAreaHeight(), 150);
            EXPECT_LE(popover->contentAreaHeight(), 340);
            testing::saveSnapshot(popover, QString::fromStdString("settings-" + rawValue(category)));
        }
        delete popover;
        popover = new ConsoleSettingsPopover(*model, {}, host.get());
        EXPECT_EQ(popover->category(), SettingsCategory::appearance);
        EXPECT_EQ(settingsCategoryFromRawValue("Files"), std::optional(SettingsCategory::files));
        EXPECT_FALSE(settingsCategoryFromRawValue("files"));
    });
}

TEST_F(SettingsPopoverTest, FooterAndCloseButtonDriveTheViewModel) {
    open();
    onMain([&] {
        model->setShowSettingsPopover(true);
        EXPECT_EQ(popover->logButton()->text(), "Show log");
        QTest::mouseClick(popover->logButton(), Qt::LeftButton);
        EXPECT_TRUE(model->showLogPanel());
        EXPECT_EQ(popover->logButton()->text(), "Hide log");
        QTest::mouseClick(popover->logButton(), Qt::LeftButton);
        EXPECT_FALSE(model->showLogPanel());
        EXPECT_TRUE(model->showSettingsPopover());
        QTest::mouseClick(popover->conversionsButton(), Qt::LeftButton);
        EXPECT_EQ(conversionsShown, 1);
        QTest::mouseClick(popover->closeButton(), Qt::LeftButton);
        EXPECT_FALSE(model->showSettingsPopover());
    });
}

TEST_F(SettingsPopoverTest, KeysSwitchTheCategoriesAndCloseTheCard) {
    open();
    onMain([&] {
        model->setShowSettingsPopover(true);
        auto* switcher = popover->switcher();
        EXPECT_TRUE(switcher->focusPolicy() & Qt::TabFocus);
        QTest::keyClick(switcher, Qt::Key_Left);
        EXPECT_EQ(popover->category(), SettingsCategory::appearance) << "the first category stays put";
        QTest::keyClick(switcher, Qt::Key_Right);
        EXPECT_EQ(popover->category(), SettingsCategory::conversion);
        for (int i = 0; i < 5; ++i) QTest::keyClick(switcher, Qt::Key_Right);
        EXPECT_EQ(popover->category(), SettingsCategory::files);
        QTest::keyClick(switcher, Qt::Key_Left);
        EXPECT_EQ(popover->category(), SettingsCategory::defaults);
        EXPECT_TRUE(popover->closeButton()->focusPolicy() & Qt::TabFocus);
        QTest::keyClick(popover->closeButton(), Qt::Key_Space);
        EXPECT_FALSE(model->showSettingsPopover());
    });
}

TEST_F(SettingsPopoverTest, AppearanceControlsWriteTheirSettingsAtOnce) {
    open();
    onMain([&] {
        auto* section = page<AppearanceSettingsSection>(SettingsCategory::appearance);
        ASSERT_EQ(section->swatches().size(), 12u);
        EXPECT_EQ(section->accentLabel(), "Paper");
        QTest::mouseClick(section->swatches()[10], Qt::LeftButton);
        EXPECT_EQ(model->accent(), AccentChoice::green);
        EXPECT_EQ(section->accentLabel(), QString::fromStdString(AccentChoice(AccentChoice::green).label()));

        section->applyCustomColor(QColor(0x12, 0x34, 0x56));
        EXPECT_EQ(model->accent(), AccentChoice::custom);

        QTest::mouseClick(section->themeControl(), Qt::LeftButton, {}, QPoint(120, 13));
        EXPECT_EQ(model->appearanceMode(), AppearanceMode::light);

        EXPECT_EQ(section->tintRow()->sub(), "The background stays plain black.");
        QApplication::processEvents();
        const int contentHeight = popover->contentAreaHeight();
        QTest::mouseClick(section->tintSwitch(), Qt::LeftButton);
        EXPECT_TRUE(model->backgroundTint());
        EXPECT_EQ(section->tintRow()->sub(), "A wash of the accent colour behind the cards.");
        QApplication::processEvents();
        EXPECT_EQ(popover->contentAreaHeight(), contentHeight) << "a subtitle of one line either way";

        ConversionViewModel restarted;
        EXPECT_EQ(restarted.accent(), AccentChoice::custom);
        EXPECT_EQ(hexValue(restarted.customAccent()), 0x123456u);
        EXPECT_EQ(restarted.appearanceMode(), AppearanceMode::light);
        EXPECT_TRUE(restarted.backgroundTint());
    });
}

TEST_F(SettingsPopoverTest, ConversionPageShowsAndWritesItsValues) {
    open();
    onMain([&] {
        auto* section = page<ConversionSettingsSection>(SettingsCategory::conversion);
        EXPECT_EQ(section->qualityLabel(), "92%");
        EXPECT_EQ(section->resizePicker()->text(), "Original");
        EXPECT_EQ(section->bitratePicker()->text(), "256 kbps");
        EXPECT_EQ(section->metadataRow()->sub(), "Location, camera, and date details are kept.");

        model->setImageQuality(0.29);
        EXPECT_EQ(section->qualityLabel(), "29%");
        model->setImageQuality(0.999);
        EXPECT_EQ(section->qualityLabel(), "99%");
        // The slider's ends hold at 20 % and 100 %.
        QTest::mouseClick(section->qualitySlider(), Qt::LeftButton, {}, QPoint(0, 8));
        EXPECT_DOUBLE_EQ(model->imageQuality(), 0.2);
        QTest::mouseClick(section->qualitySlider(), Qt::LeftButton, {}, QPoint(119, 8));
        EXPECT_DOUBLE_EQ(model->imageQuality(), 1.0);

        std::unique_ptr<QMenu> menu(section->resizePicker()->makeMenu(nullptr));
        EXPECT_EQ(menuTexts(menu.get()), (QStringList{"Original", "1024 px", "2048 px", "4096 px"}));
        menuAction(menu.get(), "2048 px")->trigger();
        EXPECT_EQ(model->imageMaxEdge(), 2048);
        EXPECT_EQ(section->resizePicker()->text(), "2048 px");

        menu.reset(section->bitratePicker()->makeMenu(nullptr));
        menuAction(menu.get(), "128 kbps")->trigger();
        EXPECT_EQ(model->audioBitrate(), 128000);

        QTest::mouseClick(section->metadataSwitch(), Qt::LeftButton);
        EXPECT_TRUE(model->stripMetadata());
        EXPECT_EQ(section->metadataRow()->sub(), "Location and camera details are removed.");

        ConversionViewModel restarted;
        EXPECT_DOUBLE_EQ(restarted.imageQuality(), 1.0);
        EXPECT_EQ(restarted.imageMaxEdge(), 2048);
        EXPECT_EQ(restarted.audioBitrate(), 128000);
        EXPECT_TRUE(restarted.stripMetadata());
    });
}

TEST_F(SettingsPopoverTest, OpeningThePagesNeverRewritesAValueOutsideTheOptions) {
    onMain([&] {
        model->setImageMaxEdge(3000);
        model->setAudioBitrate(100000);
        model->setImageQuality(0.1);
    });
    open();
    onMain([&] {
        auto* section = page<ConversionSettingsSection>(SettingsCategory::conversion);
        EXPECT_EQ(section->resizePicker()->text(), "3000 px");
        EXPECT_EQ(section->bitratePicker()->text(), "100 kbps");
        std::unique_ptr<QMenu> menu(section->resizePicker()->makeMenu(nullptr));
        for (QAction* action : menu->actions()) EXPECT_FALSE(action->isChecked()) << action->text().toStdString();
        EXPECT_EQ(model->imageMaxEdge(), 3000);
        EXPECT_EQ(model->audioBitrate(), 100000);
        EXPECT_DOUBLE_EQ(model->imageQuality(), 0.1);
        EXPECT_EQ(section->qualityLabel(), "10%");
    });
}

TEST_F(SettingsPopoverTest, DefaultFormatsChooseAutoAndReset) {
    open();
    onMain([&] {
        auto* section = page<DefaultTargetsSettingsSection>(SettingsCategory::defaults);
        ASSERT_EQ(section->rows().size(), 6u);
        QStringList shown;
        for (auto* row : section->rows()) shown << row->shownText();
        EXPECT_EQ(shown, (QStringList{"Auto · JPEG", "Auto · MP4", "Auto · M4A", "Auto · PDF", "Auto · ZIP", "Auto · WOFF2"}));
        EXPECT_TRUE(section->resetButton()->isHidden());
        EXPECT_EQ(section->rows()[0]->toolTip(), "Default format for newly added image files");

        DefaultTargetRow* images = section->rows()[0];
        QApplication::processEvents();
        const QPoint rowsAt = images->mapTo(popover, QPoint(0, 0));
        std::unique_ptr<QMenu> menu(images->picker()->makeMenu(nullptr));
        EXPECT_EQ(menuTexts(menu.get()), (QStringList{"Auto · JPEG", "-", "JPEG", "PNG", "HEIC", "TIFF", "AVIF", "GIF", "PDF (Image)"}));
        menuAction(menu.get(), "TIFF")->trigger();
        EXPECT_EQ(model->defaultTargets().at(FileCategory::image), SupportedFormat::tiff);
        EXPECT_EQ(images->shownText(), "TIFF");
        EXPECT_FALSE(section->resetButton()->isHidden());
        QApplication::processEvents();
        EXPECT_EQ(images->mapTo(popover, QPoint(0, 0)), rowsAt) << "the header keeps its height with Reset shown";

        section->rows()[5]->setSelection(SupportedFormat::woff);
        menu.reset(images->picker()->makeMenu(nullptr));
        menuAction(menu.get(), "Auto · JPEG")->trigger();
        EXPECT_EQ(model->defaultTargets().count(FileCategory::image), 0u);
        EXPECT_EQ(model->defaultTargets().count(FileCategory::font), 1u) << "only that kind's entry goes";
        {
            ConversionViewModel restarted;
            EXPECT_EQ(restarted.defaultTargets().at(FileCategory::font), SupportedFormat::woff);
        }
        QTest::mouseClick(section->resetButton(), Qt::LeftButton);
        EXPECT_TRUE(model->defaultTargets().empty());
        EXPECT_TRUE(section->resetButton()->isHidden());
        EXPECT_EQ(section->rows()[5]->shownText(), "Auto · WOFF2");
    });
}

TEST_F(SettingsPopoverTest, FilesPageShowsTheOutputFolderAndOriginalsSetting) {
    open();
    onMain([&] {
        auto* section = page<FilesSettingsSection>(SettingsCategory::files);
        EXPECT_EQ(section->outputRow()->sub(), "Pick where converted files are saved.");
        EXPECT_TRUE(section->revealButton()->isHidden());
        EXPECT_EQ(section->chooseButton()->text(), "Choose…");
        // Without a panel the choice counts as cancelled: nothing changes.
        QTest::mouseClick(section->chooseButton(), Qt::LeftButton);
        EXPECT_FALSE(model->hasChosenOutputLocation());

        model->setFolderPanel([&](const ConversionViewModel::FolderPanelRequest&) { return std::optional(dir.path()); });
        QTest::mouseClick(section->chooseButton(), Qt::LeftButton);
        EXPECT_TRUE(model->hasChosenOutputLocation());
        EXPECT_EQ(section->outputRow()->sub(), FilesSettingsSection::abbreviatedPath(dir.path().string()));
        EXPECT_EQ(section->chooseButton()->text(), "Change…");
        EXPECT_FALSE(section->revealButton()->isHidden());

        EXPECT_EQ(section->keepRow()->sub(), "Originals are left exactly where they are.");
        QTest::mouseClick(section->keepSwitch(), Qt::LeftButton);
        EXPECT_FALSE(model->keepOriginals());
        EXPECT_EQ(section->keepRow()->sub(), "Originals move to the Trash after a successful conversion.");
        ConversionViewModel restarted;
        EXPECT_FALSE(restarted.keepOriginals());
    });
    EXPECT_EQ(FilesSettingsSection::abbreviatedPath(QDir::homePath().toStdString() + "/Converted"), "~/Converted");
    EXPECT_EQ(FilesSettingsSection::abbreviatedPath("/srv/out"), "/srv/out");
}

TEST_F(SettingsPopoverTest, RemovingAnAuthorisedFolderRevokesItAtOnce) {
    std::filesystem::create_directories(dir / "a");
    std::filesystem::create_directories(dir / "b");
    onMain([&] {
        ASSERT_TRUE(FolderAccess::shared().authorize(dir / "b"));
        ASSERT_TRUE(FolderAccess::shared().authorize(dir / "a"));
    });
    open();
    onMain([&] {
        auto* section = page<FilesSettingsSection>(SettingsCategory::files);
        ASSERT_NE(section->accessGroup(), nullptr);
        auto rows = section->accessGroup()->findChildren<SettingsRow*>();
        ASSERT_EQ(rows.size(), 2);
        EXPECT_EQ(rows[0]->title(), "a") << "sorted by path";
        EXPECT_TRUE(rows[0]->hasDivider());
        EXPECT_FALSE(rows[1]->hasDivider());
        EXPECT_TRUE(FolderAccess::shared().canWrite(dir / "a" / "x.txt"));

        section->removeFolder((dir / "a").string());
        EXPECT_FALSE(FolderAccess::shared().canWrite(dir / "a" / "x.txt")) << "a later conversion asks again";
        rows = section->accessGroup()->findChildren<SettingsRow*>();
        ASSERT_EQ(rows.size(), 1);
        EXPECT_FALSE(rows[0]->hasDivider());
        section->removeFolder((dir / "b").string());
        EXPECT_EQ(section->accessGroup(), nullptr);
    });
}

TEST_F(SettingsPopoverTest, StaticLookAlikesKeepTheirEnds) {
    EXPECT_DOUBLE_EQ(SettingsSlider::knobCentre(0, 120), 7);
    EXPECT_DOUBLE_EQ(SettingsSlider::knobCentre(1, 120), 113);
    EXPECT_DOUBLE_EQ(SettingsSlider::knobCentre(-1, 120), 7);
    EXPECT_DOUBLE_EQ(SettingsSlider::knobCentre(2, 120), 113);
    EXPECT_DOUBLE_EQ(SettingsSlider::knobCentre(0.5, 10), 3) << "narrower than the knob: the upper bound wins";
    EXPECT_EQ(ConversionSettingsSection::bitrateText(256000), "256 kbps");
    EXPECT_EQ(ConversionSettingsSection::edgeText(3000), "3000 px");
}

}  // namespace
}  // namespace calvoro
