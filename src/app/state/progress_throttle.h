#pragma once

#include <functional>
#include <memory>
#include <mutex>

#include "core/uuid.h"

namespace calvoro {

// Thins out one conversion's progress reports before they reach the main thread: a value
// passes when it is the first, reaches 1.0, or has moved by 0.02 after at least 1/12 s.
class ProgressThrottle : public std::enable_shared_from_this<ProgressThrottle> {
public:
    using Sink = std::function<void(const Uuid& jobID, double value)>;
    // Seconds of a monotonic clock; tests pass their own.
    using Clock = std::function<double()>;

    static std::shared_ptr<ProgressThrottle> make(Uuid jobID, Sink sink, Clock clock = {});

    // The progress handler for the engine; it keeps the throttle alive. Callable from any thread.
    std::function<void(double)> callback();

    static constexpr double minDelta = 0.02;
    static constexpr double minInterval = 1.0 / 12.0;

private:
    ProgressThrottle(Uuid jobID, Sink sink, Clock clock);
    void report(double value);

    Uuid jobID_;
    Sink sink_;
    Clock clock_;
    std::mutex lock_;
    double lastValue_ = -1.0;
    double lastEmit_ = 0.0;
};

}  // namespace calvoro
