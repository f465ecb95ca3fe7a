#include "app/ui/theme/spring.h"

#include <QColor>
#include <QPointF>
#include <QRectF>

#include <cmath>
#include <numbers>

#include "app/state/screenshot_mode.h"

namespace calvoro {

double Spring::valueAt(double t) const {
    if (t <= 0) return 0;
    if (response <= 0) return 1;
    const double omega = 2 * std::numbers::pi / response;
    const double zeta = dampingFraction;
    if (zeta >= 1) {
        // Critically damped; heavier damping is treated the same, as the views never ask for it.
        return 1 - std::exp(-omega * t) * (1 + omega * t);
    }
    const double damped = omega * std::sqrt(1 - zeta * zeta);
    return 1 - std::exp(-zeta * omega * t) * (std::cos(damped * t) + zeta * omega / damped * std::sin(damped * t));
}

int Spring::settlingMilliseconds() const {
    if (response <= 0) return 0;
    const double omega = 2 * std::numbers::pi / response;
    const double zeta = std::min(dampingFraction, 1.0);
    // The envelope bounds the motion: e^(-zeta*omega*t) * (1 + omega*t) covers both cases.
    double t = 0;
    while (t < 10 && std::exp(-zeta * omega * t) * (1 + omega * t) > 1e-3) t += 0.005;
    return static_cast<int>(std::ceil(t * 1000));
}

SpringValue::SpringValue(double initial, QObject* parent)
    : QObject(parent), value_(initial), target_(initial) {
    animation_.setEasingCurve(QEasingCurve::Linear);
    animation_.setStartValue(0.0);
    animation_.setEndValue(1.0);
    // Position along the spring, read from the animation's linear clock.
    connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        const double seconds = v.toDouble() * animation_.duration() / 1000.0;
        set(v.toDouble() >= 1.0 ? target_ : from_ + (target_ - from_) * spring_.valueAt(seconds));
    });
}

void SpringValue::animateTo(double target, const Spring& spring) {
    if (target == target_ && (animation_.state() == QAbstractAnimation::Running || value_ == target)) return;
    target_ = target;
    animation_.stop();
    if (ScreenshotMode::active || spring.response <= 0) {
        set(target);
        return;
    }
    from_ = value_;
    spring_ = spring;
    animation_.setDuration(spring.settlingMilliseconds());
    animation_.start();
}

void SpringValue::setImmediately(double value) {
    animation_.stop();
    target_ = value;
    set(value);
}

void SpringValue::set(double value) {
    if (value == value_) return;
    value_ = value;
    emit valueChanged(value);
}

SpringAnimation::SpringAnimation(const Spring& spring, QObject* parent) : QVariantAnimation(parent) {
    setSpring(spring);
}

void SpringAnimation::setSpring(const Spring& spring) {
    spring_ = spring;
    setEasingCurve(QEasingCurve::Linear);
    setDuration(ScreenshotMode::active ? 0 : spring.settlingMilliseconds());
}

QVariant SpringAnimation::interpolated(const QVariant& from, const QVariant& to, qreal progress) const {
    if (progress >= 1.0) return to;
    const double k = spring_.valueAt(progress * duration() / 1000.0);
    auto mix = [k](double a, double b) { return a + (b - a) * k; };
    switch (from.typeId()) {
        case QMetaType::QPointF: {
            const QPointF a = from.toPointF(), b = to.toPointF();
            return QPointF(mix(a.x(), b.x()), mix(a.y(), b.y()));
        }
        case QMetaType::QRectF: {
            const QRectF a = from.toRectF(), b = to.toRectF();
            return QRectF(mix(a.x(), b.x()), mix(a.y(), b.y()), mix(a.width(), b.width()), mix(a.height(), b.height()));
        }
        case QMetaType::QColor: {
            const QColor a = from.value<QColor>(), b = to.value<QColor>();
            return QColor::fromRgbF(mix(a.redF(), b.redF()), mix(a.greenF(), b.greenF()), mix(a.blueF(), b.blueF()),
                                    mix(a.alphaF(), b.alphaF()));
        }
        default: return mix(from.toDouble(), to.toDouble());
    }
}

}  // namespace calvoro
