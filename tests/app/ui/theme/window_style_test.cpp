#include <gtest/gtest.h>

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QToolTip>
#include <QWidget>

#include <algorithm>

#include "app/ui/theme/theme.h"
#include "app/ui/theme/window_style.h"
#include "platform/qt/main_thread.h"

namespace calvoro {
namespace {

QWidget* shownTip() {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->inherits("QTipLabel") && widget->isVisible()) return widget;
    return nullptr;
}

int lightness(const QImage& picture, int x, int y) { return QColor(picture.pixel(x, y)).lightness(); }

TEST(WindowStyleTest, TooltipsAreSmallCardsInTheAppearanceOfWhatTheyExplain) {
    qtmain::runOnMain([] {
        QApplication::setStyle(new WindowStyle);
        for (ColorScheme scheme : {ColorScheme::dark, ColorScheme::light}) {
            const bool dark = scheme == ColorScheme::dark;
            QWidget host;
            Theme::applyAppearance(&host, scheme, AccentChoice::paper);
            host.resize(300, 200);
            host.show();
            QToolTip::showText(host.mapToGlobal(QPoint(20, 20)), QStringLiteral("Close log panel (Ctrl+L)"), &host);
            QPointer<QWidget> tip = shownTip();
            ASSERT_TRUE(tip);
            EXPECT_EQ(tip->font().pointSizeF(), Theme::font(11.5).pointSizeF());
            const QImage picture = tip->grab().toImage().convertToFormat(QImage::Format_RGB32);
            const int w = picture.width(), h = picture.height();
            // The card's fill beside the text, and a faint outline rather than one in the text colour.
            const int fill = lightness(picture, 3, h / 2), edge = lightness(picture, w / 2, 0);
            if (dark) {
                EXPECT_NEAR(fill, 37, 3);
                EXPECT_LT(edge, 90);
            } else {
                EXPECT_GT(fill, 250);
                EXPECT_GT(edge, 200);
            }
            // Text that reads on it.
            int darkest = 255, lightest = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) darkest = std::min(darkest, lightness(picture, x, y)), lightest = std::max(lightest, lightness(picture, x, y));
            if (dark) EXPECT_GT(lightest, 180);
            else EXPECT_LT(darkest, 90);
            // Rounded corners.
            EXPECT_FALSE(tip->mask().isEmpty());
            EXPECT_FALSE(tip->mask().contains(QPoint(0, 0)));
            EXPECT_TRUE(tip->mask().contains(QPoint(w / 2, h / 2)));

            QToolTip::hideText();
            for (int i = 0; i < 100 && tip; ++i) QTest::qWait(20);
            EXPECT_FALSE(tip);
        }
        QApplication::setStyle(QStringLiteral("Fusion"));
    });
}

}  // namespace
}  // namespace calvoro
