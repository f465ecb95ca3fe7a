#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"

namespace calvoro::imaging {

// A JPEG re-encoded as PNG row by row, decode and encode overlapped on two threads (the
// deflate on several more), without the whole picture or the whole file in memory: the file
// goes to sink as it is made. optionsFor gets the file's properties before the first row and
// gives the encode options, or nothing to leave the file to the whole-picture path.
// The bytes are exactly those encodeImage gives for the decoded picture. False when the file
// does not stream (a JPEG cut short, which the whole-picture path reports) or fails anywhere
// in its decode or encode: what went to sink is then to be thrown away, and the whole-picture
// path does and reports as it always has.
bool transcodeJPEGToPNG(const ImageSource& source, const std::function<std::optional<EncodeOptions>(const ImageProperties&)>& optionsFor,
                        const ByteSink& sink);

// A JPEG re-encoded as WebP or a type of the HEIF family, whose encoders need the whole
// picture: the rows, decoded on a thread of their own, go straight into the encoder's own
// picture, so that it is held once, in the encoder's form (a lossless WebP goes the
// whole-picture way). optionsFor as above.
// Returns the bytes encodeImage gives for the decoded picture; nothing when the type is not
// done this way, the file is cut short, or anything fails: the whole-picture path then does and
// reports as it always has.
std::optional<std::vector<uint8_t>> transcodeJPEGIntoEncoder(
    const ImageSource& source, const std::string& typeIdentifier,
    const std::function<std::optional<EncodeOptions>(const ImageProperties&)>& optionsFor);

}  // namespace calvoro::imaging
