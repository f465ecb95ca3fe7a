#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <exception>
#include "converters/data/data_converter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::span<const uint8_t> bytes(data, size);
    std::string_view text(reinterpret_cast<const char*>(data), size);
    (void)bytes;
    (void)text;
    try {
        calvoro::DataConverter::parseVTT(text);
    } catch (const std::exception&) {
        // A clear refusal is the expected answer to hostile bytes.
    }
    return 0;
}
