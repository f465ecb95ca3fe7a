#pragma once

// Whether a picture file still has its ending: a check every entry makes on its source, for
// decoders fill a cut-off picture's missing part and report no error.

#include <filesystem>
#include <optional>
#include <string>

namespace calvoro {

// The user-facing sentence for a GIF, PNG or JPEG whose ending is missing; nothing when the
// file looks complete, is of another kind or cannot be read. Reads the first and last bytes,
// and a GIF's blocks without decoding them.
std::optional<std::string> pictureTruncation(const std::filesystem::path& path);

}  // namespace calvoro
