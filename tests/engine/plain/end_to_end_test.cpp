// One real conversion per landed converter, through the engine with its real router and validator.
#include <gtest/gtest.h>

#include "core/conversion_error.h"
#include "engine/conversion_engine.h"
#include "engine/engine_test_support.h"
#include "platform/media/media_fixtures.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;

namespace {

struct Recorded {
    std::vector<double> values;
    ConversionEngine::ProgressHandler handler() {
        return [this](double v) { values.push_back(v); };
    }
};

}  // namespace

TEST(EngineEndToEnd, AFontBecomesAWOFF2ThatThePeerDecodes) {
    TempDir dir;
    writeFile(dir / "DejaVuSans.ttf", readFile("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
    Recorded progress;
    LogCapture log;
    const fs::path out = ConversionEngine::convert(makeJob(dir / "DejaVuSans.ttf", SupportedFormat::ttf, SupportedFormat::woff2),
                                                   dir / "out", progress.handler());
    EXPECT_EQ(out, dir / "out" / "DejaVuSans.woff2");
    EXPECT_EQ(progress.values, (std::vector<double>{0.3, 1.0}));
    EXPECT_EQ(log.entries().back().level, ConversionLogger::Level::success);
    ASSERT_TRUE(peerInstalled("woff2_decompress"));
    const auto r = run("woff2_decompress " + shellQuote(out.string()));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_TRUE(fs::exists(dir / "out" / "DejaVuSans.ttf"));
}

TEST(EngineEndToEnd, AFontErrorReachesTheCallerAfterTheFailureEntry) {
    TempDir dir;
    writeFile(dir / "broken.woff", std::string("wOFF") + std::string(100, '\x02'));
    Recorded progress;
    LogCapture log;
    EXPECT_THROW(ConversionEngine::convert(makeJob(dir / "broken.woff", SupportedFormat::woff, SupportedFormat::ttf), dir / "out",
                                           progress.handler()),
                 ConversionError);
    EXPECT_EQ(progress.values, std::vector<double>{0.3});
    EXPECT_EQ(log.entries().back().category, "Font");
}

TEST(EngineEndToEnd, AZIPBecomesATarThatThePeerLists) {
    ASSERT_TRUE(peerInstalled("zip"));
    ASSERT_TRUE(peerInstalled("bsdtar"));
    TempDir dir;
    fs::create_directories(dir / "src" / "docs");
    writeFile(dir / "src" / "docs" / "note.txt", std::string("hello archive"));
    ASSERT_EQ(run("cd " + shellQuote((dir / "src").string()) + " && zip -qr ../bundle.zip docs").status, 0);
    Recorded progress;
    const fs::path out = ConversionEngine::convert(makeJob(dir / "bundle.zip", SupportedFormat::zip, SupportedFormat::tar),
                                                   dir / "out", progress.handler());
    EXPECT_EQ(out.filename(), "bundle.tar");
    EXPECT_EQ(progress.values, (std::vector<double>{0.2, 1.0}));
    const auto listing = run("bsdtar -tf " + shellQuote(out.string()));
    EXPECT_EQ(listing.status, 0);
    EXPECT_NE(listing.output.find("docs/note.txt"), std::string::npos) << listing.output;
}

TEST(EngineEndToEnd, APNGBecomesAJPEGThatThePeerIdentifies) {
    ASSERT_TRUE(peerInstalled("convert"));
    ASSERT_TRUE(peerInstalled("identify"));
    TempDir dir;
    ASSERT_EQ(run("convert -size 64x32 gradient:white-green " + shellQuote((dir / "pic.png").string())).status, 0);
    ConversionJob job = makeJob(dir / "pic.png", SupportedFormat::png, SupportedFormat::jpeg);
    job.imageMaxEdge = 16;
    Recorded progress;
    const fs::path out = ConversionEngine::convert(job, dir / "out", progress.handler());
    EXPECT_EQ(out.filename(), "pic.jpg");
    EXPECT_EQ(progress.values, (std::vector<double>{0.3, 1.0}));
    const auto r = run("identify -format '%m %wx%h' " + shellQuote(out.string()));
    EXPECT_EQ(r.output, "JPEG 16x8") << "the longest-edge limit reached the converter";
}

TEST(EngineEndToEnd, AWAVBecomesAFLACAndAVideoGivesUpItsAudio) {
    ASSERT_TRUE(peerInstalled("ffmpeg"));
    TempDir dir;
    media::ffmpeg("-f lavfi -i sine=frequency=440:duration=0.5 " + shellQuote((dir / "tone.wav").string()));
    Recorded progress;
    const fs::path flac = ConversionEngine::convert(makeJob(dir / "tone.wav", SupportedFormat::wav, SupportedFormat::flac),
                                                    dir / "out", progress.handler());
    EXPECT_EQ(media::probe(flac).json["streams"].size(), 1u);
    EXPECT_EQ(media::probe(flac).codec("audio"), "flac");
    ASSERT_FALSE(progress.values.empty()) << "the media converter reports its own progress";

    media::ffmpeg("-f lavfi -i testsrc=size=64x48:rate=10:duration=0.5 -f lavfi -i sine=duration=0.5 -c:v libx264 -pix_fmt yuv420p "
                  "-c:a aac " + shellQuote((dir / "clip.mp4").string()));
    const fs::path audio = ConversionEngine::convert(makeJob(dir / "clip.mp4", SupportedFormat::mp4, SupportedFormat::extractAudio),
                                                     dir / "out", noProgress);
    EXPECT_EQ(audio.filename(), "clip (audio).m4a");
    EXPECT_EQ(media::probe(audio).json["streams"].size(), 1u);
    EXPECT_NE(media::probe(audio).stream("audio"), nullptr);
}

TEST(EngineEndToEnd, AVideoBecomesAGIFAndAGIFAVideo) {
    ASSERT_TRUE(peerInstalled("ffmpeg"));
    TempDir dir;
    media::ffmpeg("-f lavfi -i testsrc=size=64x48:rate=10:duration=0.6 -c:v libx264 -pix_fmt yuv420p " +
                  shellQuote((dir / "clip.mp4").string()));
    ConversionJob toGIF = makeJob(dir / "clip.mp4", SupportedFormat::mp4, SupportedFormat::gif);
    toGIF.videoGifWidth = 32;
    const fs::path gif = ConversionEngine::convert(toGIF, dir / "out", {});
    EXPECT_EQ(gif.filename(), "clip.gif");
    EXPECT_EQ(media::probe(gif).codec("video"), "gif");
    EXPECT_EQ(media::probe(gif).videoWidth(), 32) << "the width reached the converter";

    const fs::path video = ConversionEngine::convert(makeJob(gif, SupportedFormat::gif, SupportedFormat::mov), dir / "back", {});
    EXPECT_EQ(media::probe(video).codec("video"), "h264");
}

TEST(EngineEndToEnd, NamesAsLongAsTheFileSystemAllowsConvert) {
    TempDir dir;
    // 255 bytes each: every converter writes under a temporary name first.
    const std::string stem(251, 'n');
    writeFile(dir / (stem + ".csv"), std::string("a,b\n1,2\n"));
    const fs::path json = ConversionEngine::convert(makeJob(dir / (stem + ".csv"), SupportedFormat::csv, SupportedFormat::json),
                                                    dir / "out", [](double) {});
    EXPECT_EQ(json.filename().string(), std::string(250, 'n') + ".json");
    const auto read = run("python3 -c 'import json,sys; print(json.load(open(sys.argv[1])))' " + shellQuote(json.string()));
    EXPECT_EQ(read.output, "[{'a': 1, 'b': 2}]\n");
    // A longer extension takes the end of the stem.
    const fs::path html = ConversionEngine::convert(makeJob(dir / (stem + ".csv"), SupportedFormat::csv, SupportedFormat::html),
                                                    dir / "out", [](double) {});
    EXPECT_EQ(html.filename().string(), std::string(250, 'n') + ".html");
    EXPECT_NE(readText(html).find("<td>2</td>"), std::string::npos);
}
