#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>

#include "core/conversion_error.h"
#include "core/folder_access.h"
#include "core/settings_store.h"
#include "engine/engine_test_support.h"
#include "engine/in_place_conversion.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;
using Kind = InPlaceConversion::Outcome::Kind;

namespace {

// Each test: an authorised folder holding table.csv, and a private temporary folder.
class InPlaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        isolateSettings();
        SettingsStore::shared().remove("Calvoro.folderBookmarks");
        FolderAccess::shared().reloadForTesting();
        fs::create_directories(folder());
        fs::create_directories(tmp());
        if (const char* t = std::getenv("TMPDIR")) savedTmp_ = t;
        setenv("TMPDIR", tmp().c_str(), 1);
        writeFile(source(), std::string("source bytes"));
        ASSERT_TRUE(FolderAccess::shared().authorize(folder()));
        fake_.produce = [](const fs::path& out) {
            writeFile(out / "table.json", std::string("converted"));
            return out / "table.json";
        };
    }
    void TearDown() override {
        if (savedTmp_) setenv("TMPDIR", savedTmp_->c_str(), 1);
        else unsetenv("TMPDIR");
        SettingsStore::shared().remove("Calvoro.folderBookmarks");
        FolderAccess::shared().reloadForTesting();
    }
    fs::path folder() const { return dir_ / "pictures"; }
    fs::path tmp() const { return dir_ / "tmp"; }
    fs::path source() const { return folder() / "table.csv"; }
    fs::path destination() const { return folder() / "table.json"; }

    InPlaceConversion::Outcome convert(SupportedFormat to, bool replace, const fs::path& src) {
        return InPlaceConversion::convert(src, to, replace, noProgress, fake_.collaborators());
    }
    InPlaceConversion::Outcome convert(SupportedFormat to, bool replace = false) { return convert(to, replace, source()); }

    // What lies in a folder, by name.
    static std::vector<std::string> names(const fs::path& f) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(f)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }
    void expectSourceUntouchedAndNoWorkLeft() {
        EXPECT_EQ(readText(source()), "source bytes");
        EXPECT_TRUE(names(tmp()).empty()) << "a Calvoro-inplace- folder was left behind";
    }

    TempDir dir_;
    FakeEngine fake_;
    std::optional<std::string> savedTmp_;
};

}  // namespace

TEST_F(InPlaceTest, ConvertsBesideTheSourceAndLogs) {
    LogCapture log;
    const auto outcome = convert(SupportedFormat::json);
    ASSERT_EQ(outcome.kind(), Kind::converted) << outcome.reason();
    EXPECT_EQ(outcome.url(), destination());
    EXPECT_EQ(readText(destination()), "converted");
    EXPECT_EQ(names(folder()), (std::vector<std::string>{"table.csv", "table.json"}));
    expectSourceUntouchedAndNoWorkLeft();
    const auto entries = log.entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().message, "Converted in place");
    EXPECT_EQ(entries.back().category, "Files");
    EXPECT_EQ(entries.back().detail, "table.json");
}

TEST_F(InPlaceTest, RefusalsComeBeforeTheFileIsInspected) {
    auto o = convert(SupportedFormat::pdfPagePng, false, folder() / "report.pdf");
    EXPECT_EQ(o.kind(), Kind::failed);
    EXPECT_EQ(o.reason(), SupportedFormat(SupportedFormat::pdfPagePng).displayName() +
                              " creates a folder of files \u2014 open it in Calvoro instead.");
    o = convert(SupportedFormat::png, false, folder() / "notes.xyz");
    EXPECT_EQ(o.reason(), "Calvoro doesn't recognise notes.xyz.");
    o = convert(SupportedFormat::mp3);
    EXPECT_EQ(o.reason(), "Can't convert CSV to MP3.");
    writeFile(folder() / "Song.M4A", std::string("audio"));
    o = convert(SupportedFormat::alac, false, folder() / "Song.M4A");
    EXPECT_EQ(o.kind(), Kind::failed);
    EXPECT_EQ(o.reason(), "Song.M4A is already " + SupportedFormat(SupportedFormat::alac).displayName() + ".");
    EXPECT_EQ(fake_.dispatchCalls, 0);
    expectSourceUntouchedAndNoWorkLeft();
}

TEST_F(InPlaceTest, AnUnauthorisedFolderNeedsAuthorisationAndNothingIsMade) {
    fs::create_directories(dir_ / "elsewhere");
    writeFile(dir_ / "elsewhere" / "table.csv", std::string("x"));
    const auto o = convert(SupportedFormat::json, false, dir_ / "elsewhere" / "table.csv");
    EXPECT_EQ(o.kind(), Kind::needsAuthorization);
    EXPECT_EQ(o.url(), dir_ / "elsewhere");
    EXPECT_EQ(fake_.dispatchCalls, 0);
    EXPECT_TRUE(names(tmp()).empty());
}

TEST_F(InPlaceTest, AnExistingDestinationIsACollisionBeforeAnyWork) {
    writeFile(destination(), std::string("older"));
    const auto o = convert(SupportedFormat::json);
    EXPECT_EQ(o.kind(), Kind::collision);
    EXPECT_EQ(o.url(), destination());
    EXPECT_EQ(readText(destination()), "older");
    EXPECT_EQ(fake_.dispatchCalls, 0);
    expectSourceUntouchedAndNoWorkLeft();
}

TEST_F(InPlaceTest, ReplacingIsDoneOnlyWhenAsked) {
    writeFile(destination(), std::string("older"));
    const auto o = convert(SupportedFormat::json, true);
    ASSERT_EQ(o.kind(), Kind::converted) << o.reason();
    EXPECT_EQ(readText(destination()), "converted");
    EXPECT_EQ(names(folder()), (std::vector<std::string>{"table.csv", "table.json"}));
    expectSourceUntouchedAndNoWorkLeft();
}

TEST_F(InPlaceTest, ADestinationThatAppearsDuringTheConversionIsNeverOverwritten) {
    fake_.produce = [this](const fs::path& out) {
        writeFile(destination(), std::string("another program's"));
        writeFile(out / "table.json", std::string("converted"));
        return out / "table.json";
    };
    const auto o = convert(SupportedFormat::json);
    EXPECT_EQ(o.kind(), Kind::collision);
    EXPECT_EQ(o.url(), destination());
    EXPECT_EQ(readText(destination()), "another program's");
    EXPECT_EQ(names(folder()), (std::vector<std::string>{"table.csv", "table.json"})) << "no staging file left";
    expectSourceUntouchedAndNoWorkLeft();
}

TEST_F(InPlaceTest, AnEngineFailureLeavesNoTraceBesideTheSource) {
    fake_.verdict = Validator::ValidationStatus::failed("First image failed to decode");
    const auto o = convert(SupportedFormat::json);
    EXPECT_EQ(o.kind(), Kind::failed);
    EXPECT_EQ(o.reason(), "File appears corrupt: The converted file didn't come out valid (First image failed to decode). "
                          "The original is untouched.");
    EXPECT_EQ(names(folder()), std::vector<std::string>{"table.csv"});
    expectSourceUntouchedAndNoWorkLeft();

    fake_.verdict = Validator::ValidationStatus::passed();
    fake_.produce = [](const fs::path&) -> fs::path { throw ConversionError::conversionFailed(); };
    EXPECT_EQ(convert(SupportedFormat::json).reason(), "Conversion failed unexpectedly.");
    expectSourceUntouchedAndNoWorkLeft();
}

TEST_F(InPlaceTest, ATemporaryFolderOnAnotherFileSystemStillLandsAtomically) {
    struct stat a {}, b {};
    const fs::path shm = "/dev/shm";
    if (::stat(shm.c_str(), &a) != 0 || ::stat(folder().c_str(), &b) != 0 || a.st_dev == b.st_dev || ::access(shm.c_str(), W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    TempDir marker;  // a unique name below /dev/shm
    const fs::path otherTmp = shm / ("calvoro-engine-test-" + marker.path().filename().string());
    fs::create_directories(otherTmp);
    setenv("TMPDIR", otherTmp.c_str(), 1);
    const auto o = convert(SupportedFormat::json);
    ASSERT_EQ(o.kind(), Kind::converted) << o.reason();
    EXPECT_EQ(readText(destination()), "converted");
    EXPECT_EQ(names(folder()), (std::vector<std::string>{"table.csv", "table.json"}));
    EXPECT_TRUE(names(otherTmp).empty());
    fs::remove_all(otherTmp);
}

TEST_F(InPlaceTest, AnUnwritableTemporaryFolderIsAFailure) {
    setenv("TMPDIR", (dir_ / "tmp" / "nope" ).c_str(), 1);
    writeFile(dir_ / "tmp" / "nope", std::string("a file, not a folder"));
    const auto o = convert(SupportedFormat::json);
    EXPECT_EQ(o.kind(), Kind::failed);
    EXPECT_NE(o.reason().find("temporary folder"), std::string::npos) << o.reason();
    EXPECT_EQ(fake_.dispatchCalls, 0);
}

TEST_F(InPlaceTest, ARealArchiveIsRepackedBesideItself) {
    ASSERT_TRUE(peerInstalled("zip"));
    ASSERT_TRUE(peerInstalled("bsdtar"));
    writeFile(folder() / "note.txt", std::string("inside"));
    ASSERT_EQ(run("cd " + shellQuote(folder().string()) + " && zip -q bundle.zip note.txt && rm note.txt").status, 0);
    const auto before = readFile(folder() / "bundle.zip");
    const auto o = InPlaceConversion::convert(folder() / "bundle.zip", SupportedFormat::tar, false);
    ASSERT_EQ(o.kind(), Kind::converted) << o.reason();
    EXPECT_EQ(o.url(), folder() / "bundle.tar");
    EXPECT_EQ(readFile(folder() / "bundle.zip"), before);
    EXPECT_NE(run("bsdtar -tf " + shellQuote(o.url().string())).output.find("note.txt"), std::string::npos);
    EXPECT_TRUE(names(tmp()).empty());
}

TEST_F(InPlaceTest, ALongNameKeepsItsNewExtensionWithinTheFileSystemsLimit) {
    // 251 bytes of stem: ".csv" fits, ".json" would make 256 bytes.
    const fs::path longSource = folder() / (std::string(251, 'n') + ".csv");
    writeFile(longSource, std::string("source bytes"));
    const auto outcome = convert(SupportedFormat::json, false, longSource);
    ASSERT_EQ(outcome.kind(), Kind::converted) << outcome.reason();
    EXPECT_EQ(outcome.url(), folder() / (std::string(250, 'n') + ".json"));
    EXPECT_EQ(readText(outcome.url()), "converted");
    EXPECT_TRUE(names(tmp()).empty());
}
