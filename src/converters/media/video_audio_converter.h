#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "core/cancellation.h"
#include "core/supported_format.h"

namespace calvoro {

namespace media {
class Asset;
class FileType;
class GifImageSource;
struct AudioSettings;
}  // namespace media

// The converter of the media categories: video containers, audio extraction, GIFs, audio formats.
class VideoAudioConverter {
public:
    using ProgressHandler = std::function<void(double)>;

    // MP4, MOV or M4V through an export session; progress is polled every 200 ms.
    static std::filesystem::path convertVideo(const std::filesystem::path& source, SupportedFormat target,
                                              const std::filesystem::path& outputDir, ProgressHandler progressHandler,
                                              CancellationToken cancellation = {});
    // The audio of a video as "<name> (audio).m4a".
    static std::filesystem::path extractAudio(const std::filesystem::path& source, const std::filesystem::path& outputDir,
                                              ProgressHandler progressHandler, CancellationToken cancellation = {});
    // An endlessly looping GIF sampled at fps, at most maxWidth wide.
    static std::filesystem::path videoToGIF(const std::filesystem::path& source, const std::filesystem::path& outputDir, double fps,
                                            int maxWidth, ProgressHandler progressHandler, CancellationToken cancellation = {});
    // Every frame of a GIF at its own delay, as H.264 video.
    static std::filesystem::path gifToVideo(const std::filesystem::path& source, SupportedFormat target,
                                            const std::filesystem::path& outputDir, ProgressHandler progressHandler,
                                            CancellationToken cancellation = {});
    // Decode and encode again in 8192-frame chunks, keeping rate and channels.
    static std::filesystem::path convertAudio(const std::filesystem::path& source, SupportedFormat target,
                                              const std::filesystem::path& outputDir, std::optional<int> bitrate,
                                              ProgressHandler progressHandler, CancellationToken cancellation = {});

private:
    static std::optional<media::FileType> avFileType(SupportedFormat format);
    static std::string bestVideoPreset(const media::Asset& asset, const media::FileType& outputType);
    static media::AudioSettings outputSettings(SupportedFormat target, double sampleRate, uint32_t channels,
                                               std::optional<int> bitrate);
    static double gifFrameDelay(const media::GifImageSource& source, size_t index);
};

}  // namespace calvoro
