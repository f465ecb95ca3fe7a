#include <cstddef>
#include <cstdint>
#include <exception>
#include <string_view>

#include "converters/document/document_converter.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        (void)calvoro::DocumentConverter::markdownBodyHTML(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const std::exception&) {
        // A clear refusal is the expected answer to hostile bytes.
    }
    return 0;
}
