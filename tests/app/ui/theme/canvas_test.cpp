#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "app/state/screenshot_mode.h"
#include "app/ui/theme/kx_canvas_background.h"
#include "app/ui/theme/theme.h"
#include "platform/qt/main_thread.h"

namespace calvoro {
namespace {

TEST(Canvas, AnimatesOnlyWhenTintedActiveAndNotInScreenshotMode) {
    qtmain::runOnMain([] {
        KxCanvasBackground canvas;
        canvas.resize(400, 300);
        canvas.show();
        canvas.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&canvas));
        EXPECT_FALSE(canvas.isAnimating());
        canvas.setTint(true);
        EXPECT_TRUE(canvas.isAnimating());
        canvas.hide();
        EXPECT_FALSE(canvas.isAnimating());
        ScreenshotMode::active = true;
        canvas.show();
        canvas.setTint(true);
        EXPECT_FALSE(canvas.isAnimating());
        ScreenshotMode::active = false;
    });
}

TEST(Canvas, GlowStandsAtItsRestingPlaceAtPhaseZeroAndOnlyWhenTinted) {
    EXPECT_EQ(KxCanvasBackground::glowCentre(0), QPointF(0.5, 0.20));
    qtmain::runOnMain([] {
        KxCanvasBackground canvas;
        canvas.setScheme(ColorScheme::dark);
        canvas.setAccent(AccentChoice::red);
        const QSize size(200, 200);
        const QImage plain = canvas.render(size, 0);
        canvas.setTint(true);
        canvas.setTintStrength(0);
        const QImage tinted = canvas.render(size, 0);
        // A strength of 0 still leaves a faint red glow around (0.5, 0.2).
        const QColor before = plain.pixelColor(100, 40), after = tinted.pixelColor(100, 40);
        EXPECT_GT(after.red(), before.red());
        EXPECT_GE(after.red() - after.blue(), 2);
        // The corners stay dark under the vignette.
        EXPECT_LT(tinted.pixelColor(199, 199).value(), 10);
    });
}

}  // namespace
}  // namespace calvoro
