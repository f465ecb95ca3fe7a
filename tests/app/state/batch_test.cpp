// Batches through the real engine on small generated files: limits, progress, cancellation,
// completion, statistics, recents and trashing originals.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QCoreApplication>

#include <climits>
#include <cstdint>
#include <map>
#include <set>

#include "app/state/batch_limits.h"
#include "app/state/progress_throttle.h"
#include "app/state/state_test_support.h"
#include "engine/test_fixtures.h"
#include "platform/media/media_fixtures.h"
#include "platform/desktop/review_request.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace fs = std::filesystem;

namespace {

class Batches : public StateTest {
protected:
    void SetUp() override {
        StateTest::SetUp();
        fs::create_directories(dir / "seeds");
        png = ConversionTester::makeSeedPNG(dir / "seeds");
        model->setApplicationActiveProbe([] { return true; });
    }
    // Copies of the seed PNG under distinct names, added as jobs.
    void addPNGs(int n, const std::string& prefix = "p") {
        std::vector<fs::path> files;
        for (int i = 0; i < n; ++i) files.push_back(copyTo(png, prefix + std::to_string(i) + ".png"));
        model->addFiles(files);
    }
    fs::path broken(const std::string& name) {
        writeFile(dir / name, std::string("not a picture at all"));
        return dir / name;
    }
    fs::path png;
};

// Counts each category's converting jobs at every change of the list.
struct ConcurrencyProbe {
    std::map<FileCategory, int> peak;
    int overallPeak = 0;
    void observe(const ConversionViewModel& m) {
        std::map<FileCategory, int> now;
        int total = 0;
        for (const auto& j : m.jobs())
            if (j.status == ConversionStatus::converting) ++now[j.category()], ++total;
        for (auto [c, n] : now) peak[c] = std::max(peak[c], n);
        overallPeak = std::max(overallPeak, total);
    }
};

}  // namespace

TEST(BatchLimitsTest, FollowTheProcessorsAvailable) {
    auto four = BatchLimits::forProcessors(4);
    EXPECT_EQ(four.overall, 2);
    EXPECT_EQ(four.limit(FileCategory::audio), 2);
    EXPECT_EQ(four.limit(FileCategory::font), 2);
    auto seven = BatchLimits::forProcessors(7);
    EXPECT_EQ(seven.overall, 5);
    EXPECT_EQ(seven.limit(FileCategory::image), 5);
    EXPECT_EQ(seven.limit(FileCategory::audio), 4);
    auto twelve = BatchLimits::forProcessors(12);
    EXPECT_EQ(twelve.overall, 6);
    EXPECT_EQ(twelve.limit(FileCategory::font), 4);
    for (int n : {1, 4, 7, 12, 64}) {
        auto l = BatchLimits::forProcessors(n);
        EXPECT_EQ(l.limit(FileCategory::video), 2);
        EXPECT_EQ(l.limit(FileCategory::document), 1);
        EXPECT_EQ(l.limit(FileCategory::archive), 1);
        EXPECT_EQ(l.limit(FileCategory::unknown), 1);
    }
    EXPECT_GE(BatchLimits::activeProcessors(), 1);
}

TEST(ProgressThrottleTest, PassesFirstValuesBigStepsAfterTheIntervalAndCompletion) {
    double now = 0;
    std::vector<double> passed;
    auto throttle = ProgressThrottle::make(Uuid(), [&](const Uuid&, double v) { passed.push_back(v); }, [&] { return now; });
    auto report = throttle->callback();
    for (auto [t, v] : std::vector<std::pair<double, double>>{{0, 0.0}, {0.01, 0.01}, {0.05, 0.5}, {0.25, 0.5}, {0.26, 1.0}, {0.27, 1.0}}) {
        now = t;
        report(v);
    }
    EXPECT_EQ(passed, (std::vector<double>{0.0, 0.5, 1.0, 1.0}));
    // A fall passes like a rise, once the interval has gone by.
    now = 1.0;
    report(0.4);
    now = 1.01;
    report(0.1);
    EXPECT_EQ(passed.back(), 0.4);
}

TEST_F(Batches, MixedCategoriesNeverExceedTheirLimits) {
    fs::create_directories(dir / "media");
    const fs::path wav = ConversionTester::makeSeedWAV(dir / "media");
    const fs::path mp4 = ConversionTester::makeSeedMP4(dir / "media");
    const fs::path zip = ConversionTester::makeSeedZIP(dir / "media");
    const fs::path font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
    std::vector<fs::path> files;
    for (int i = 0; i < 3; ++i) {
        files.push_back(copyTo(mp4, "v" + std::to_string(i) + ".mp4"));
        files.push_back(copyTo(wav, "a" + std::to_string(i) + ".wav"));
        files.push_back(copyTo(zip, "z" + std::to_string(i) + ".zip"));
        writeFile(dir / ("t" + std::to_string(i) + ".csv"), std::string("a,b\n1,2\n"));
        files.push_back(dir / ("t" + std::to_string(i) + ".csv"));
        if (fs::exists(font)) files.push_back(copyTo(font, "f" + std::to_string(i) + ".ttf"));
    }
    addPNGs(8);
    model->addFiles(files);

    ConcurrencyProbe probe;
    QObject::connect(model.get(), &ConversionViewModel::jobsChanged, [&] { probe.observe(*model); });
    model->convertAll();
    EXPECT_TRUE(model->isProcessing());
    ASSERT_TRUE(waitForBatch());

    const auto limits = BatchLimits::forProcessors(BatchLimits::activeProcessors());
    EXPECT_LE(probe.overallPeak, limits.overall);
    for (auto [category, peak] : probe.peak) EXPECT_LE(peak, limits.limit(category)) << category.rawValue();
    EXPECT_GE(probe.overallPeak, 1);
    for (const auto& j : model->jobs()) EXPECT_EQ(j.status, ConversionStatus::completed) << j.fileName << ": " << j.errorMessage.value_or("");
    EXPECT_EQ(model->toast()->title, "Done");
}

// The limits are reached, not only respected: a queue that allows it starts as many jobs of a
// category as its limit lets run, and as many in all as the overall limit. The batch is cancelled
// once they have started.
TEST_F(Batches, AQueueThatAllowsItFillsEveryLimit) {
    fs::create_directories(dir / "media");
    const fs::path wav = ConversionTester::makeSeedWAV(dir / "media");
    const fs::path mp4 = ConversionTester::makeSeedMP4(dir / "media");
    const fs::path zip = ConversionTester::makeSeedZIP(dir / "media");
    const auto limits = BatchLimits::forProcessors(BatchLimits::activeProcessors());
    const auto startPeaks = [&](const std::vector<fs::path>& files) {
        model->clearAll();
        model->addFiles(files);
        ConcurrencyProbe probe;
        const auto connection =
            QObject::connect(model.get(), &ConversionViewModel::jobsChanged, [&] { probe.observe(*model); });
        model->convertAll();
        EXPECT_TRUE(waitUntil([&] { return probe.overallPeak > 0; }));
        model->cancelConversion();
        EXPECT_TRUE(waitForBatch());
        QObject::disconnect(connection);
        return probe;
    };
    const auto copies = [&](const fs::path& from, int n, const std::string& prefix) {
        std::vector<fs::path> files;
        for (int i = 0; i < n; ++i) files.push_back(copyTo(from, prefix + std::to_string(i) + from.extension().string()));
        return files;
    };
    for (const auto& [category, seed] : std::vector<std::pair<FileCategory, fs::path>>{
             {FileCategory::image, png}, {FileCategory::video, mp4}, {FileCategory::audio, wav}, {FileCategory::archive, zip}}) {
        const int limit = std::min(limits.limit(category), limits.overall);
        const auto probe = startPeaks(copies(seed, limit + 2, category.rawValue()));
        EXPECT_EQ(probe.peak.at(category), limit) << category.rawValue();
        EXPECT_EQ(probe.overallPeak, limit) << category.rawValue();
    }
    // Two categories whose own limits together pass the overall one fill it.
    auto mixed = copies(mp4, 3, "mixed-v");
    for (const auto& file : copies(png, limits.overall + 1, "mixed-p")) mixed.push_back(file);
    const auto probe = startPeaks(mixed);
    EXPECT_EQ(probe.overallPeak, limits.overall);
    EXPECT_EQ(probe.peak.at(FileCategory::video), std::min(limits.limit(FileCategory::video), limits.overall));
}

TEST_F(Batches, CompletionTextsStatisticsAndTheReviewCounter) {
    QCoreApplication::setApplicationVersion("1.0-test");
    addPNGs(3);
    model->convertAll();
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(model->toast()->kind, Toast::Kind::success);
    EXPECT_EQ(model->toast()->title, "Done");
    EXPECT_EQ(model->toast()->detail, "3 files converted");
    EXPECT_TRUE(logged("Starting batch conversion: 3 files queued"));
    EXPECT_TRUE(logged("Batch complete: 3 converted, 0 failed"));
    EXPECT_EQ(model->statsTotalConversions(), 3);
    EXPECT_EQ(*SettingsStore::shared().integerValue("Calvoro.statsTotalConversions"), 3);
    EXPECT_EQ(*SettingsStore::shared().integerValue("Calvoro.successfulBatches"), 1);
    int64_t saved = 0;
    for (const auto& j : model->jobs()) {
        EXPECT_EQ(j.progress, 1.0);
        ASSERT_TRUE(j.outputURL);
        EXPECT_EQ(j.outputSize, static_cast<int64_t>(fs::file_size(*j.outputURL)));
        saved += std::max<int64_t>(0, j.fileSize - *j.outputSize);
    }
    EXPECT_EQ(model->statsBytesSaved(), saved);
    EXPECT_EQ(*SettingsStore::shared().integerValue("Calvoro.statsBytesSaved"), saved);
    const int reviewsBefore = desktop::ReviewRequest::requestCount();

    // One that fails among three that succeed.
    model->clearAll();
    addPNGs(3, "q");
    model->addFiles({broken("bad.png")});
    model->convertAll();
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(model->toast()->kind, Toast::Kind::warning);
    EXPECT_EQ(model->toast()->title, "Finished with errors");
    EXPECT_EQ(model->toast()->detail, "3 converted \u00B7 1 failed");
    EXPECT_EQ(model->failedCount(), 1);
    EXPECT_EQ(model->completedCount(), 3);
    EXPECT_TRUE(model->jobs().back().errorMessage);
    EXPECT_EQ(*SettingsStore::shared().integerValue("Calvoro.successfulBatches"), 1);

    // Retrying it alone fails again, with its own toast.
    model->retryAllFailed();
    EXPECT_EQ(model->jobs().back().status, ConversionStatus::pending);
    EXPECT_FALSE(model->jobs().back().errorMessage);
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(model->toast()->kind, Toast::Kind::error);
    EXPECT_EQ(model->toast()->title, "Conversion failed");
    EXPECT_EQ(model->toast()->detail, "1 file could not be converted");

    // A second clean batch asks for a review once for this version.
    model->clearAll();
    addPNGs(1, "r");
    model->convertAll();
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(model->toast()->detail, "1 file converted");
    EXPECT_EQ(desktop::ReviewRequest::requestCount(), reviewsBefore + 1);
    EXPECT_EQ(*SettingsStore::shared().stringValue("Calvoro.reviewRequestedForVersion"), "1.0-test");
    model->clearAll();
    addPNGs(1, "s");
    model->convertAll();
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(desktop::ReviewRequest::requestCount(), reviewsBefore + 1);
    QCoreApplication::setApplicationVersion("1.1-test");
    model->clearAll();
    addPNGs(1, "t");
    model->convertAll();
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(desktop::ReviewRequest::requestCount(), reviewsBefore + 2);
    QCoreApplication::setApplicationVersion({});
}

TEST_F(Batches, CountersAtTheirLimitsNeitherWrapNorOverflow) {
    SettingsStore& store = SettingsStore::shared();
    store.set("Calvoro.statsBytesSaved", INT64_MAX);
    store.set("Calvoro.statsTotalConversions", INT_MAX);
    store.set("Calvoro.successfulBatches", INT64_MAX);
    model = std::make_unique<ConversionViewModel>();
    model->setFolderPanel([this](const ConversionViewModel::FolderPanelRequest&) { return panelAnswer; });
    model->setApplicationActiveProbe([] { return true; });
    addPNGs(1);
    model->convertAll();
    ASSERT_TRUE(waitForBatch());
    ASSERT_EQ(job(0).status, ConversionStatus::completed);
    EXPECT_EQ(model->statsTotalConversions(), INT_MAX);
    EXPECT_EQ(model->statsBytesSaved(), INT64_MAX);
    EXPECT_EQ(*store.integerValue("Calvoro.successfulBatches"), 1) << "a count with no room left starts again";
    store.set("Calvoro.successfulBatches", -5);
    model->clearAll();
    addPNGs(1, "n");
    model->convertAll();
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(*store.integerValue("Calvoro.successfulBatches"), 1);
}

TEST_F(Batches, AWindowStartClearsWorkFoldersAKilledBatchLeftInItsOutputFolder) {
    const fs::path chosen = dir / "chosen";
    fs::create_directories(chosen);
    model->applyGlobalOutputDirectory(chosen);
    model.reset();
    // One left by a killed run (its lock is free), one of a run still going (its lock is held).
    fs::create_directories(chosen / ".calvoro-work-left" / "part");
    writeFile(chosen / ".calvoro-work-left" / "part" / "half.png", std::string("half"));
    fs::create_directories(chosen / ".calvoro-work-running");
    const int held = ::open((chosen / ".calvoro-work-running").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
    writeFile(chosen / "mine.png", std::string("not a work folder"));

    model = std::make_unique<ConversionViewModel>();
    EXPECT_EQ(model->outputDirectory(), chosen);
    EXPECT_TRUE(waitUntil([&] { return !fs::exists(chosen / ".calvoro-work-left"); }, std::chrono::seconds(20)));
    EXPECT_TRUE(fs::exists(chosen / ".calvoro-work-running"));
    EXPECT_TRUE(fs::exists(chosen / "mine.png"));
    ::close(held);
}

TEST_F(Batches, StartersDoNothingWithoutWorkOrWhileABatchRuns) {
    model->convertAll();
    EXPECT_FALSE(model->isProcessing());
    EXPECT_FALSE(model->hasChosenOutputLocation()) << "no folder is asked for without work";
    EXPECT_FALSE(logged("Starting batch conversion: 0 files queued"));

    addPNGs(2);
    panelAnswer.reset();
    model->convertAll();
    EXPECT_FALSE(model->isProcessing());
    EXPECT_EQ(model->toast()->title, "Choose an output folder");

    panelAnswer = out();
    model->toggleSelection(job(0).id);
    model->convertSelected();
    EXPECT_TRUE(model->isProcessing());
    EXPECT_TRUE(model->selection().empty());
    EXPECT_TRUE(model->canCancel());
    model->convertAll();  // ignored while the batch runs
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(job(0).status, ConversionStatus::completed);
    EXPECT_EQ(job(1).status, ConversionStatus::pending);

    // Only completed jobs selected: nothing starts and the selection stays.
    model->toggleSelection(job(0).id);
    model->convertSelected();
    EXPECT_FALSE(model->isProcessing());
    EXPECT_EQ(model->selection().size(), 1u);
}

TEST_F(Batches, AJobRemovedOrRetargetedWhileQueuedIsHandledAsItIsThen) {
    addPNGs(8);
    model->convertAll();
    // The batch starts from the event loop: the list can still change before it does.
    const ConversionJob last = model->jobs().back();
    model->removeJob(last);
    model->setTargetFormat(job(0).id, SupportedFormat::tiff);
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(model->jobs().size(), 7u);
    EXPECT_EQ(job(0).outputURL->extension(), ".tiff");
    EXPECT_EQ(model->toast()->detail, "7 files converted");
    EXPECT_TRUE(logged("Batch complete: 7 converted, 0 failed"));
}

TEST_F(Batches, ASingleJobIsConvertedOnceHoweverOftenItIsClicked) {
    addPNGs(1);
    const ConversionJob j = job(0);
    model->convertSingleJob(j);
    EXPECT_EQ(job(0).status, ConversionStatus::converting);
    model->convertSingleJob(j);
    // A converting job keeps its target, its place in the list and its conversion.
    model->setTargetFormat(j.id, SupportedFormat::tiff);
    model->removeJob(j);
    model->compress(j, CompressionLevel::small);
    EXPECT_EQ(job(0).targetFormat, j.targetFormat);
    // Clearing all keeps it, still selected.
    model->addFiles({copyTo(png, "extra.png")});
    model->toggleSelection(j.id);
    model->clearAll();
    ASSERT_EQ(model->jobs().size(), 1u);
    EXPECT_EQ(model->selection(), std::set<Uuid>{j.id});
    EXPECT_TRUE(logged("Cleared all files (1 converting kept)"));
    ASSERT_TRUE(waitForStatus(0, ConversionStatus::completed));
    QCoreApplication::processEvents();
    EXPECT_EQ(outputNames().size(), 1u);
    EXPECT_FALSE(model->toast()) << "a single conversion has no summary";
    EXPECT_EQ(model->statsTotalConversions(), 1);
}

TEST_F(Batches, RecentsKeepTenNewestFirstWithoutRepeats) {
    addPNGs(11);
    for (size_t i = 0; i < 11; ++i) {
        model->convertSingleJob(job(i));
        ASSERT_TRUE(waitForStatus(i, ConversionStatus::completed));
    }
    ASSERT_EQ(model->recents().size(), 10u);
    EXPECT_EQ(model->recents().front().sourcePath, job(10).sourceURL.string());
    EXPECT_EQ(model->recents().back().sourcePath, job(1).sourceURL.string());
    EXPECT_TRUE(model->recents().front().bookmark);

    // The same file and target again moves to the front.
    model->setTargetFormat(job(5).id, *job(5).targetFormat);
    model->convertSingleJob(job(5));
    ASSERT_TRUE(waitForStatus(5, ConversionStatus::completed));
    ASSERT_EQ(model->recents().size(), 10u);
    EXPECT_EQ(model->recents().front().sourcePath, job(5).sourceURL.string());

    // Saved, and read back by the next start.
    SettingsStore::shared().reload();
    ConversionViewModel again;
    ASSERT_EQ(again.recents().size(), model->recents().size());
    for (size_t i = 0; i < again.recents().size(); ++i) {
        const RecentJob& a = again.recents()[i];
        const RecentJob& b = model->recents()[i];
        EXPECT_EQ(a.id, b.id);
        EXPECT_EQ(a.sourcePath, b.sourcePath);
        EXPECT_EQ(a.targetFormatRaw, b.targetFormatRaw);
        EXPECT_EQ(a.bookmark, b.bookmark);
        // Seconds since 2001 as a double keep the time to well within a microsecond.
        EXPECT_LT(std::chrono::abs(a.timestamp - b.timestamp), std::chrono::microseconds(1));
    }

    // Replaying a recent adds its file with its target; a missing file only warns.
    RecentJob first = model->recents().front();
    model->clearAll();
    model->replayRecent(first);
    ASSERT_EQ(model->jobs().size(), 1u);
    EXPECT_EQ(job(0).targetFormat->rawValue(), first.targetFormatRaw);
    model->clearAll();
    fs::remove(first.sourcePath);
    model->replayRecent(first);
    EXPECT_TRUE(model->jobs().empty());
    EXPECT_EQ(model->toast()->title, "File not found");
    EXPECT_EQ(model->toast()->detail, fs::path(first.sourcePath).filename().string() + " has moved or been deleted");
}

TEST_F(Batches, AnOriginalTheTrashCannotTakeStaysWhereItIsAndTheUserIsTold) {
    // A Trash that cannot be made: its place is taken by a file.
    const fs::path trash = fs::path(std::getenv("XDG_DATA_HOME")) / "Trash";
    fs::remove_all(trash);
    writeFile(trash, std::string("not a folder"));
    model->setKeepOriginals(false);
    addPNGs(1);
    const fs::path source = job(0).sourceURL;
    const std::string name = source.filename().string();
    model->convertSingleJob(job(0));
    ASSERT_TRUE(waitForStatus(0, ConversionStatus::completed));
    fs::remove(trash);

    EXPECT_TRUE(fs::exists(source));
    EXPECT_FALSE(fs::exists(fs::current_path() / "files" / name));
    EXPECT_FALSE(logged("Moved original to Trash: " + name));
    bool failureLogged = false;
    for (const auto& e : ConversionLogger::shared().entries())
        if (e.level == ConversionLogger::Level::warning && e.category == "Files" &&
            e.message.rfind("Could not trash original " + name + ": ", 0) == 0 && e.message.size() > name.size() + 27)
            failureLogged = true;
    EXPECT_TRUE(failureLogged);
    ASSERT_TRUE(model->toast());
    EXPECT_EQ(model->toast()->kind, Toast::Kind::warning);
    EXPECT_EQ(model->toast()->title, "Original kept");
    EXPECT_EQ(model->toast()->detail, name + " couldn't be moved to the Trash");
}

TEST_F(Batches, OriginalsGoToTheTrashOnlyAfterTheirLastJob) {
    model->setKeepOriginals(false);
    addPNGs(1);
    model->duplicateJob(job(0));
    const fs::path source = job(0).sourceURL;
    const fs::path trashed = fs::path(std::getenv("XDG_DATA_HOME")) / "Trash" / "files" / source.filename();
    model->convertSingleJob(job(0));
    ASSERT_TRUE(waitForStatus(0, ConversionStatus::completed));
    EXPECT_TRUE(fs::exists(source)) << "the duplicate still needs it";

    model->convertSingleJob(job(1));
    ASSERT_TRUE(waitForStatus(1, ConversionStatus::completed));
    EXPECT_FALSE(fs::exists(source));
    EXPECT_TRUE(fs::exists(trashed));
    EXPECT_TRUE(logged("Moved original to Trash: " + source.filename().string()));
    fs::remove(trashed);

    // A failed job of the same file keeps it, whatever path spells it.
    model->clearAll();
    const fs::path other = copyTo(png, "kept.png");
    fs::create_directories(dir / "sub");
    model->addFiles({other, dir / "sub" / ".." / "kept.png"});
    ASSERT_EQ(model->jobs().size(), 2u);
    // Its output folder cannot be made below a file.
    model->setCustomOutputDir(job(1).id, other / "out");
    model->convertAll();
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(job(0).status, ConversionStatus::completed);
    EXPECT_EQ(job(1).status, ConversionStatus::failed);
    EXPECT_TRUE(fs::exists(other));
}

TEST_F(Batches, CancellingStopsTheRunningVideoAndStartsNothingMore) {
    ASSERT_TRUE(peerInstalled("ffmpeg"));
    const fs::path longVideo = dir / "long.mp4";
    media::ffmpeg("-f lavfi -i testsrc2=size=320x180:rate=30:duration=120 -c:v libx264 -preset ultrafast -pix_fmt yuv444p " +
                  shellQuote(longVideo.string()));
    model->addFiles({longVideo});
    model->setTargetFormat(job(0).id, SupportedFormat::mov);
    addPNGs(5);
    model->convertAll();
    ASSERT_TRUE(waitUntil([&] { return job(0).status == ConversionStatus::converting && job(0).progress > 0; }));
    ASSERT_TRUE(waitUntil([&] {
        return std::all_of(model->jobs().begin() + 1, model->jobs().end(),
                           [](const ConversionJob& j) { return j.status == ConversionStatus::completed; });
    }));
    model->cancelConversion();
    ASSERT_TRUE(waitForBatch());
    EXPECT_EQ(job(0).status, ConversionStatus::pending);
    EXPECT_EQ(job(0).progress, 0);
    EXPECT_FALSE(job(0).errorMessage);
    for (const auto& name : outputNames()) EXPECT_EQ(name.find("long"), std::string::npos) << name;
    EXPECT_TRUE(logged("Conversion cancelled by user"));
    EXPECT_EQ(model->toast()->title, "Cancelled");
    EXPECT_EQ(model->toast()->detail, "5 done \u00B7 1 not started");
}

TEST_F(Batches, CancellingLeavesQueuedJobsPending) {
    // A document at a time: of three, one runs and two wait when the batch is cancelled.
    std::vector<fs::path> docs;
    for (int i = 0; i < 3; ++i) {
        writeFile(dir / ("d" + std::to_string(i) + ".csv"), std::string("a,b\n1,2\n"));
        docs.push_back(dir / ("d" + std::to_string(i) + ".csv"));
    }
    model->addFiles(docs);
    model->convertAll();
    model->cancelConversion();
    ASSERT_TRUE(waitForBatch());
    int pending = 0;
    for (const auto& j : model->jobs()) pending += j.status == ConversionStatus::pending;
    EXPECT_GE(pending, 2);
    EXPECT_EQ(model->toast()->title, "Cancelled");
    EXPECT_FALSE(model->canCancel());
}

// File names are bytes: a Latin-1 name, as old archives and USB sticks hold, in every place the
// window keeps one.
TEST_F(Batches, FilesAndFoldersWhoseNamesAreNotUTF8AreConvertedRememberedAndReadBack) {
    const fs::path folder = dir / "sortie \xE9t\xE9";
    fs::create_directories(folder);
    panelAnswer = folder;
    const fs::path first = copyTo(png, "caf\xE9.png"), second = copyTo(png, "na\xEFve.png");
    model->addFiles({first, second});
    ASSERT_EQ(model->jobs().size(), 2u);
    EXPECT_EQ(job(0).fileName, "caf\xE9.png");
    EXPECT_TRUE(logged("Added: caf\xE9.png (PNG)"));
    model->convertAll();
    ASSERT_TRUE(waitForBatch());
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(job(i).status, ConversionStatus::completed) << job(i).errorMessage.value_or("");
        ASSERT_TRUE(job(i).outputURL);
        EXPECT_EQ(job(i).outputURL->parent_path(), folder);
        EXPECT_TRUE(fs::exists(*job(i).outputURL));
    }
    ASSERT_EQ(model->recents().size(), 2u);

    // What the next start reads: the same bytes for the recents and the output folder.
    SettingsStore::shared().flush();
    SettingsStore::shared().reload();
    ASSERT_FALSE(SettingsStore::shared().setAsideFile());
    ConversionViewModel again;
    ASSERT_EQ(again.recents().size(), 2u);
    // The two run side by side: either may be the newer.
    std::set<std::string> sources;
    for (const RecentJob& recent : again.recents()) {
        sources.insert(recent.sourcePath);
        ASSERT_TRUE(recent.bookmark);
        EXPECT_EQ(RecentJob::resolveBookmark(*recent.bookmark), fs::path(recent.sourcePath));
    }
    EXPECT_EQ(sources, (std::set<std::string>{first.string(), second.string()}));
    EXPECT_EQ(again.outputDirectory(), folder);
}
