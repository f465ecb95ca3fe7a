#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>

#include "core/output_name_registry.h"
#include "support/test_support.h"

using calvoro::OutputNameRegistry;
using calvoro::testing::TempDir;

TEST(OutputNameRegistry, CountsUpWithoutWritingAndSkipsExistingPaths) {
    TempDir dir;
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "a", "png").filename(), "a.png");
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "a", "png").filename(), "a (1).png");
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "a", "png").filename(), "a (2).png");
    calvoro::testing::writeFile(dir / "b.txt", "x");
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "b", "txt").filename(), "b (1).txt");
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "pages", "").filename(), "pages");
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "pages", "").filename(), "pages (1)");
}

TEST(OutputNameRegistry, KeysIgnoreCaseAndComposition) {
    TempDir dir;
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "A", "PNG").filename(), "A.PNG");
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "a", "png").filename(), "a (1).png");
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "Caf\u00E9", "txt").filename(), "Caf\u00E9.txt");
    // "e" followed by a combining acute accent is the same name once composed.
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "cafe\u0301", "txt").filename(), "cafe\u0301 (1).txt");
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "\u00C9T\u00C9", "md").filename(), "\u00C9T\u00C9.md");
    EXPECT_EQ(OutputNameRegistry::reserve(dir.path(), "\u00E9t\u00E9", "md").filename(), "\u00E9t\u00E9 (1).md");
}

TEST(OutputNameRegistry, EightThreadsNeverShareAName) {
    TempDir dir;
    std::mutex mutex;
    std::set<std::string> keys;
    int total = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                auto path = OutputNameRegistry::reserve(dir.path(), t % 2 ? "Photo" : "photo", "png");
                std::lock_guard lock(mutex);
                keys.insert(OutputNameRegistry::key(path));
                ++total;
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_EQ(total, 400);
    EXPECT_EQ(keys.size(), 400u);
    EXPECT_TRUE(keys.count(OutputNameRegistry::key(dir / "photo (399).png")));
}
