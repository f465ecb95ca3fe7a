#include <gtest/gtest.h>

#include <QFontMetricsF>
#include <QTest>

#include "app/state/screenshot_mode.h"
#include "app/ui/controls/circle_icon_button_style.h"
#include "app/ui/console/accent_button.h"
#include "app/ui/console/card_divider.h"
#include "app/ui/console/console_card.h"
#include "app/ui/console/ghost_icon_pill_button.h"
#include "app/ui/console/ghost_pill_button.h"
#include "app/ui/console/reveal_button.h"
#include "app/ui/theme/theme.h"
#include "platform/qt/main_thread.h"

namespace calvoro {
namespace {

void hover(QWidget* widget, bool inside) {
    if (inside) {
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QCoreApplication::sendEvent(widget, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(widget, &leave);
    }
}

TEST(Buttons, HoverEasesInAndOut) {
    qtmain::runOnMain([] {
        QWidget root;
        Theme::applyAppearance(&root, ColorScheme::dark, AccentChoice::blue);
        auto* pill = new GhostPillButton("Select all", 32, &root);
        auto* circle = new CircleIconButtonStyle("trash", 11, QFont::Medium, 24, "Clear", &root);
        root.show();
        for (HoverButton* button : std::initializer_list<HoverButton*>{pill, circle}) {
            hover(button, true);
            EXPECT_TRUE(button->isHovering());
            QTRY_COMPARE(button->hoverProgress(), 1.0);
            hover(button, false);
            EXPECT_FALSE(button->isHovering());
            QTRY_COMPARE(button->hoverProgress(), 0.0);
        }
        EXPECT_EQ(circle->size(), QSize(24, 24));
        EXPECT_EQ(circle->toolTip(), "Clear");
    });
}

TEST(Buttons, OnlyPillsAndAccentButtonsShrinkWhilePressed) {
    qtmain::runOnMain([] {
        QWidget root;
        auto* pill = new GhostPillButton("Convert", 28, &root);
        auto* iconPill = new GhostIconPillButton("folder", "Downloads", 170, 28, &root);
        auto* reveal = new RevealButton(&root);
        root.show();
        for (HoverButton* button : std::initializer_list<HoverButton*>{pill, iconPill, reveal}) {
            QTest::mousePress(button, Qt::LeftButton);
            EXPECT_TRUE(button->isPressed());
        }
        QTRY_COMPARE(pill->pressProgress(), 1.0);
        EXPECT_EQ(iconPill->pressProgress(), 0.0);
        EXPECT_EQ(reveal->pressProgress(), 0.0);
        // Released outside: the press look ends all the same.
        QTest::mouseRelease(pill, Qt::LeftButton, {}, QPoint(-20, -20));
        EXPECT_FALSE(pill->isPressed());
        QTRY_COMPARE(pill->pressProgress(), 0.0);
        EXPECT_EQ(reveal->toolTip(), "Show converted file in Files");
        EXPECT_EQ(reveal->size(), QSize(28, 28));
    });
}

TEST(Buttons, APillsWidthFollowsItsLabel) {
    qtmain::runOnMain([] {
        GhostPillButton pill("Retry", 28);
        const int narrow = pill.sizeHint().width();
        pill.setLabel("Retry 12 failed");
        EXPECT_GT(pill.sizeHint().width(), narrow);
        pill.setLabel("Retry");
        EXPECT_EQ(pill.sizeHint().width(), narrow);
        pill.setLabel("");
        EXPECT_EQ(pill.sizeHint().width(), 24) << "the padding alone";
    });
}

TEST(Buttons, ScreenshotModeShowsEndStatesAtOnce) {
    qtmain::runOnMain([] {
        ScreenshotMode::active = true;
        GhostPillButton pill("Select all", 32);
        pill.show();
        hover(&pill, true);
        EXPECT_EQ(pill.hoverProgress(), 1.0);
        ScreenshotMode::active = false;
    });
}

TEST(AccentButtonTest, DisabledFadesTheFillButKeepsTheTextColourAndNoShadow) {
    qtmain::runOnMain([] {
        QWidget root;
        Theme::applyAppearance(&root, ColorScheme::dark, AccentChoice::blue);
        auto* button = new AccentButton("Convert all", false, &root);
        root.show();
        const QColor fill = Theme::accentFill(AccentChoice::blue, ColorScheme::dark);
        EXPECT_EQ(button->fillColor(), fill);
        hover(button, true);
        QTRY_COMPARE(button->hoverProgress(), 1.0);
        EXPECT_NEAR(button->fillColor().alphaF(), 0.88, 1e-3);
        EXPECT_NEAR(button->shadowOpacity(), 0.35, 1e-6);
        button->setEnabled(false);
        EXPECT_NEAR(button->fillColor().alphaF(), 0.35, 1e-3);
        EXPECT_EQ(button->shadowOpacity(), 0.0);
        EXPECT_EQ(button->labelColor(), QColor(Qt::white));
        EXPECT_EQ(button->height(), 32);
    });
}

TEST(AccentButtonTest, TextContrastsWithTheAccentAndTheSpinnerTakesRoom) {
    qtmain::runOnMain([] {
        QWidget root;
        Theme::applyAppearance(&root, ColorScheme::dark, AccentChoice::paper);
        auto* button = new AccentButton("Convert selected", true, &root);
        EXPECT_EQ(button->labelColor(), QColor(10, 10, 11));
        Theme::applyAppearance(&root, ColorScheme::light, AccentChoice::paper);
        EXPECT_EQ(button->labelColor(), QColor(Qt::white));
        EXPECT_EQ(button->sizeHint().height(), 30);
        const int idle = button->sizeHint().width();
        button->setBusy(true);
        EXPECT_EQ(button->sizeHint().width(), idle + 12 + 7);
        button->setBusy(false);
        EXPECT_EQ(button->sizeHint().width(), idle);
    });
}

TEST(GhostIconPillButtonTest, LongLabelsAreCutInTheMiddle) {
    qtmain::runOnMain([] {
        GhostIconPillButton shortPill("folder", "Out", 170, 28);
        const QString longName = "A folder with a rather long name that will not fit at all";
        GhostIconPillButton longPill("folder", longName, 170, 28);
        EXPECT_EQ(shortPill.shownLabel(), "Out");
        const QString shown = longPill.shownLabel();
        EXPECT_TRUE(shown.startsWith("A folder"));
        EXPECT_TRUE(shown.endsWith("at all"));
        EXPECT_TRUE(shown.contains(QChar(0x2026)));
        EXPECT_LE(QFontMetricsF(Theme::font(12, QFont::Medium)).horizontalAdvance(shown), 170);
        EXPECT_LT(shortPill.sizeHint().width(), longPill.sizeHint().width());
        EXPECT_EQ(longPill.sizeHint().height(), 28);
    });
}

TEST(CardLook, HairlineIsOneDevicePixelAndOnlyLightCardsCastShadows) {
    EXPECT_EQ(CardDivider::thickness(2), 0.5);
    EXPECT_EQ(CardDivider::thickness(1), 1.0);
    EXPECT_EQ(CardDivider::thickness(0.5), 1.0);
    EXPECT_EQ(CardDivider::color(ColorScheme::dark), QColor::fromRgbF(1, 1, 1, 0.06f));
    EXPECT_EQ(ConsoleCard::shadow(ColorScheme::dark).color.alpha(), 0);
    const Shadow light = ConsoleCard::shadow(ColorScheme::light);
    EXPECT_NEAR(light.color.alphaF(), 0.07, 1e-3);
    EXPECT_EQ(light.offset, QPointF(0, 5));
    EXPECT_EQ(light.radius, 14);
}

}  // namespace
}  // namespace calvoro
