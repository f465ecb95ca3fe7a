#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <stop_token>

#include "converters/media/converter_test_support.h"
#include "converters/media/video_audio_converter.h"
#include "core/conversion_error.h"

namespace calvoro {
namespace {

using namespace calvoro::testing;
using namespace calvoro::testing::media;

std::vector<double> frameTimes(const std::filesystem::path& path) {
    std::vector<double> out;
    for (const DecodedFrame& f : decodedFrames(path)) out.push_back(f.time);
    return out;
}

// A one-frame GIF of w x h pixels, all of colour index 0 of a two-colour table (red, white),
// optionally with index 0 transparent. Each pixel is coded after a clear code, so the LZW
// stream needs no table.
std::filesystem::path makeGif(const std::filesystem::path& path, int w, int h, bool transparent) {
    std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), 0x80, 0, 0,
                              255, 0, 0, 255, 255, 255};
    b.insert(b.end(), {0x21, 0xF9, 4, uint8_t(transparent ? 0x09 : 0x00), 10, 0, 0, 0});
    b.insert(b.end(), {0x2C, 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), 0, 2});
    std::vector<uint8_t> data;
    uint32_t acc = 0;
    int bits = 0;
    auto put = [&](uint32_t code) {
        acc |= code << bits;
        bits += 3;
        while (bits >= 8) {
            data.push_back(uint8_t(acc));
            acc >>= 8;
            bits -= 8;
        }
    };
    for (int i = 0; i < w * h; ++i) {
        put(4);
        put(0);
    }
    put(5);
    if (bits) data.push_back(uint8_t(acc));
    for (size_t i = 0; i < data.size(); i += 255) {
        size_t n = std::min<size_t>(255, data.size() - i);
        b.push_back(uint8_t(n));
        b.insert(b.end(), data.begin() + static_cast<std::ptrdiff_t>(i), data.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    b.push_back(0);
    b.push_back(0x3B);
    writeFile(path, b);
    return path;
}

TEST(VideoToGIF, SamplesAtTheRateWithEqualDelays) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "clip.mov", {.width = 320, .height = 180, .rate = 20, .seconds = 1.25});
    ProgressRecorder progress;
    LogWatch log;
    auto gif = VideoAudioConverter::videoToGIF(clip, dir.path(), 10, 160, progress.handler());
    EXPECT_EQ(gif.filename(), "clip.gif");
    EXPECT_EQ(frameDurations(gif), std::vector<double>(12, 0.1));
    auto p = probe(gif);
    EXPECT_EQ(p.codec("video"), "gif");
    EXPECT_EQ(p.videoWidth(), 160);
    EXPECT_EQ(p.videoHeight(), 90);
    ASSERT_EQ(progress.values.size(), 12u);
    EXPECT_EQ(progress.values.back(), 1.0);
    auto lines = log.lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "INFO Video Video \u2192 GIF: clip.mov @ 10.0fps");
    EXPECT_EQ(lines[1], "OK Video Wrote 12 GIF frames");
    EXPECT_EQ(log.entries()[1].detail.value_or(""), "clip.gif");
}

// The mean SSIM (over R, G and B) of the GIF's frames against the source's frames, the source
// turned into RGB the way the program turns video pictures into RGB.
double meanSSIM(const std::filesystem::path& gif, const std::filesystem::path& source) {
    auto r = run("ffmpeg -nostdin -hide_banner -i " + shellQuote(gif.string()) + " -i " + shellQuote(source.string()) +
                 " -lavfi \"[1:v]scale=flags=bicubic+accurate_rnd,format=rgba,format=rgb24[ref];[0:v]format=rgb24[g];"
                 "[g][ref]ssim\" -f null - 2>&1");
    auto at = r.output.rfind("All:");
    EXPECT_NE(at, std::string::npos) << r.output;
    return at == std::string::npos ? 0 : std::atof(r.output.c_str() + at + 4);
}

TEST(VideoToGIF, FramesStayCloseToTheSourceFrames) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // Sharp edges, text and noise; then smooth colour gradients, which band without dithering.
    for (const std::string pattern : {"testsrc2=size=480x270", "gradients=size=480x270:speed=0.05"}) {
        SCOPED_TRACE(pattern);
        auto clip = dir / "clip.mp4";
        ffmpeg("-f lavfi -i " + pattern + ":rate=10:duration=2 -c:v libx264 -preset ultrafast -pix_fmt yuv420p " +
               shellQuote(clip.string()));
        auto gif = VideoAudioConverter::videoToGIF(clip, dir.path(), 10, 480, nullptr);
        EXPECT_GE(meanSSIM(gif, clip), 0.97);
        std::filesystem::remove(gif);
    }
}

TEST(VideoToGIF, RotatedClipComesOutUprightAndNarrowClipsKeepTheirWidth) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "phone.mp4", {.width = 96, .height = 64, .rate = 10, .seconds = 1, .audio = false, .rotation = 90});
    auto gif = VideoAudioConverter::videoToGIF(clip, dir.path(), 3, 480, nullptr);
    auto p = probe(gif);
    EXPECT_EQ(p.videoWidth(), 64);
    EXPECT_EQ(p.videoHeight(), 96);
    EXPECT_EQ(frameDurations(gif).size(), 3u);
}

TEST(VideoToGIF, InvalidRatesFailBeforeAnyWork) {
    TempDir dir;
    for (double fps : {0.0, -5.0, std::numeric_limits<double>::infinity(), std::numeric_limits<double>::quiet_NaN()}) {
        LogWatch log;
        auto e = conversionErrorOf([&] { VideoAudioConverter::videoToGIF(dir / "any.mp4", dir.path(), fps, 480, nullptr); });
        EXPECT_EQ(e.kind(), ConversionError::Kind::conversionFailed);
        EXPECT_TRUE(log.lines().empty());
    }
    REQUIRE_FFMPEG();
    auto clip = makeVideo(dir / "clip.mp4", {.audio = false});
    auto e = conversionErrorOf([&] { VideoAudioConverter::videoToGIF(clip, dir.path(), 1e300, 480, nullptr); });
    EXPECT_EQ(e.kind(), ConversionError::Kind::conversionFailed);
    EXPECT_FALSE(std::filesystem::exists(dir / "clip.gif"));
}

TEST(VideoToGIF, CancellationLeavesNoFile) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "clip.mp4", {.audio = false});
    std::stop_source stop;
    EXPECT_THROW(VideoAudioConverter::videoToGIF(clip, dir.path(), 10, 480, [&](double) { stop.request_stop(); },
                                                 CancellationToken(stop.get_token())),
                 CancellationError);
    EXPECT_FALSE(std::filesystem::exists(dir / "clip.gif"));
}

TEST(VideoToGIF, AudioOnlySourceLeavesNothing) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto tone = makeTone(dir / "tone.mp4", 1, 44100, 2, "-c:a aac");
    auto e = conversionErrorOf([&] { VideoAudioConverter::videoToGIF(tone, dir.path(), 10, 480, nullptr); });
    EXPECT_EQ(e.kind(), ConversionError::Kind::conversionFailed);
    EXPECT_FALSE(std::filesystem::exists(dir / "tone.gif"));
}

TEST(GifToVideo, EvenSizeAndFrameTimesFromTheDelays) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto gifPath = dir / "anim.gif";
    ffmpeg("-f lavfi -i testsrc=size=101x51:rate=10:duration=0.4 -vf \"setpts='if(eq(N,0),0,if(eq(N,1),0.1/TB,if(eq(N,2),0.3/TB,0.6/TB)))'\" "
           "-fps_mode passthrough " + shellQuote(gifPath.string()));
    auto delays = frameDurations(gifPath);
    ASSERT_EQ(delays.size(), 4u);
    ProgressRecorder progress;
    LogWatch log;
    std::vector<std::filesystem::path> outputs;
    for (SupportedFormat target : {SupportedFormat::mp4, SupportedFormat::mov, SupportedFormat::m4v})
        outputs.push_back(VideoAudioConverter::gifToVideo(gifPath, target, dir.path(), target == SupportedFormat::mp4 ? progress.handler() : nullptr));
    EXPECT_EQ(outputs[0].filename(), "anim.mp4");
    EXPECT_EQ(outputs[1].filename(), "anim.mov");
    EXPECT_EQ(outputs[2].filename(), "anim.m4v");
    for (const auto& out : outputs) {
        auto p = probe(out);
        EXPECT_EQ(p.codec("video"), "h264");
        EXPECT_EQ(p.videoWidth(), 100);
        EXPECT_EQ(p.videoHeight(), 50);
        auto times = frameTimes(out);
        ASSERT_EQ(times.size(), 4u);
        double t = 0;
        for (size_t i = 0; i < 4; ++i) {
            EXPECT_NEAR(times[i], t, 0.002);
            t += delays[i];
        }
    }
    EXPECT_EQ(progress.values, (std::vector<double>{0.25, 0.5, 0.75, 1.0}));
    EXPECT_EQ(log.lines()[0], "INFO Video GIF \u2192 MP4: anim.gif");
    EXPECT_EQ(log.lines()[1], "OK Video Wrote 4 frames");
}

TEST(GifToVideo, TransparentAreasAreBlack) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto gifPath = makeGif(dir / "t.gif", 16, 16, true);
    auto out = VideoAudioConverter::gifToVideo(gifPath, SupportedFormat::mp4, dir.path(), nullptr);
    ffmpeg("-i " + shellQuote(out.string()) + " -frames:v 1 -f rawvideo -pix_fmt gray " + shellQuote((dir / "f.gray").string()));
    auto pixels = readFile(dir / "f.gray");
    ASSERT_FALSE(pixels.empty());
    for (auto v : pixels) ASSERT_LT(v, 40);
}

TEST(GifToVideo, BadSourcesAreRefusedBeforeANameIsReserved) {
    REQUIRE_FFMPEG();
    TempDir dir;
    writeFile(dir / "junk.gif", std::string("not a gif at all"));
    EXPECT_EQ(conversionErrorOf([&] { VideoAudioConverter::gifToVideo(dir / "junk.gif", SupportedFormat::mp4, dir.path(), nullptr); }).kind(),
              ConversionError::Kind::failedToLoadFile);
    makeGif(dir / "thin.gif", 1, 40, false);
    auto e = conversionErrorOf([&] { VideoAudioConverter::gifToVideo(dir / "thin.gif", SupportedFormat::mp4, dir.path(), nullptr); });
    EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
    // Nothing was reserved: a proper GIF of that name still gets the plain name.
    makeGif(dir / "thin.gif", 40, 40, false);
    EXPECT_EQ(VideoAudioConverter::gifToVideo(dir / "thin.gif", SupportedFormat::mp4, dir.path(), nullptr).filename(), "thin.mp4");
    e = conversionErrorOf([&] { VideoAudioConverter::gifToVideo(dir / "thin.gif", SupportedFormat::wav, dir.path(), nullptr); });
    EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedConversion);
    EXPECT_EQ(e.payload(), "GIF");
}

TEST(GifToVideo, AGifWithoutItsTrailerIsRefusedAsTheImageReaderRefusesIt) {
    REQUIRE_FFMPEG();
    TempDir dir;
    ffmpeg("-f lavfi -i testsrc=size=64x48:rate=10:duration=3 " + shellQuote((dir / "whole.gif").string()));
    const auto bytes = readFile(dir / "whole.gif");
    writeFile(dir / "cut.gif", std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2)));
    const auto outDir = dir / "out";
    std::filesystem::create_directories(outDir);
    auto e = conversionErrorOf([&] { VideoAudioConverter::gifToVideo(dir / "cut.gif", SupportedFormat::mp4, outDir, nullptr); });
    EXPECT_EQ(std::string(e.what()),
              "File appears corrupt: cut.gif is truncated \u2014 the file is missing its ending, so only part of the image is present.");
    EXPECT_TRUE(std::filesystem::is_empty(outDir));
    // A newline after the trailer, as web servers leave it, cuts nothing short.
    auto padded = bytes;
    padded.push_back('\n');
    writeFile(dir / "whole.gif", padded);
    auto out = VideoAudioConverter::gifToVideo(dir / "whole.gif", SupportedFormat::mp4, outDir, nullptr);
    EXPECT_NEAR(probe(out).duration(), 3.0, 0.15);
}

TEST(GifToVideo, CancellationLeavesNoFile) {
    REQUIRE_FFMPEG();
    TempDir dir;
    ffmpeg("-f lavfi -i testsrc=size=64x48:rate=10:duration=1 " + shellQuote((dir / "a.gif").string()));
    std::stop_source stop;
    EXPECT_THROW(VideoAudioConverter::gifToVideo(dir / "a.gif", SupportedFormat::mp4, dir.path(), [&](double) { stop.request_stop(); },
                                                 CancellationToken(stop.get_token())),
                 CancellationError);
    EXPECT_FALSE(std::filesystem::exists(dir / "a.mp4"));
}

}  // namespace
}  // namespace calvoro
