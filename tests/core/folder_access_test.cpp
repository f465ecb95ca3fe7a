#include <gtest/gtest.h>

#include <cstdlib>

#include "core/folder_access.h"
#include "core/settings_store.h"
#include "support/test_support.h"

using calvoro::FolderAccess;
using calvoro::SettingsStore;
using calvoro::testing::TempDir;

namespace {

// Each test gets an empty settings file (the store is process-wide, its file set by the environment).
class FolderAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        calvoro::testing::isolateSettings();
        SettingsStore::shared().remove("Calvoro.folderBookmarks");
        FolderAccess::shared().reloadForTesting();
        std::filesystem::create_directories(dir_ / "a" / "x");
        std::filesystem::create_directories(dir_ / "ab" / "c");
    }
    void TearDown() override {
        SettingsStore::shared().remove("Calvoro.folderBookmarks");
        FolderAccess::shared().reloadForTesting();
    }
    TempDir dir_;
};

}  // namespace

TEST_F(FolderAccessTest, AFolderCoversItselfAndBelowButNotASiblingWithALongerName) {
    auto& access = FolderAccess::shared();
    EXPECT_FALSE(access.canWrite(dir_ / "a"));
    ASSERT_TRUE(access.authorize(dir_ / "a"));
    EXPECT_TRUE(access.canWrite(dir_ / "a"));
    EXPECT_TRUE(access.canWrite(dir_ / "a" / "x" / "y.txt"));
    EXPECT_FALSE(access.canWrite(dir_ / "ab" / "c"));
    EXPECT_EQ(access.authorizedRoot(dir_ / "a" / "x"), std::filesystem::canonical(dir_ / "a").parent_path() / "a");
    std::filesystem::create_directory_symlink(dir_ / "a", dir_ / "link");
    EXPECT_TRUE(access.canWrite(dir_ / "link" / "x"));
}

TEST_F(FolderAccessTest, StoredKeyWithTrailingSlashMatchesItsFolder) {
    auto key = (dir_ / "a").string() + "/";
    SettingsStore::Value dict = SettingsStore::Value::object();
    dict[key] = SettingsStore::dataToValue(FolderAccess::makeBookmark(dir_ / "a"));
    SettingsStore::shared().set("Calvoro.folderBookmarks", dict);
    auto& access = FolderAccess::shared();
    access.reloadForTesting();
    EXPECT_TRUE(access.canWrite(dir_ / "a" / "x"));
    bool ran = false;
    auto result = access.withAccess(dir_ / "a" / "x", [&] { return ran = true; });
    EXPECT_TRUE(result && *result && ran);
}

TEST_F(FolderAccessTest, WithAccessRunsOnlyWhenCoveredAndPassesErrorsThrough) {
    auto& access = FolderAccess::shared();
    bool ran = false;
    EXPECT_FALSE(access.withAccess(dir_ / "a", [&] { return ran = true; }));
    EXPECT_FALSE(ran);
    access.authorize(dir_ / "a");
    EXPECT_THROW(access.withAccess(dir_ / "a", []() -> int { throw std::runtime_error("boom"); }), std::runtime_error);
    EXPECT_EQ(access.withAccess(dir_ / "a", [] { return 7; }), 7);
}

TEST_F(FolderAccessTest, StaleBookmarkIsRewrittenAndVanishedFolderForgotten) {
    auto& access = FolderAccess::shared();
    access.authorize(dir_ / "a");
    auto before = SettingsStore::shared().value("Calvoro.folderBookmarks")->dump();
    // Same path, new folder: device and inode differ.
    std::filesystem::rename(dir_ / "a", dir_ / "old");
    std::filesystem::create_directory(dir_ / "a");
    EXPECT_EQ(access.withAccess(dir_ / "a", [] { return 1; }), 1);
    EXPECT_NE(SettingsStore::shared().value("Calvoro.folderBookmarks")->dump(), before);
    EXPECT_EQ(access.authorizedPaths().size(), 1u);
    std::filesystem::remove_all(dir_ / "a");
    EXPECT_FALSE(access.withAccess(dir_ / "a", [] { return 1; }));
    EXPECT_TRUE(access.authorizedPaths().empty());
}

TEST_F(FolderAccessTest, StoredDictionaryWithAWrongValueTypeLoadsAsEmpty) {
    SettingsStore::Value dict = SettingsStore::Value::object();
    dict[(dir_ / "a").string()] = SettingsStore::dataToValue(FolderAccess::makeBookmark(dir_ / "a"));
    dict[(dir_ / "ab").string()] = "not data";
    SettingsStore::shared().set("Calvoro.folderBookmarks", dict);
    FolderAccess::shared().reloadForTesting();
    EXPECT_TRUE(FolderAccess::shared().authorizedPaths().empty());
}

TEST_F(FolderAccessTest, AuthorizedPathsAreSortedAndRevocable) {
    auto& access = FolderAccess::shared();
    access.authorize(dir_ / "ab");
    access.authorize(dir_ / "a");
    auto paths = access.authorizedPaths();
    ASSERT_EQ(paths.size(), 2u);
    EXPECT_LT(paths[0], paths[1]);
    access.revoke(paths[0]);
    EXPECT_EQ(access.authorizedPaths().size(), 1u);
    access.reloadForTesting();
    EXPECT_EQ(access.authorizedPaths().size(), 1u);
}

TEST_F(FolderAccessTest, AFolderWhoseNameIsNotUTF8IsAllowedAndStaysAllowed) {
    const auto folder = dir_ / "caf\xE9";
    std::filesystem::create_directories(folder);
    ASSERT_TRUE(FolderAccess::shared().authorize(folder));
    const auto bookmark = FolderAccess::makeBookmark(folder);
    const auto resolved = FolderAccess::resolveBookmark(bookmark);
    ASSERT_TRUE(resolved);
    EXPECT_EQ(resolved->url, std::filesystem::canonical(folder));
    EXPECT_FALSE(resolved->stale);
    SettingsStore::shared().flush();
    SettingsStore::shared().reload();
    FolderAccess::shared().reloadForTesting();
    EXPECT_TRUE(FolderAccess::shared().canWrite(folder / "out.png"));
}
