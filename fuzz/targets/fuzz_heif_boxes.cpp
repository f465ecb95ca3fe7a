#include <cstddef>
#include <cstdint>

#include "platform/imaging/codecs/heif_boxes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Any answer will do; reading the boxes must stay inside the bytes.
    (void)calvoro::imaging::detail::showsCodedPictureAsIs(data, size);
    return 0;
}
