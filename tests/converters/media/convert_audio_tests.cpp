#include <gtest/gtest.h>

#include <stop_token>

#include "converters/media/converter_test_support.h"
#include "converters/media/video_audio_converter.h"
#include "core/conversion_error.h"

namespace calvoro {
namespace {

using namespace calvoro::testing;
using namespace calvoro::testing::media;

// A 440 Hz tone in each of the formats, made by one ffmpeg start.
std::vector<std::filesystem::path> makeAudioSources(const TempDir& dir, const std::vector<SupportedFormat>& formats, int rate = 44100,
                                                    int channels = 2, double seconds = 1) {
    std::string args = "-f lavfi -i sine=frequency=440:sample_rate=" + std::to_string(rate) + ":duration=" + std::to_string(seconds);
    std::vector<std::filesystem::path> paths;
    for (SupportedFormat format : formats) {
        std::string codec;
        std::string ext = format.fileExtension();
        switch (format) {
            case SupportedFormat::mp3: codec = "-c:a libmp3lame"; break;
            case SupportedFormat::aac: codec = "-c:a aac -f adts"; break;
            case SupportedFormat::m4a: codec = "-c:a aac"; break;
            case SupportedFormat::alac: codec = "-c:a alac"; ext = "m4a"; break;
            case SupportedFormat::flac: codec = "-c:a flac"; break;
            case SupportedFormat::aiff: codec = "-c:a pcm_s16be"; break;
            default: codec = "-c:a pcm_s16le"; break;
        }
        paths.push_back(dir / ("src-" + format.rawValue() + "." + ext));
        args += " -ac " + std::to_string(channels) + " " + codec + " " + shellQuote(paths.back().string());
    }
    ffmpeg(args);
    return paths;
}

std::filesystem::path makeAudioSource(const TempDir& dir, SupportedFormat format, int rate = 44100, int channels = 2,
                                      double seconds = 1) {
    return makeAudioSources(dir, {format}, rate, channels, seconds).front();
}

struct Expected {
    std::string codec;
    std::string container;
};

Expected expectedFor(SupportedFormat target) {
    switch (target) {
        case SupportedFormat::m4a: return {"aac", "mp4"};
        case SupportedFormat::aac: return {"aac", "aac"};
        case SupportedFormat::alac: return {"alac", "mp4"};
        case SupportedFormat::wav: return {"pcm_s16le", "wav"};
        case SupportedFormat::aiff: return {"pcm_s16be", "aiff"};
        case SupportedFormat::flac: return {"flac", "flac"};
        default: return {};
    }
}

TEST(ConvertAudio, EveryOfferedPairConverts) {
    REQUIRE_FFMPEG();
    TempDir dir;
    std::vector<std::filesystem::path> written;
    std::vector<SupportedFormat> targets;
    const std::vector<SupportedFormat> sources = {SupportedFormat::mp3,  SupportedFormat::aac,  SupportedFormat::m4a, SupportedFormat::wav,
                                                  SupportedFormat::aiff, SupportedFormat::alac, SupportedFormat::flac};
    const auto inputs = makeAudioSources(dir, sources, 44100, 2, 0.5);
    for (size_t i = 0; i < sources.size(); ++i) {
        const SupportedFormat source = sources[i];
        const auto& input = inputs[i];
        for (auto target : source.possibleConversions()) {
            if (target.category() != FileCategory::audio) continue;
            SCOPED_TRACE(source.displayName() + " to " + target.displayName());
            auto out = dir / ("out-" + source.rawValue());
            std::filesystem::create_directories(out);
            written.push_back(VideoAudioConverter::convertAudio(input, target, out, std::nullopt, nullptr));
            targets.push_back(target);
            EXPECT_EQ(written.back().extension(), "." + target.fileExtension());
        }
    }
    auto probes = probeAll(written);
    ASSERT_GE(probes.size(), 30u);
    for (size_t i = 0; i < probes.size(); ++i) {
        SCOPED_TRACE(written[i].string());
        const auto& p = probes[i];
        auto want = expectedFor(targets[i]);
        EXPECT_EQ(p.codec("audio"), want.codec);
        EXPECT_NE(p.formatName().find(want.container), std::string::npos) << p.formatName();
        EXPECT_EQ(p.channels(), 2);
        EXPECT_EQ(p.sampleRate(), 44100);
        EXPECT_NEAR(p.duration(), 0.5, 0.06);
    }
}

TEST(ConvertAudio, KeepsRateAndChannelsAndUsesTheBitrate) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto mono = makeAudioSource(dir, SupportedFormat::mp3, 22050, 1);
    auto wav = VideoAudioConverter::convertAudio(mono, SupportedFormat::wav, dir.path(), 64000, nullptr);
    auto p = probe(wav);
    EXPECT_EQ(p.codec("audio"), "pcm_s16le");
    EXPECT_EQ(p.channels(), 1);
    EXPECT_EQ(p.sampleRate(), 22050);
    auto aiff = VideoAudioConverter::convertAudio(wav, SupportedFormat::aiff, dir.path(), std::nullopt, nullptr);
    EXPECT_EQ(probe(aiff).codec("audio"), "pcm_s16be");

    auto surround = makeAudioSource(dir, SupportedFormat::flac, 48000, 6);
    auto m4a = VideoAudioConverter::convertAudio(surround, SupportedFormat::m4a, dir.path(), std::nullopt, nullptr);
    EXPECT_EQ(probe(m4a).channels(), 6);
    EXPECT_EQ(probe(m4a).sampleRate(), 48000);

    auto stereo = makeAudioSource(dir, SupportedFormat::wav, 44100, 2, 2);
    std::filesystem::create_directories(dir / "fat");
    std::filesystem::create_directories(dir / "thin");
    auto fat = VideoAudioConverter::convertAudio(stereo, SupportedFormat::m4a, dir / "fat", std::nullopt, nullptr);
    auto thin = VideoAudioConverter::convertAudio(stereo, SupportedFormat::m4a, dir / "thin", 96000, nullptr);
    auto rate = [](const Probe& q) { return std::atof(q.stream("audio")->value("bit_rate", "0").c_str()); };
    EXPECT_NEAR(rate(probe(fat)), 256000, 40000);
    EXPECT_NEAR(rate(probe(thin)), 96000, 20000);
}

// The AAC encoder takes a list of rates: a sound at another becomes the nearest of them, as
// ffmpeg's own encoder chooses it; the lossless targets keep the rate as it is.
TEST(ConvertAudio, RatesTheAacEncoderDoesNotTakeBecomeTheNearestItDoes) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const std::vector<std::pair<int, int>> rates = {{8363, 8000}, {9000, 8000}, {11000, 11025}};
    for (const auto& [rate, nearest] : rates) {
        SCOPED_TRACE(rate);
        const auto wav = makeTone(dir / ("tone-" + std::to_string(rate) + ".wav"), 1, rate, 1);
        const auto aiff = makeTone(dir / ("tone-" + std::to_string(rate) + ".aiff"), 1, rate, 2);
        for (SupportedFormat target : {SupportedFormat::m4a, SupportedFormat::aac}) {
            const auto fromWav = probe(VideoAudioConverter::convertAudio(wav, target, dir.path(), std::nullopt, nullptr));
            EXPECT_EQ(fromWav.sampleRate(), nearest);
            // ffprobe guesses an ADTS stream's length from its rate.
            if (target == SupportedFormat::m4a) EXPECT_NEAR(fromWav.duration(), 1.0, 0.06);
            EXPECT_EQ(probe(VideoAudioConverter::convertAudio(aiff, target, dir.path(), std::nullopt, nullptr)).sampleRate(), nearest);
        }
        EXPECT_EQ(probe(VideoAudioConverter::convertAudio(wav, SupportedFormat::flac, dir.path(), std::nullopt, nullptr)).sampleRate(),
                  rate);
    }
    // Where an encoder cannot take the sound at all, that is what the error says: the file
    // itself could have been made.
    const auto wide = dir / "wide.wav";
    ffmpeg("-f lavfi -i sine=duration=0.5 -filter_complex asplit=10,amerge=inputs=10 -c:a pcm_s16le " + shellQuote(wide.string()));
    LogWatch log;
    const auto e = conversionErrorOf([&] { VideoAudioConverter::convertAudio(wide, SupportedFormat::flac, dir.path(), std::nullopt, nullptr); });
    EXPECT_STREQ(e.what(), "Export failed: The FLAC encoder cannot take sound of 10 channels at 44100 Hz.");
    EXPECT_EQ(log.lines().back(), "ERROR Audio Cannot open output audio: The FLAC encoder cannot take sound of 10 channels at 44100 Hz.");
    EXPECT_FALSE(std::filesystem::exists(dir / "wide.flac"));
}

TEST(ConvertAudio, AlacTakesTheM4AExtensionAndTheNextFreeName) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto flac = makeTone(dir / "song.flac", 0.5, 44100, 2);
    writeFile(dir / "song.m4a", std::string("taken"));
    auto out = VideoAudioConverter::convertAudio(flac, SupportedFormat::alac, dir.path(), std::nullopt, nullptr);
    EXPECT_EQ(out.filename(), "song (1).m4a");
    EXPECT_EQ(probe(out).codec("audio"), "alac");
    EXPECT_EQ(readText(dir / "song.m4a"), "taken");
}

TEST(ConvertAudio, ProgressRisesPerChunkAndEndsWithOneOnce) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // 20000 frames: chunks of 8192, 8192 and 3616.
    ffmpeg("-f lavfi -i sine=sample_rate=20000:duration=1 -c:a pcm_s16le " + shellQuote((dir / "t.wav").string()));
    ProgressRecorder progress;
    LogWatch log;
    VideoAudioConverter::convertAudio(dir / "t.wav", SupportedFormat::flac, dir.path(), std::nullopt, progress.handler());
    EXPECT_EQ(progress.values, (std::vector<double>{0.4096, 0.8192, 1.0, 1.0}));
    EXPECT_EQ(log.lines(), std::vector<std::string>{"INFO Audio Audio: t.wav \u2192 FLAC"});
}

TEST(ConvertAudio, ZeroFramesIsCorruptAndLeavesNoFile) {
    REQUIRE_FFMPEG();
    TempDir dir;
    ffmpeg("-f lavfi -i sine=duration=1 -frames:a 0 -c:a pcm_s16le " + shellQuote((dir / "empty.wav").string()));
    LogWatch log;
    auto e = conversionErrorOf(
        [&] { VideoAudioConverter::convertAudio(dir / "empty.wav", SupportedFormat::flac, dir.path(), std::nullopt, nullptr); });
    EXPECT_STREQ(e.what(), "File appears corrupt: Audio file has zero frames");
    EXPECT_EQ(log.lines().back(), "ERROR Audio Audio has zero frames");
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.flac"));
}

TEST(ConvertAudio, UnreadableSourceAndUnwritableTarget) {
    REQUIRE_FFMPEG();
    TempDir dir;
    writeFile(dir / "bad.mp3", std::string(2048, 'z'));
    LogWatch log;
    auto e = conversionErrorOf(
        [&] { VideoAudioConverter::convertAudio(dir / "bad.mp3", SupportedFormat::wav, dir.path(), std::nullopt, nullptr); });
    EXPECT_EQ(e.kind(), ConversionError::Kind::failedToLoadFile);
    EXPECT_EQ(log.lines().back().rfind("ERROR Audio Cannot open source audio: ", 0), 0u);

    // A target no audio encoder writes is a conversion not offered, not a file that could not be created.
    auto tone = makeTone(dir / "tone.wav");
    for (SupportedFormat target : {SupportedFormat::mp3, SupportedFormat::png}) {
        e = conversionErrorOf([&] { VideoAudioConverter::convertAudio(tone, target, dir.path(), std::nullopt, nullptr); });
        EXPECT_STREQ(e.what(), ("Converting WAV \u2192 " + target.displayName() + " is not supported.").c_str());
        EXPECT_FALSE(std::filesystem::exists(dir / ("tone." + target.fileExtension())));
    }

    // An output folder that cannot take files, for root too: a plain file standing in its place.
    writeFile(dir / "not-a-folder", std::string("x"));
    e = conversionErrorOf(
        [&] { VideoAudioConverter::convertAudio(tone, SupportedFormat::flac, dir / "not-a-folder", std::nullopt, nullptr); });
    EXPECT_EQ(e.kind(), ConversionError::Kind::failedToCreateOutput);
    EXPECT_EQ(log.lines().back().rfind("ERROR Audio Cannot open output audio: ", 0), 0u);
}

TEST(ConvertAudio, CancellationRemovesThePartialOutput) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto tone = makeTone(dir / "long.wav", 2);
    std::stop_source stop;
    int reports = 0;
    EXPECT_THROW(VideoAudioConverter::convertAudio(tone, SupportedFormat::flac, dir.path(), std::nullopt,
                                                   [&](double) {
                                                       if (++reports == 2) stop.request_stop();
                                                   },
                                                   CancellationToken(stop.get_token())),
                 CancellationError);
    EXPECT_EQ(reports, 2);
    EXPECT_FALSE(std::filesystem::exists(dir / "long.flac"));

    std::stop_source early;
    early.request_stop();
    EXPECT_THROW(VideoAudioConverter::convertAudio(tone, SupportedFormat::wav, dir.path(), std::nullopt, nullptr,
                                                   CancellationToken(early.get_token())),
                 CancellationError);
    EXPECT_FALSE(std::filesystem::exists(dir / "long (1).wav"));
}

TEST(ConvertAudio, ReadsPastAnUnderstatedLength) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // An ADTS stream carries no length; the estimate must not cut the copy short.
    auto aac = makeAudioSource(dir, SupportedFormat::aac, 44100, 2, 3);
    auto out = VideoAudioConverter::convertAudio(aac, SupportedFormat::wav, dir.path(), std::nullopt, nullptr);
    EXPECT_NEAR(probe(out).duration(), 3.0, 0.06);
}

// Cut to a tenth, each file still states its whole length (chunk sizes, STREAMINFO, the Xing
// frame count): refused before anything is written, in the image reader's words, while the
// whole file converts to its full length.
TEST(ConvertAudio, SourcesCutShortOfTheirStatedLengthAreRefused) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const std::vector<SupportedFormat> formats = {SupportedFormat::wav, SupportedFormat::aiff, SupportedFormat::flac, SupportedFormat::mp3};
    const auto sources = makeAudioSources(dir, formats, 44100, 2, 10);
    for (size_t i = 0; i < formats.size(); ++i) {
        const SupportedFormat format = formats[i];
        SCOPED_TRACE(format.displayName());
        const auto& whole = sources[i];
        const auto bytes = readFile(whole);
        const std::string name = "cut-" + format.rawValue() + "." + format.fileExtension();
        writeFile(dir / name, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 10)));
        const auto outDir = dir / ("out-" + format.rawValue());
        std::filesystem::create_directories(outDir);
        LogWatch log;
        auto e = conversionErrorOf(
            [&] { VideoAudioConverter::convertAudio(dir / name, SupportedFormat::m4a, outDir, std::nullopt, nullptr); });
        EXPECT_EQ(std::string(e.what()), "File appears corrupt: " + name +
                                             " is truncated \u2014 the file is missing its ending, so only part of the sound is present.");
        EXPECT_EQ(log.lines().back(), "ERROR Audio Source is truncated");
        EXPECT_TRUE(std::filesystem::is_empty(outDir));
        auto out = VideoAudioConverter::convertAudio(whole, SupportedFormat::wav, outDir, std::nullopt, nullptr);
        EXPECT_NEAR(probe(out).duration(), 10.0, 0.1);
    }
    // FLAC is judged by its last whole frame: one byte short is cut; a tag after the frames is not.
    const auto flac = readFile(dir / "src-flac.flac");
    writeFile(dir / "short.flac", std::vector<uint8_t>(flac.begin(), flac.end() - 1));
    EXPECT_EQ(conversionErrorOf([&] { VideoAudioConverter::convertAudio(dir / "short.flac", SupportedFormat::wav, dir.path(), std::nullopt, nullptr); })
                  .kind(),
              ConversionError::Kind::corruptFile);
    auto tagged = flac;
    const std::string id3v1 = "TAG" + std::string(125, ' ');
    tagged.insert(tagged.end(), id3v1.begin(), id3v1.end());
    writeFile(dir / "tagged.flac", tagged);
    EXPECT_NO_THROW(VideoAudioConverter::convertAudio(dir / "tagged.flac", SupportedFormat::wav, dir.path(), std::nullopt, nullptr));
}

}  // namespace
}  // namespace calvoro
