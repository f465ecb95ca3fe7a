// Video and audio outputs read back by the media layer; fixtures made by ffmpeg.
#include <gtest/gtest.h>

#include "engine/validator.h"
#include "platform/media/media_fixtures.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;
using Status = Validator::ValidationStatus;

namespace {

std::string reason(const Status& s) { return s.isFailure() ? s.reason() : "<not a failure>"; }

class ValidatorMedia : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(peerInstalled("ffmpeg"));
    }
    fs::path make(const std::string& name, const std::string& inputs) {
        const fs::path p = dir_ / name;
        media::ffmpeg(inputs + " " + shellQuote(p.string()));
        return p;
    }
    TempDir dir_;
};

const std::string silentVideo = "-f lavfi -i testsrc=size=64x48:rate=10:duration=0.5 -c:v libx264 -pix_fmt yuv420p";
const std::string tone = "-f lavfi -i sine=frequency=440:duration=0.5";

}  // namespace

TEST_F(ValidatorMedia, AVideoNeedsAVideoTrackAndAnAudioFileASoundTrack) {
    const fs::path video = make("clip.mp4", silentVideo);
    EXPECT_EQ(Validator::validate(SupportedFormat::mp4, video), Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::m4a, video)), "The media file has no audio track");
    const fs::path wav = make("tone.wav", tone);
    EXPECT_EQ(Validator::validate(SupportedFormat::wav, wav), Status::passed());
    EXPECT_EQ(Validator::validate(SupportedFormat::flac, make("tone.flac", tone)), Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::mov, wav)), "The media file has no video track");
    // A raw AAC stream this short and slow is too weak for FFmpeg's format probe, whose own
    // program writes it so and cannot open it again; it is still a sound track.
    const fs::path shortAAC = make("short.aac", "-f lavfi -i sine=duration=0.08 -ar 11025 -ac 1 -c:a aac");
    EXPECT_EQ(Validator::validate(SupportedFormat::aac, shortAAC), Status::passed());
}

TEST_F(ValidatorMedia, UnreadableFilesAreLoadFailures) {
    writeFile(dir_ / "junk.mp4", std::string(2048, 'j'));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::mp4, dir_ / "junk.mp4")).rfind("The media file cannot be opened: ", 0), 0u)
        << reason(Validator::validate(SupportedFormat::mp4, dir_ / "junk.mp4"));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::extractAudio, dir_ / "missing.m4a")).rfind("The media file cannot be opened: ", 0), 0u);
}
