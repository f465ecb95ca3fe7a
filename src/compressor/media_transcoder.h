#pragma once

// The compressor's audio and video side: H.264 and AAC at a level's rates, track by track.

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include "compressor/compression_level.h"
#include "core/cancellation.h"
#include "core/supported_format.h"
#include "platform/media/asset.h"
#include "platform/media/asset_reader.h"
#include "platform/media/asset_writer.h"

namespace calvoro::media_transcoder {

// The file's duration in seconds; 0 when it cannot be had or is not a positive finite number.
double mediaDuration(const std::filesystem::path& url);
// The same of a file already opened, which is not probed again.
double mediaDuration(const media::Asset& asset);

// The H.264 rate given to the encoder at a level for a video track of this data rate (0 when
// unknown): the level's share of it, never under 200 kbit/s.
int64_t videoBitRate(CompressionLevel level, double trackDataRate);
// The channels written for a source audio track: mono stays mono, anything else becomes stereo.
int outputChannels(int sourceChannels);
// The AAC rate at a level for that many output channels: the level's rate, at most 160 kbit/s
// a channel.
int64_t audioBitRate(CompressionLevel level, int channels);

// The decoded pictures and sound that the encoders take.
inline constexpr media::VideoOutputSettings pictureOutput{media::PixelFormat::yuv420BiPlanarVideoRange};
inline constexpr media::AudioOutputSettings soundOutput{};

// A writer for `to` with the inputs a level gives a video and a sound track (either may be
// absent), in that order; the video encoder takes `videoThreads` threads, its look-ahead as many,
// else as many as it chooses (which compress leaves it). Throws the media layer's error when the
// file cannot be made, and ConversionError when an input cannot be added.
struct LevelWriter {
    std::unique_ptr<media::AssetWriter> writer;
    std::shared_ptr<media::AssetWriterInput> video;
    std::shared_ptr<media::AssetWriterInput> audio;
};
LevelWriter levelWriter(const std::filesystem::path& to, SupportedFormat target, CompressionLevel level,
                        const media::AssetTrack* video, const media::AssetTrack* audio,
                        std::optional<int> videoThreads = std::nullopt);
// Starts writing at source time zero; throws ConversionError when the writer cannot start.
void startWriting(media::AssetWriter& writer);
// Copies samples into an input until `next` gives none or the writer stops taking them, then
// finishes the input. Throws CancellationError once the token is cancelled, before the next
// sample: the writer is then cancelled without encoding what it holds.
void pump(media::AssetWriterInput& input, media::AssetWriter& writer, const std::function<const media::SampleBuffer*()>& next,
          const std::function<void(const media::SampleBuffer&)>& appended, const CancellationToken& cancellation);
// After every pump has ended: finishes the file, or throws what went wrong, reading first.
void finishWriting(media::AssetWriter& writer, const media::AssetReader* reader);

// Re-encodes source into `to` (an MPEG-4 family container chosen by target). Each track is
// pumped on its own thread, video and audio at once, so progress (values in 0...0.99) may be
// reported from two threads at a time; 1.0 is reported once, after the file is complete.
// Throws ConversionError, or the media layer's error unchanged where it cannot open a file, or
// CancellationError soon after the token is cancelled.
void transcodeMedia(const std::filesystem::path& source, const std::filesystem::path& to, SupportedFormat target,
                    CompressionLevel level, bool isVideo, const std::function<void(double)>& progressHandler,
                    const CancellationToken& cancellation = {});

}  // namespace calvoro::media_transcoder
