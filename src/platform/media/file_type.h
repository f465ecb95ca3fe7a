#pragma once

#include <optional>
#include <string>

namespace calvoro::media {

// A container file type, named by its uniform type identifier.
class FileType {
public:
    static const FileType mpeg4;           // "public.mpeg-4"
    static const FileType quickTimeMovie;  // "com.apple.quicktime-movie"
    static const FileType appleM4V;        // "com.apple.m4v-video"
    static const FileType appleM4A;        // "com.apple.m4a-audio"
    static const FileType wave;            // "com.microsoft.waveform-audio"
    static const FileType aiff;            // "public.aiff-audio"
    static const FileType flac;            // "org.xiph.flac"

    explicit FileType(std::string rawValue) : raw_(std::move(rawValue)) {}
    const std::string& rawValue() const { return raw_; }
    // The FFmpeg muxer that writes this type, when there is one.
    std::optional<std::string> muxerName() const;
    bool isMovieFamily() const;  // mp4, mov, m4v, m4a

    bool operator==(const FileType& other) const { return raw_ == other.raw_; }

private:
    std::string raw_;
};

// Inline: the program and the window module both carry this code, and each type must be built
// only once in the process.
inline const FileType FileType::mpeg4("public.mpeg-4");
inline const FileType FileType::quickTimeMovie("com.apple.quicktime-movie");
inline const FileType FileType::appleM4V("com.apple.m4v-video");
inline const FileType FileType::appleM4A("com.apple.m4a-audio");
inline const FileType FileType::wave("com.microsoft.waveform-audio");
inline const FileType FileType::aiff("public.aiff-audio");
inline const FileType FileType::flac("org.xiph.flac");

}  // namespace calvoro::media
