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
// A FLAC file is decoded to count its samples; a cancelled token stops that with CancellationError.
std::optional<std::string> partlyPresentContent(const std::filesystem::path& path, const CancellationToken& cancellation = {});

}  // namespace calvoro::media
