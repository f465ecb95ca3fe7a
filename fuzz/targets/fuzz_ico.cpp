#include "image_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return readImage(&calvoro::imaging::detail::decodeICO, data, size);
}
