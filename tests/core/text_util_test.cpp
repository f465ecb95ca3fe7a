#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>

#include "core/settings_store.h"
#include "core/text_util.h"
#include "core/uuid.h"
#include "support/test_support.h"

using namespace calvoro;

TEST(ByteCount, FileStyle) {
    EXPECT_EQ(formatByteCount(0), "Zero KB");
    EXPECT_EQ(formatByteCount(1), "1 byte");
    EXPECT_EQ(formatByteCount(999), "999 bytes");
    EXPECT_EQ(formatByteCount(1000), "1 KB");
    EXPECT_EQ(formatByteCount(12345), "12 KB");
    EXPECT_EQ(formatByteCount(999999), "1 MB");
    EXPECT_EQ(formatByteCount(1500000), "1.5 MB");
    EXPECT_EQ(formatByteCount(1234567), "1.2 MB");
    EXPECT_EQ(formatByteCount(2147483648LL), "2.15 GB");
    EXPECT_EQ(formatByteCount(5000000000000LL), "5 TB");
}

TEST(ByteCount, SizesThatDifferNeverReadTheSame) {
    using Texts = std::pair<std::string, std::string>;
    EXPECT_EQ(formatDistinctByteCounts(84000000, 67108864), Texts("84 MB", "67.1 MB"));
    EXPECT_EQ(formatDistinctByteCounts(67108870, 67108864), Texts("67,108,870 bytes", "67,108,864 bytes"));
    EXPECT_EQ(formatDistinctByteCounts(1001, 1000), Texts("1,001 bytes", "1,000 bytes"));
    EXPECT_EQ(formatDistinctByteCounts(1000, 1000), Texts("1 KB", "1 KB"));
}

TEST(Numbers, ShortestRoundTripAndCLocale) {
    EXPECT_EQ(formatShortestDouble(10), "10.0");
    EXPECT_EQ(formatShortestDouble(100), "100.0");
    EXPECT_EQ(formatShortestDouble(0.1), "0.1");
    EXPECT_EQ(formatShortestDouble(1e-7), "1e-07");
    EXPECT_EQ(formatShortestDouble(1.5e-5), "1.5e-05");
    EXPECT_EQ(formatShortestDouble(1e16), "1e+16");
    EXPECT_EQ(formatShortestDouble(0.0001), "0.0001");
    EXPECT_EQ(formatShortestDouble(-2.5), "-2.5");
    EXPECT_EQ(formatShortestDouble(1234567890123456.0), "1234567890123456.0");
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") || std::setlocale(LC_ALL, "fr_FR.UTF-8")) {
        EXPECT_EQ(formatFixed(1.25, 1), "1.2");
        EXPECT_EQ(formatC("%.1fs", 2.0), "2.0s");
        std::setlocale(LC_ALL, "C");
    }
    EXPECT_EQ(formatFixed(3.14159, 2), "3.14");
}

TEST(Unicode, LowercasingAndNormalisation) {
    EXPECT_EQ(unicodeLowercased("\u00C9T\u00C9"), "\u00E9t\u00E9");
    EXPECT_EQ(unicodeLowercased("\u0130"), "i\u0307");  // full mapping, not one code point
    EXPECT_EQ(unicodeNFC("e\u0301"), "\u00E9");
    EXPECT_EQ(unicodeCaseFolded("Stra\u00DFe"), "strasse");
    std::string invalid = "a\xff";
    EXPECT_EQ(unicodeNFC(invalid), invalid);
}

TEST(Paths, ExtensionsAndTilde) {
    EXPECT_EQ(pathExtension("/x/a.tar.gz"), "gz");
    EXPECT_EQ(pathExtension("/x/.gz"), "gz");
    EXPECT_EQ(pathExtension("/x/a."), "");
    EXPECT_EQ(pathExtension("/x.d/noext"), "");
    EXPECT_EQ(deletingPathExtension("a.tar.gz"), "a.tar");
    EXPECT_EQ(deletingPathExtension(".gz"), ".gz");
    EXPECT_EQ(deletingPathExtension("a."), "a");
    EXPECT_EQ(deletingPathExtension("a.b.c"), "a.b");
    EXPECT_EQ(lastPathComponent("/x/y/"), "y");
    setenv("HOME", "/home/u", 1);
    EXPECT_EQ(expandTilde("~/docs"), "/home/u/docs");
    EXPECT_EQ(expandTilde("~"), "/home/u");
    EXPECT_EQ(expandTilde("~other/x"), "~other/x");
}

TEST(Text, ReplacingOccurrencesDoesNotRescanInsertions) {
    EXPECT_EQ(replacingOccurrences("a\n\nb\n\n\nc", "\n\n", "</p><p>"), "a</p><p>b</p><p>\nc");
    EXPECT_EQ(replacingOccurrences("aaa", "a", "aa"), "aaaaaa");
    EXPECT_EQ(replacingOccurrences("abc", "", "x"), "abc");
    EXPECT_EQ(replacingOccurrences("", "a", "b"), "");
}

TEST(Text, AppendUTF8CoversEveryLength) {
    std::string out;
    for (char32_t c : {U'A', U'\u00E9', U'\u20AC', U'\U0001F600'}) appendUTF8(c, out);
    EXPECT_EQ(out, "A\u00E9\u20AC\U0001F600");
}

TEST(Uuid, UpperCaseTextRoundTrips) {
    Uuid a;
    auto text = a.uuidString();
    EXPECT_EQ(text.size(), 36u);
    EXPECT_EQ(text[14], '4');
    for (char c : text) EXPECT_FALSE(c >= 'a' && c <= 'z');
    EXPECT_EQ(Uuid::fromString(text), a);
    EXPECT_NE(Uuid(), a);
    EXPECT_FALSE(Uuid::fromString("not-a-uuid"));
}

TEST(SettingsStore, TypedValuesPersistAtomically) {
    calvoro::testing::TempDir dir;
    auto file = dir / "settings.json";
    {
        SettingsStore store(file);
        store.set("Calvoro.imageQuality", 0.8);
        store.set("Calvoro.flag", true);
        store.set("Calvoro.name", "x");
        store.setData("Calvoro.blob", {0, 1, 2, 255, 254});
        store.set("Calvoro.recents", SettingsStore::Value::array({1, 2}));
    }
    SettingsStore again(file);
    EXPECT_EQ(again.doubleValue("Calvoro.imageQuality"), 0.8);
    EXPECT_EQ(again.boolValue("Calvoro.flag"), true);
    EXPECT_EQ(again.stringValue("Calvoro.name"), "x");
    EXPECT_EQ(again.dataValue("Calvoro.blob"), (std::vector<uint8_t>{0, 1, 2, 255, 254}));
    EXPECT_FALSE(again.boolValue("Calvoro.name"));
    EXPECT_EQ(again.value("Calvoro.recents")->size(), 2u);
    again.remove("Calvoro.flag");
    EXPECT_FALSE(SettingsStore(file).boolValue("Calvoro.flag"));
    for (auto& entry : std::filesystem::directory_iterator(dir.path())) EXPECT_EQ(entry.path().filename(), "settings.json");
    calvoro::testing::writeFile(file, "{not json");
    EXPECT_FALSE(SettingsStore(file).value("Calvoro.name"));
}
