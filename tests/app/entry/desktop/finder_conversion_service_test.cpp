// The hand-off receiver in-process: jobs beside the source, the log lines, the picker path, and
// the idle quit of background mode (with a short wait instead of 4 s).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>

#include "app/entry/desktop/file_open_inbox.h"
#include "app/entry/desktop/finder_conversion_service.h"
#include "core/conversion_logger.h"
#include "core/handoff_url.h"
#include "desktop_test_support.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/media/capabilities.h"
#include "platform/qt/main_thread.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace fs = std::filesystem;

namespace {

bool logged(const std::string& message, const std::string& category) {
    for (const auto& entry : ConversionLogger::shared().entries())
        if (entry.message == message && entry.category == category) return true;
    return false;
}

void handle(const std::string& url) {
    qtmain::runOnMain([&] { FinderConversionService::shared().handle(url); });
}

int activeJobs() {
    return qtmain::callOnMain<int>([] { return FinderConversionService::shared().activeJobs(); });
}

std::string convertURL(const fs::path& source, const std::string& format) {
    return *HandoffURL::convert(source.string(), format);
}

struct HookCounts {
    std::atomic<int> hidden{0}, broughtForward{0}, terminated{0};
    std::atomic<bool> otherWork{false};
    fs::path picked;
};

void installHooks(HookCounts& counts) {
    qtmain::runOnMain([&] {
        FinderConversionService::Hooks hooks;
        hooks.hideWindows = [&] { ++counts.hidden; };
        hooks.bringForward = [&] { ++counts.broughtForward; };
        hooks.openCompressPicker = [&](const fs::path& file) { counts.picked = file; };
        hooks.otherWorkRunning = [&] { return counts.otherWork.load(); };
        hooks.terminate = [&] { ++counts.terminated; };
        FinderConversionService::shared().setHooks(hooks);
        FinderConversionService::shared().setIdleQuitDelay(std::chrono::milliseconds(300));
    });
}

}  // namespace

// One test: the service is one per process and background mode never ends, so the window
// program's behaviour is checked first.
TEST(FinderConversionService, ServesRequestsThenQuitsOnlyInBackgroundModeWhenIdle) {
    isolateSettings();
    imaging::registerCapabilities();
    media::registerCapabilities();
    TempDir dir;
    HookCounts counts;
    installHooks(counts);
    auto& service = FinderConversionService::shared();

    // Window program: converts beside the source, logs, and never counts down.
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    handle(convertURL(dir / "t.csv", "json"));
    ASSERT_TRUE(waitUntil([] { return logged("Files: t.json", "Files"); }));
    EXPECT_TRUE(fs::is_regular_file(dir / "t.json"));
    ASSERT_TRUE(waitUntil([] { return activeJobs() == 0; }));
    EXPECT_FALSE(qtmain::callOnMain<bool>([&] { return service.idleCountdownPending(); }));

    // Malformed requests and missing files start nothing, and each says why in one line.
    writeFile(dir / "notes.xyz", "x");
    ASSERT_EQ(::mkfifo((dir / "pipe.csv").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero.csv");
    const std::vector<std::pair<std::string, std::string>> refused{
        {convertURL(dir / "t.csv", "bogus"), "a link with an unknown format \u201Cbogus\u201D"},
        {"calvoro://convert?src=/a.png", "a link without a format"},
        {convertURL(dir / "missing.csv", "json"), "a link to a file that does not exist"},
        {convertURL(dir.path(), "json"), "a link to something that is not a regular file"},
        {convertURL(dir / "pipe.csv", "json"), "a link to something that is not a regular file"},
        {convertURL(dir / "zero.csv", "json"), "a link to something that is not a regular file"},
        {"calvoro://convert?src=t.csv&fmt=json", "a link whose file has no full path \u201Ct.csv\u201D"},
        {"calvoro://convert?fmt=json", "a link that names no file"},
        {*HandoffURL::compress((dir / "t.csv").string(), "nonsense", false), "a link with an unknown compression level \u201Cnonsense\u201D"},
        {"calvoro://compress?src=/a.png", "a link without a compression level"},
        {"calvoro://convert?src=%ZZ&fmt=png", "a malformed link"},
        {"CALVORO://Open?src=/a.png&fmt=png", "a link with an unknown action \u201CCALVORO://Open\u201D"},
        {"https://example.com/", "a link with an unknown action \u201Chttps://example.com\u201D"},
        {*HandoffURL::compress((dir / "notes.xyz").string(), "tiny", false), "unrecognised notes.xyz"},
    };
    for (const auto& [url, why] : refused) {
        const size_t before = ConversionLogger::shared().entries().size();
        handle(url);
        EXPECT_EQ(activeJobs(), 0) << url;
        const auto entries = ConversionLogger::shared().entries();
        ASSERT_EQ(entries.size(), before + 1) << url;
        EXPECT_EQ(entries.back().category, "Files");
        const std::string expected = why.rfind("unrecognised", 0) == 0 ? "Files: " + why : "Files: ignored " + why;
        EXPECT_EQ(entries.back().message, expected) << url;
    }

    // The picker hands the file to the window; no job runs.
    handle(*HandoffURL::compress((dir / "t.csv").string(), "tiny", true));
    EXPECT_EQ(activeJobs(), 0);
    EXPECT_EQ(counts.broughtForward.load(), 1);
    EXPECT_EQ(counts.picked, dir / "t.csv");
    EXPECT_EQ(FileOpenInbox::takePending(), std::vector<fs::path>{dir / "t.csv"});

    // A compression beside the source, logged under "Compress" whatever its result.
    makePNG(dir / "noise.png", 320, 240);
    handle(*HandoffURL::compress((dir / "noise.png").string(), "tiny", false));
    ASSERT_TRUE(waitUntil([] { return activeJobs() == 0; }));
    bool compressLogged = false;
    for (const auto& entry : ConversionLogger::shared().entries())
        if (entry.category == "Compress" && (entry.message.rfind("Files compress: noise", 0) == 0 ||
                                             (entry.message.rfind("Files compress failed: ", 0) == 0 && entry.detail == "noise.png")))
            compressLogged = true;
    EXPECT_TRUE(compressLogged);
    EXPECT_EQ(counts.terminated.load(), 0);

    // A picture cut short is refused as a conversion refuses it, and nothing is written beside it.
    auto png = readFile(dir / "noise.png");
    png.resize(png.size() / 2);
    writeFile(dir / "cut.png", png);
    handle(*HandoffURL::compress((dir / "cut.png").string(), "tiny", false));
    ASSERT_TRUE(waitUntil([] { return activeJobs() == 0; }));
    EXPECT_TRUE(logged("Files compress failed: File appears corrupt: cut.png is truncated \u2014 the file is missing its ending, "
                       "so only part of the image is present.",
                       "Compress"));
    for (const auto& entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().rfind("cut (", 0), std::string::npos) << entry.path();

    // Background mode: windows go, and the program ends once nothing runs.
    qtmain::runOnMain([&] { service.enterBackgroundMode(); });
    qtmain::runOnMain([&] { service.enterBackgroundMode(); });
    EXPECT_EQ(counts.hidden.load(), 1);
    EXPECT_TRUE(service.isBackgroundWorker());

    // An unrecognised file is logged and still ends in the idle quit.
    counts.otherWork = true;  // an intent call still running keeps the program alive
    handle(convertURL(dir / "notes.xyz", "json"));
    ASSERT_TRUE(waitUntil([] { return logged("Files: unrecognised notes.xyz", "Files"); }));
    ASSERT_TRUE(waitUntil([&] { return !qtmain::callOnMain<bool>([&] { return service.idleCountdownPending(); }); }));
    EXPECT_EQ(counts.terminated.load(), 0);
    counts.otherWork = false;
    qtmain::runOnMain([&] { service.startIdleCountdown(); });
    ASSERT_TRUE(waitUntil([&] { return counts.terminated.load() == 1; }));

    // A failing conversion is logged with its reason and counted down like any other.
    writeFile(dir / "broken.png", "not a picture");
    handle(convertURL(dir / "broken.png", "jpeg"));
    ASSERT_TRUE(waitUntil([&] { return counts.terminated.load() == 2; }));
    bool failureLogged = false;
    for (const auto& entry : ConversionLogger::shared().entries())
        if (entry.category == "Files" && entry.message.rfind("Files: broken.png \u2014 ", 0) == 0) failureLogged = true;
    EXPECT_TRUE(failureLogged);
}
