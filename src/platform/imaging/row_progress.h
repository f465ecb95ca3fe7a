#pragma once

#include <atomic>

namespace calvoro::imaging {

// How many rows of a picture one thread has written, for threads that read the finished rows
// meanwhile. The writer only ever advances it, or fails it once no more rows will come.
class RowProgress {
public:
    // Rows [0, rows) are complete.
    void advance(int rows) {
        done_.store(rows, std::memory_order_release);
        done_.notify_all();
    }
    void fail() {
        done_.store(failed, std::memory_order_release);
        done_.notify_all();
    }
    // Waits until at least `rows` rows are complete and returns how many are; -1 once failed.
    int waitFor(int rows) const {
        for (;;) {
            const int done = done_.load(std::memory_order_acquire);
            if (done == failed || done >= rows) return done;
            done_.wait(done, std::memory_order_acquire);
        }
    }

private:
    static constexpr int failed = -1;
    std::atomic<int> done_{0};
};

}  // namespace calvoro::imaging
