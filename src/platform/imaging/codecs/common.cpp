#include "core/conversion_error.h"
#include "core/text_util.h"
#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

void fail(const std::string& what) { throw ConversionError::corruptFile(what); }

void checkDimensions(uint64_t width, uint64_t height) {
    if (width == 0 || height == 0) fail("The image has no pixels");
    if (width > (1u << 30) || height > (1u << 30) || width * height > maxPixelCount)
        fail(formatC("The image is too large (%llu × %llu pixels)", static_cast<unsigned long long>(width),
                     static_cast<unsigned long long>(height)));
}

}  // namespace calvoro::imaging::detail
