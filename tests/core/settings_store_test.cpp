#include <gtest/gtest.h>

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
