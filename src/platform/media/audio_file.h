#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "platform/media/audio_settings.h"

namespace calvoro::media {

struct AudioFormat {
    double sampleRate = 0;
    uint32_t channelCount = 0;
    CommonFormat commonFormat = CommonFormat::int16;
    bool interleaved = true;
};

// Samples in one format: one interleaved plane, or one plane per channel.
class PcmBuffer {
public:
    PcmBuffer(AudioFormat format, uint32_t frameCapacity);

    const AudioFormat& format() const { return format_; }
    uint32_t frameCapacity() const { return capacity_; }
    uint32_t frameLength() const { return length_; }
    void setFrameLength(uint32_t frames) { length_ = frames < capacity_ ? frames : capacity_; }

    int planeCount() const { return format_.interleaved ? 1 : static_cast<int>(format_.channelCount); }
    uint8_t* plane(int index) { return planes_[static_cast<size_t>(index)].data(); }
    const uint8_t* plane(int index) const { return planes_[static_cast<size_t>(index)].data(); }
    int16_t* int16Data(int plane = 0) { return reinterpret_cast<int16_t*>(this->plane(plane)); }

private:
    AudioFormat format_;
    uint32_t capacity_;
    uint32_t length_ = 0;
    std::vector<std::vector<uint8_t>> planes_;
};

// An audio file read as, or written from, samples in a processing format. Failures throw MediaError.
class AudioFile {
public:
    ~AudioFile();
    AudioFile(const AudioFile&) = delete;
    AudioFile& operator=(const AudioFile&) = delete;

    // The first audio stream of any file FFmpeg reads, decoded to the given layout
    // at the file's own rate and channel count.
    static std::unique_ptr<AudioFile> openForReading(const std::filesystem::path& path, CommonFormat format, bool interleaved);
    // The container follows the extension: m4a, aac (ADTS), wav, aif/aiff, flac.
    // Nothing is left at the path when opening fails.
    static std::unique_ptr<AudioFile> openForWriting(const std::filesystem::path& path, const AudioSettings& settings,
                                                     CommonFormat format, bool interleaved);

    // The stored format (rate and channels) and the format of the samples handed over.
    AudioFormat fileFormat() const;
    AudioFormat processingFormat() const;
    // Frames in the file as its header or duration tells (reading may find more or fewer).
    int64_t length() const;
    int64_t framePosition() const;

    // Fills up to the buffer's capacity; a frame length of 0 means the end of the stream.
    void read(PcmBuffer& buffer);
    void write(const PcmBuffer& buffer);
    // Writes what the encoder holds and the container's trailer. Later calls do nothing.
    void close();

    struct Impl;

private:
    explicit AudioFile(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace calvoro::media
