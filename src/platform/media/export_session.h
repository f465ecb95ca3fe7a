#pragma once

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/media/asset.h"
#include "platform/media/file_type.h"

namespace calvoro::media {

// Preset names, as they appear in log texts.
namespace presets {
inline constexpr const char* highestQuality = "AVAssetExportPresetHighestQuality";
inline constexpr const char* mediumQuality = "AVAssetExportPresetMediumQuality";
inline constexpr const char* passthrough = "AVAssetExportPresetPassthrough";
inline constexpr const char* appleM4A = "AVAssetExportPresetAppleM4A";
}  // namespace presets

// Exports an asset whole to one file with a preset: H.264 and AAC for the quality presets (a
// track that already is what they make is copied), AAC alone for M4A, the tracks' own data for
// passthrough. The first video track, every audio track and every subtitle track the container
// can hold go into the file with their languages and marks; the others are listed as omitted.
class ExportSession {
public:
    enum class Status { unknown = 0, waiting = 1, exporting = 2, completed = 3, failed = 4, cancelled = 5 };
    struct OmittedTrack {
        AssetTrack track;
        std::string reason;
    };

    // Whether the preset can export the asset to the file type. Never throws.
    static bool determineCompatibility(const std::string& preset, const Asset& asset, const FileType& fileType);
    // No session for an unknown preset.
    static std::unique_ptr<ExportSession> create(const Asset& asset, const std::string& preset);
    ~ExportSession();

    std::vector<FileType> supportedFileTypes() const;
    void setOutputURL(std::filesystem::path url) { outputURL_ = std::move(url); }
    void setOutputFileType(FileType type) { fileType_ = std::move(type); }
    void setShouldOptimizeForNetworkUse(bool value) { optimize_ = value; }

    // Runs the export on the calling thread until the session has stopped; never throws.
    void exportSynchronously();
    // May be called from any thread while the export runs.
    float progress() const { return progress_.load(); }
    void cancelExport() { cancelRequested_ = true; }
    Status status() const { return status_.load(); }
    std::optional<std::string> error() const;
    // The source's tracks the export could not carry into the file, known once it has run.
    const std::vector<OmittedTrack>& omittedTracks() const { return omitted_; }

private:
    ExportSession(Asset asset, std::string preset);
    void run();

    Asset asset_;
    std::string preset_;
    std::filesystem::path outputURL_;
    std::optional<FileType> fileType_;
    bool optimize_ = false;
    std::atomic<float> progress_{0};
    std::atomic<Status> status_{Status::unknown};
    std::atomic<bool> cancelRequested_{false};
    std::optional<std::string> error_;
    std::vector<OmittedTrack> omitted_;
};

}  // namespace calvoro::media
