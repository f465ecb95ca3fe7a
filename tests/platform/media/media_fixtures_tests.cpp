#include <gtest/gtest.h>

#include "platform/media/media_fixtures.h"

namespace calvoro::testing::media {
namespace {

// The fixtures made in the test's own process stand for what the ffmpeg program makes: the same
// packets, at the same times, with the same durations and marks, for the kinds the tests make.
TEST(MediaFixtures, InProcessFixturesAreWhatTheFfmpegProgramWrites) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const std::vector<std::pair<std::string, std::string>> made = {
        // B-frames and a bitrate, a mono tone made stereo, the last picture's duration.
        {"clip.mp4", "-f lavfi -i testsrc2=size=160x90:rate=25:duration=2 -f lavfi -i sine=frequency=440:duration=2 -ac 2 "
                     "-c:v libx264 -b:v 300k -c:a aac -b:a 64k"},
        // The container's own codec and the pixel format it takes.
        {"anim.gif", "-f lavfi -i testsrc=size=64x48:rate=10:duration=1"},
        // An encoder that takes only some sample rates, and a filter.
        {"tone.mp3", "-f lavfi -i sine=frequency=440:sample_rate=22050:duration=1 -af volume=0.5 -c:a libmp3lame"},
    };
    for (const auto& [name, args] : made) {
        const auto ours = dir / ("ours-" + name), theirs = dir / ("theirs-" + name);
        ASSERT_TRUE(makeInProcess(args + " " + shellQuote(ours.string()))) << args;
        const auto r = run("ffmpeg -nostdin -hide_banner -loglevel error -y " + args + " " + shellQuote(theirs.string()));
        ASSERT_EQ(r.status, 0) << r.output;
        EXPECT_EQ(packetDigest(ours), packetDigest(theirs)) << name;
        EXPECT_EQ(frameDurations(ours), frameDurations(theirs)) << name;
    }
    // A rotation tag as a stream copy writes it (the program itself drops the tag when it encodes).
    const std::string picture = "-f lavfi -i testsrc=size=64x48:rate=10:duration=1 -c:v libx264 -preset ultrafast";
    ASSERT_TRUE(makeInProcess(picture + " -metadata:s:v:0 rotate=90 " + shellQuote((dir / "ours.mov").string())));
    ASSERT_EQ(run("ffmpeg -nostdin -loglevel error " + picture + " " + shellQuote((dir / "plain.mov").string()) + " && ffmpeg -nostdin "
                  "-loglevel error -i " + shellQuote((dir / "plain.mov").string()) + " -c copy -metadata:s:v:0 rotate=90 " +
                  shellQuote((dir / "theirs.mov").string())).status, 0);
    EXPECT_EQ(packetDigest(dir / "ours.mov"), packetDigest(dir / "theirs.mov"));
    EXPECT_EQ(probe(dir / "ours.mov").rotation(), 90);
    EXPECT_EQ(probe(dir / "theirs.mov").rotation(), 90);
    EXPECT_FALSE(makeInProcess("-i " + shellQuote((dir / "ours-clip.mp4").string()) + " -c copy " + shellQuote((dir / "copy.mp4").string())))
        << "a file input is the ffmpeg program's to read";
    EXPECT_FALSE(std::filesystem::exists(dir / "copy.mp4"));
}

}  // namespace
}  // namespace calvoro::testing::media
