#include <gtest/gtest.h>

#include <cmath>

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
