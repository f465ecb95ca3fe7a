#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/media/audio_settings.h"
#include "platform/media/file_type.h"
#include "platform/media/sample_buffer.h"

namespace calvoro::media {

// H.264 (libx264) settings of a video input. Pictures of another size are scaled to this one.
struct VideoSettings {
    int width = 0;   // even
    int height = 0;  // even
    std::optional<int64_t> averageBitRate;          // bits per second; otherwise constant quality
    std::optional<double> expectedSourceFrameRate;  // guides rate control (30 when absent)
    std::optional<int> constantQuality;             // x264 CRF when no bit rate is given (23 when absent)
    std::string encoderSpeed = "medium";           // x264 preset
    // Encoder threads; the encoder's own choice for this machine when absent. x264's output
    // depends on it.
    std::optional<int> threads;
    // Threads of the encoder's look-ahead (its frame-type and rate analysis, at most one per
    // few rows of macroblocks); x264's own choice, a sixth of its threads, when absent.
    std::optional<int> lookaheadThreads;
};

class AssetWriter;

// One track of an asset writer: encodes what it is given (or copies it, for passthrough).
class AssetWriterInput {
public:
    struct Impl;
    static std::shared_ptr<AssetWriterInput> video(VideoSettings settings);
    static std::shared_ptr<AssetWriterInput> audio(AudioSettings settings);
    // Compressed units of the described format, copied without re-encoding.
    static std::shared_ptr<AssetWriterInput> passthrough(const FormatDescription& format);
    // Subtitles of a text format (WebVTT, SubRip, ASS), given as their compressed units and
    // written as the timed text that movie files hold.
    static std::shared_ptr<AssetWriterInput> timedText(const FormatDescription& format);
    ~AssetWriterInput();

    MediaType mediaType() const;
    void setExpectsMediaDataInRealTime(bool value);
    // Clockwise rotation that players apply when showing the track.
    void setTransform(int clockwiseDegrees);
    // The track's language (ISO 639-2, empty for none) and whether players pick it by default
    // or show it unasked (forced subtitles). Unset, the muxer decides.
    void setTrackMarks(const std::string& languageCode, bool isDefault, bool isForced);
    // Copied units are timed from the source's start, as decoded ones are, so that a copied
    // track stays in step with tracks encoded again.
    void setTimesFromSourceStart(bool value);

    // True while the writer is writing and the input is not finished.
    bool isReadyForMoreMediaData() const;
    // Returns false when the unit is refused (wrong kind, out of order, or the writer failed).
    bool append(const SampleBuffer& sample);
    // The pixel-buffer adaptor's append: one picture at a time in seconds from the session start.
    bool appendPixelBuffer(const PixelBuffer& buffer, double presentationTimeSeconds);
    void markAsFinished();

    Impl& impl() const { return *impl_; }

private:
    explicit AssetWriterInput(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Writes a container file from inputs. Created only through create(), the one way to get a writer.
class AssetWriter {
public:
    enum class Status { unknown, writing, completed, failed, cancelled };

    // A writer in its initial state for the file and type; throws MediaError when none can be made
    // (no muxer for the type, or the file cannot be created). The folder is not created.
    static std::unique_ptr<AssetWriter> create(const std::filesystem::path& outputURL, const FileType& fileType);
    ~AssetWriter();
    AssetWriter(const AssetWriter&) = delete;
    AssetWriter& operator=(const AssetWriter&) = delete;

    const std::filesystem::path& outputURL() const;
    bool canAddInput(const AssetWriterInput& input) const;
    // The writer keeps the input alive; the caller keeps it to append.
    void addInput(std::shared_ptr<AssetWriterInput> input);
    // Moves the index to the front of the file when finishing (a second pass over the file).
    void setShouldOptimizeForNetworkUse(bool value);

    bool startWriting();
    // Times of appended units are taken relative to this one.
    void startSession(double sourceTimeSeconds);
    // Finishes every input that is not finished and writes the container's index.
    void finishWriting();
    // Stops and removes the output file.
    void cancelWriting();
    Status status() const;
    std::optional<std::string> error() const;

    struct Impl;

private:
    AssetWriter() = default;
    std::shared_ptr<Impl> impl_;
};

}  // namespace calvoro::media
