#include "platform/media/file_type.h"

namespace calvoro::media {

std::optional<std::string> FileType::muxerName() const {
    // The ipod muxer writes the M4V and M4A brands that players of those types look for.
    if (raw_ == mpeg4.raw_) return "mp4";
    if (raw_ == quickTimeMovie.raw_) return "mov";
    if (raw_ == appleM4V.raw_ || raw_ == appleM4A.raw_) return "ipod";
    if (raw_ == wave.raw_) return "wav";
    if (raw_ == aiff.raw_) return "aiff";
    if (raw_ == flac.raw_) return "flac";
    return std::nullopt;
}

bool FileType::isMovieFamily() const {
    return raw_ == mpeg4.raw_ || raw_ == quickTimeMovie.raw_ || raw_ == appleM4V.raw_ || raw_ == appleM4A.raw_;
}

}  // namespace calvoro::media
