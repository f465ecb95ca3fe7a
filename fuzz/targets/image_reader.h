#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>

#include "platform/imaging/codecs/codecs.h"

// One of our own image readers on hostile bytes: a picture or a clear refusal.
inline int readImage(void (*decode)(const uint8_t*, size_t, calvoro::imaging::detail::DecodeResult&), const uint8_t* data,
                     size_t size) {
    calvoro::imaging::detail::DecodeResult out;
    try {
        decode(data, size, out);
    } catch (const std::exception&) {
        // A clear refusal is the expected answer to hostile bytes.
    }
    return 0;
}
