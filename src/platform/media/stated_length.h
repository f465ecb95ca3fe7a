#pragma once

// Files that say in their header how long they are, checked against what they hold.

#include <filesystem>
#include <optional>
#include <string>

#include "core/cancellation.h"

namespace calvoro::media {

// What a file that ends before its header's stated length holds only in part ("sound" or
// "image"); nothing when it is whole, states no length, or is not one of these: a WAV or AIFF
// chunk running past the end, a FLAC stream with fewer samples than its STREAMINFO counts, an
// MP3 with fewer frames than its Xing or Info header counts, a GIF whose blocks end before its trailer.
// Nothing is decoded: only headers and the last frames are read.
std::optional<std::string> partlyPresentContent(const std::filesystem::path& path);

}  // namespace calvoro::media
