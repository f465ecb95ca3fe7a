#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>

#include "app/state/accent_choice.h"
#include "app/state/appearance.h"

namespace calvoro {

// The gradient canvas behind all content: a base gradient, a sheen from above, the accent glow
// when tinted (drifting slowly while the window is active) and a vignette.
class KxCanvasBackground : public QWidget {
    Q_OBJECT
public:
    explicit KxCanvasBackground(QWidget* parent = nullptr);

    void setScheme(ColorScheme scheme);
    void setAccent(AccentChoice accent);
    void setTint(bool tint);
    void setTintStrength(double strength);

    // Animated only when tinted, outside screenshot mode; paused while the window is inactive.
    bool isAnimating() const { return timer_.isActive(); }
    // The glow's centre in unit coordinates for a phase (seconds since 2001-01-01).
    static QPointF glowCentre(double phase);
    // The canvas at a size and phase, as painted.
    QImage render(const QSize& size, double phase) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void updateTimer();
    double phase() const;

    ColorScheme scheme_ = ColorScheme::dark;
    AccentChoice accent_ = AccentChoice::blue;
    bool tint_ = false;
    double tintStrength_ = 0.5;
    QTimer timer_;
};

}  // namespace calvoro
