#pragma once

// Pictures and metadata made in code for the imaging tests.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/imaging/rgba_image.h"

namespace calvoro::testing {

// A picture with distinct quadrants (red, green, blue, white) and, when asked, a
// transparent band down the left tenth.
inline imaging::RgbaImage quadrants(int w, int h, bool transparentBand = false) {
    imaging::RgbaImage image(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = image.row(y) + x * 4;
            const bool right = x >= w / 2, bottom = y >= h / 2;
            p[0] = (!right && !bottom) || (right && bottom) ? 255 : 0;
            p[1] = (right && !bottom) || (right && bottom) ? 255 : 0;
            p[2] = (!right && bottom) || (right && bottom) ? 255 : 0;
            p[3] = transparentBand && x < w / 10 ? 0 : 255;
        }
    return image;
}

inline void le16(std::vector<uint8_t>& b, uint32_t v) { b.push_back(v & 0xFF), b.push_back((v >> 8) & 0xFF); }
inline void le32(std::vector<uint8_t>& b, uint32_t v) { le16(b, v & 0xFFFF), le16(b, v >> 16); }

// A little-endian Exif block: Orientation, Make "Calvoro Test" and, when asked, a GPS
// directory with a latitude reference.
inline std::vector<uint8_t> exifBlock(int orientation, bool gps) {
    std::vector<uint8_t> b = {'I', 'I', 42, 0};
    le32(b, 8);
    const int entries = gps ? 3 : 2;
    const uint32_t ifdEnd = 8 + 2 + entries * 12 + 4;
    le16(b, static_cast<uint32_t>(entries));
    // Make (0x010F), ASCII, 13 bytes at the data area.
    le16(b, 0x010F), le16(b, 2), le32(b, 13), le32(b, ifdEnd);
    // Orientation (0x0112), SHORT.
    le16(b, 0x0112), le16(b, 3), le32(b, 1), le32(b, static_cast<uint32_t>(orientation));
    const uint32_t gpsAt = ifdEnd + 14;
    if (gps) le16(b, 0x8825), le16(b, 4), le32(b, 1), le32(b, gpsAt);
    le32(b, 0);
    const char make[] = "Calvoro Test";
    b.insert(b.end(), make, make + 13);
    b.push_back(0);
    if (gps) {
        le16(b, 1);
        // GPSLatitudeRef "N".
        le16(b, 0x0001), le16(b, 2), le32(b, 2), b.push_back('N'), b.push_back(0), b.push_back(0), b.push_back(0);
        le32(b, 0);
    }
    return b;
}

}  // namespace calvoro::testing
