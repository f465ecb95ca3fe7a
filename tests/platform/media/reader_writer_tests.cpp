#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <utility>
#include <vector>

#include "platform/media/asset.h"
#include "platform/media/asset_reader.h"
#include "platform/media/asset_writer.h"
#include "platform/media/media_error.h"
#include "platform/media/media_fixtures.h"

namespace calvoro::media {
namespace {

using namespace calvoro::testing;
using namespace calvoro::testing::media;

// Copies every sample of one output into one input, as a pump would.
void pump(AssetReaderTrackOutput* output, AssetWriterInput* input, int* count) {
    while (input->isReadyForMoreMediaData()) {
        auto sample = output->copyNextSampleBuffer();
        if (!sample) break;
        input->append(*sample);
        ++*count;
    }
    input->markAsFinished();
}

TEST(AssetReaderWriter, ReencodesVideoAndAudioOnTwoThreads) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "clip.mov", {.width = 160, .height = 120, .rate = 25, .seconds = 1, .channels = 6, .rotation = 90});
    Asset asset(clip);
    auto video = asset.loadTracks(MediaType::video).at(0);
    auto audio = asset.loadTracks(MediaType::audio).at(0);
    AssetReader reader(asset);
    auto* videoOut = reader.addVideoOutput(video, {.pixelFormat = PixelFormat::yuv420BiPlanarVideoRange});
    auto* audioOut = reader.addAudioOutput(audio, {});

    auto writer = AssetWriter::create(dir / "out.m4v", FileType::appleM4V);
    VideoSettings vs;
    vs.width = 160;
    vs.height = 120;
    vs.averageBitRate = 300000;
    vs.expectedSourceFrameRate = 25;
    vs.threads = 2;
    vs.lookaheadThreads = 2;
    auto videoIn = AssetWriterInput::video(vs);
    videoIn->setTransform(video.rotation);
    AudioSettings as;
    as.formatID = audioFormatAAC;
    as.sampleRate = 44100;
    as.channelCount = 2;  // 5.1 mixed down
    as.encoderBitRate = 128000;
    auto audioIn = AssetWriterInput::audio(as);
    ASSERT_TRUE(writer->canAddInput(*videoIn));
    writer->addInput(videoIn);
    writer->addInput(audioIn);
    ASSERT_TRUE(reader.startReading());
    ASSERT_TRUE(writer->startWriting());
    writer->startSession(0);
    int frames = 0, chunks = 0;
    std::thread v(pump, videoOut, videoIn.get(), &frames);
    std::thread a(pump, audioOut, audioIn.get(), &chunks);
    v.join();
    a.join();
    writer->finishWriting();
    EXPECT_EQ(reader.status(), AssetReader::Status::completed);
    ASSERT_EQ(writer->status(), AssetWriter::Status::completed) << writer->error().value_or("");
    EXPECT_EQ(frames, 25);
    auto p = probe(dir / "out.m4v");
    EXPECT_EQ(p.codec("video"), "h264");
    EXPECT_EQ(p.channels(), 2);
    EXPECT_EQ(p.rotation(), probe(clip).rotation());
    EXPECT_EQ(frameDurations(dir / "out.m4v").size(), 25u);
    EXPECT_NEAR(p.duration(), 1.0, 0.06);
    // x264 writes the options it encoded with into the stream.
    EXPECT_NE(readText(dir / "out.m4v").find("threads=2 lookahead_threads=2"), std::string::npos);
}

// The first reader takes the file as the asset's probe left it open (with the packets the probe
// read held inside); a second reader of the same asset opens it again. Both see every packet.
TEST(AssetReaderWriter, EveryReaderOfAnAssetReadsEveryPacketFromTheStart) {
    REQUIRE_FFMPEG();
    TempDir dir;
    auto clip = makeVideo(dir / "clip.mov", {.width = 128, .height = 96, .rate = 25, .seconds = 2,
                                             .videoCodec = "-c:v libx264 -preset ultrafast -bf 2 -g 12"});
    Asset asset(clip, {.preferPreciseDurationAndTiming = true});
    ASSERT_GT(asset.loadDuration(), 0);
    auto packets = [&] {
        AssetReader reader(asset);
        std::vector<AssetReaderTrackOutput*> outputs;
        for (const auto& track : asset.loadTracks()) outputs.push_back(reader.addPassthroughOutput(track));
        EXPECT_TRUE(reader.startReading());
        std::vector<std::pair<size_t, double>> seen;
        for (size_t i = 0; i < outputs.size(); ++i)
            while (auto sample = outputs[i]->copyNextSampleBuffer()) seen.emplace_back(i, sample->presentationTimeSeconds());
        EXPECT_EQ(reader.status(), AssetReader::Status::completed);
        return seen;
    };
    const auto first = packets();
    EXPECT_EQ(std::count_if(first.begin(), first.end(), [](const auto& p) { return p.first == 0; }), 50);
    EXPECT_EQ(first, packets());
}

TEST(AssetReaderWriter, CreatingAWriterFailsWithTheLayersError) {
    TempDir dir;
    EXPECT_THROW(AssetWriter::create(dir / "missing" / "out.mp4", FileType::mpeg4), MediaError);
    EXPECT_THROW(AssetWriter::create(dir / "out.xyz", FileType("public.nothing")), MediaError);
    auto writer = AssetWriter::create(dir / "out.mp4", FileType::mpeg4);
    EXPECT_EQ(writer->status(), AssetWriter::Status::unknown);
    writer->cancelWriting();
    EXPECT_FALSE(std::filesystem::exists(dir / "out.mp4"));
}

}  // namespace
}  // namespace calvoro::media
