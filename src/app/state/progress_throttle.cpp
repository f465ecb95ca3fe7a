#include "app/state/progress_throttle.h"

#include <chrono>
#include <cmath>

namespace calvoro {

std::shared_ptr<ProgressThrottle> ProgressThrottle::make(Uuid jobID, Sink sink, Clock clock) {
    if (!clock) {
        clock = [] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
        };
    }
    return std::shared_ptr<ProgressThrottle>(new ProgressThrottle(jobID, std::move(sink), std::move(clock)));
}

ProgressThrottle::ProgressThrottle(Uuid jobID, Sink sink, Clock clock)
    : jobID_(jobID), sink_(std::move(sink)), clock_(std::move(clock)) {}

std::function<void(double)> ProgressThrottle::callback() {
    return [self = shared_from_this()](double value) { self->report(value); };
}

void ProgressThrottle::report(double value) {
    const double now = clock_();
    bool passes = false;
    {
        std::lock_guard lock(lock_);
        passes = value >= 1.0 || lastValue_ < 0 ||
                 (std::fabs(value - lastValue_) >= minDelta && now - lastEmit_ >= minInterval);
        if (passes) {
            lastValue_ = value;
            lastEmit_ = now;
        }
    }
    if (passes) sink_(jobID_, value);
}

}  // namespace calvoro
