#pragma once

// The compressor's audio and video side: H.264 and AAC at a level's rates, track by track.

#include <filesystem>
#include <functional>
#include <optional>

#include "converters/archive/compression_level.h"
#include "core/cancellation.h"
#include "core/supported_format.h"

namespace calvoro::media_transcoder {

// The file's duration in seconds; 0 when it cannot be had or is not a positive finite number.
double mediaDuration(const std::filesystem::path& url);

// The H.264 rate given to the encoder at a level for a video track of this data rate (0 when
// unknown): the level's share of it, never under 200 kbit/s.
int64_t videoBitRate(CompressionLevel level, double trackDataRate);
// The channels written for a source audio track: mono stays mono, anything else becomes stereo.
int outputChannels(int sourceChannels);
// The AAC rate at a level for that many output channels: the level's rate, at most 160 kbit/s
// a channel.
int64_t audioBitRate(CompressionLevel level, int channels);

// Re-encodes source into `to` (an MPEG-4 family container chosen by target). Each track is
// pumped on its own thread, video and audio at once, so progress (values in 0...0.99) may be
// reported from two threads at a time; 1.0 is reported once, after the file is complete.
// Throws ConversionError, or the media layer's error unchanged where it cannot open a file, or
// CancellationError soon after the token is cancelled. With `until`, only what starts before
// that many seconds is encoded: the opening of what the whole re-encode writes.
void transcodeMedia(const std::filesystem::path& source, const std::filesystem::path& to, SupportedFormat target,
                    CompressionLevel level, bool isVideo, const std::function<void(double)>& progressHandler,
                    const CancellationToken& cancellation = {}, std::optional<double> until = std::nullopt);

}  // namespace calvoro::media_transcoder
