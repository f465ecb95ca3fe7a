#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "platform/media/asset.h"
#include "platform/media/export_session.h"
#include "platform/media/media_error.h"
#include "platform/media/media_fixtures.h"

namespace calvoro::media {
namespace {

using namespace calvoro::testing;
using namespace calvoro::testing::media;

TEST(Asset, DescribesTracksOfARotatedClip) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto path = makeVideo(dir / "clip.mov", {.width = 160, .height = 120, .rate = 25, .seconds = 1, .rotation = 90});
    Asset asset(path, {.preferPreciseDurationAndTiming = true});
    EXPECT_NEAR(asset.loadDuration(), 1.0, 0.05);
    auto video = asset.loadTracks(MediaType::video);
    ASSERT_EQ(video.size(), 1u);
    EXPECT_EQ(video[0].naturalWidth, 160);
    EXPECT_EQ(video[0].naturalHeight, 120);
    EXPECT_NEAR(video[0].nominalFrameRate, 25, 0.01);
    EXPECT_GT(video[0].estimatedDataRate, 0);
    EXPECT_TRUE(video[0].rotation == 90 || video[0].rotation == 270);
    auto audio = asset.loadTracks(MediaType::audio);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0].sampleRate, 44100);
    EXPECT_EQ(audio[0].channelCount, 2);
}

// What the header alone gives must be what a full read gives, for every movie and M4A kind the
// converters write; a fragmented file, whose header has no duration, is read in full.
TEST(Asset, TheHeaderAloneDescribesMoviesAndM4AAsAFullReadDoes) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const std::string picture = "-f lavfi -i testsrc=size=96x64:rate=24:duration=1.2 ";
    const std::string sound = "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=1.5 ";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"both.mp4", picture + sound + "-c:v libx264 -preset ultrafast -c:a aac"},
        {"bframes.mov", picture + sound + "-c:v libx264 -bf 3 -c:a aac -ac 1"},
        {"rotated.m4v", picture + "-c:v libx264 -preset ultrafast -metadata:s:v:0 rotate=90 -f ipod"},
        {"hevc.mp4", picture + "-c:v libx265 -preset ultrafast -tag:v hvc1 -x265-params log-level=none"},
        {"sound.m4a", sound + "-c:a aac -b:a 96k"},
        {"lossless.m4a", sound + "-c:a alac"},
        {"fragmented.mp4", picture + sound + "-c:v libx264 -preset ultrafast -c:a aac -movflags frag_keyframe+empty_moov"},
    };
    for (const auto& [name, args] : files) {
        SCOPED_TRACE(name);
        const auto path = dir / name;
        ffmpeg(args + " " + shellQuote(path.string()));
        const Asset header(path, {.headerOnly = true}), full(path);
        EXPECT_GT(header.loadDuration(), 1.0);
        EXPECT_EQ(header.loadDuration(), full.loadDuration());
        const auto a = header.loadTracks(), b = full.loadTracks();
        ASSERT_EQ(a.size(), b.size());
        for (size_t i = 0; i < a.size(); ++i) {
            EXPECT_EQ(a[i].mediaType, b[i].mediaType);
            EXPECT_EQ(a[i].codecName, b[i].codecName);
            EXPECT_EQ(a[i].naturalWidth, b[i].naturalWidth);
            EXPECT_EQ(a[i].naturalHeight, b[i].naturalHeight);
            EXPECT_EQ(a[i].rotation, b[i].rotation);
            EXPECT_EQ(a[i].nominalFrameRate, b[i].nominalFrameRate);
            EXPECT_EQ(a[i].sampleRate, b[i].sampleRate);
            EXPECT_EQ(a[i].channelCount, b[i].channelCount);
            EXPECT_EQ(a[i].estimatedDataRate, b[i].estimatedDataRate);
            EXPECT_TRUE(a[i].durationSeconds == b[i].durationSeconds ||
                        (std::isnan(a[i].durationSeconds) && std::isnan(b[i].durationSeconds)));
        }
    }
}

TEST(Asset, LoadingAnUnreadableFileThrows) {
    TempDir dir;
    writeFile(dir / "junk.mp4", std::string("this is not a movie"));
    Asset asset(dir / "junk.mp4");
    EXPECT_THROW(asset.loadDuration(), MediaError);
    Asset missing(dir / "missing.mp4");
    EXPECT_THROW(missing.loadTracks(), MediaError);
}

TEST(ExportSession, PresetsDeclareTheirFileTypes) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "clip.mp4");
    auto silent = makeVideo(dir / "silent.mp4", {.audio = false});
    Asset asset(clip);
    EXPECT_TRUE(ExportSession::determineCompatibility(presets::highestQuality, asset, FileType::quickTimeMovie));
    EXPECT_TRUE(ExportSession::determineCompatibility(presets::mediumQuality, asset, FileType::appleM4V));
    EXPECT_TRUE(ExportSession::determineCompatibility(presets::passthrough, asset, FileType::mpeg4));
    EXPECT_FALSE(ExportSession::determineCompatibility(presets::highestQuality, asset, FileType::wave));
    EXPECT_TRUE(ExportSession::determineCompatibility(presets::appleM4A, asset, FileType::appleM4A));
    EXPECT_FALSE(ExportSession::determineCompatibility(presets::appleM4A, Asset(silent), FileType::appleM4A));
    EXPECT_FALSE(ExportSession::determineCompatibility("NoSuchPreset", asset, FileType::mpeg4));
    EXPECT_FALSE(ExportSession::determineCompatibility(presets::highestQuality, Asset(dir / "missing.mov"), FileType::mpeg4));
    EXPECT_EQ(ExportSession::create(asset, "NoSuchPreset"), nullptr);
    auto m4a = ExportSession::create(asset, presets::appleM4A);
    ASSERT_NE(m4a, nullptr);
    ASSERT_EQ(m4a->supportedFileTypes().size(), 1u);
    EXPECT_EQ(m4a->supportedFileTypes()[0], FileType::appleM4A);
}

TEST(ExportSession, ReencodesKeepingSizeRotationAndDuration) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "clip.mov", {.width = 176, .height = 144, .rate = 24, .seconds = 1.5, .rotation = 90});
    auto session = ExportSession::create(Asset(clip), presets::highestQuality);
    ASSERT_NE(session, nullptr);
    session->setOutputURL(dir / "out.mp4");
    session->setOutputFileType(FileType::mpeg4);
    session->setShouldOptimizeForNetworkUse(true);
    session->exportSynchronously();
    ASSERT_EQ(session->status(), ExportSession::Status::completed) << session->error().value_or("");
    EXPECT_FLOAT_EQ(session->progress(), 1.0f);
    auto p = probe(dir / "out.mp4");
    EXPECT_NE(p.formatName().find("mp4"), std::string::npos);
    EXPECT_EQ(p.codec("video"), "h264");
    EXPECT_EQ(p.codec("audio"), "aac");
    EXPECT_EQ(p.videoWidth(), 176);
    EXPECT_EQ(p.videoHeight(), 144);
    EXPECT_EQ(p.rotation(), probe(clip).rotation());
    EXPECT_NEAR(p.duration(), 1.5, 1.0 / 24 + 0.03);
}

TEST(ExportSession, PassthroughCopiesTheStreams) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "clip.mov");
    auto session = ExportSession::create(Asset(clip), presets::passthrough);
    session->setOutputURL(dir / "out.m4v");
    session->setOutputFileType(FileType::appleM4V);
    session->exportSynchronously();
    ASSERT_EQ(session->status(), ExportSession::Status::completed) << session->error().value_or("");
    auto p = probe(dir / "out.m4v");
    EXPECT_EQ(p.codec("video"), "h264");
    EXPECT_EQ(p.codec("audio"), "aac");
    EXPECT_EQ(p.majorBrand(), "M4V ");
    EXPECT_NEAR(p.duration(), 1.0, 0.05);
}

TEST(ExportSession, FailsWithAReasonWhenTheSourceIsDamaged) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "clip.mp4");
    auto bytes = readFile(clip);
    bytes.resize(bytes.size() / 3);
    writeFile(dir / "cut.mp4", bytes);
    auto session = ExportSession::create(Asset(dir / "cut.mp4"), presets::highestQuality);
    session->setOutputURL(dir / "out.mp4");
    session->setOutputFileType(FileType::mpeg4);
    session->exportSynchronously();
    EXPECT_EQ(session->status(), ExportSession::Status::failed);
    EXPECT_TRUE(session->error().has_value());
}

}  // namespace
}  // namespace calvoro::media
