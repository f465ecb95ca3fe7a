#include <gtest/gtest.h>

#include "core/text_util.h"
#include "platform/media/asset.h"
#include "platform/media/gif_image_source.h"
#include "platform/media/gif_writer.h"
#include "platform/media/image_generator.h"
#include "platform/media/media_error.h"
#include "platform/media/media_fixtures.h"

namespace calvoro::media {
namespace {

using namespace calvoro::testing;
using namespace calvoro::testing::media;

imaging::RgbaImage solid(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
    imaging::RgbaImage img(w, h);
    for (size_t i = 0; i < img.pixels.size(); i += 4) {
        img.pixels[i] = r;
        img.pixels[i + 1] = g;
        img.pixels[i + 2] = b;
        img.pixels[i + 3] = 255;
    }
    return img;
}

// Mean of one channel over the top or bottom half.
double halfMean(const imaging::RgbaImage& img, bool top, int channel) {
    double sum = 0;
    int n = 0;
    for (int y = top ? 0 : img.height / 2; y < (top ? img.height / 2 : img.height); ++y)
        for (int x = 0; x < img.width; ++x, ++n) sum += img.row(y)[x * 4 + channel];
    return sum / n;
}

TEST(ImageGenerator, GivesUprightBoundedPicturesAtExactTimes) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // Left half red, right half blue, tagged as needing a quarter turn.
    auto plain = dir / "plain.mp4";
    ffmpeg("-f lavfi -i color=red:size=64x48:rate=10:duration=1 -f lavfi -i color=blue:size=64x48:rate=10:duration=1 "
           "-filter_complex hstack -c:v libx264 -preset ultrafast -pix_fmt yuv444p " + shellQuote(plain.string()));
    ffmpeg("-i " + shellQuote(plain.string()) + " -c copy -metadata:s:v:0 rotate=90 " + shellQuote((dir / "rot.mp4").string()));
    // ffmpeg's own upright rendering is the reference.
    ffmpeg("-i " + shellQuote((dir / "rot.mp4").string()) + " -frames:v 1 -f rawvideo -pix_fmt rgba " + shellQuote((dir / "ref.rgba").string()));
    ImageGenerator generator(Asset(dir / "rot.mp4"));
    generator.setAppliesPreferredTrackTransform(true);
    auto upright = generator.copyImage(0);
    ASSERT_EQ(upright.width, 48);
    ASSERT_EQ(upright.height, 128);
    auto ref = readFile(dir / "ref.rgba");
    ASSERT_EQ(ref.size(), upright.pixels.size());
    imaging::RgbaImage reference(48, 128);
    reference.pixels.assign(ref.begin(), ref.end());
    for (bool top : {true, false})
        for (int c : {0, 2}) EXPECT_NEAR(halfMean(upright, top, c), halfMean(reference, top, c), 12);

    generator.setMaximumSize(24, 0);
    auto small = generator.copyImage(0.5);
    EXPECT_EQ(small.width, 24);
    EXPECT_EQ(small.height, 64);
    EXPECT_THROW(generator.copyImage(5.0), MediaError);
}

TEST(ImageGenerator, SteppingThroughTimesFollowsTheFrames) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // Black for the first half second, white after.
    ffmpeg("-f lavfi -i color=black:size=32x32:rate=10:duration=0.5 -f lavfi -i color=white:size=32x32:rate=10:duration=0.5 "
           "-filter_complex concat=n=2:v=1 -c:v libx264 -preset ultrafast " + shellQuote((dir / "bw.mp4").string()));
    ImageGenerator generator(Asset(dir / "bw.mp4"));
    EXPECT_LT(generator.copyImage(0.0).pixels[0], 40);
    EXPECT_LT(generator.copyImage(0.4).pixels[0], 40);
    EXPECT_GT(generator.copyImage(0.5).pixels[0], 215);
    EXPECT_LT(generator.copyImage(0.1).pixels[0], 40);  // backwards needs a seek
    EXPECT_GT(generator.copyImage(0.9).pixels[0], 215);
}

TEST(Gif, WrittenFramesReadBackWithDelaysAndLoop) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto path = dir / "a.gif";
    {
        auto writer = GifWriter::create(path, 3);
        ASSERT_NE(writer, nullptr);
        writer->setLoopCount(0);
        EXPECT_TRUE(writer->addImage(solid(20, 10, 255, 0, 0), 0.1));
        EXPECT_TRUE(writer->addImage(solid(20, 10, 0, 255, 0), 0.25));
        EXPECT_TRUE(writer->addImage(solid(20, 10, 0, 0, 255), 0.02));
        EXPECT_TRUE(writer->finalize());
    }
    EXPECT_EQ(frameDurations(path), (std::vector<double>{0.1, 0.25, 0.02}));
    EXPECT_EQ(probe(path).videoWidth(), 20);
    EXPECT_EQ(probe(path).videoHeight(), 10);
    EXPECT_NE(readText(path).find("NETSCAPE2.0"), std::string::npos);

    auto source = GifImageSource::open(path);
    ASSERT_NE(source, nullptr);
    ASSERT_EQ(source->count(), 3u);
    EXPECT_DOUBLE_EQ(*source->properties(1)->unclampedDelayTime, 0.25);
    EXPECT_DOUBLE_EQ(*source->properties(2)->unclampedDelayTime, 0.02);
    auto green = source->createImage(1);
    ASSERT_TRUE(green);
    EXPECT_GT(green->pixels[1], 240);
    EXPECT_LT(green->pixels[0], 16);
    auto red = source->createImage(0);  // going back composes again from the start
    EXPECT_GT(red->pixels[0], 240);
}

TEST(Gif, EmptyWriterDoesNotFinalizeAndJunkDoesNotOpen) {
    TempDir dir;
    auto writer = GifWriter::create(dir / "none.gif", 1);
    EXPECT_FALSE(writer->finalize());
    EXPECT_EQ(GifWriter::create(dir / "missing" / "x.gif", 1), nullptr);
    writeFile(dir / "junk.gif", std::string("GIF89a but not really"));
    EXPECT_EQ(GifImageSource::open(dir / "junk.gif"), nullptr);
    EXPECT_EQ(GifImageSource::open(dir / "missing.gif"), nullptr);
}

TEST(Gif, ReadsFfmpegAnimationsFrameByFrame) {
    REQUIRE_FFMPEG();
    TempDir dir;
    ffmpeg("-f lavfi -i testsrc=size=64x48:rate=10:duration=0.5 " + shellQuote((dir / "t.gif").string()));
    auto source = GifImageSource::open(dir / "t.gif");
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->count(), 5u);
    EXPECT_EQ(source->canvasWidth(), 64);
    for (size_t i = 0; i < source->count(); ++i) {
        EXPECT_TRUE(source->createImage(i));
        EXPECT_DOUBLE_EQ(*source->properties(i)->unclampedDelayTime, 0.1);
    }
}

}  // namespace
}  // namespace calvoro::media
