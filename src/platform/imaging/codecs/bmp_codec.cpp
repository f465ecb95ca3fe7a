// Windows bitmaps: every usual header, 1/4/8-bit palettes, RLE4/RLE8, 16/24/32-bit with bit
// fields; written as 32-bit BGRA with a version 5 header when there is transparency, else 24-bit.

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

namespace {

struct Mask {
    uint32_t mask = 0;
    int shift = 0;
    int bits = 0;
    explicit Mask(uint32_t m = 0) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        while (shift + bits < 32 && ((m >> (shift + bits)) & 1)) ++bits;
    }
    uint8_t extract(uint32_t v) const {
        if (!mask) return 0;
        uint32_t x = (v & mask) >> shift;
        if (bits >= 8) return static_cast<uint8_t>(x >> (bits - 8));
        return static_cast<uint8_t>((x * 255 + ((1u << bits) - 1) / 2) / ((1u << bits) - 1));
    }
};

void decodeRLE(const uint8_t* p, const uint8_t* end, int bpp, int w, int h, std::vector<uint8_t>& indices) {
    int x = 0, y = 0;
    auto put = [&](uint8_t v) {
        if (x < w && y < h) indices[static_cast<size_t>(y) * w + x] = v;
        ++x;
    };
    while (p + 1 < end && y < h) {
        uint8_t count = p[0], value = p[1];
        p += 2;
        if (count > 0) {
            for (int i = 0; i < count; ++i) put(bpp == 8 ? value : ((i & 1) ? (value & 0x0F) : (value >> 4)));
        } else if (value == 0) {
            x = 0;
            ++y;
        } else if (value == 1) {
            break;
        } else if (value == 2) {
            if (p + 1 >= end) break;
            x += p[0];
            y += p[1];
            p += 2;
        } else {
            const int n = value;
            const int bytes = bpp == 8 ? n : (n + 1) / 2;
            if (end - p < bytes) break;
            for (int i = 0; i < n; ++i) put(bpp == 8 ? p[i] : ((i & 1) ? (p[i / 2] & 0x0F) : (p[i / 2] >> 4)));
            p += (bytes + 1) & ~1;
        }
    }
}

// What a DIB's header says of its pixels.
struct DibHeader {
    uint32_t headerSize = 0;
    bool core = false;  // the 12-byte OS/2 header, with 3-byte palette entries
    int w = 0, h = 0;
    bool topDown = false;
    int bpp = 0;
    uint32_t compression = 0, coloursUsed = 0;
};

DibHeader readDibHeader(const uint8_t* dib, const uint8_t* end, bool icon) {
    if (end - dib < 12) fail("Could not decode BMP data");
    DibHeader header;
    header.headerSize = le32(dib);
    if (header.headerSize < 12 || static_cast<size_t>(end - dib) < header.headerSize) fail("Could not decode BMP data");
    int64_t width, height;
    header.core = header.headerSize == 12;
    if (header.core) {
        width = le16(dib + 4);
        height = static_cast<int16_t>(le16(dib + 6));
        header.bpp = le16(dib + 10);
    } else {
        if (header.headerSize < 40) fail("Could not decode BMP data");
        width = static_cast<int32_t>(le32(dib + 4));
        height = static_cast<int32_t>(le32(dib + 8));
        header.bpp = le16(dib + 14);
        header.compression = le32(dib + 16);
        header.coloursUsed = le32(dib + 32);
    }
    if (icon) height /= 2;
    header.topDown = height < 0;
    if (height < 0) height = -height;
    if (width <= 0 || height <= 0) fail("Could not decode BMP data");
    checkDimensions(static_cast<uint64_t>(width), static_cast<uint64_t>(height));
    header.w = static_cast<int>(width), header.h = static_cast<int>(height);
    return header;
}

struct ChannelMasks {
    Mask r, g, b, a;
};

using Palette = std::vector<std::array<uint8_t, 3>>;

// Bit fields as the header gives them, or the defaults of the bit depth.
ChannelMasks channelMasks(const DibHeader& header, const uint8_t* dib, const uint8_t* end, bool icon) {
    ChannelMasks masks;
    auto& [r, g, b, a] = masks;
    const uint32_t headerSize = header.headerSize, compression = header.compression;
    const int bpp = header.bpp;
    bool haveMasks = false;
    if (compression == 3 || compression == 6) {
        const uint8_t* m = dib + 40;
        if (headerSize >= 52 && end - dib >= 52) {
            r = Mask(le32(dib + 40)), g = Mask(le32(dib + 44)), b = Mask(le32(dib + 48));
            if (headerSize >= 56) a = Mask(le32(dib + 52));
        } else if (end - m >= 12) {
            // Masks follow a 40-byte header.
            r = Mask(le32(m)), g = Mask(le32(m + 4)), b = Mask(le32(m + 8));
            if (compression == 6 && end - m >= 16) a = Mask(le32(m + 12));
        }
        haveMasks = true;
    } else if (headerSize >= 56 && bpp == 32 && le32(dib + 52)) {
        a = Mask(le32(dib + 52));
    }
    if (!haveMasks) {
        if (bpp == 16) r = Mask(0x7C00), g = Mask(0x03E0), b = Mask(0x001F);
        else if (bpp == 32 || bpp == 24) r = Mask(0x00FF0000), g = Mask(0x0000FF00), b = Mask(0x000000FF);
    }
    if (icon && bpp == 32) a = Mask(0xFF000000);
    return masks;
}

// Reads the palette of a depth up to 8 bits into palette; returns where the pixels start
// (bits, when the file says, else right after the header, its masks and its palette).
const uint8_t* readPalette(const DibHeader& header, const uint8_t* dib, const uint8_t* end, const uint8_t* bits,
                           Palette& palette) {
    const uint32_t headerSize = header.headerSize, compression = header.compression;
    if (header.bpp <= 8) {
        const size_t entry = header.core ? 3 : 4;
        size_t n = header.coloursUsed ? header.coloursUsed : (1u << header.bpp);
        n = std::min<size_t>(n, 256);
        const uint8_t* pal = dib + headerSize + ((compression == 3 && headerSize == 40) ? 12 : 0);
        for (size_t i = 0; i < n && pal + (i + 1) * entry <= end; ++i)
            palette.push_back({pal[i * entry + 2], pal[i * entry + 1], pal[i * entry]});
        if (palette.empty()) fail("Could not decode BMP data");
        if (!bits) bits = pal + n * entry;
    } else if (!bits) {
        bits = dib + headerSize + ((compression == 3 && headerSize == 40) ? 12 : compression == 6 && headerSize == 40 ? 16 : 0);
    }
    if (bits < dib || bits > end) fail("Could not decode BMP data");
    return bits;
}

uint8_t* outputRow(RgbaImage& image, const DibHeader& header, int y) { return image.row(header.topDown ? y : header.h - 1 - y); }

void decodeRLEPixels(const DibHeader& header, const Palette& palette, const uint8_t* bits, const uint8_t* end, RgbaImage& image) {
    const int w = header.w, h = header.h;
    if (header.bpp != (header.compression == 1 ? 8 : 4)) fail("Could not decode BMP data");
    std::vector<uint8_t> indices(static_cast<size_t>(w) * h, 0);
    decodeRLE(bits, end, header.bpp, w, h, indices);
    for (int y = 0; y < h; ++y) {
        uint8_t* d = outputRow(image, header, y);
        for (int x = 0; x < w; ++x, d += 4) {
            const auto& c = palette[std::min<size_t>(indices[static_cast<size_t>(y) * w + x], palette.size() - 1)];
            d[0] = c[0], d[1] = c[1], d[2] = c[2], d[3] = 255;
        }
    }
}

// Uncompressed or bit-field rows; returns whether any pixel has a nonzero alpha.
bool decodeRows(const DibHeader& header, const Palette& palette, const ChannelMasks& masks, const uint8_t* bits, size_t stride,
                RgbaImage& image) {
    const int bpp = header.bpp;
    bool anyAlpha = false;
    for (int y = 0; y < header.h; ++y) {
        const uint8_t* s = bits + stride * static_cast<size_t>(y);
        uint8_t* d = outputRow(image, header, y);
        for (int x = 0; x < header.w; ++x, d += 4) {
            if (bpp <= 8) {
                const int perByte = 8 / bpp;
                const int shift = 8 - bpp * (1 + x % perByte);
                const int index = (s[x / perByte] >> shift) & ((1 << bpp) - 1);
                const auto& c = palette[std::min<size_t>(static_cast<size_t>(index), palette.size() - 1)];
                d[0] = c[0], d[1] = c[1], d[2] = c[2], d[3] = 255;
            } else {
                uint32_t v;
                if (bpp == 16) v = le16(s + x * 2);
                else if (bpp == 24) v = s[x * 3] | (s[x * 3 + 1] << 8) | (static_cast<uint32_t>(s[x * 3 + 2]) << 16);
                else v = le32(s + x * 4);
                d[0] = masks.r.extract(v), d[1] = masks.g.extract(v), d[2] = masks.b.extract(v);
                d[3] = masks.a.mask ? masks.a.extract(v) : 255;
                if (d[3]) anyAlpha = true;
            }
        }
    }
    return anyAlpha;
}

// An icon's AND mask, after the colour rows, marks transparent pixels.
void applyIconMask(const DibHeader& header, const uint8_t* mask, const uint8_t* end, RgbaImage& image) {
    const size_t maskStride = ((static_cast<size_t>(header.w) + 31) / 32) * 4;
    if (static_cast<size_t>(end - mask) < maskStride * static_cast<size_t>(header.h)) return;
    for (int y = 0; y < header.h; ++y) {
        const uint8_t* m = mask + maskStride * static_cast<size_t>(y);
        uint8_t* d = outputRow(image, header, y);
        for (int x = 0; x < header.w; ++x)
            if ((m[x / 8] >> (7 - x % 8)) & 1) d[x * 4 + 3] = 0;
    }
}

// Decodes a DIB: header at dib, pixel data at bits (within [dib, end)).
RgbaImage decodeBitmap(const uint8_t* dib, const uint8_t* end, const uint8_t* bits, bool icon) {
    const DibHeader header = readDibHeader(dib, end, icon);
    const ChannelMasks masks = channelMasks(header, dib, end, icon);
    Palette palette;
    bits = readPalette(header, dib, end, bits, palette);
    const int bpp = header.bpp;
    const uint32_t compression = header.compression;

    if (compression == 1 || compression == 2) {
        RgbaImage image(header.w, header.h);
        decodeRLEPixels(header, palette, bits, end, image);
        return image;
    }
    if (compression != 0 && compression != 3 && compression != 6) fail("This BMP compression is not supported");
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) fail("Could not decode BMP data");
    const size_t stride = ((static_cast<size_t>(header.w) * bpp + 31) / 32) * 4;
    // Rows too short for the declared size fail before the picture is allocated.
    checkDataHolds(stride * static_cast<uint64_t>(header.h), static_cast<uint64_t>(end - bits));
    RgbaImage image(header.w, header.h);
    const bool anyAlpha = decodeRows(header, palette, masks, bits, stride, image);
    // An alpha channel of all zeros means the writer did not use it.
    if (masks.a.mask && !anyAlpha)
        for (size_t i = 3; i < image.pixels.size(); i += 4) image.pixels[i] = 255;
    if (icon && !(bpp == 32 && anyAlpha)) applyIconMask(header, bits + stride * static_cast<size_t>(header.h), end, image);
    return image;
}

}  // namespace

RgbaImage decodeDIB(const uint8_t* data, size_t size, bool iconMask) { return decodeBitmap(data, data + size, nullptr, iconMask); }

void decodeBMP(const uint8_t* data, size_t size, DecodeResult& out) {
    if (size < 26 || data[0] != 'B' || data[1] != 'M') fail("Could not decode BMP data");
    const uint32_t offset = le32(data + 10);
    if (offset >= size) fail("Could not decode BMP data");
    RgbaImage image = decodeBitmap(data + 14, data + size, data + offset, false);
    const uint32_t headerSize = le32(data + 14);
    if (headerSize >= 40 && size >= 14 + 40) {
        const int32_t ppmX = static_cast<int32_t>(le32(data + 14 + 24)), ppmY = static_cast<int32_t>(le32(data + 14 + 28));
        if (ppmX > 0 && ppmY > 0) {
            out.props.metadata.dpiWidth = ppmX * 0.0254;
            out.props.metadata.dpiHeight = ppmY * 0.0254;
        }
        out.props.bitsPerComponent = le16(data + 14 + 14) >= 16 ? 8 : le16(data + 14 + 14);
    }
    out.props.hasAlpha = image.hasTransparency();
    out.props.pixelWidth = image.width;
    out.props.pixelHeight = image.height;
    out.frames.push_back({std::move(image), 0});
}

Bytes encodeBMP(const RgbaImage& image, const EncodeOptions& options) {
    const bool alpha = image.hasTransparency();
    const int bpp = alpha ? 32 : 24;
    const uint32_t headerSize = alpha ? 124 : 40;
    const size_t stride = ((static_cast<size_t>(image.width) * bpp + 31) / 32) * 4;
    const size_t pixelBytes = stride * static_cast<size_t>(image.height);
    if (pixelBytes + 14 + headerSize > 0xFFFFFFFFu) fail("The image is too large for BMP");
    Bytes out;
    out.reserve(14 + headerSize + pixelBytes);
    out.push_back('B');
    out.push_back('M');
    putLE32(out, static_cast<uint32_t>(14 + headerSize + pixelBytes));
    putLE32(out, 0);
    putLE32(out, 14 + headerSize);
    putLE32(out, headerSize);
    putLE32(out, static_cast<uint32_t>(image.width));
    putLE32(out, static_cast<uint32_t>(image.height));  // bottom-up
    putLE16(out, 1);
    putLE16(out, static_cast<uint32_t>(bpp));
    putLE32(out, alpha ? 3 : 0);
    putLE32(out, static_cast<uint32_t>(pixelBytes));
    uint32_t ppm = 2835;  // 72 dpi
    uint32_t ppmY = ppm;
    if (options.metadata.dpiWidth && options.metadata.dpiHeight && *options.metadata.dpiWidth > 0 && *options.metadata.dpiHeight > 0) {
        ppm = static_cast<uint32_t>(*options.metadata.dpiWidth / 0.0254 + 0.5);
        ppmY = static_cast<uint32_t>(*options.metadata.dpiHeight / 0.0254 + 0.5);
    }
    putLE32(out, ppm);
    putLE32(out, ppmY);
    putLE32(out, 0);
    putLE32(out, 0);
    if (alpha) {
        putLE32(out, 0x00FF0000);
        putLE32(out, 0x0000FF00);
        putLE32(out, 0x000000FF);
        putLE32(out, 0xFF000000);
        putLE32(out, 0x73524742);  // 'sRGB'
        out.resize(out.size() + 36 + 12, 0);  // endpoints, gamma
        putLE32(out, 4);  // LCS_GM_IMAGES
        putLE32(out, 0);
        putLE32(out, 0);
        putLE32(out, 0);
    }
    const size_t start = out.size();
    out.resize(start + pixelBytes, 0);
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* s = image.row(image.height - 1 - y);
        uint8_t* d = out.data() + start + stride * static_cast<size_t>(y);
        for (int x = 0; x < image.width; ++x, s += 4) {
            *d++ = s[2];
            *d++ = s[1];
            *d++ = s[0];
            if (alpha) *d++ = s[3];
        }
    }
    return out;
}

}  // namespace calvoro::imaging::detail
