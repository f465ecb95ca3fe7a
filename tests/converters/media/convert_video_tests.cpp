#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "converters/media/converter_test_support.h"
#include "converters/media/video_audio_converter.h"
#include "core/conversion_error.h"
#include "platform/media/media_error.h"

namespace calvoro {
namespace {

using namespace calvoro::testing;
using namespace calvoro::testing::media;

// One small clip per video source format, each in its usual codecs.
std::filesystem::path makeSource(const TempDir& dir, SupportedFormat format, const std::string& stem = "clip") {
    VideoSpec spec{.width = 160, .height = 96, .rate = 25, .seconds = 1};
    if (format == SupportedFormat::avi) {
        spec.videoCodec = "-c:v mpeg4 -q:v 5";
        spec.audioCodec = "-c:a libmp3lame";
    } else if (format == SupportedFormat::webm) {
        spec.videoCodec = "-c:v libvpx -deadline realtime -b:v 300k";
        spec.audioCodec = "-c:a libopus";
        spec.audio = true;
    }
    return makeVideo(dir / (stem + "." + format.fileExtension()), spec);
}

TEST(ConvertVideo, EveryOfferedPairConverts) {
    REQUIRE_FFMPEG();
    TempDir dir;
    std::vector<std::filesystem::path> inputs, written;
    std::vector<SupportedFormat> targets;
    for (SupportedFormat source : {SupportedFormat::mp4, SupportedFormat::mov, SupportedFormat::m4v, SupportedFormat::avi,
                                   SupportedFormat::webm}) {
        auto input = makeSource(dir, source);
        for (auto target : source.possibleConversions()) {
            if (target.category() != FileCategory::video || target == source) continue;
            SCOPED_TRACE(source.displayName() + " to " + target.displayName());
            auto out = dir / ("out-" + source.rawValue());
            std::filesystem::create_directories(out);
            written.push_back(VideoAudioConverter::convertVideo(input, target, out, nullptr));
            EXPECT_EQ(written.back(), out / ("clip." + target.fileExtension()));
            inputs.push_back(input);
            targets.push_back(target);
        }
    }
    ASSERT_EQ(written.size(), 12u);
    auto probes = probeAll(written);
    auto sources = probeAll(inputs);
    for (size_t i = 0; i < probes.size(); ++i) {
        SCOPED_TRACE(written[i].string());
        const auto& p = probes[i];
        EXPECT_NE(p.formatName().find("mp4"), std::string::npos);
        EXPECT_EQ(p.codec("video"), "h264");
        EXPECT_EQ(p.codec("audio"), "aac");
        EXPECT_EQ(p.videoWidth(), 160);
        EXPECT_EQ(p.videoHeight(), 96);
        EXPECT_NEAR(p.duration(), sources[i].duration(), 1.0 / 25 + 0.03);
        if (targets[i] == SupportedFormat::m4v) {
            EXPECT_EQ(p.majorBrand(), "M4V ");
        }
        if (targets[i] == SupportedFormat::mov) {
            EXPECT_EQ(p.majorBrand(), "qt  ");
        }
    }
}

TEST(ConvertVideo, KeepsRotationAndReportsProgressEndingInOne) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // 4:4:4 pictures are encoded again (a copy ends before the poll reports anything on the way).
    auto clip = makeVideo(dir / "phone.mov", {.width = 128, .height = 96, .rotation = 90,
                                              .videoCodec = "-c:v libx264 -preset ultrafast -pix_fmt yuv444p"});
    ProgressRecorder progress;
    LogWatch log;
    auto out = VideoAudioConverter::convertVideo(clip, SupportedFormat::mp4, dir.path(), progress.handler());
    EXPECT_EQ(probe(out).rotation(), probe(clip).rotation());
    EXPECT_NE(probe(out).rotation(), 0);
    ASSERT_GE(progress.values.size(), 2u);
    EXPECT_EQ(progress.values.back(), 1.0);
    // The poll reports the session's own value, which only grows; the poller is joined before
    // the final report, so nothing can come after it.
    EXPECT_GE(progress.values.front(), 0.0);
    for (size_t i = 0; i + 1 < progress.values.size(); ++i) EXPECT_LE(progress.values[i], progress.values[i + 1]);
    auto reported = progress.values.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(450));
    EXPECT_EQ(progress.values.size(), reported);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "INFO Video Video: phone.mov \u2192 MP4");
}

TEST(ConvertVideo, StreamsThatAlreadyFitAreCopiedBitForBit) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto h264 = makeVideo(dir / "phone.mov", {.width = 130, .height = 96, .rotation = 90});
    auto hevc = makeVideo(dir / "hevc.mp4", {.videoCodec = "-c:v libx265 -preset ultrafast -pix_fmt yuv420p -tag:v hvc1 -x265-params log-level=none"});
    auto silent = makeVideo(dir / "silent.mov", {.audio = false});
    for (const auto& [source, target] : {std::pair{h264, SupportedFormat(SupportedFormat::mp4)}, std::pair{h264, SupportedFormat(SupportedFormat::m4v)},
                                         std::pair{hevc, SupportedFormat(SupportedFormat::mov)}, std::pair{silent, SupportedFormat(SupportedFormat::mp4)}}) {
        SCOPED_TRACE(source.filename().string() + " to " + target.displayName());
        auto out = dir / ("out-" + target.rawValue());
        std::filesystem::create_directories(out);
        auto written = VideoAudioConverter::convertVideo(source, target, out, nullptr);
        const std::string copied = packetDigest(source);
        EXPECT_NE(copied, "");
        EXPECT_EQ(packetDigest(written), copied);
        EXPECT_EQ(probe(written).rotation(), probe(source).rotation());
    }
}

TEST(ConvertVideo, StreamsThatDoNotFitAreEncoded) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // 4:4:4 pictures, and AAC beside sound in another codec, are not what the export makes.
    auto full = makeVideo(dir / "full.mov", {.videoCodec = "-c:v libx264 -preset ultrafast -pix_fmt yuv444p"});
    auto mp3 = makeVideo(dir / "mp3.mov", {.audioCodec = "-c:a libmp3lame"});
    for (const auto& source : {full, mp3}) {
        SCOPED_TRACE(source.filename().string());
        auto written = VideoAudioConverter::convertVideo(source, SupportedFormat::mp4, dir.path(), nullptr);
        auto p = probe(written);
        EXPECT_EQ(p.codec("video"), "h264");
        EXPECT_EQ(p.codec("audio"), "aac");
        EXPECT_EQ(p.stream("video")->value("pix_fmt", ""), "yuv420p");
        EXPECT_NE(packetDigest(written), packetDigest(source));
        // Only what does not fit is encoded again: pictures that fit beside MP3 sound are copied.
        if (source == mp3) {
            EXPECT_EQ(packetDigest(written, "video"), packetDigest(source, "video"));
        }
    }
}

// Two languages of sound and a subtitle track, made by ffmpeg: English AAC (default), French
// AAC, English forced subtitles. With yuv444p pictures and MP3 sound everything is encoded again.
std::filesystem::path makeBilingual(const TempDir& dir, const std::string& name, bool fits) {
    writeFile(dir / "subs.srt", std::string("1\n00:00:00,200 --> 00:00:00,800\nHello\n\n2\n00:00:01,000 --> 00:00:01,400\nWorld\n"));
    auto path = dir / name;
    ffmpeg("-f lavfi -i testsrc=size=96x64:rate=25:duration=1.5 -f lavfi -i sine=frequency=440:duration=1.5 "
           "-f lavfi -i sine=frequency=660:duration=1.5 -i " + shellQuote((dir / "subs.srt").string()) +
           " -map 0 -map 1 -map 2 -map 3 -c:v libx264 -preset ultrafast -pix_fmt " + (fits ? "yuv420p -c:a aac" : "yuv444p -c:a libmp3lame") +
           " -c:s mov_text -metadata:s:a:0 language=eng -metadata:s:a:1 language=fre -metadata:s:s:0 language=eng"
           " -disposition:a:0 default -disposition:a:1 0 -disposition:s:0 default+forced " + shellQuote(path.string()));
    return path;
}

// "type:language:default[:forced]" per stream after the video, as ffprobe reads them.
std::vector<std::string> trackMarks(const Probe& p, bool withForced) {
    std::vector<std::string> out;
    for (const auto& s : p.json["streams"]) {
        if (s.value("codec_type", "") == "video") continue;
        std::string mark = s.value("codec_type", "") + ":" + s["tags"].value("language", "und") + ":" +
                           std::to_string(s["disposition"].value("default", 0));
        if (withForced) mark += ":" + std::to_string(s["disposition"].value("forced", 0));
        out.push_back(mark);
    }
    return out;
}

TEST(ConvertVideo, EveryAudioAndSubtitleTrackIsKeptWithItsMarks) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // Subtitles in a text format no movie container holds as it stands; a second picture track.
    const auto reference = makeBilingual(dir, "ref.mp4", true);
    ffmpeg("-f lavfi -i testsrc=size=96x64:rate=25:duration=1 -i " + shellQuote(reference.string()) +
           " -map 0:v -map 1:s -c:v libvpx -deadline realtime -c:s webvtt -metadata:s:s:0 language=ger " + shellQuote((dir / "web.webm").string()));
    ffmpeg("-i " + shellQuote(reference.string()) + " -map 0:v -map 0:v -c copy " + shellQuote((dir / "two.mp4").string()));
    std::vector<std::filesystem::path> written;
    std::vector<SupportedFormat> targets;
    LogWatch log;
    for (bool fits : {true, false}) {
        auto source = makeBilingual(dir, fits ? "copied.mp4" : "encoded.mp4", fits);
        for (SupportedFormat target : {SupportedFormat::mp4, SupportedFormat::mov, SupportedFormat::m4v}) {
            auto out = dir / ("out-" + std::to_string(fits) + target.rawValue());
            std::filesystem::create_directories(out);
            written.push_back(VideoAudioConverter::convertVideo(source, target, out, nullptr));
            targets.push_back(target);
        }
        written.push_back(VideoAudioConverter::extractAudio(source, dir.path(), nullptr));
        targets.push_back(SupportedFormat::extractAudio);
    }
    for (const auto& line : log.lines()) EXPECT_EQ(line.rfind("INFO ", 0), 0u) << line;
    VideoAudioConverter::convertVideo(dir / "two.mp4", SupportedFormat::mov, dir.path(), nullptr);
    EXPECT_EQ(log.lines().back(), "WARN Video Left out video track 2 (h264): only the first video track is written");
    auto webm = VideoAudioConverter::convertVideo(dir / "web.webm", SupportedFormat::mp4, dir.path(), nullptr);
    written.push_back(webm);
    auto probes = probeAll(written);
    for (size_t i = 0; i + 1 < probes.size(); ++i) {
        SCOPED_TRACE(written[i].string());
        const auto& p = probes[i];
        if (targets[i] == SupportedFormat::extractAudio) {
            EXPECT_EQ(trackMarks(p, false), (std::vector<std::string>{"audio:eng:1", "audio:fre:0"}));
            continue;
        }
        // QuickTime spells French the terminology way; only MPEG-4 files mark forced subtitles.
        const bool quickTime = targets[i] == SupportedFormat::mov;
        const std::string french = quickTime ? "fra" : "fre";
        if (targets[i] == SupportedFormat::mp4)
            EXPECT_EQ(trackMarks(p, true), (std::vector<std::string>{"audio:eng:1:0", "audio:" + french + ":0:0", "subtitle:eng:1:1"}));
        else
            EXPECT_EQ(trackMarks(p, false), (std::vector<std::string>{"audio:eng:1", "audio:" + french + ":0", "subtitle:eng:1"}));
        EXPECT_EQ(p.codec("audio"), "aac");
        EXPECT_EQ(p.codec("subtitle"), "mov_text");
    }
    // WebVTT becomes timed text, cue for cue.
    EXPECT_EQ(trackMarks(probes.back(), false), std::vector<std::string>{"subtitle:ger:1"});
    EXPECT_EQ(probes.back().codec("subtitle"), "mov_text");
    const auto srt = run("ffmpeg -v error -i " + shellQuote(webm.string()) + " -map 0:s -f srt -").output;
    EXPECT_NE(srt.find("00:00:00,200 --> 00:00:00,800\nHello"), std::string::npos) << srt;
    EXPECT_NE(srt.find("00:00:01,000 --> 00:00:01,400\nWorld"), std::string::npos) << srt;
    // The subtitles keep their times when the pictures and sound are encoded again.
    auto times = [](const std::filesystem::path& file) {
        return run("ffprobe -v error -select_streams s -show_entries packet=pts_time -of csv=p=0 " + shellQuote(file.string())).output;
    };
    EXPECT_EQ(times(written[4]), times(dir / "encoded.mp4"));
    EXPECT_NE(times(written[4]).find("0.200000"), std::string::npos);
}

TEST(ConvertVideo, ClipWithoutAudioConverts) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "silent.mp4", {.audio = false});
    auto out = VideoAudioConverter::convertVideo(clip, SupportedFormat::mov, dir.path(), nullptr);
    auto p = probe(out);
    EXPECT_EQ(p.codec("video"), "h264");
    EXPECT_EQ(p.stream("audio"), nullptr);
}

TEST(ConvertVideo, NamesFollowTheRegistry) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "movie.final.mov");
    writeFile(dir / "movie.final.mp4", std::string("keep me"));
    auto out = VideoAudioConverter::convertVideo(clip, SupportedFormat::mp4, dir.path(), nullptr);
    EXPECT_EQ(out.filename(), "movie.final (1).mp4");
    EXPECT_EQ(readText(dir / "movie.final.mp4"), "keep me");
}

TEST(ConvertVideo, TargetsWithoutAContainerAreRefusedBeforeAnyPreset) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "clip.mov");
    for (SupportedFormat target : {SupportedFormat::avi, SupportedFormat::webm, SupportedFormat::gif, SupportedFormat::pdf}) {
        LogWatch log;
        auto e = conversionErrorOf([&] { VideoAudioConverter::convertVideo(clip, target, dir.path(), nullptr); });
        EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedConversion);
        EXPECT_EQ(e.payload(), "Video");
        EXPECT_EQ(e.secondPayload(), target.displayName());
        EXPECT_EQ(log.lines().back(), "ERROR Video No video container to write " + target.displayName());
    }
}

TEST(ConvertVideo, ZeroDurationIsCorrupt) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // A movie whose tracks hold no samples.
    ffmpeg("-f lavfi -i testsrc=size=64x64:rate=10:duration=1 -frames:v 0 -c:v libx264 " + shellQuote((dir / "empty.mp4").string()));
    ASSERT_TRUE(std::filesystem::exists(dir / "empty.mp4"));
    LogWatch log;
    auto e = conversionErrorOf([&] { VideoAudioConverter::convertVideo(dir / "empty.mp4", SupportedFormat::mov, dir.path(), nullptr); });
    EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
    EXPECT_STREQ(e.what(), "File appears corrupt: Video has zero duration");
    EXPECT_EQ(log.lines().back(), "ERROR Video Asset reports zero duration");
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.mov"));
}

TEST(ConvertVideo, UnreadableSourcePassesTheLayersError) {
    TempDir dir;
    writeFile(dir / "junk.mp4", std::string(4096, 'j'));
    EXPECT_THROW(VideoAudioConverter::convertVideo(dir / "junk.mp4", SupportedFormat::mov, dir.path(), nullptr), calvoro::media::MediaError);
}

TEST(ExtractAudio, WritesTheAudioAsM4A) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "holiday.trip.mov", {.seconds = 1.5});
    ProgressRecorder progress;
    LogWatch log;
    auto out = VideoAudioConverter::extractAudio(clip, dir.path(), progress.handler());
    EXPECT_EQ(out.filename(), "holiday.trip (audio).m4a");
    auto p = probe(out);
    EXPECT_EQ(p.codec("audio"), "aac");
    EXPECT_EQ(p.stream("video"), nullptr);
    EXPECT_EQ(p.majorBrand(), "M4A ");
    EXPECT_EQ(p.channels(), 2);
    EXPECT_NEAR(p.duration(), 1.5, 0.05);
    ASSERT_FALSE(progress.values.empty());
    EXPECT_EQ(progress.values.back(), 1.0);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"INFO Video Extract audio: holiday.trip.mov"});
}

TEST(ExtractAudio, FiveOneAudioIsExtracted) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "surround.mp4", {.channels = 6});
    auto out = VideoAudioConverter::extractAudio(clip, dir.path(), nullptr);
    EXPECT_EQ(probe(out).channels(), 6);
}

TEST(ExtractAudio, SoundAtARateTheEncoderDoesNotTakeGetsTheNearest) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "old.mov", {.audioCodec = "-c:a pcm_s16le -ar 11000"});
    auto out = VideoAudioConverter::extractAudio(clip, dir.path(), nullptr);
    EXPECT_EQ(probe(out).sampleRate(), 11025);
    EXPECT_NEAR(probe(out).duration(), 1.0, 0.06);
}

TEST(ExtractAudio, VideoWithoutAudioKeepsItsNameReserved) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "a.b.mp4", {.audio = false});
    LogWatch log;
    auto e = conversionErrorOf([&] { VideoAudioConverter::extractAudio(clip, dir.path(), nullptr); });
    EXPECT_STREQ(e.what(), "File appears corrupt: Video has no audio track");
    EXPECT_EQ(log.lines().back(), "ERROR Video No audio track present");
    auto again = makeVideo(dir / "a.b.mov");
    std::filesystem::rename(again, dir / "a.b.mp4");
    auto out = VideoAudioConverter::extractAudio(dir / "a.b.mp4", dir.path(), nullptr);
    EXPECT_EQ(out.filename(), "a.b (audio) (1).m4a");
}

}  // namespace
}  // namespace calvoro
