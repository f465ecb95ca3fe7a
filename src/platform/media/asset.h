#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace calvoro::media {

enum class MediaType { video, audio, subtitle };

struct AssetState;

// What is known of one track of a media file.
struct AssetTrack {
    int trackID = 0;  // the stream index in the file
    MediaType mediaType = MediaType::video;
    std::string codecName;
    bool decodable = false;  // a decoder exists for the codec
    // Video: stored (untransformed) size, the clockwise rotation that shows it upright, frames per second.
    int naturalWidth = 0;
    int naturalHeight = 0;
    int rotation = 0;
    double nominalFrameRate = 0;
    std::string pixelFormat;  // the decoder's picture format name ("yuv420p"); empty when unknown
    // Bits per second of the track's data (0 when it cannot be had).
    double estimatedDataRate = 0;
    // Audio.
    int sampleRate = 0;
    int channelCount = 0;
    double durationSeconds = 0;  // NaN when not known
    // ISO 639-2 code of the track's language; empty when the file gives none (or "und").
    std::string languageCode;
    bool isDefault = false;  // the track players pick among those of its kind
    bool isForced = false;   // subtitles shown even when none are asked for
};

// A media file. Nothing is read until a property is loaded; loading failures throw MediaError.
class Asset {
public:
    struct Options {
        // Ask for the exact end of the longest track rather than the container's summary.
        bool preferPreciseDurationAndTiming = false;
        // Take the duration and tracks from the container's header when it gives them whole
        // (QuickTime and MPEG-4 files with a movie header): nothing is decoded, so pixelFormat
        // stays empty. Other files are probed in full.
        bool headerOnly = false;
    };

    explicit Asset(std::filesystem::path url);
    Asset(std::filesystem::path url, Options options);
    ~Asset();
    Asset(const Asset&);
    Asset& operator=(const Asset&);

    const std::filesystem::path& url() const { return url_; }
    // Seconds; NaN when the file gives no duration.
    double loadDuration() const;
    std::vector<AssetTrack> loadTracks(MediaType type) const;
    std::vector<AssetTrack> loadTracks() const;

    struct Loaded;
    const Loaded& loaded() const;  // internal: the probed description
    AssetState& state() const { return *state_; }  // internal: the probe's own file, kept for a reader

private:
    std::filesystem::path url_;
    Options options_;
    std::shared_ptr<AssetState> state_;
};

}  // namespace calvoro::media
