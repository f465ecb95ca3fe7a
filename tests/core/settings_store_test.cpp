#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "core/settings_store.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::testing;

TEST(SettingsStore, BackgroundWritesReachTheFileInOrderAndReadsSeeThemAtOnce) {
    TempDir dir;
    {
        SettingsStore store(dir / "settings.json");
        store.writeInBackground();
        for (int i = 0; i <= 200; ++i) {
            store.set("counter", i);
            EXPECT_EQ(store.integerValue("counter"), i);
        }
        store.setData("blob", {1, 2, 3});
        store.remove("missing");
        store.flush();
        SettingsStore reader(dir / "settings.json");
        EXPECT_EQ(reader.integerValue("counter"), 200);
        EXPECT_EQ(reader.dataValue("blob"), (std::vector<uint8_t>{1, 2, 3}));
        store.set("last", "before the end");
    }
    // A store that goes away writes what it still holds.
    SettingsStore reader(dir / "settings.json");
    EXPECT_EQ(reader.stringValue("last"), "before the end");
}

TEST(SettingsStore, IntegersAreTruncatedNumbersThatFitAndNothingElse) {
    TempDir dir;
    SettingsStore store(dir / "settings.json");
    const std::vector<std::pair<SettingsStore::Value, std::optional<int64_t>>> cases{
        {3.9, 3},
        {-3.9, -3},
        {-7, -7},
        {INT64_MAX, INT64_MAX},
        {-9223372036854775808.0, INT64_MIN},
        {9223372036854775808.0, std::nullopt},
        {1e300, std::nullopt},
        {-1e300, std::nullopt},
        {18446744073709551615u, std::nullopt},
        {"12", std::nullopt},
    };
    for (const auto& [stored, expected] : cases) {
        store.set("n", stored);
        EXPECT_EQ(store.integerValue("n"), expected) << stored.dump();
    }
}

TEST(SettingsStore, AnUnreadableFileIsMovedAsideAndTheStoreStartsEmpty) {
    TempDir dir;
    const auto file = dir / "settings.json";
    writeFile(file, std::string("{\"kept\": 1,}"));
    {
        SettingsStore store(file);
        ASSERT_TRUE(store.setAsideFile());
        EXPECT_FALSE(store.value("kept"));
        EXPECT_EQ(readText(*store.setAsideFile()), "{\"kept\": 1,}");
        store.set("new", true);
    }
    SettingsStore again(file);
    EXPECT_FALSE(again.setAsideFile());
    EXPECT_EQ(again.boolValue("new"), true);
    // A file that is no object, or a folder in its place, is not settings either.
    writeFile(file, std::string("[1]"));
    again.reload();
    EXPECT_TRUE(again.setAsideFile());
    // Nor is one nested a million levels deep.
    writeFile(file, "{\"a\":" + std::string(1'000'000, '[') + std::string(1'000'000, ']') + "}");
    again.reload();
    EXPECT_TRUE(again.setAsideFile());
    EXPECT_FALSE(again.value("a"));
    std::filesystem::create_directories(file);
    again.reload();
    ASSERT_TRUE(again.setAsideFile());
    EXPECT_TRUE(std::filesystem::is_directory(*again.setAsideFile()));
    EXPECT_FALSE(std::filesystem::exists(file));
    // A missing file is a first start, not a fault.
    again.reload();
    EXPECT_FALSE(again.setAsideFile());
}

TEST(SettingsStore, PathsThatAreNotUTF8AreSavedAndReadBackByteForByte) {
    TempDir dir;
    const auto file = dir / "settings.json";
    const std::string latin1 = "/media/usb/caf\xE9.png";
    {
        SettingsStore store(file);
        store.writeInBackground();
        store.set("recent", latin1);
        store.set(latin1, SettingsStore::Value::array({latin1, "plain"}));
        store.flush();
    }
    // The file is JSON any reader takes, with no temporary left beside it.
    const auto check = run("python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); print(repr(d[\"recent\"]))' " +
                           shellQuote(file.string()));
    EXPECT_EQ(check.status, 0) << check.output;
    EXPECT_EQ(check.output, "'/media/usb/caf\\udce9.png'\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
    SettingsStore reader(file);
    EXPECT_FALSE(reader.setAsideFile());
    EXPECT_EQ(reader.stringValue("recent"), latin1);
    EXPECT_EQ(reader.value(latin1), SettingsStore::Value::array({latin1, "plain"}));
}
