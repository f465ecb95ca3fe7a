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

TEST(OutputNameRegistry, NamesTooLongForTheFileSystemLoseTheEndOfTheirStemOnly) {
    EXPECT_EQ(OutputNameRegistry::fittedName("photo", " (compressed)", "jpg", 255), "photo (compressed).jpg");
    // Cut between characters, never inside "é", and without the blank the cut leaves.
    EXPECT_EQ(OutputNameRegistry::fittedName("abcé", "", "png", 8), "abc.png");
    EXPECT_EQ(OutputNameRegistry::fittedName("ab cd", " (1)", "png", 11), "ab (1).png");
    EXPECT_EQ(OutputNameRegistry::fittedName("caf\xE9\xE9", "", "txt", 8), "caf\xE9.txt");
    // No room for a stem at all: the whole name is cut.
    EXPECT_EQ(OutputNameRegistry::fittedName("a", "", std::string(20, 'x'), 10), "a." + std::string(8, 'x'));

    TempDir dir;
    ASSERT_EQ(OutputNameRegistry::nameLimit(dir.path()), 255u);
    // 240 bytes ending in two "é": 237 are left for the stem, which would end inside the first.
    const std::string stem = std::string(236, 'a') + "\xC3\xA9\xC3\xA9";
    const auto first = OutputNameRegistry::reserve(dir.path(), stem, "jpeg", " (compressed)");
    EXPECT_EQ(first.filename().string(), std::string(236, 'a') + " (compressed).jpeg");
    calvoro::testing::writeFile(first, "x");
    const auto second = OutputNameRegistry::reserve(dir.path(), stem, "jpeg", " (compressed)");
    EXPECT_EQ(second.filename().string(), std::string(233, 'a') + " (compressed) (1).jpeg");
    calvoro::testing::writeFile(second, "x");
    EXPECT_TRUE(std::filesystem::exists(second));
}
