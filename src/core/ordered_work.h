#pragma once

// Blocks worked on by a few threads and handed back in the order they came, on the thread that
// hands them in: the consumer sees one writer and the same sequence whatever the threads.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "core/cancellation.h"

namespace calvoro {

class OrderedWork {
public:
    using Work = std::function<std::vector<uint8_t>(std::span<const uint8_t>)>;
    using Deliver = std::function<void(std::span<const uint8_t>)>;

    // budget: the bytes that blocks not yet delivered may hold, given and made, counted as the
    // memory their vectors hold (capacity, not size). Once submit returns they hold no more than
    // that; a block larger than the budget still goes through, alone: submit then waits until it
    // was delivered. A cancelled token ends any wait with CancellationError.
    OrderedWork(int threads, size_t budget, Work work, Deliver deliverTo, CancellationToken cancellation = {});
    // Drops what was not delivered; waits only for the blocks being worked on.
    ~OrderedWork();
    OrderedWork(const OrderedWork&) = delete;
    OrderedWork& operator=(const OrderedWork&) = delete;

    // Both from one thread, the one that delivers.
    // Queues a block, then delivers the finished ones at the front, waiting for them while the
    // budget is exceeded. A failure of the work is rethrown here when its block's turn comes.
    void submit(std::vector<uint8_t> block);
    // Delivers every block queued.
    void finish();

private:
    struct Slot {
        std::vector<uint8_t> input;
        std::vector<uint8_t> output;
        std::exception_ptr error;
        bool done = false;
    };
    void run();
    // Hands out finished blocks from the front; waits for the front one while over budget (or always).
    void deliver(bool everything);

    const size_t budget_;
    const Work work_;
    const Deliver deliver_;
    const CancellationToken cancellation_;
    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable_any finished_;
    std::deque<std::unique_ptr<Slot>> slots_;  // in order of submission, until delivered
    std::deque<Slot*> waiting_;                // not yet taken by a worker
    size_t held_ = 0;
    bool stopping_ = false;
    std::vector<std::jthread> threads_;  // last: joined before the slots go
};

}  // namespace calvoro
