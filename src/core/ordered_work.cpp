#include "core/ordered_work.h"

#include <algorithm>

namespace calvoro {

OrderedWork::OrderedWork(int threads, size_t budget, Work work, Deliver deliverTo, CancellationToken cancellation)
    : budget_(budget), work_(std::move(work)), deliver_(std::move(deliverTo)), cancellation_(std::move(cancellation)) {
    const int n = std::max(threads, 1);
    threads_.reserve(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) threads_.emplace_back([this] { run(); });
}

OrderedWork::~OrderedWork() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    for (auto& t : threads_) t.join();
}

void OrderedWork::run() {
    for (;;) {
        Slot* slot;
        {
            std::unique_lock lock(mutex_);
            queued_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;
            slot = waiting_.front();
            waiting_.pop_front();
        }
        std::vector<uint8_t> output;
        std::exception_ptr error;
        try {
            output = work_(slot->input);
        } catch (...) {
            error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            held_ -= slot->input.capacity();
            std::vector<uint8_t>().swap(slot->input);
            held_ += output.capacity();
            slot->output = std::move(output);
            slot->error = error;
            slot->done = true;
        }
        finished_.notify_all();
    }
}

void OrderedWork::deliver(bool everything) {
    std::unique_lock lock(mutex_);
    while (!slots_.empty()) {
        if (!slots_.front()->done) {
            if (!everything && held_ <= budget_) return;
            Slot* front = slots_.front().get();
            if (!finished_.wait(lock, cancellation_.stopToken(), [front] { return front->done; })) throw CancellationError();
            continue;
        }
        std::unique_ptr<Slot> slot = std::move(slots_.front());
        slots_.pop_front();
        lock.unlock();
        if (slot->error) std::rethrow_exception(slot->error);
        deliver_(slot->output);
        lock.lock();
        held_ -= slot->output.capacity();
    }
}

void OrderedWork::submit(std::vector<uint8_t> block) {
    {
        std::lock_guard lock(mutex_);
        held_ += block.capacity();
        slots_.push_back(std::make_unique<Slot>());
        slots_.back()->input = std::move(block);
        waiting_.push_back(slots_.back().get());
    }
    queued_.notify_one();
    deliver(false);
}

void OrderedWork::finish() { deliver(true); }

}  // namespace calvoro
