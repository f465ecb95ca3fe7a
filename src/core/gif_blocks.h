#pragma once

// The block structure of a GIF file, walked without decoding its pictures.

#include <filesystem>
#include <optional>

namespace calvoro {

// True when the file's blocks run to the GIF trailer, whatever follows it (web servers and
// editors often leave a newline or padding); false when the data ends before the trailer, the
// file being cut short; nothing when it is no GIF, cannot be read, or holds a byte where no
// block begins (the decoder's to judge).
std::optional<bool> gifReachesTrailer(const std::filesystem::path& path);

}  // namespace calvoro
