#include <gtest/gtest.h>
#include <malloc.h>

#include <cmath>

#include "core/format_capabilities.h"
#include "platform/media/audio_file.h"
#include "platform/media/capabilities.h"
#include "platform/media/media_error.h"
#include "platform/media/media_fixtures.h"

namespace calvoro::media {
namespace {

using namespace calvoro::testing;
using namespace calvoro::testing::media;

// Copies a whole file through the given settings; returns the frames read.
int64_t copy(const std::filesystem::path& from, const std::filesystem::path& to, AudioSettings settings, CommonFormat format,
             bool interleaved) {
    auto in = AudioFile::openForReading(from, format, interleaved);
    settings.sampleRate = in->fileFormat().sampleRate;
    settings.channelCount = in->fileFormat().channelCount;
    auto out = AudioFile::openForWriting(to, settings, format, interleaved);
    PcmBuffer buffer(in->processingFormat(), 8192);
    int64_t frames = 0;
    for (;;) {
        in->read(buffer);
        if (buffer.frameLength() == 0) break;
        frames += buffer.frameLength();
        out->write(buffer);
    }
    out->close();
    return frames;
}

TEST(AudioFile, ReadsFormatLengthAndEverySample) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto wav = makeTone(dir / "tone.wav", 1, 22050, 1);
    auto file = AudioFile::openForReading(wav, CommonFormat::int16, true);
    EXPECT_EQ(file->fileFormat().sampleRate, 22050);
    EXPECT_EQ(file->fileFormat().channelCount, 1u);
    EXPECT_EQ(file->length(), 22050);
    PcmBuffer buffer(file->processingFormat(), 8192);
    std::vector<uint32_t> chunks;
    for (;;) {
        file->read(buffer);
        if (buffer.frameLength() == 0) break;
        chunks.push_back(buffer.frameLength());
    }
    EXPECT_EQ(chunks, (std::vector<uint32_t>{8192, 8192, 5666}));
    EXPECT_EQ(file->framePosition(), 22050);
}

TEST(AudioFile, WritesEachContainerAndCodec) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto source = makeTone(dir / "tone.wav", 1, 44100, 2);
    struct Case {
        const char* name;
        uint32_t format;
        CommonFormat common;
        bool interleaved;
        const char* codec;
        const char* container;
    };
    const Case cases[] = {
        {"a.wav", audioFormatLinearPCM, CommonFormat::int16, true, "pcm_s16le", "wav"},
        {"a.aiff", audioFormatLinearPCM, CommonFormat::int16, true, "pcm_s16be", "aiff"},
        {"a.flac", audioFormatFLAC, CommonFormat::int16, true, "flac", "flac"},
        {"alac.m4a", audioFormatALAC, CommonFormat::int16, true, "alac", "mp4"},
        {"aac.m4a", audioFormatAAC, CommonFormat::float32, false, "aac", "mp4"},
        {"a.aac", audioFormatAAC, CommonFormat::float32, false, "aac", "aac"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        AudioSettings settings;
        settings.formatID = c.format;
        settings.linearPCMBitDepth = 16;
        settings.encoderBitDepthHint = 16;
        EXPECT_EQ(copy(source, dir / c.name, settings, c.common, c.interleaved), 44100);
        auto p = probe(dir / c.name);
        EXPECT_EQ(p.codec("audio"), c.codec);
        EXPECT_NE(p.formatName().find(c.container), std::string::npos) << p.formatName();
        EXPECT_EQ(p.channels(), 2);
        EXPECT_EQ(p.sampleRate(), 44100);
    }
    auto back = AudioFile::openForReading(dir / "a.flac", CommonFormat::int16, true);
    EXPECT_EQ(back->length(), 44100);
}

TEST(AudioFile, RefusesFormatsTheContainerCannotHoldAndLeavesNothing) {
    TempDir dir;
    AudioSettings flac;
    flac.formatID = audioFormatFLAC;
    EXPECT_THROW(AudioFile::openForWriting(dir / "x.wav", flac, CommonFormat::int16, true), MediaError);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.wav"));
    AudioSettings aac;
    EXPECT_THROW(AudioFile::openForWriting(dir / "x.mp3", aac, CommonFormat::float32, false), MediaError);
    aac.channelCount = 10;  // more than the AAC encoder takes
    EXPECT_THROW(AudioFile::openForWriting(dir / "x.m4a", aac, CommonFormat::float32, false), EncoderRefused);
    EXPECT_FALSE(std::filesystem::exists(dir / "x.m4a"));
    // A rate the encoder does not take is stored at the nearest it does; samples are still taken
    // at the rate asked for.
    aac.channelCount = 2;
    aac.sampleRate = 12345;
    const auto resampled = AudioFile::openForWriting(dir / "x.m4a", aac, CommonFormat::float32, false);
    EXPECT_EQ(resampled->fileFormat().sampleRate, 12000);
    EXPECT_EQ(resampled->processingFormat().sampleRate, 12345);
    EXPECT_THROW(AudioFile::openForWriting(dir / "no" / "x.m4a", AudioSettings{}, CommonFormat::float32, false), MediaError);
}

#if !defined(__SANITIZE_ADDRESS__)
// Bytes the allocator has handed out and not taken back, mapped blocks included.
size_t heapInUse() {
    const struct mallinfo2 m = ::mallinfo2();
    return m.uordblks + m.hblkhd;
}

TEST(AudioFile, ASoundFarSlowerThanTheEncoderIsResampledASliceAtATime) {
    REQUIRE_FFMPEG();
    TempDir dir;
    // A damaged header's rate of 1 Hz: 400 frames become 2.9 million samples at the AAC
    // encoder's lowest rate, which no buffer holds at once (12 MB as float).
    AudioSettings slow;
    slow.sampleRate = 1;
    slow.channelCount = 1;
    auto writer = AudioFile::openForWriting(dir / "slow.m4a", slow, CommonFormat::float32, false);
    PcmBuffer buffer(writer->processingFormat(), 400);
    buffer.setFrameLength(400);
    const size_t before = heapInUse();
    writer->write(buffer);
    const size_t after = heapInUse();
    EXPECT_LT(after > before ? after - before : 0, size_t(4) << 20);
    writer->close();
    EXPECT_NEAR(probe(dir / "slow.m4a").duration(), 400, 1);
}
#endif

TEST(AudioFile, UnreadableInputThrows) {
    TempDir dir;
    writeFile(dir / "bad.mp3", std::string(1000, 'x'));
    EXPECT_THROW(AudioFile::openForReading(dir / "bad.mp3", CommonFormat::float32, false), MediaError);
}

TEST(Capabilities, ProbeFindsEveryAudioEncoder) {
    registerCapabilities();
    FormatCapabilities::resetForTesting();
    EXPECT_TRUE(FormatCapabilities::canEncodeAudio(FormatCapabilities::flacFormatID));
    EXPECT_TRUE(FormatCapabilities::canEncodeAudio(FormatCapabilities::aacFormatID));
    EXPECT_TRUE(FormatCapabilities::canEncodeAudio(FormatCapabilities::alacFormatID));
    EXPECT_TRUE(FormatCapabilities::canEncodeAudio(FormatCapabilities::lpcmFormatID));
    EXPECT_TRUE(FormatCapabilities::canProduce(SupportedFormat::flac));
}

}  // namespace
}  // namespace calvoro::media
