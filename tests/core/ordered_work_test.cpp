#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <stdexcept>
#include <thread>

#include "core/ordered_work.h"

using calvoro::OrderedWork;

namespace {

// Each block's work takes a different while, so that later blocks often finish first.
std::vector<uint8_t> slowCopy(std::span<const uint8_t> block) {
    std::this_thread::sleep_for(std::chrono::microseconds(block[0] % 7 * 300));
    if (block[0] == 0xEE) throw std::runtime_error("block failed");
    return {block.begin(), block.end()};
}

}  // namespace

TEST(OrderedWork, DeliversInOrderWithinTheBudgetAndRethrowsFailuresInTurn) {
    std::mt19937 rng(4);
    for (int threads : {1, 4}) {
        SCOPED_TRACE(threads);
        std::vector<uint8_t> delivered;
        size_t largest = 0;
        // What the blocks not yet delivered hold (the copies are as large as their inputs): once
        // submit returns, never more than the budget.
        size_t submitted = 0, mostHeld = 0;
        {
            OrderedWork work(threads, 64, slowCopy, [&](std::span<const uint8_t> out) {
                delivered.insert(delivered.end(), out.begin(), out.end());
                largest = std::max(largest, out.size());
            });
            auto submit = [&](std::vector<uint8_t> block) {
                submitted += block.size();
                work.submit(std::move(block));
                mostHeld = std::max(mostHeld, submitted - delivered.size());
            };
            for (int i = 0; i < 200; ++i) submit(std::vector<uint8_t>(1 + rng() % 20, static_cast<uint8_t>(i % 200)));
            // One block over the budget goes through alone.
            submit(std::vector<uint8_t>(500, 201));
            EXPECT_EQ(submitted, delivered.size());
            work.finish();
        }
        EXPECT_LE(mostHeld, 64u);
        ASSERT_EQ(largest, 500u);
        std::vector<uint8_t> firsts;
        for (uint8_t b : delivered)
            if (firsts.empty() || firsts.back() != b) firsts.push_back(b);
        ASSERT_EQ(firsts.size(), 201u);
        for (int i = 0; i < 200; ++i) EXPECT_EQ(firsts[static_cast<size_t>(i)], i);

        // A failed block is reported where it stands, after those before it were delivered.
        delivered.clear();
        OrderedWork failing(threads, 1 << 20, slowCopy, [&](std::span<const uint8_t> out) { delivered.push_back(out[0]); });
        for (uint8_t b : {1, 2, 0xEE, 3}) failing.submit({b});
        EXPECT_THROW(failing.finish(), std::runtime_error);
        EXPECT_EQ(delivered, (std::vector<uint8_t>{1, 2}));
    }
}

TEST(OrderedWork, ACancelledWaitEnds) {
    std::stop_source stop;
    OrderedWork work(
        1, 0, [](std::span<const uint8_t> b) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return std::vector<uint8_t>(b.begin(), b.end());
        },
        [](std::span<const uint8_t>) {}, calvoro::CancellationToken(stop.get_token()));
    stop.request_stop();
    EXPECT_THROW(work.submit({1}), calvoro::CancellationError);
}
