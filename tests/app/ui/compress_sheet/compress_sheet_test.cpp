#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QTest>

#include "app/ui/compress_sheet/compress_sheet.h"
#include "app/ui/ui_test_support.h"

namespace calvoro {
namespace {

using testing::onMain;
using testing::waitUntil;
using State = CompressSheet::State;
using Tone = CompressSheet::Tone;

CompressionEstimate estimate(CompressionLevel level, int64_t size, std::optional<double> loss, bool isEstimate = false,
                             int64_t original = 1000) {
    CompressionEstimate e;
    e.level = level;
    e.byteSize = size;
    e.qualityLoss = loss;
    e.originalSize = original;
    e.isEstimate = isEstimate;
    return e;
}

class CompressSheetTest : public testing::ViewTest {
protected:
    std::unique_ptr<CompressSheet> makeSheet(const std::filesystem::path& file, SupportedFormat format) {
        ConversionJob job(file, file.filename().string(), 1000, format);
        return std::make_unique<CompressSheet>(*model, job, [this] { ++closed; }, host.get());
    }
    testing::TempDir dir;
    int closed = 0;
};

TEST_F(CompressSheetTest, NothingToGainLeavesCompressDisabledAndOnlyCancelCloses) {
    const auto file = dir / "notes.txt";
    testing::writeFile(file, std::string("plain text"));
    std::unique_ptr<CompressSheet> sheet;
    onMain([&] {
        sheet = makeSheet(file, SupportedFormat::txt);
        EXPECT_EQ(sheet->state(), State::measuring);
        testing::saveSnapshot(sheet.get(), "compress-measuring");
    });
    ASSERT_TRUE(waitUntil([&] { return sheet->state() != State::measuring; }));
    onMain([&] {
        EXPECT_EQ(sheet->state(), State::noGain);
        EXPECT_FALSE(sheet->compressButton()->isEnabled());
        EXPECT_FALSE(sheet->summary());
        QTest::mouseClick(sheet->compressButton(), Qt::LeftButton);
        EXPECT_EQ(closed, 0);
        testing::saveSnapshot(sheet.get(), "compress-no-gain");
        QTest::mouseClick(sheet->cancelButton(), Qt::LeftButton);
        EXPECT_EQ(closed, 1);
        sheet.reset();
    });
    // A file that cannot be measured says why instead.
    const auto junk = dir / "junk.jpg";
    testing::writeFile(junk, std::string(3000, 'j'));
    onMain([&] { sheet = makeSheet(junk, SupportedFormat::jpeg); });
    ASSERT_TRUE(waitUntil([&] { return sheet->state() != State::measuring; }));
    onMain([&] {
        EXPECT_EQ(sheet->state(), State::failed);
        ASSERT_TRUE(sheet->failure());
        EXPECT_TRUE(sheet->failure()->startsWith("Could not read the source file.")) << sheet->failure()->toStdString();
        EXPECT_FALSE(sheet->compressButton()->isEnabled());
        EXPECT_FALSE(sheet->summary());
        testing::saveSnapshot(sheet.get(), "compress-failed");
        sheet.reset();
    });
}

TEST_F(CompressSheetTest, OpensOnBalancedElseTheFirstLevelAndRowsSelect) {
    onMain([&] {
        auto sheet = makeSheet(dir / "photo.png", SupportedFormat::png);
        sheet->applyEstimates({estimate(CompressionLevel::maximum, 800, 0.04), estimate(CompressionLevel::balanced, 500, 2.0),
                               estimate(CompressionLevel::tiny, 100, 8.0)});
        EXPECT_EQ(sheet->state(), State::list);
        EXPECT_EQ(sheet->selected(), CompressionLevel(CompressionLevel::balanced));
        EXPECT_TRUE(sheet->compressButton()->isEnabled());
        EXPECT_EQ(sheet->summary(), QString::fromUtf8("1 KB \u2192 500 bytes"));
        QTest::mouseClick(sheet->row(CompressionLevel::tiny), Qt::LeftButton);
        EXPECT_EQ(sheet->selected(), CompressionLevel(CompressionLevel::tiny));
        testing::saveSnapshot(sheet.get(), "compress-list-dark");

        auto other = makeSheet(dir / "photo.png", SupportedFormat::png);
        other->applyEstimates({estimate(CompressionLevel::small, 300, 3.0), estimate(CompressionLevel::tiny, 100, 9.0)});
        EXPECT_EQ(other->selected(), CompressionLevel(CompressionLevel::small));
    });
}

TEST_F(CompressSheetTest, ChoosingALevelMovesTheHighlightWithItsQuickSpring) {
    std::unique_ptr<CompressSheet> sheet;
    onMain([&] {
        sheet = makeSheet(dir / "photo.png", SupportedFormat::png);
        sheet->applyEstimates({estimate(CompressionLevel::balanced, 500, 2.0), estimate(CompressionLevel::tiny, 100, 8.0)});
        // The first choice is there at once.
        EXPECT_EQ(sheet->selectionProgress(CompressionLevel::balanced), 1.0);
        EXPECT_EQ(sheet->selectionProgress(CompressionLevel::tiny), 0.0);
        sheet->select(CompressionLevel::tiny);
        // The highlight leaves one row and reaches the other; neither jumps.
        EXPECT_LT(sheet->selectionProgress(CompressionLevel::tiny), 1.0);
        EXPECT_GT(sheet->selectionProgress(CompressionLevel::balanced), 0.0);
    });
    EXPECT_TRUE(waitUntil([&] {
        return sheet->selectionProgress(CompressionLevel::tiny) == 1.0 && sheet->selectionProgress(CompressionLevel::balanced) == 0.0;
    }));
    onMain([&] { sheet.reset(); });
}

TEST_F(CompressSheetTest, LevelTextsAndTones) {
    const auto video = estimate(CompressionLevel::high, 400, std::nullopt, true);
    EXPECT_EQ(CompressSheet::sizeText(video), "~400 bytes");
    EXPECT_EQ(CompressSheet::lossText(video), "estimated");
    EXPECT_EQ(CompressSheet::lossTone(video), Tone::quaternary);
    EXPECT_EQ(CompressSheet::lossText(estimate(CompressionLevel::high, 400, std::nullopt)), QString::fromUtf8("\u2014"));
    EXPECT_EQ(CompressSheet::lossText(estimate(CompressionLevel::high, 400, 0.04)), "no visible loss");
    EXPECT_EQ(CompressSheet::lossText(estimate(CompressionLevel::high, 400, 1.34)), "1.3% loss");
    EXPECT_EQ(CompressSheet::lossTone(estimate(CompressionLevel::high, 400, 1.99)), Tone::quaternary);
    EXPECT_EQ(CompressSheet::lossTone(estimate(CompressionLevel::high, 400, 2.0)), Tone::secondary);
    EXPECT_EQ(CompressSheet::lossText(estimate(CompressionLevel::high, 400, 2.0)), "2.0% loss");
    EXPECT_EQ(CompressSheet::lossTone(estimate(CompressionLevel::high, 400, 8.0)), Tone::primary);
    EXPECT_EQ(CompressSheet::savedText(estimate(CompressionLevel::high, 380, 1.0)), QString::fromUtf8("\u221262%"));
    EXPECT_EQ(CompressSheet::savedText(estimate(CompressionLevel::high, 1, 1.0, false, 100000)), QString::fromUtf8("\u221299%"));
    EXPECT_EQ(CompressSheet::savedText(estimate(CompressionLevel::high, 1000, 1.0)), QString::fromUtf8("\u22120%"));
    EXPECT_EQ(CompressSheet::caption(CompressionLevel::tiny), "Smallest usable");
}

TEST_F(CompressSheetTest, PaperAccentInksTheButtonInLightAndPapersItInDark) {
    auto buttonColours = [&](std::pair<QColor, QColor>& out) {
        onMain([&] {
            auto sheet = makeSheet(dir / "photo.png", SupportedFormat::png);
            sheet->applyEstimates({estimate(CompressionLevel::balanced, 500, 1.0)});
            const QImage image = sheet->compressButton()->grab().toImage();
            out.first = image.pixelColor(2, image.height() / 2);
            // Somewhere on the label's strokes: the lightest (dark fill) or darkest (light fill) pixel.
            QColor extreme = out.first;
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, image.height() / 2);
                if (std::abs(c.lightness() - out.first.lightness()) > std::abs(extreme.lightness() - out.first.lightness())) extreme = c;
            }
            out.second = extreme;
            testing::saveSnapshot(sheet.get(), Theme::scheme(sheet.get()) == ColorScheme::dark ? "compress-paper-dark" : "compress-paper-light");
        });
    };
    model->setAccent(AccentChoice::paper);
    std::pair<QColor, QColor> dark, light;
    buttonColours(dark);
    EXPECT_EQ(dark.first, QColor(245, 246, 249));
    EXPECT_LT(dark.second.lightness(), 60) << "dark label on paper";
    setScheme(ColorScheme::light);
    buttonColours(light);
    EXPECT_EQ(light.first, QColor(22, 22, 24));
    EXPECT_GT(light.second.lightness(), 200) << "white label on ink";
}

TEST_F(CompressSheetTest, CompressClosesAtOnce) {
    onMain([&] {
        auto sheet = makeSheet(dir / "photo.png", SupportedFormat::png);
        sheet->applyEstimates({estimate(CompressionLevel::balanced, 500, 1.0)});
        QTest::mouseClick(sheet->compressButton(), Qt::LeftButton);
        EXPECT_EQ(closed, 1);
    });
}

}  // namespace
}  // namespace calvoro
