#include <gtest/gtest.h>

#include <QTest>

#include "app/ui/drop_zone/drop_zone_view.h"
#include "app/ui/ui_test_support.h"

namespace calvoro {
namespace {

using testing::onMain;
using testing::waitUntil;

class DropZoneViewTest : public testing::ViewTest {};

TEST_F(DropZoneViewTest, ClickOpensTheOpenPanelForEveryKindOfFile) {
    onMain([&] {
        DropZoneView zone(*model, host.get());
        zone.resize(600, 500);
        model->setFilePickerCategory(FileCategory::image);
        std::optional<std::optional<FileCategory>> categoryWhenShown;
        QObject::connect(model.get(), &ConversionViewModel::showFilePickerChanged, [&] {
            categoryWhenShown = model->filePickerCategory();
        });
        QTest::mouseClick(&zone, Qt::LeftButton, {}, QPoint(20, 20));
        EXPECT_TRUE(model->showFilePicker());
        ASSERT_TRUE(categoryWhenShown);
        EXPECT_FALSE(*categoryWhenShown) << "the category is cleared before the panel opens";
        EXPECT_EQ(zone.accessibleName(), "Drop files here or click to browse");
        testing::saveSnapshot(&zone, "drop-zone-dark");
    });
}

TEST_F(DropZoneViewTest, DragOverChangesTheTitleAndFadesTheFrameInAndOut) {
    setScheme(ColorScheme::light, AccentChoice::blue);
    std::unique_ptr<DropZoneView> zone;
    onMain([&] {
        zone = std::make_unique<DropZoneView>(*model, host.get());
        zone->resize(600, 500);
        EXPECT_EQ(zone->title(), "Drop files to convert");
        zone->setDropTargeted(true);
        EXPECT_EQ(zone->title(), "Release to add your files");
    });
    ASSERT_TRUE(waitUntil([&] { return zone->dropProgress() == 1.0; }));
    onMain([&] {
        const QImage image = zone->grab().toImage();
        // The frame, 6 points in, in the blue made darker by 0.1 (the light scheme's accent fill).
        const QColor frame = image.pixelColor(image.width() / 2, 6);
        EXPECT_GT(frame.blue(), frame.red() + 60);
        testing::saveSnapshot(zone.get(), "drop-zone-targeted-light");
        zone->setDropTargeted(false);
    });
    ASSERT_TRUE(waitUntil([&] { return zone->dropProgress() == 0.0; }));
    onMain([&] { zone.reset(); });
}

}  // namespace
}  // namespace calvoro
