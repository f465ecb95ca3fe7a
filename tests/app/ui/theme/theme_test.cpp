#include <gtest/gtest.h>

#include <QColor>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QPainter>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <string_view>

#include "app/state/accent_choice.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/theme/spring.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/tabular_text.h"
#include "app/ui/theme/theme.h"
#include "platform/qt/main_thread.h"

namespace calvoro {
namespace {

TEST(AccentChoiceTest, RawValuesAreExactAndPresetsLeaveOutCustom) {
    EXPECT_EQ(AccentChoice::fromRawValue("blue"), AccentChoice(AccentChoice::blue));
    EXPECT_EQ(AccentChoice::fromRawValue("custom"), AccentChoice(AccentChoice::custom));
    EXPECT_FALSE(AccentChoice::fromRawValue("Blue"));
    EXPECT_FALSE(AccentChoice::fromRawValue(""));
    EXPECT_EQ(AccentChoice::presets().size(), 12u);
    for (auto preset : AccentChoice::presets()) EXPECT_NE(preset, AccentChoice::custom);
    EXPECT_EQ(AccentChoice(AccentChoice::teal).label(), "Teal");
    EXPECT_EQ(AccentChoice(AccentChoice::custom).id(), "custom");
}

TEST(AccentChoiceTest, CustomFollowsCustomHex) {
    EXPECT_EQ(AccentChoice(AccentChoice::custom).baseColor(), AccentChoice(AccentChoice::blue).baseColor());
    AccentChoice::customHex = 0x123456;
    EXPECT_EQ(AccentChoice(AccentChoice::custom).baseColor(), QColor(0x12, 0x34, 0x56));
    AccentChoice::customHex = 0x4C9AFF;
}

TEST(ThemeColours, AccentFillDarkensInLightAndInksPaper) {
    EXPECT_EQ(Theme::accentFill(AccentChoice::paper, ColorScheme::light), QColor(22, 22, 24));
    EXPECT_EQ(Theme::accentFill(AccentChoice::paper, ColorScheme::dark), QColor(245, 246, 249));
    EXPECT_EQ(Theme::accentFill(AccentChoice::blue, ColorScheme::dark), QColor(76, 154, 255));
    const QColor light = Theme::accentFill(AccentChoice::blue, ColorScheme::light);
    EXPECT_NEAR(light.redF(), 76 / 255.0 - 0.1, 1e-4);
    EXPECT_NEAR(light.greenF(), 154 / 255.0 - 0.1, 1e-4);
    EXPECT_NEAR(light.blueF(), 0.9, 1e-4);
}

TEST(ThemeColours, DarkerFloorsAtZeroAndKeepsOpacity) {
    const QColor dim = darker(QColor::fromRgbF(0.05f, 0.5f, 1.0f, 0.4f), 0.1);
    EXPECT_EQ(dim.redF(), 0.0f);
    EXPECT_NEAR(dim.greenF(), 0.4, 1e-4);
    EXPECT_NEAR(dim.blueF(), 0.9, 1e-4);
    EXPECT_NEAR(dim.alphaF(), 0.4, 1e-4);
}

TEST(ThemeColours, HexValueAndLuminance) {
    EXPECT_EQ(hexValue(Qt::white), 0xFFFFFFu);
    EXPECT_EQ(hexValue(Qt::black), 0u);
    EXPECT_EQ(hexValue(QColor()), 0u);
    EXPECT_EQ(hexValue(QColor(76, 154, 255, 10)), 0x4C9AFFu);
    EXPECT_EQ(hexValue(QColor::fromCmykF(0, 0, 0, 0)), 0xFFFFFFu);
    EXPECT_DOUBLE_EQ(relativeLuminance(Qt::white), 1.0);
    EXPECT_DOUBLE_EQ(relativeLuminance(Qt::black), 0.0);
    EXPECT_DOUBLE_EQ(relativeLuminance(QColor()), 0.0);
    // Text on a fill: white up to 0.45 included.
    EXPECT_EQ(Theme::contrastOn(QColor(76, 154, 255)), QColor(Qt::white));
    EXPECT_EQ(Theme::contrastOn(QColor(245, 246, 249)), QColor(10, 10, 11));
}

TEST(ThemeColours, ErrorTextReadsOnTheCardInBothSchemes) {
    // The card is near black in dark and white in light; the failure text must stand off both.
    EXPECT_EQ(Theme::errorText(ColorScheme::dark), Theme::error());
    EXPECT_GT(relativeLuminance(Theme::errorText(ColorScheme::dark)), 0.8);
    EXPECT_LT(relativeLuminance(Theme::errorText(ColorScheme::light)), 0.1);
}

TEST(ThemeColours, SchemeTravelsInThePalette) {
    qtmain::runOnMain([] {
        QWidget root;
        QWidget child(&root);
        Theme::applyAppearance(&root, ColorScheme::light, AccentChoice::green);
        EXPECT_EQ(Theme::scheme(&child), ColorScheme::light);
        EXPECT_EQ(Theme::accentFill(&child), Theme::accentFill(AccentChoice::green, ColorScheme::light));
        Theme::applyAppearance(&root, ColorScheme::dark, AccentChoice::paper);
        EXPECT_EQ(Theme::scheme(&child), ColorScheme::dark);
        EXPECT_EQ(Theme::accentFill(&child), QColor(245, 246, 249));
    });
}

TEST(SpringTest, SettlesAtItsEndAndOvershootsOnlyWhenUnderdamped) {
    for (const Spring& spring : {Theme::smooth, Theme::snappy, Theme::hover, Theme::springAnimation}) {
        EXPECT_EQ(spring.valueAt(0), 0.0);
        EXPECT_NEAR(spring.valueAt(spring.settlingMilliseconds() / 1000.0), 1.0, 2e-3);
        EXPECT_GT(spring.settlingMilliseconds(), 0);
    }
    double peak = 0;
    for (double t = 0; t < 1; t += 0.005) peak = std::max(peak, Theme::snappy.valueAt(t));
    EXPECT_GT(peak, 1.0);
    for (double t = 0; t < 1; t += 0.005) EXPECT_LE(Theme::smooth.valueAt(t), 1.0);
}

TEST(SpringTest, AChangeOfMindStartsFromWhereTheValueIs) {
    qtmain::runOnMain([] {
        SpringValue value;
        value.animateTo(1.0, Theme::smooth);
        QTRY_VERIFY(value.value() > 0.3);
        const double reached = value.value();
        value.animateTo(0.0, Theme::smooth);
        EXPECT_EQ(value.value(), reached);
        EXPECT_EQ(value.target(), 0.0);
        QTRY_COMPARE(value.value(), 0.0);

        SpringAnimation animation(Theme::snappy);
        animation.setStartValue(QPointF(0, 0));
        animation.setEndValue(QPointF(10, 20));
        animation.setCurrentTime(animation.duration());
        EXPECT_EQ(animation.currentValue().toPointF(), QPointF(10, 20));
        ScreenshotMode::active = true;
        animation.setSpring(Theme::smooth);
        EXPECT_EQ(animation.duration(), 0);
        ScreenshotMode::active = false;
    });
}

// Every symbol the views name, as they name it.
constexpr std::string_view viewSymbols[] = {
    "photo", "film", "waveform", "doc.text", "archivebox", "textformat", "questionmark.folder",
    "arrow.down.doc.fill", "arrow.down.doc", "xmark", "minus", "arrow.down.right.and.arrow.up.left",
    "magnifyingglass", "xmark.circle.fill", "text.alignleft", "doc.text.magnifyingglass", "doc.on.doc", "trash",
    "checkmark", "exclamationmark.triangle.fill", "chevron.down", "chevron.right", "chevron.up.chevron.down",
    "folder", "gearshape", "arrow.left.arrow.right", "internaldrive", "square.grid.2x2", "list.bullet.rectangle",
    "arrow.counterclockwise", "plus", "slider.horizontal.3", "paintbrush", "wand.and.stars", "arrow.up.forward.app",
    "checkmark.seal", "largecircle.fill.circle", "circle",
};

TEST(SymbolsTest, EveryNameTheViewsUseHasAGlyph) {
    qtmain::runOnMain([] {
        for (std::string_view name : viewSymbols) {
            EXPECT_TRUE(Symbols::codepoint(name)) << name;
            EXPECT_TRUE(Symbols::hasGlyph(name)) << name;
        }
        EXPECT_FALSE(Symbols::codepoint("sparkles"));
        EXPECT_FALSE(Symbols::hasGlyph("sparkles"));
    });
}

TEST(ThemeFonts, NumbersUseTheWindowsFontWithDigitsOfOneWidth) {
    qtmain::runOnMain([] {
        const QFont font = Theme::font(11.5);
        EXPECT_EQ(QFontInfo(font).family(), QFontInfo(Theme::font(13)).family()) << "never another family for numbers";
        // Inter's digits differ in width; in cells each takes the widest's.
        const QFontMetricsF metrics(font);
        EXPECT_LT(metrics.horizontalAdvance(QStringLiteral("1111")), metrics.horizontalAdvance(QStringLiteral("0000")));
        const double cell = TabularText::digitCell(font);
        EXPECT_DOUBLE_EQ(TabularText::width(font, QStringLiteral("1111")), 4 * cell);
        EXPECT_DOUBLE_EQ(TabularText::width(font, QStringLiteral("1.5 MB")), TabularText::width(font, QStringLiteral("8.0 MB")));
        EXPECT_DOUBLE_EQ(TabularText::width(font, QStringLiteral(" MB")), metrics.horizontalAdvance(QStringLiteral(" MB")));
        const QString cut = TabularText::elided(font, QStringLiteral("12,345 files converted"), 4 * cell);
        EXPECT_TRUE(cut.endsWith(QChar(0x2026)));
        EXPECT_LE(TabularText::width(font, cut), 4 * cell);
        // A "1" drawn in its cell stands in the middle of it, where an "8" stands.
        QImage one(64, 32, QImage::Format_ARGB32), eight(64, 32, QImage::Format_ARGB32);
        auto draw = [&](QImage& image, const QString& text) {
            image.fill(Qt::white);
            QPainter painter(&image);
            painter.setFont(Theme::font(20));
            painter.setPen(Qt::black);
            TabularText::draw(painter, QRectF(0, 0, 64, 32), Qt::AlignLeft | Qt::AlignVCenter, text);
        };
        auto inkCentre = [](const QImage& image) {
            double sum = 0, count = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    if (qGray(image.pixel(x, y)) < 128) sum += x, ++count;
            return sum / std::max(1.0, count);
        };
        draw(one, QStringLiteral("1"));
        draw(eight, QStringLiteral("8"));
        EXPECT_NEAR(inkCentre(one), inkCentre(eight), 1.5);
    });
}

TEST(ThemeFonts, TheLogsMonospaceIsDejaVuSansMonoNamedExactly) {
    qtmain::runOnMain([] {
        const QFont mono = Theme::monospaceFont(11);
        EXPECT_EQ(mono.family(), "DejaVu Sans Mono");
        EXPECT_EQ(QFontInfo(mono).family(), "DejaVu Sans Mono");
        EXPECT_TRUE(QFontInfo(mono).fixedPitch());
        EXPECT_EQ(QFontInfo(Theme::monospaceFont(11, QFont::Bold)).family(), "DejaVu Sans Mono");
    });
}

}  // namespace
}  // namespace calvoro
