#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"

namespace calvoro::imaging {

// A PNG re-encoded as JPEG row by row, decode and encode overlapped on two threads, without
// the whole picture in memory. The pixels go on white (JPEG has no alpha) and keep the PNG's
// RGB profile. optionsFor gets the file's properties before the first row and gives the
// encode options, or nothing to leave the file to the whole-picture path.
// Returns the JPEG's bytes, exactly those encodeImage gives for the decoded picture put on
// white; nothing when the file does not stream (interlaced, a profile that is not RGB,
// metadata after the pixels, chunks cut short) or fails anywhere in its decode or encode:
// the whole-picture path then does and reports as it always has.
std::optional<std::vector<uint8_t>> transcodePNGToJPEG(
    const ImageSource& source, const std::function<std::optional<EncodeOptions>(const ImageProperties&)>& optionsFor);

}  // namespace calvoro::imaging
