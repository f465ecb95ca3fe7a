#pragma once

#include <QObject>
#include <QVariantAnimation>

namespace calvoro {

// A spring as the views describe their motion: response (the undamped period, in seconds) and
// damping fraction (1 is critically damped, below 1 overshoots).
struct Spring {
    double response = 0.32;
    double dampingFraction = 1.0;
    double blendDuration = 0.0;

    // Progress from 0 towards 1 after t seconds; may pass 1 when underdamped.
    double valueAt(double t) const;
    // Milliseconds until the motion stays within a thousandth of its end.
    int settlingMilliseconds() const;
};

// One animated number moved by a spring, for hover, press and appearance progress. Jumps without
// animation in screenshot mode.
class SpringValue : public QObject {
    Q_OBJECT
public:
    explicit SpringValue(double initial = 0.0, QObject* parent = nullptr);

    double value() const { return value_; }
    double target() const { return target_; }
    // Starts from the current value, so a change of mind mid-way never jumps.
    void animateTo(double target, const Spring& spring);
    void setImmediately(double value);

signals:
    void valueChanged(double value);

private:
    void set(double value);

    double value_;
    double target_;
    double from_ = 0.0;
    Spring spring_;
    QVariantAnimation animation_;
};

// A QVariantAnimation whose easing is a spring: its duration is the spring's settling time.
class SpringAnimation : public QVariantAnimation {
public:
    explicit SpringAnimation(const Spring& spring, QObject* parent = nullptr);
    void setSpring(const Spring& spring);

protected:
    QVariant interpolated(const QVariant& from, const QVariant& to, qreal progress) const override;

private:
    Spring spring_;
};

}  // namespace calvoro
