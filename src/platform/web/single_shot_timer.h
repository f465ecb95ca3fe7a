#pragma once

#include <functional>
#include <memory>

namespace calvoro::web {

// Calls fire once on the Qt main thread after the given time, unless cancelled or
// destroyed first. Create, cancel and destroy it on the main thread.
class SingleShotTimer {
public:
    SingleShotTimer(double seconds, std::function<void()> fire);
    ~SingleShotTimer();
    SingleShotTimer(const SingleShotTimer&) = delete;
    SingleShotTimer& operator=(const SingleShotTimer&) = delete;
    void cancel();
    // Not yet fired nor cancelled.
    bool pending() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace calvoro::web
