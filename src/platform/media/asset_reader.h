#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/asset.h"
#include "platform/media/audio_settings.h"
#include "platform/media/sample_buffer.h"

namespace calvoro::media {

// Decoded picture layouts a video output can deliver.
enum class PixelFormat {
    native,             // as the decoder gives it
    yuv420BiPlanarVideoRange,  // '420v': 8-bit 4:2:0, luma plane and interleaved chroma plane
    yuv420Planar,
    bgra32,
};

struct VideoOutputSettings {
    PixelFormat pixelFormat = PixelFormat::native;
};

// Linear PCM at the track's own rate and channel count; native keeps the decoder's layout.
struct AudioOutputSettings {
    bool native = false;
    CommonFormat commonFormat = CommonFormat::int16;
    bool interleaved = true;
};

class AssetReader;

// One track's samples, in file order. Pull them with copyNextSampleBuffer.
class AssetReaderTrackOutput {
public:
    struct Impl;
    ~AssetReaderTrackOutput();
    const AssetTrack& track() const;
    // The next unit, or nothing at the end of the track or when the reader stopped.
    std::optional<SampleBuffer> copyNextSampleBuffer();
    // Whether a copied unit is already read from the file, so that the next copy reads nothing
    // ahead for other tracks: sparse tracks (subtitles) are taken as reading the others brings them.
    bool hasBufferedSample() const;
    // The track's compressed format (what a passthrough writer input needs).
    FormatDescription formatDescription() const;

private:
    friend class AssetReader;
    explicit AssetReaderTrackOutput(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Reads an asset's tracks. Outputs may be pulled from different threads; each output from one at a time.
class AssetReader {
public:
    enum class Status { unknown, reading, completed, failed, cancelled };

    // Throws MediaError when the asset cannot be opened.
    explicit AssetReader(const Asset& asset);
    ~AssetReader();
    AssetReader(const AssetReader&) = delete;
    AssetReader& operator=(const AssetReader&) = delete;

    bool canAddOutput(const AssetTrack& track) const;
    // The reader owns the outputs; they live as long as it does.
    AssetReaderTrackOutput* addVideoOutput(const AssetTrack& track, VideoOutputSettings settings);
    AssetReaderTrackOutput* addAudioOutput(const AssetTrack& track, AudioOutputSettings settings);
    // Compressed packets, unchanged.
    AssetReaderTrackOutput* addPassthroughOutput(const AssetTrack& track);

    bool startReading();
    void cancelReading();
    Status status() const;
    std::optional<std::string> error() const;

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace calvoro::media
