#include <gtest/gtest.h>
#include <pthread.h>

#include <array>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>

#include "compressor/compressor.h"
#include "compressor/compressor_video.h"
#include "compressor/media_transcoder.h"
#include "core/cancellation.h"
#include "core/conversion_error.h"
#include "platform/media/capabilities.h"
#include "platform/media/media_fixtures.h"

namespace calvoro {
namespace {

using namespace calvoro::testing::media;
using testing::TempDir;

// Progress values with the name of the thread each came from.
struct Progress {
    std::mutex mutex;
    std::vector<double> values;
    std::set<std::string> threads;
    Compressor::ProgressHandler handler() {
        return [this](double v) {
            char name[32] = {};
            pthread_getname_np(pthread_self(), name, sizeof name);
            std::lock_guard lock(mutex);
            values.push_back(v);
            threads.insert(name);
        };
    }
};

const char* notSmaller = "The file is already smaller than the Maximum Quality level would make it. Nothing was written.";

class CompressMedia : public ::testing::Test {
protected:
    void SetUp() override {
        media::registerCapabilities();
        REQUIRE_FFMPEG();
    }
    TempDir dir;
};

TEST_F(CompressMedia, RotatedVideoWithOddSizeBecomesSmallerEvenH264) {
    VideoSpec spec;
    spec.width = 161;
    spec.height = 121;
    spec.rotation = 90;
    spec.videoCodec = "-c:v libx264 -preset ultrafast -qp 4 -pix_fmt yuv444p";
    const auto src = makeVideo(dir / "clip.mov", spec);
    const int sourceRotation = probe(src).rotation();
    Progress progress;
    const auto out = Compressor::compress(src, SupportedFormat::mov, CompressionLevel::balanced, dir.path(), false, progress.handler());
    EXPECT_EQ(out.filename().string(), "clip (compressed).mov");
    EXPECT_LT(std::filesystem::file_size(out), std::filesystem::file_size(src));
    const auto p = probe(out);
    EXPECT_NE(p.formatName().find("mov"), std::string::npos);
    EXPECT_EQ(p.codec("video"), "h264");
    EXPECT_EQ(p.codec("audio"), "aac");
    EXPECT_EQ(p.videoWidth(), 160);
    EXPECT_EQ(p.videoHeight(), 120);
    EXPECT_NE(sourceRotation, 0);
    EXPECT_EQ(p.rotation(), sourceRotation);
    ASSERT_GE(progress.values.size(), 2u);
    EXPECT_EQ(progress.values.back(), 1.0);
    EXPECT_EQ(std::count(progress.values.begin(), progress.values.end(), 1.0), 1);
    for (size_t i = 0; i + 1 < progress.values.size(); ++i) EXPECT_LE(progress.values[i], 0.99);
    EXPECT_TRUE(progress.threads.count("kx.compress.pum")) << "pump threads carry the queue's label";
}

TEST_F(CompressMedia, AviBecomesMp4AtEveryLevel) {
    VideoSpec spec;
    spec.videoCodec = "-c:v mpeg4 -q:v 1";
    spec.audioCodec = "-c:a pcm_s16le";
    const auto src = makeVideo(dir / "movie.avi", spec);
    std::vector<std::filesystem::path> outs;
    for (CompressionLevel level : CompressionLevel::allCases())
        outs.push_back(Compressor::compress(src, SupportedFormat::avi, level, dir.path()));
    EXPECT_EQ(outs[0].filename().string(), "movie (compressed).mp4");
    const auto probes = probeAll(outs);
    for (size_t i = 0; i < outs.size(); ++i) {
        EXPECT_LT(std::filesystem::file_size(outs[i]), std::filesystem::file_size(src));
        EXPECT_NE(probes[i].formatName().find("mp4"), std::string::npos);
        EXPECT_EQ(probes[i].codec("video"), "h264");
        EXPECT_EQ(probes[i].videoWidth() % 2, 0);
    }
    EXPECT_LT(std::filesystem::file_size(outs.back()), std::filesystem::file_size(outs.front()));
}

TEST_F(CompressMedia, AudioKeepsWithinItsLimits) {
    const auto mono = makeTone(dir / "mono.wav", 1, 22050, 1);
    const auto surround = makeTone(dir / "surround.wav", 1, 96000, 6);
    const auto a = Compressor::compress(mono, SupportedFormat::wav, CompressionLevel::maximum, dir.path());
    const auto b = Compressor::compress(surround, SupportedFormat::wav, CompressionLevel::tiny, dir.path());
    EXPECT_EQ(a.filename().string(), "mono (compressed).m4a");
    const auto probes = probeAll({a, b});
    EXPECT_EQ(probes[0].codec("audio"), "aac");
    EXPECT_EQ(probes[0].channels(), 1);
    EXPECT_EQ(probes[0].sampleRate(), 22050);
    EXPECT_LE(std::atoi(probes[0].stream("audio")->value("bit_rate", "0").c_str()), 170000);
    EXPECT_EQ(probes[0].majorBrand(), "M4A ");
    EXPECT_EQ(probes[1].channels(), 2);
    EXPECT_EQ(probes[1].sampleRate(), 48000);
    EXPECT_EQ(probes[1].stream("video"), nullptr);
}

TEST_F(CompressMedia, AudioThatIsNotSmallerIsRemoved) {
    const auto src = makeTone(dir / "small.m4a", 2, 44100, 1, "-c:a aac -b:a 24k");
    const auto out = dir.path() / "out";
    std::filesystem::create_directory(out);
    try {
        Compressor::compress(src, SupportedFormat::m4a, CompressionLevel::maximum, out);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), notSmaller);
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST_F(CompressMedia, DamagedMediaFailsWithoutOutput) {
    testing::writeFile(dir / "junk.mp4", std::string(4000, 'j'));
    // FFmpeg takes an empty file by its name for a FLAC stream of no known format, which gives no sound.
    testing::writeFile(dir / "empty.flac", std::string());
    const auto out = dir.path() / "out";
    std::filesystem::create_directory(out);
    try {
        Compressor::compress(dir / "junk.mp4", SupportedFormat::mp4, CompressionLevel::balanced, out);
        ADD_FAILURE() << "compressed";
    } catch (const std::exception& e) {
        // In the program's words, not FFmpeg's.
        EXPECT_STREQ(e.what(), "Cannot open junk.mp4: the data is damaged or of a kind that is not supported");
    }
    try {
        Compressor::compress(dir / "empty.flac", SupportedFormat::flac, CompressionLevel::balanced, out);
        ADD_FAILURE() << "compressed";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::failedToLoadFile) << e.what();
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST_F(CompressMedia, ASoundCutShortIsRefusedWithoutOutput) {
    const auto wav = makeTone(dir / "ten.wav", 10, 44100, 2);
    const auto bytes = testing::readFile(wav);
    testing::writeFile(dir / "cut.wav", std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 10)));
    const auto out = dir.path() / "out";
    std::filesystem::create_directory(out);
    try {
        Compressor::compress(dir / "cut.wav", SupportedFormat::wav, CompressionLevel::balanced, out);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "File appears corrupt: cut.wav is truncated \u2014 the file is missing its ending, so only part of the "
                               "sound is present.");
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

// What compress writes at each level; nothing where it refuses (not smaller).
using Written = std::array<std::optional<double>, CompressionLevel::count>;
Written writtenAtEveryLevel(const std::filesystem::path& src, SupportedFormat format, const std::filesystem::path& out) {
    Written written;
    for (CompressionLevel level : CompressionLevel::allCases()) {
        try {
            const auto result = Compressor::compress(src, format, level, out);
            written[level.index()] = static_cast<double>(std::filesystem::file_size(result));
            std::filesystem::remove(result);
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.kind(), ConversionError::Kind::alreadySmaller) << e.what();
        }
    }
    return written;
}

// Each level's estimate against what compress then writes: a level is estimated exactly when
// compress writes a file at least 2 % smaller than the source, and within `tolerance` of it.
// Returns the estimates, for the checks a clip adds.
std::vector<CompressionEstimate> expectEstimatesThatCompressKeeps(const std::filesystem::path& src, SupportedFormat format,
                                                                  const std::filesystem::path& out, double tolerance) {
    SCOPED_TRACE(src.filename().string());
    const auto estimates = Compressor::estimates(src, format);
    const auto original = static_cast<double>(std::filesystem::file_size(src));
    const Written written = writtenAtEveryLevel(src, format, out);
    for (CompressionLevel level : CompressionLevel::allCases()) {
        const auto& bytes = written[level.index()];
        const CompressionEstimate* estimate = nullptr;
        for (const auto& e : estimates)
            if (e.level == level) estimate = &e;
        if (estimate) {
            EXPECT_TRUE(bytes) << level.rawValue() << " is estimated but compress refuses it";
            if (!bytes) continue;
            EXPECT_NEAR(static_cast<double>(estimate->byteSize) / *bytes, 1.0, tolerance) << level.rawValue();
            EXPECT_TRUE(estimate->isEstimate);
            EXPECT_FALSE(estimate->qualityLoss);
        } else {
            EXPECT_TRUE(!bytes || *bytes >= original * 0.98) << level.rawValue() << " saves but is not estimated";
        }
    }
    return estimates;
}

TEST_F(CompressMedia, SoundEstimatesAreWhatCompressWrites) {
    const auto out = dir / "out";
    std::filesystem::create_directory(out);
    // Stereo at every level's rate; mono at no more than 160 kbit/s, whatever the level asks.
    expectEstimatesThatCompressKeeps(makeTone(dir / "stereo.wav", 6, 44100, 2), SupportedFormat::wav, out, 0);
    expectEstimatesThatCompressKeeps(makeTone(dir / "mono.wav", 6, 44100, 1), SupportedFormat::wav, out, 0);
    // A 128 kbit/s MP3 only gains at the levels below its own rate.
    const auto mp3 = makeTone(dir / "tone.mp3", 4, 44100, 2, "-c:a libmp3lame -b:a 128k");
    const auto mp3Estimates = expectEstimatesThatCompressKeeps(mp3, SupportedFormat::mp3, out, 0);
    ASSERT_FALSE(mp3Estimates.empty());
    for (const auto& e : mp3Estimates) EXPECT_GE(e.level.index(), CompressionLevel(CompressionLevel::balanced).index());
    // A rate the AAC encoder does not take is estimated and written at the nearest it does.
    const auto old = makeTone(dir / "old.wav", 3, 11000, 1);
    EXPECT_EQ(expectEstimatesThatCompressKeeps(old, SupportedFormat::wav, out, 0).size(), 5u);
    const auto written = Compressor::compress(old, SupportedFormat::wav, CompressionLevel::tiny, out);
    EXPECT_EQ(probe(written).sampleRate(), 11025);
    EXPECT_NEAR(probe(written).duration(), 3.0, 0.06);
}

// Clips this small are encoded whole at each level: the estimate is what compress writes, but for
// where the container puts the sound's packets among the pictures', and for x264's rate control
// over its frame threads, which reads how far the other threads have come: on a busy machine two
// compresses of one clip differ by up to 1.5 %.
constexpr double whole = 0.02;

TEST_F(CompressMedia, VideoEstimatesAreWhatCompressWrites) {
    const auto out = dir / "out";
    std::filesystem::create_directory(out);
    // At 100 kbit/s the encoder's 200 kbit/s floor and the sound's higher rate leave no level
    // anything to save.
    const auto low = dir / "low.mp4";
    ffmpeg("-f lavfi -i testsrc2=size=160x90:rate=25:duration=3 -f lavfi -i sine=frequency=440:duration=3 "
           "-c:v libx264 -b:v 100k -c:a aac -b:a 32k " + testing::shellQuote(low.string()));
    EXPECT_TRUE(expectEstimatesThatCompressKeeps(low, SupportedFormat::mp4, out, whole).empty());
    // A still picture with rich stereo sound: the picture takes a few kilobits whatever rate it
    // is given; the sound is what shrinks, from the levels below its own rate.
    const auto still = dir / "still.mp4";
    ffmpeg("-f lavfi -i smptebars=size=160x90:rate=30:duration=3 -f lavfi -i anoisesrc=d=3:c=pink:a=0.3 "
           "-c:v libx264 -b:v 1500k -c:a aac -b:a 224k -ac 2 " + testing::shellQuote(still.string()));
    const auto stillEstimates = expectEstimatesThatCompressKeeps(still, SupportedFormat::mp4, out, whole);
    ASSERT_FALSE(stillEstimates.empty());
    EXPECT_NE(stillEstimates.front().level, CompressionLevel::maximum);
    // One picture shown for 3 s without sound: the encoder spends far less than its target.
    const auto picture = dir / "picture.mp4";
    ffmpeg("-f lavfi -i testsrc=size=160x90:rate=25:duration=3 -vf trim=end_frame=1,loop=loop=74:size=1 "
           "-c:v libx264 -b:v 2500k " + testing::shellQuote(picture.string()));
    expectEstimatesThatCompressKeeps(picture, SupportedFormat::mp4, out, whole);
}

TEST_F(CompressMedia, NoisyAndMovingVideoEstimatesAreWhatCompressWrites) {
    const auto out = dir / "out";
    std::filesystem::create_directory(out);
    // Temporal noise: the encoder overshoots its target on a clip this short.
    const auto noise = dir / "noise.mp4";
    ffmpeg("-f lavfi -i color=c=gray:size=160x90:rate=25:duration=3 -vf noise=alls=30:allf=t "
           "-c:v libx264 -b:v 400k " + testing::shellQuote(noise.string()));
    expectEstimatesThatCompressKeeps(noise, SupportedFormat::mp4, out, whole);
    // An ordinary moving picture with stereo sound, a level smaller at each step.
    const auto moving = dir / "moving.mp4";
    ffmpeg("-f lavfi -i testsrc2=size=160x90:rate=30:duration=3 -f lavfi -i sine=frequency=440:duration=3 "
           "-c:v libx264 -b:v 1500k -c:a aac -b:a 128k -ac 2 " + testing::shellQuote(moving.string()));
    const auto movingEstimates = expectEstimatesThatCompressKeeps(moving, SupportedFormat::mp4, out, whole);
    ASSERT_EQ(movingEstimates.size(), 5u);
    for (size_t i = 1; i < movingEstimates.size(); ++i) EXPECT_LT(movingEstimates[i].byteSize, movingEstimates[i - 1].byteSize);
}

// The first video track of a file.
media::AssetTrack videoTrackOf(const std::filesystem::path& file) { return media::Asset(file).loadTracks(media::MediaType::video).front(); }

TEST_F(CompressMedia, ALongerVideoIsEstimatedFromItsOpening) {
    // 108 pictures are allowed, and any share of the clip: the first 4.32 s are encoded at each
    // level and the rest is projected from them.
    compressor_video::TrialLimits limits;
    limits.pixels = 160 * 90 * 108;
    limits.share = 1;
    const auto out = dir / "out";
    std::filesystem::create_directory(out);
    const auto expectProjected = [&](const std::filesystem::path& src) {
        SCOPED_TRACE(src.filename().string());
        const auto video = videoTrackOf(src);
        const double duration = media_transcoder::mediaDuration(src);
        ASSERT_NEAR(compressor_video::trialSeconds(&video, duration, limits), 4.32, 1e-9);
        const auto sizes = compressor_video::sizes(media::Asset(src), SupportedFormat::mp4, &video, duration, {}, limits);
        const Written written = writtenAtEveryLevel(src, SupportedFormat::mp4, out);
        for (CompressionLevel level : CompressionLevel::allCases()) {
            ASSERT_TRUE(written[level.index()]) << level.rawValue();
            EXPECT_NEAR(static_cast<double>(sizes[level.index()]) / *written[level.index()], 1.0, 0.15) << level.rawValue();
        }
    };
    // A picture that spends well under its target, with a second key frame after the opening.
    const auto moving = dir / "moving.mp4";
    ffmpeg("-f lavfi -i testsrc2=size=160x90:rate=25:duration=8 -f lavfi -i sine=frequency=440:duration=8 "
           "-c:v libx264 -g 150 -b:v 1200k -c:a aac -b:a 128k -ac 2 " + testing::shellQuote(moving.string()));
    expectProjected(moving);
    // Left to its share, the opening is 18 % of the clip's 200 pictures, and never under 24.
    compressor_video::TrialLimits shared;
    shared.pixels = limits.pixels;
    const auto movingTrack = videoTrackOf(moving);
    EXPECT_NEAR(compressor_video::trialSeconds(&movingTrack, 8, shared), 36 / 25.0, 1e-9);
    shared.share = 0.05;
    EXPECT_NEAR(compressor_video::trialSeconds(&movingTrack, 8, shared), 24 / 25.0, 1e-9);
    // Grain fills any target.
    const auto grain = dir / "grain.mp4";
    ffmpeg("-f lavfi -i testsrc2=size=160x90:rate=25:duration=7,noise=alls=8:allf=t -f lavfi -i sine=frequency=440:duration=7 "
           "-c:v libx264 -b:v 600k -c:a aac -b:a 128k -ac 2 " + testing::shellQuote(grain.string()));
    expectProjected(grain);
    // An opening of 54 pictures that spends two thirds of its target, climbing as x264's rate
    // control does from its first guess, fills the target over the whole; one that spends a
    // seventh of it, a picture that barely moves, goes on as it did while the source's own
    // pictures go on as they were (bytes each in the opening, then after it).
    const auto projectedShare = [](double keyFrame, double from, double to, int64_t sourceBefore = 1000,
                                   int64_t sourceAfter = 1000) {
        constexpr double rate = 30, target = 1e6, duration = 10;
        const double perPicture = target / 8 / rate;
        std::vector<compressor_video::Packet> packets{{0, static_cast<int64_t>(keyFrame * perPicture), true}};
        for (int i = 1; i < 54; ++i)
            packets.push_back({i / rate, static_cast<int64_t>((from + (to - from) * i / 53) * perPicture), false});
        std::vector<compressor_video::Packet> source;
        for (int i = 0; i < duration * rate; ++i) source.push_back({i / rate, i < 54 ? sourceBefore : sourceAfter, i == 0});
        const auto sourcePackets = [&]() -> const std::vector<compressor_video::Packet>& { return source; };
        return compressor_video::projectedVideoBytes(packets, 54 / rate, duration, rate, target, sourcePackets) /
               (target / 8 * duration);
    };
    EXPECT_NEAR(projectedShare(5, 0.3, 0.8), 1.0, 0.05);
    // A source a third less busy after the opening, as a rate control swings, still fills it; a
    // picture that calms to a tenth of the opening's, a still after a grainy opening, does not.
    EXPECT_NEAR(projectedShare(5, 0.3, 0.8, 1000, 700), 1.0, 0.05);
    EXPECT_LT(projectedShare(5, 0.3, 0.8, 1000, 100), 0.3);
    const double steady = projectedShare(5, 0.05, 0.05);
    EXPECT_LT(steady, 0.2);
    // The same opening of a source three times as busy after it spends more, short of the target;
    // a still opening cut to a busy picture spends the target the encoder saved for it.
    const double busier = projectedShare(5, 0.05, 0.05, 1000, 3000);
    EXPECT_GT(busier, 1.8 * steady);
    EXPECT_LT(busier, 0.3);
    EXPECT_NEAR(projectedShare(1, 0.001, 0.001, 20, 60000), 1.0, 0.01);
}

TEST_F(CompressMedia, AVideoEstimateStopsWithinAPictureOfItsCancellationAndLeavesNothing) {
    const auto video = dir / "v.mp4";
    ffmpeg("-f lavfi -i testsrc2=size=160x90:rate=25:duration=4 -f lavfi -i sine=frequency=440:duration=4 "
           "-c:v libx264 -b:v 1M -c:a aac " + testing::shellQuote(video.string()));
    const auto work = dir / "tmp";
    std::filesystem::create_directory(work);
    // The trials' work folder goes to $TMPDIR.
    const char* saved = std::getenv("TMPDIR");
    const std::optional<std::string> savedTmp = saved ? std::optional<std::string>(saved) : std::nullopt;
    const auto restore = [&] { savedTmp ? setenv("TMPDIR", savedTmp->c_str(), 1) : unsetenv("TMPDIR"); };
    setenv("TMPDIR", work.c_str(), 1);
    // Cancelled while the encoders run: each takes at most the picture it was taking.
    std::stop_source stop;
    std::mutex mutex;
    std::array<int, CompressionLevel::count> afterStop{};
    compressor_video::TrialLimits limits;
    limits.pictureTaken = [&](CompressionLevel level) {
        std::lock_guard lock(mutex);
        if (stop.stop_requested()) ++afterStop[level.index()];
        else stop.request_stop();
    };
    const auto track = videoTrackOf(video);
    const double duration = media_transcoder::mediaDuration(video);
    EXPECT_THROW(compressor_video::sizes(media::Asset(video), SupportedFormat::mp4, &track, duration, CancellationToken(stop.get_token()), limits),
                 CancellationError);
    for (int n : afterStop) EXPECT_LE(n, 1);
    EXPECT_TRUE(std::filesystem::is_empty(work));
    // Not cancelled, the same file has its estimates, and leaves nothing behind either.
    EXPECT_FALSE(Compressor::estimates(video, SupportedFormat::mp4).empty());
    EXPECT_TRUE(std::filesystem::is_empty(work));
    // Where the trials cannot be written, the estimate fails and says so: no "nothing to gain".
    testing::writeFile(work / "file", std::string("x"));
    setenv("TMPDIR", (work / "file").c_str(), 1);
    EXPECT_THROW(Compressor::estimates(video, SupportedFormat::mp4), std::filesystem::filesystem_error);
    restore();
}

}  // namespace
}  // namespace calvoro
