#pragma once

#include <cstddef>
#include <cstdint>

namespace calvoro::imaging::detail {

// True when the file's metadata holds no property that turns or crops a picture (irot, imir,
// clap) and no item derived from others (grid, iovl, iden): its primary picture is shown
// just as coded. False too when the boxes cannot be read.
bool showsCodedPictureAsIs(const uint8_t* data, size_t size);

}  // namespace calvoro::imaging::detail
