#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "converters/font/font_converter.h"
#include "core/conversion_error.h"

namespace calvoro::fonttest {

using Bytes = std::vector<uint8_t>;

inline const std::filesystem::path dejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
inline const std::filesystem::path freeSerif = "/usr/share/fonts/opentype/freefont/FreeSansBold.otf";

inline Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

inline void put16(Bytes& b, uint32_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}
inline void put32(Bytes& b, uint32_t v) {
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

inline FontConverter::Table table(const std::string& tag, Bytes data, uint32_t checksum = 0) {
    return {FontConverter::stringToTag(tag), checksum, std::move(data)};
}

// The corruptFile message that body throws, or a marker when it throws nothing or something else.
template <typename Body>
std::string corruptMessage(Body&& body) {
    try {
        body();
    } catch (const ConversionError& e) {
        if (e.kind() != ConversionError::Kind::corruptFile) return std::string("<other error> ") + e.what();
        return e.payload();
    } catch (const std::exception& e) {
        return std::string("<exception> ") + e.what();
    }
    return "<no error>";
}

}  // namespace calvoro::fonttest
