// Outputs are whole or absent: cancelled, failed or disk-full conversions leave nothing, names
// taken meanwhile are never overwritten, and files follow the umask.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "converters/archive/archive_converter.h"
#include "compressor/compressor.h"
#include "converters/media/video_audio_converter.h"
#include "core/cancellation.h"
#include "core/conversion_error.h"
#include "engine/conversion_engine.h"
#include "engine/engine_test_support.h"
#include "platform/media/media_fixtures.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;
using calvoro::testing::media::makeTone;
using calvoro::testing::media::makeVideo;

namespace {

unsigned modeOf(const fs::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

}  // namespace

TEST(WholeOutputs, ALongVideoCancelledMidwayOnAWorkerThreadLeavesNothing) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // 4:4:4 pictures are encoded again, not copied, so the export lasts long enough to cancel.
    const auto clip = makeVideo(dir / "long.mp4", {.width = 320, .height = 240, .seconds = 30,
                                                   .videoCodec = "-c:v libx264 -preset ultrafast -pix_fmt yuv444p"});
    const fs::path out = dir / "out";

    std::mutex lock;
    std::condition_variable changed;
    bool underway = false;
    std::exception_ptr outcome;
    std::optional<fs::path> written;
    std::stop_source stop;
    bool stoppedInside = false;
    std::thread worker([&] {
        try {
            written = ConversionEngine::convert(makeJob(clip, SupportedFormat::mp4, SupportedFormat::mov), out,
                                                [&](double value) {
                                                    if (value <= 0 || value >= 1) return;
                                                    std::lock_guard guard(lock);
                                                    underway = true;
                                                    changed.notify_all();
                                                },
                                                watchingCancellation(stoppedInside), CancellationToken(stop.get_token()));
        } catch (...) {
            outcome = std::current_exception();
        }
        std::lock_guard guard(lock);
        underway = true;  // also when it ended before reporting progress
        changed.notify_all();
    });
    {
        std::unique_lock guard(lock);
        changed.wait(guard, [&] { return underway; });
    }
    stop.request_stop();
    worker.join();

    ASSERT_FALSE(written) << "finished before it could be cancelled";
    EXPECT_THROW(std::rethrow_exception(outcome), CancellationError);
    EXPECT_TRUE(stoppedInside) << "the export itself stopped";
    EXPECT_EQ(everything(out), std::vector<std::string>{}) << "no output and no temporary";
}

TEST(WholeOutputs, EveryConverterThatCanStopPartWayHonoursACancelledToken) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const auto clip = makeVideo(dir / "clip.mp4");
    const auto tone = makeTone(dir / "tone.wav", 2);
    fs::create_directories(dir / "tree" / "docs");
    writeFile(dir / "tree" / "docs" / "a.txt", std::string("hello"));
    ASSERT_EQ(run("cd " + shellQuote((dir / "tree").string()) + " && tar cf ../bundle.tar docs").status, 0);

    std::stop_source stop;
    stop.request_stop();
    const CancellationToken cancelled(stop.get_token());
    const fs::path out = dir / "out";
    fs::create_directories(out);
    auto noProgress = [](double) {};
    EXPECT_THROW(VideoAudioConverter::convertVideo(clip, SupportedFormat::mov, out, noProgress, cancelled), CancellationError);
    EXPECT_THROW(VideoAudioConverter::extractAudio(clip, out, noProgress, cancelled), CancellationError);
    EXPECT_THROW(ArchiveConverter::convert(dir / "bundle.tar", SupportedFormat::tar, SupportedFormat::zip, out, cancelled),
                 CancellationError);
    EXPECT_THROW(Compressor::compress(tone, SupportedFormat::wav, CompressionLevel::small, out, false, {}, cancelled),
                 CancellationError);
    EXPECT_THROW(ConversionEngine::convert(makeJob(tone, SupportedFormat::wav, SupportedFormat::m4a), out, noProgress, cancelled),
                 CancellationError);
    EXPECT_EQ(everything(out), std::vector<std::string>{});
}

TEST(WholeOutputs, ANameTakenByAnotherProcessMeanwhileIsNeverOverwritten) {
    TempDir dir;
    FakeEngine fake;
    const fs::path out = dir / "out";
    fake.produce = [&](const fs::path& work) {
        // Another program creates the very name while this conversion runs.
        writeFile(out / "photo.jpg", std::string("theirs"));
        writeFile(work / "photo.jpg", std::string("ours"));
        return work / "photo.jpg";
    };
    const fs::path result =
        ConversionEngine::convert(makeJob(dir / "photo.png", SupportedFormat::png, SupportedFormat::jpeg), out, noProgress,
                                  fake.collaborators());
    EXPECT_EQ(result, out / "photo (1).jpg");
    EXPECT_EQ(readText(out / "photo.jpg"), "theirs");
    EXPECT_EQ(readText(result), "ours");
    EXPECT_EQ(everything(out).size(), 2u);
}

TEST(WholeOutputs, OutputsFollowTheUmask) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const auto clip = makeVideo(dir / "clip.mp4", {.seconds = 0.5});
    const auto tone = makeTone(dir / "tone.wav", 0.5);
    writeFile(dir / "font.ttf", readFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
    fs::create_directories(dir / "tree");
    writeFile(dir / "tree" / "a.txt", std::string("hello"));
    ASSERT_EQ(run("cd " + shellQuote((dir / "tree").string()) + " && tar cf ../bundle.tar a.txt").status, 0);
    const std::vector<ConversionJob> jobs = {
        makeJob(clip, SupportedFormat::mp4, SupportedFormat::gif),
        makeJob(clip, SupportedFormat::mp4, SupportedFormat::mov),
        makeJob(tone, SupportedFormat::wav, SupportedFormat::flac),
        makeJob(dir / "font.ttf", SupportedFormat::ttf, SupportedFormat::woff),
        makeJob(dir / "bundle.tar", SupportedFormat::tar, SupportedFormat::zip),
    };
    for (const mode_t mask : {mode_t(022), mode_t(027)}) {
        const mode_t before = ::umask(mask);
        for (const auto& job : jobs) {
            const fs::path output = ConversionEngine::convert(job, dir / ("out" + std::to_string(mask)), noProgress);
            EXPECT_EQ(modeOf(output), 0666u & ~mask) << output;
        }
        ::umask(before);
    }
}

TEST(WholeOutputs, AFullDiskFailsAndLeavesNothing) {
    REQUIRE_FFMPEG();
    SmallDisk disk(64 * 1024);
    REQUIRE_SMALL_DISK(disk);
    TempDir dir;
    const auto gif = dir / "noise.gif";
    calvoro::testing::media::ffmpeg("-f lavfi -i testsrc=size=320x240:rate=15:duration=3 -vf noise=alls=60:allf=t " +
                                    shellQuote(gif.string()));
    const auto clip = makeVideo(dir / "clip.mp4", {.width = 320, .height = 240, .seconds = 3});
    const std::vector<ConversionJob> jobs = {
        makeJob(gif, SupportedFormat::gif, SupportedFormat::mp4),
        makeJob(clip, SupportedFormat::mp4, SupportedFormat::mov),
        makeJob(clip, SupportedFormat::mp4, SupportedFormat::gif),
    };
    for (const auto& job : jobs) {
        EXPECT_ANY_THROW(ConversionEngine::convert(job, disk.path(), noProgress)) << job.fileName << " → " << job.targetFormat->displayName();
        EXPECT_EQ(everything(disk.path()), std::vector<std::string>{});
    }
}
