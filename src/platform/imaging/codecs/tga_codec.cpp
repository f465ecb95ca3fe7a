// Truevision TGA: colour-mapped, true-colour and grey images, raw or RLE, 8 to 32 bits.
// Written as uncompressed 32-bit (with alpha) or 24-bit true colour, top-left origin.

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

namespace {

// Five bits a channel, red highest; the top bit is not read as alpha.
void readRGB555(const uint8_t* p, uint8_t* d) {
    const uint16_t v = le16(p);
    d[0] = static_cast<uint8_t>(((v >> 10) & 0x1F) * 255 / 31);
    d[1] = static_cast<uint8_t>(((v >> 5) & 0x1F) * 255 / 31);
    d[2] = static_cast<uint8_t>((v & 0x1F) * 255 / 31);
    d[3] = 255;
}

void readPixel(const uint8_t* p, int bpp, bool grey, uint8_t* d) {
    switch (bpp) {
        case 8:
            d[0] = d[1] = d[2] = p[0], d[3] = 255;
            break;
        case 16:
            if (grey) {
                d[0] = d[1] = d[2] = p[0], d[3] = p[1];
            } else {
                readRGB555(p, d);
            }
            break;
        case 15:
            readRGB555(p, d);
            break;
        case 24:
            d[0] = p[2], d[1] = p[1], d[2] = p[0], d[3] = 255;
            break;
        default:
            d[0] = p[2], d[1] = p[1], d[2] = p[0], d[3] = p[3];
            break;
    }
}

// What the TGA 2.0 extension area says of the alpha of the pixels: its attributes type (0 none,
// 1 and 2 undefined, 3 alpha, 4 premultiplied alpha), or -1 when the file has no such area.
int extensionAttributesType(const uint8_t* data, size_t size) {
    static constexpr char signature[] = "TRUEVISION-XFILE.";  // with its NUL, the last 18 bytes
    if (size < 18 + 26 || std::memcmp(data + size - 18, signature, sizeof(signature)) != 0) return -1;
    const size_t at = le32(data + size - 26);
    constexpr size_t length = 495;
    if (at < 18 || at > size - 26 || size - 26 - at < length || le16(data + at) < length) return -1;
    return data[at + length - 1];
}

using Palette = std::vector<std::array<uint8_t, 4>>;

// The colour map at pos, placed at its first index; pos moves past it.
Palette readColourMap(const uint8_t* data, size_t size, size_t& pos) {
    const uint16_t mapFirst = le16(data + 3), mapLength = le16(data + 5);
    const uint8_t mapBits = data[7];
    Palette palette;
    const int entryBytes = (mapBits + 7) / 8;
    if (entryBytes < 2 || entryBytes > 4 || pos + static_cast<size_t>(mapLength) * entryBytes > size) fail("Could not decode TGA data");
    palette.resize(static_cast<size_t>(mapFirst) + mapLength);
    // Entries are read by their stored size, whatever odd bit count the header gives.
    const int entryBits = entryBytes == 2 ? 15 : entryBytes * 8;
    for (int i = 0; i < mapLength; ++i)
        readPixel(data + pos + static_cast<size_t>(i) * entryBytes, entryBits, false, palette[static_cast<size_t>(mapFirst) + i].data());
    pos += static_cast<size_t>(mapLength) * entryBytes;
    return palette;
}

// Fills raw with the stored pixels in stored order, unpacking runs.
void readRunLengthPixels(const uint8_t* data, size_t size, size_t pos, int pixelBytes, std::vector<uint8_t>& raw) {
    const size_t total = raw.size() / pixelBytes;
    size_t i = 0;
    while (i < total) {
        if (pos >= size) fail("Could not decode TGA data");
        const uint8_t header = data[pos++];
        const size_t count = (header & 0x7F) + 1u;
        if (header & 0x80) {
            if (pos + pixelBytes > size) fail("Could not decode TGA data");
            for (size_t k = 0; k < count && i < total; ++k, ++i) std::memcpy(raw.data() + i * pixelBytes, data + pos, pixelBytes);
            pos += pixelBytes;
        } else {
            const size_t n = std::min(count, total - i);
            if (pos + n * pixelBytes > size) fail("Could not decode TGA data");
            std::memcpy(raw.data() + i * pixelBytes, data + pos, n * pixelBytes);
            pos += count * pixelBytes;
            i += n;
        }
    }
}

// The alpha is taken whatever the descriptor's attribute bits say, which many writers leave
// at 0; the extension area's attributes type, where present, decides. Without one, alpha
// left all zero means opaque.
void settleAlpha(RgbaImage& image, int attributes) {
    bool opaque = attributes >= 0 && attributes <= 2;
    if (attributes < 0 || attributes > 4) {
        opaque = true;
        for (size_t i = 3; i < image.pixels.size() && opaque; i += 4) opaque = image.pixels[i] == 0;
    }
    for (size_t i = 0; (opaque || attributes == 4) && i < image.pixels.size(); i += 4) {
        uint8_t* p = image.pixels.data() + i;
        if (opaque) {
            p[3] = 255;
        } else if (attributes == 4 && p[3] > 0 && p[3] < 255) {
            for (int c = 0; c < 3; ++c) p[c] = static_cast<uint8_t>(std::min(255, (p[c] * 255 + p[3] / 2) / p[3]));
        }
    }
}

}  // namespace

void decodeTGA(const uint8_t* data, size_t size, DecodeResult& out) {
    if (size < 18) fail("Could not decode TGA data");
    const uint8_t idLength = data[0], mapType = data[1], type = data[2];
    const int w = le16(data + 12), h = le16(data + 14);
    const int bpp = data[16];
    const uint8_t descriptor = data[17];
    const int base = type & ~8;
    const bool rle = type & 8;
    if (base != 1 && base != 2 && base != 3) fail("Could not decode TGA data");
    checkDimensions(static_cast<uint64_t>(w), static_cast<uint64_t>(h));
    size_t pos = 18 + idLength;
    Palette palette;
    if (mapType == 1) palette = readColourMap(data, size, pos);
    if (base == 1 && (palette.empty() || bpp != 8)) fail("Could not decode TGA data");
    if (base == 2 && bpp != 15 && bpp != 16 && bpp != 24 && bpp != 32) fail("Could not decode TGA data");
    if (base == 3 && bpp != 8 && bpp != 16) fail("Could not decode TGA data");
    const int pixelBytes = (bpp + 7) / 8;
    const bool grey = base == 3;
    // Every pixel is stored, or runs of up to 128 take a header and a value: a file too short
    // for its size fails before the picture is allocated.
    const uint64_t stored = size > pos ? size - pos : 0;
    checkDataHolds(uint64_t(w) * h, rle ? (stored / (1 + pixelBytes) + 1) * 128 : stored / pixelBytes);
    RgbaImage image(w, h);
    std::vector<uint8_t> raw(static_cast<size_t>(w) * h * pixelBytes);
    if (!rle) {
        std::memcpy(raw.data(), data + pos, raw.size());
    } else {
        readRunLengthPixels(data, size, pos, pixelBytes, raw);
    }
    const bool rightToLeft = descriptor & 0x10;
    const bool topDown = descriptor & 0x20;
    for (int y = 0; y < h; ++y) {
        uint8_t* d = image.row(topDown ? y : h - 1 - y);
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = raw.data() + (static_cast<size_t>(y) * w + x) * pixelBytes;
            uint8_t* q = d + static_cast<size_t>(rightToLeft ? w - 1 - x : x) * 4;
            if (base == 1) {
                std::memcpy(q, palette[std::min<size_t>(p[0], palette.size() - 1)].data(), 4);
            } else {
                readPixel(p, bpp, grey, q);
            }
        }
    }
    settleAlpha(image, extensionAttributesType(data, size));
    out.props.hasAlpha = image.hasTransparency();
    out.props.pixelWidth = w;
    out.props.pixelHeight = h;
    out.frames.push_back({std::move(image), 0});
}

Bytes encodeTGA(const RgbaImage& image, const EncodeOptions&) {
    if (image.width > 65535 || image.height > 65535) fail("The image is too large for TGA");
    const bool alpha = image.hasTransparency();
    Bytes out(18, 0);
    out[2] = 2;
    out[12] = image.width & 0xFF, out[13] = (image.width >> 8) & 0xFF;
    out[14] = image.height & 0xFF, out[15] = (image.height >> 8) & 0xFF;
    out[16] = alpha ? 32 : 24;
    out[17] = static_cast<uint8_t>(0x20 | (alpha ? 8 : 0));
    out.reserve(18 + static_cast<size_t>(image.width) * image.height * (alpha ? 4 : 3) + 26);
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* s = image.row(y);
        for (int x = 0; x < image.width; ++x, s += 4) {
            out.push_back(s[2]);
            out.push_back(s[1]);
            out.push_back(s[0]);
            if (alpha) out.push_back(s[3]);
        }
    }
    // TGA 2.0 footer without extension or developer areas.
    for (int i = 0; i < 8; ++i) out.push_back(0);
    const char signature[] = "TRUEVISION-XFILE.";
    out.insert(out.end(), signature, signature + sizeof(signature));
    return out;
}

}  // namespace calvoro::imaging::detail
