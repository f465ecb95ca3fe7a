// The view model's saved settings: what a fresh start reads, what each setter writes, and how
// every bad stored value falls back.
#include <climits>
#include <cstdint>

#include "app/state/accent_choice.h"
#include "app/state/recent_job.h"
#include "app/state/state_test_support.h"

using namespace calvoro;
using namespace calvoro::testing;
using Value = SettingsStore::Value;

namespace {

std::unique_ptr<ConversionViewModel> startWith(const Value& stored) {
    resetSettings();
    for (const auto& [key, value] : stored.items()) SettingsStore::shared().set(key, value);
    return std::make_unique<ConversionViewModel>();
}

// Every saved setting at its first-start value.
void expectDefaults(const ConversionViewModel& m) {
    EXPECT_EQ(m.appearanceMode(), AppearanceMode::dark);
    EXPECT_EQ(m.resolvedColorScheme(), ColorScheme::dark);
    EXPECT_EQ(m.imageQuality(), 0.92);
    EXPECT_EQ(m.imageMaxEdge(), 0);
    EXPECT_FALSE(m.stripMetadata());
    EXPECT_EQ(m.audioBitrate(), 256000);
    EXPECT_EQ(m.accent(), AccentChoice::paper);
    EXPECT_EQ(hexValue(m.customAccent()), 0x4C9AFFu);
    EXPECT_TRUE(m.keepOriginals());
    EXPECT_FALSE(m.backgroundTint());
    EXPECT_EQ(m.backgroundTintStrength(), 0.5);
    EXPECT_TRUE(m.defaultTargets().empty()) << "one non-string value voids the whole map";
    EXPECT_TRUE(m.recents().empty());
    EXPECT_EQ(m.expandedSections(), (std::set<std::string>{"recent", "stats", "explore"}));
    EXPECT_EQ(m.statsTotalConversions(), 0);
    EXPECT_EQ(m.statsBytesSaved(), 0);
}

}  // namespace

TEST(StateSettings, AFirstStartHasTheDefaults) {
    auto m = startWith(Value::object());
    expectDefaults(*m);
    EXPECT_FALSE(m->hasChosenOutputLocation());
    EXPECT_EQ(m->outputDirName(), "Choose folder\u2026");
    EXPECT_TRUE(std::filesystem::is_directory(m->outputDirectory()));
    EXPECT_TRUE(m->jobs().empty());
    EXPECT_FALSE(m->isProcessing());
    EXPECT_EQ(ConversionLogger::shared().entries().back().message, "Calvoro initialized");
}

TEST(StateSettings, EverySettingRoundTripsThroughANewStart) {
    resetSettings();
    TempDir folder;
    {
        ConversionViewModel m;
        m.setAppearanceMode(AppearanceMode::light);
        m.setImageQuality(0.5);
        m.setImageMaxEdge(2048);
        m.setStripMetadata(true);
        m.setAudioBitrate(128000);
        m.setAccent(AccentChoice::teal);
        m.setCustomAccent(QColor(0x12, 0x34, 0x56));
        m.setKeepOriginals(false);
        m.setBackgroundTint(true);
        m.setBackgroundTintStrength(0.75);
        m.setDefaultTarget(SupportedFormat::webp, FileCategory::image);
        m.toggleSection("stats");
        m.applyGlobalOutputDirectory(folder.path());
        EXPECT_EQ(m.resolvedColorScheme(), ColorScheme::light);
    }
    SettingsStore::shared().reload();
    ConversionViewModel m;
    EXPECT_EQ(m.appearanceMode(), AppearanceMode::light);
    EXPECT_EQ(m.resolvedColorScheme(), ColorScheme::light);
    EXPECT_EQ(m.imageQuality(), 0.5);
    EXPECT_EQ(m.imageMaxEdge(), 2048);
    EXPECT_TRUE(m.stripMetadata());
    EXPECT_EQ(m.audioBitrate(), 128000);
    EXPECT_EQ(m.accent(), AccentChoice::teal);
    EXPECT_EQ(hexValue(m.customAccent()), 0x123456u);
    EXPECT_EQ(AccentChoice::customHex.load(), 0x123456u);
    EXPECT_FALSE(m.keepOriginals());
    EXPECT_TRUE(m.backgroundTint());
    EXPECT_EQ(m.backgroundTintStrength(), 0.75);
    EXPECT_EQ(m.defaultTargets(), (ConversionViewModel::DefaultTargets{{FileCategory::image, SupportedFormat::webp}}));
    EXPECT_EQ(m.expandedSections(), (std::set<std::string>{"recent", "explore"}));
    EXPECT_TRUE(m.hasChosenOutputLocation());
    EXPECT_EQ(m.outputDirectory(), folder.path());
    EXPECT_EQ(m.outputDirName(), folder.path().filename().string());
    // The stored forms are those other programs of the family read.
    EXPECT_EQ(*SettingsStore::shared().value("Calvoro.appearanceMode"), "Light");
    EXPECT_EQ(*SettingsStore::shared().value("customAccentHex"), 0x123456);
    EXPECT_EQ(*SettingsStore::shared().value("Calvoro.defaultTargets"), (Value{{"Image", "webp"}}));
}

TEST(StateSettings, BadStoredValuesFallBackToTheirDefaults) {
    auto m = startWith({{"Calvoro.appearanceMode", "light"},
                        {"Calvoro.imageQuality", "0.5"},
                        {"Calvoro.imageMaxEdge", 12.5},
                        {"Calvoro.stripMetadata", 2},
                        {"Calvoro.audioBitrate", Value::array()},
                        {"Calvoro.accent", "Blue"},
                        {"customAccentHex", -1},
                        {"Calvoro.keepOriginals", "no"},
                        {"Calvoro.backgroundTint", 0.5},
                        {"Calvoro.backgroundTintStrength", "strong"},
                        {"Calvoro.defaultTargets", {{"Image", "webp"}, {"Video", 3}}},
                        {"Calvoro.recents", "not data"},
                        {"Calvoro.sidebarExpandedSections", {"recent", 1}},
                        {"Calvoro.statsTotalConversions", "7"},
                        {"Calvoro.statsBytesSaved", Value::object()}});
    expectDefaults(*m);
    // Nothing is written back at start.
    EXPECT_EQ(*SettingsStore::shared().value("Calvoro.appearanceMode"), "light");
}

TEST(StateSettings, NumbersAndBooleansConvertOnlyWhenExact) {
    auto m = startWith({{"Calvoro.imageQuality", 1},
                        {"Calvoro.imageMaxEdge", 1024.0},
                        {"Calvoro.stripMetadata", 1},
                        {"Calvoro.keepOriginals", 0},
                        {"Calvoro.backgroundTintStrength", 1},
                        {"customAccentHex", 0x123456},
                        {"Calvoro.statsTotalConversions", 3.9},
                        {"Calvoro.statsBytesSaved", 4096}});
    EXPECT_EQ(m->imageQuality(), 1.0);
    EXPECT_EQ(m->imageMaxEdge(), 1024);
    EXPECT_TRUE(m->stripMetadata());
    EXPECT_FALSE(m->keepOriginals());
    EXPECT_EQ(m->backgroundTintStrength(), 1.0);
    EXPECT_EQ(m->customAccent(), QColor::fromRgbF(0x12 / 255.0f, 0x34 / 255.0f, 0x56 / 255.0f));
    EXPECT_EQ(m->statsTotalConversions(), 3);
    EXPECT_EQ(m->statsBytesSaved(), 4096);
}

TEST(StateSettings, StoredNumbersOutsideTheirRangeOrMeaningFallBack) {
    auto m = startWith({{"Calvoro.statsBytesSaved", 1e300},
                        {"Calvoro.statsTotalConversions", -7},
                        {"Calvoro.imageQuality", 1e300},
                        {"Calvoro.imageMaxEdge", -1},
                        {"Calvoro.audioBitrate", 0},
                        {"Calvoro.backgroundTintStrength", -0.5}});
    expectDefaults(*m);
    m = startWith({{"Calvoro.statsBytesSaved", -4096},
                   {"Calvoro.statsTotalConversions", 1e10},
                   {"Calvoro.imageQuality", -0.1},
                   {"Calvoro.imageMaxEdge", 1e12},
                   {"Calvoro.audioBitrate", -128000},
                   {"Calvoro.backgroundTintStrength", 1.5}});
    expectDefaults(*m);
    m = startWith({{"Calvoro.statsBytesSaved", 18446744073709551615u}, {"Calvoro.statsTotalConversions", 2147483648.0}});
    expectDefaults(*m);

    // The largest values that fit are kept.
    m = startWith({{"Calvoro.statsBytesSaved", INT64_MAX}, {"Calvoro.statsTotalConversions", INT_MAX}});
    EXPECT_EQ(m->statsBytesSaved(), INT64_MAX);
    EXPECT_EQ(m->statsTotalConversions(), INT_MAX);
}

TEST(StateSettings, DefaultTargetsSkipUnknownKeysAndFormats) {
    auto m = startWith({{"Calvoro.defaultTargets", {{"Images", "png"}, {"Audio", "flac"}, {"Video", "nonsense"}, {"Font", "woff2"}}}});
    EXPECT_EQ(m->defaultTargets(), (ConversionViewModel::DefaultTargets{{FileCategory::audio, SupportedFormat::flac},
                                                                       {FileCategory::font, SupportedFormat::woff2}}));
}

TEST(StateSettings, SectionsFromAnEmptyArrayOpenNothing) {
    auto m = startWith({{"Calvoro.sidebarExpandedSections", Value::array()}});
    EXPECT_TRUE(m->expandedSections().empty());
    m->toggleSection("stats");
    EXPECT_TRUE(m->isSectionExpanded("stats"));
    EXPECT_EQ(*SettingsStore::shared().value("Calvoro.sidebarExpandedSections"), (Value{"stats"}));
}

TEST(StateSettings, ACorruptSettingsFileIsKeptAsideNeverOverwrittenAndTheUserIsTold) {
    resetSettings();
    SettingsStore& store = SettingsStore::shared();
    const std::filesystem::path file = store.file();
    // One trailing comma, and every setting in the file with it.
    const std::string corrupt = "{\"Calvoro.accent\": \"teal\", \"Calvoro.statsTotalConversions\": 12,}";
    writeFile(file, corrupt);
    ConversionLogger::shared().clear();
    store.reload();
    const auto aside = store.setAsideFile();
    ASSERT_TRUE(aside);
    EXPECT_EQ(aside->parent_path(), file.parent_path());
    EXPECT_EQ(aside->filename().string().rfind("settings.json.corrupt-", 0), 0u) << *aside;
    EXPECT_EQ(readText(*aside), corrupt);
    EXPECT_TRUE(logged("Settings could not be read and were reset; the old file is kept as " + aside->string()));

    ConversionViewModel m;
    EXPECT_EQ(m.accent(), AccentChoice::paper);
    EXPECT_EQ(m.statsTotalConversions(), 0);
    ASSERT_TRUE(m.toast());
    EXPECT_EQ(m.toast()->kind, Toast::Kind::warning);
    EXPECT_EQ(m.toast()->title, "Settings reset, old file kept");
    EXPECT_EQ(m.toast()->detail, aside->filename().string()) << "beside the settings file, as the log says";

    m.setAccent(AccentChoice::green);
    store.flush();
    EXPECT_EQ(readText(*aside), corrupt) << "the old file is never written over";
    store.reload();
    EXPECT_EQ(*store.value("Calvoro.accent"), "green");
    EXPECT_FALSE(store.setAsideFile());

    // Another unreadable file within the same second gets a name of its own.
    writeFile(file, std::string("[1, 2"));
    store.reload();
    const auto second = store.setAsideFile();
    ASSERT_TRUE(second);
    EXPECT_NE(*second, *aside);
    EXPECT_EQ(readText(*aside), corrupt);
    EXPECT_EQ(readText(*second), "[1, 2");
    std::filesystem::remove(*aside);
    std::filesystem::remove(*second);
    resetSettings();
}

TEST(StateSettings, AStaleOrMissingOutputFolderIsForgotten) {
    TempDir folder;
    resetSettings();
    {
        ConversionViewModel m;
        m.applyGlobalOutputDirectory(folder / "chosen");
        // A folder that does not exist cannot be bookmarked: it is used for this run only.
        EXPECT_TRUE(m.hasChosenOutputLocation());
        EXPECT_FALSE(SettingsStore::shared().value("Calvoro.outputDirBookmark"));
        std::filesystem::create_directories(folder / "chosen");
        m.applyGlobalOutputDirectory(folder / "chosen");
        EXPECT_TRUE(SettingsStore::shared().value("Calvoro.outputDirBookmark"));
    }
    // Another folder under the same path: the bookmark is stale.
    std::filesystem::rename(folder / "chosen", folder / "moved");
    std::filesystem::create_directories(folder / "chosen");
    ConversionViewModel m;
    EXPECT_FALSE(m.hasChosenOutputLocation());
    EXPECT_FALSE(SettingsStore::shared().value("Calvoro.outputDirBookmark"));
}

TEST(StateSettings, SettersPublishOnlyRealChangesButAlwaysWrite) {
    resetSettings();
    ConversionViewModel m;
    int changes = 0;
    QObject::connect(&m, &ConversionViewModel::imageQualityChanged, [&] { ++changes; });
    m.setImageQuality(0.92);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(*SettingsStore::shared().value("Calvoro.imageQuality"), 0.92);
    m.setImageQuality(0.8);
    EXPECT_EQ(changes, 1);

    int accentChanges = 0;
    QObject::connect(&m, &ConversionViewModel::accentChanged, [&] { ++accentChanges; });
    m.setCustomAccent(QColor(1, 2, 3));
    EXPECT_EQ(accentChanges, 0);
    m.setAccent(AccentChoice::custom);
    m.setCustomAccent(QColor(4, 5, 6));
    EXPECT_EQ(accentChanges, 2) << "the custom colour redraws accent-coloured views";
    EXPECT_EQ(AccentChoice(AccentChoice::custom).baseColor(), QColor(4, 5, 6));
}

TEST(StateValues, RecentJobsCodeAsTheirJSON) {
    RecentJob r;
    r.sourcePath = "/home/me/a.png";
    r.sourceFormatRaw = "png";
    r.targetFormatRaw = "jpeg";
    r.timestamp = std::chrono::system_clock::time_point(std::chrono::seconds(978307200 + 1000));
    r.bookmark = std::vector<uint8_t>{'h', 'i', '!'};
    const auto json = nlohmann::json::parse(RecentJob::encodeList({r}));
    ASSERT_EQ(json.size(), 1u);
    EXPECT_EQ(json[0]["id"], r.id.uuidString());
    EXPECT_EQ(json[0]["timestamp"], 1000.0);
    EXPECT_EQ(json[0]["bookmark"], "aGkh");
    EXPECT_EQ(RecentJob::decodeList(RecentJob::encodeList({r})), (std::vector<RecentJob>{r}));

    r.bookmark.reset();
    EXPECT_FALSE(nlohmann::json::parse(RecentJob::encodeList({r}))[0].contains("bookmark"));
    EXPECT_EQ(RecentJob::decodeList(RecentJob::encodeList({r})), (std::vector<RecentJob>{r}));
    // One entry without a required key voids the list.
    auto broken = nlohmann::json::parse(RecentJob::encodeList({r, r}));
    broken[1].erase("targetFormatRaw");
    EXPECT_FALSE(RecentJob::decodeList(broken.dump()));
    EXPECT_FALSE(RecentJob::decodeList("{}"));
}

TEST(StateValues, ToastDurationsFollowTheirWords) {
    EXPECT_EQ(Toast(Toast::Kind::success, "Done").displayDuration(), 2.4);
    EXPECT_EQ(Toast(Toast::Kind::success, "One two", "three").displayDuration(), 2.4);
    EXPECT_NEAR(Toast(Toast::Kind::success, "One  two", "three four").displayDuration(), 2.62, 1e-9);
    EXPECT_NEAR(Toast(Toast::Kind::success, "a\tb c").displayDuration(), 2.4, 1e-9);
    std::string many;
    for (int i = 0; i < 23; ++i) many += "w ";
    EXPECT_NEAR(Toast(Toast::Kind::success, many).displayDuration(), 7.94, 1e-9);
    EXPECT_EQ(Toast(Toast::Kind::success, many + "x").displayDuration(), 8.0);
}

TEST(StateValues, AccentsAndAppearance) {
    EXPECT_FALSE(AccentChoice::fromRawValue("Blue"));
    EXPECT_FALSE(AccentChoice::fromRawValue(""));
    EXPECT_EQ(AccentChoice::presets().size(), 12u);
    EXPECT_EQ(hexValue(QColor(Qt::white)), 0xFFFFFFu);
    EXPECT_EQ(hexValue(QColor(Qt::black)), 0u);
    EXPECT_EQ(rawValue(AppearanceMode::light), "Light");
    EXPECT_FALSE(appearanceModeFromRawValue("light"));
}
