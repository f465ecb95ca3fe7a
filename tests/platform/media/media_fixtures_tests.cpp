#include <gtest/gtest.h>

#include "platform/media/media_fixtures.h"

namespace calvoro::testing::media {
namespace {

// The fixtures made in the test's own process stand for what the ffmpeg program makes: the same
// packets, at the same times, with the same durations and marks, for the kinds the tests make.
TEST(MediaFixtures, InProcessFixturesAreWhatTheFfmpegProgramWrites) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const std::string inputs = "-f lavfi -i testsrc2=size=160x90:rate=25:duration=2 -f lavfi -i sine=frequency=440:duration=2 ";
    // B-frames and a bitrate, a mono tone made stereo, the last picture's duration; the
    // container's own codec and the pixel format it takes (and no sound where it has none); an
    // encoder that takes only some sample rates, and a filter.
    const std::vector<std::pair<std::string, std::string>> outputs = {
        {"clip.mp4", "-ac 2 -c:v libx264 -b:v 300k -c:a aac -b:a 64k"},
        {"anim.gif", ""},
        {"tone.mp3", "-vn -ar 22050 -af volume=0.5 -c:a libmp3lame"},
    };
    std::string ours = inputs, theirs = inputs;
    for (const auto& [name, options] : outputs) {
        ours += options + " " + shellQuote((dir / ("ours-" + name)).string()) + " ";
        theirs += options + " " + shellQuote((dir / ("theirs-" + name)).string()) + " ";
    }
    // A rotation tag as a stream copy writes it (the program itself drops the tag when it encodes).
    ours += "-an -c:v libx264 -preset ultrafast -metadata:s:v:0 rotate=90 " + shellQuote((dir / "ours-turned.mov").string());
    theirs += "-an -c:v libx264 -preset ultrafast " + shellQuote((dir / "plain.mov").string());
    ASSERT_TRUE(makeInProcess(ours));
    const auto r = run("ffmpeg -nostdin -loglevel error " + theirs + " && ffmpeg -nostdin -loglevel error -i " +
                       shellQuote((dir / "plain.mov").string()) + " -c copy -metadata:s:v:0 rotate=90 " +
                       shellQuote((dir / "theirs-turned.mov").string()));
    ASSERT_EQ(r.status, 0) << r.output;
    for (const std::string name : {"clip.mp4", "anim.gif", "tone.mp3", "turned.mov"}) {
        const auto a = dir / ("ours-" + name), b = dir / ("theirs-" + name);
        EXPECT_EQ(packetDigest(a), packetDigest(b)) << name;
        EXPECT_EQ(frameDurations(a), frameDurations(b)) << name;
        EXPECT_EQ(probe(a).json["streams"].size(), probe(b).json["streams"].size()) << name;
    }
    EXPECT_EQ(probe(dir / "ours-turned.mov").rotation(), 90);
    EXPECT_FALSE(makeInProcess("-i " + shellQuote((dir / "ours-clip.mp4").string()) + " -c copy " + shellQuote((dir / "copy.mp4").string())))
        << "a file input is the ffmpeg program's to read";
    EXPECT_FALSE(std::filesystem::exists(dir / "copy.mp4"));
}

}  // namespace
}  // namespace calvoro::testing::media
