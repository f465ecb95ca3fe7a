#include "platform/web/single_shot_timer.h"

#include <QTimer>

#include <algorithm>
#include <cmath>

namespace calvoro::web {

struct SingleShotTimer::Impl {
    QTimer timer;
};

SingleShotTimer::SingleShotTimer(double seconds, std::function<void()> fire) : impl_(std::make_unique<Impl>()) {
    impl_->timer.setSingleShot(true);
    impl_->timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&impl_->timer, &QTimer::timeout, &impl_->timer, std::move(fire));
    const double ms = std::isfinite(seconds) ? std::clamp(seconds * 1000.0, 0.0, 2.0e9) : 2.0e9;
    impl_->timer.start(static_cast<int>(ms));
}

SingleShotTimer::~SingleShotTimer() = default;

void SingleShotTimer::cancel() { impl_->timer.stop(); }

bool SingleShotTimer::pending() const { return impl_->timer.isActive(); }

}  // namespace calvoro::web
