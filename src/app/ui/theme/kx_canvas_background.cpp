#include "app/ui/theme/kx_canvas_background.h"

#include <QDateTime>
#include <QEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>

#include "app/state/screenshot_mode.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

// The gradients vary slowly, so they are drawn at a quarter of the size and scaled up: a frame
// then costs little even on a large window.
constexpr int downscale = 4;

QColor clearOf(const QColor& color) {
    QColor clear = color;
    clear.setAlpha(0);
    return clear;
}

void radial(QPainter& painter, const QRectF& area, QPointF unitCentre, double startRadius, double endRadius,
            const QColor& inner, const QColor& outer) {
    const QPointF centre(area.left() + unitCentre.x() * area.width(), area.top() + unitCentre.y() * area.height());
    QRadialGradient gradient(centre, endRadius);
    const double start = endRadius > 0 ? startRadius / endRadius : 0;
    gradient.setColorAt(0, inner);
    gradient.setColorAt(start, inner);
    gradient.setColorAt(1, outer);
    painter.fillRect(area, gradient);
}

}  // namespace

KxCanvasBackground::KxCanvasBackground(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    timer_.setInterval(50);
    connect(&timer_, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void KxCanvasBackground::setScheme(ColorScheme scheme) {
    scheme_ = scheme;
    update();
}

void KxCanvasBackground::setAccent(AccentChoice accent) {
    accent_ = accent;
    update();
}

void KxCanvasBackground::setTint(bool tint) {
    tint_ = tint;
    updateTimer();
    update();
}

void KxCanvasBackground::setTintStrength(double strength) {
    tintStrength_ = strength;
    update();
}

QPointF KxCanvasBackground::glowCentre(double phase) {
    return {0.5 + 0.05 * std::sin(phase / 11), 0.16 + 0.04 * std::cos(phase / 15)};
}

double KxCanvasBackground::phase() const {
    // Read from the clock, so that after a pause the glow stands where the time puts it.
    if (!tint_ || ScreenshotMode::active) return 0;
    static const QDateTime reference(QDate(2001, 1, 1), QTime(0, 0), Qt::UTC);
    return reference.msecsTo(QDateTime::currentDateTimeUtc()) / 1000.0;
}

QImage KxCanvasBackground::render(const QSize& size, double phase) const {
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(QPointF(0, 0), QSizeF(size));
    const double side = std::max(area.width(), area.height());
    const bool dark = scheme_ == ColorScheme::dark;

    QLinearGradient base(area.topLeft(), area.bottomRight());
    if (dark) {
        base.setStops({{0, QColor(5, 5, 5)}, {0.28, QColor(3, 3, 3)}, {0.55, QColor(5, 5, 5)}, {0.80, QColor(2, 2, 2)}, {1.0, QColor(0, 0, 0)}});
    } else {
        base.setStops({{0, QColor(252, 252, 253)}, {0.30, QColor(244, 245, 247)}, {0.58, QColor(237, 238, 241)},
                       {0.82, QColor(230, 231, 234)}, {1.0, QColor(225, 226, 230)}});
    }
    painter.fillRect(area, base);

    const QColor sheen = rgbColor(0xFFFFFF, dark ? 0.055 : 0.55);
    radial(painter, area, {0.5, -0.08}, 0, side * 0.95, sheen, clearOf(sheen));

    if (tint_) {
        const double opacity = (tintStrength_ * 0.1 + 0.03) * (dark ? 1.0 : 0.5);
        QColor glow = accent_.baseColor();
        glow.setAlphaF(static_cast<float>(opacity));
        radial(painter, area, glowCentre(phase), 0, side * 0.8, glow, clearOf(glow));
    }

    const QColor vignette = rgbColor(0x000000, dark ? 0.34 : 0.06);
    radial(painter, area, {0.5, 0.5}, side * 0.3, side * 0.92, clearOf(vignette), vignette);
    return image;
}

void KxCanvasBackground::paintEvent(QPaintEvent*) {
    const QSize small((width() + downscale - 1) / downscale, (height() + downscale - 1) / downscale);
    // Drawn at the small size with the geometry of the full one, then scaled up smoothly.
    QImage image = render(small, phase());
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(rect(), image);
}

void KxCanvasBackground::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange) updateTimer();
    QWidget::changeEvent(event);
}

void KxCanvasBackground::showEvent(QShowEvent* event) {
    updateTimer();
    QWidget::showEvent(event);
}

void KxCanvasBackground::hideEvent(QHideEvent* event) {
    updateTimer();
    QWidget::hideEvent(event);
}

void KxCanvasBackground::updateTimer() {
    const bool animate = tint_ && !ScreenshotMode::active && isVisible() && isActiveWindow();
    if (animate == timer_.isActive()) return;
    if (animate) {
        timer_.start();
    } else {
        timer_.stop();
    }
    update();
}

}  // namespace calvoro
