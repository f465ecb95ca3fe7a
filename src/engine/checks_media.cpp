// Checks of video and audio outputs through the media layer: a positive duration and a
// track of the required kind, read from the container.
#include <cmath>
#include <exception>

#include "core/text_util.h"
#include "engine/validation_checks.h"
#include "platform/media/asset.h"

namespace calvoro::validation {

Status validateMedia(const fs::path& url, MediaType requireMediaType) {
    // The header says all that is asked here; a stream copied packet for packet needs no
    // decode to show that it is there.
    const media::Asset asset(url, {.headerOnly = true});
    double seconds = 0;
    try {
        seconds = asset.loadDuration();
    } catch (const std::exception& e) {
        return Status::failed(std::string("The media file cannot be opened: ") + e.what());
    }
    if (!std::isfinite(seconds) || seconds <= 0) return Status::failed("The media duration is " + formatShortestDouble(seconds));

    const bool video = requireMediaType == MediaType::video;
    std::vector<media::AssetTrack> tracks;
    try {
        tracks = asset.loadTracks(video ? media::MediaType::video : media::MediaType::audio);
    } catch (const std::exception& e) {
        return Status::failed(std::string("The media file cannot be opened: ") + e.what());
    }
    if (tracks.empty()) return Status::failed(std::string("The media file has no ") + (video ? "video" : "audio") + " track");
    return Status::passed();
}

}  // namespace calvoro::validation
