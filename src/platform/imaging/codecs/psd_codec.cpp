// Photoshop documents: the flattened composite of RGB, greyscale or CMYK images at 8 or 16
// bits is read; documents are written flat (RGB), PackBits-packed; a picture with transparency
// also gets one layer, which is how readers learn that the fourth channel is transparency.

#include <algorithm>
#include <cstring>

#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

namespace {

void unpackBits(const uint8_t*& p, const uint8_t* end, uint8_t* out, size_t n) {
    size_t i = 0;
    while (i < n && p < end) {
        const int8_t header = static_cast<int8_t>(*p++);
        if (header >= 0) {
            size_t count = static_cast<size_t>(header) + 1;
            if (static_cast<size_t>(end - p) < count) fail("Could not decode PSD data");
            const size_t k = std::min(count, n - i);
            std::memcpy(out + i, p, k);
            p += count;
            i += k;
        } else if (header != -128) {
            const size_t count = static_cast<size_t>(1 - header);
            if (p >= end) fail("Could not decode PSD data");
            const size_t k = std::min(count, n - i);
            std::memset(out + i, *p++, k);
            i += k;
        }
    }
    if (i < n) fail("Could not decode PSD data");
}

void packBits(const uint8_t* row, size_t n, Bytes& out) {
    size_t i = 0;
    while (i < n) {
        size_t run = 1;
        while (i + run < n && run < 128 && row[i + run] == row[i]) ++run;
        if (run >= 3) {
            out.push_back(static_cast<uint8_t>(1 - static_cast<int>(run)));
            out.push_back(row[i]);
            i += run;
            continue;
        }
        size_t start = i, len = 0;
        while (i < n && len < 128) {
            if (i + 2 < n && row[i] == row[i + 1] && row[i] == row[i + 2]) break;
            ++i;
            ++len;
        }
        out.push_back(static_cast<uint8_t>(len - 1));
        out.insert(out.end(), row + start, row + start + len);
    }
}

// What the file header says of the merged image.
struct PsdHeader {
    int version = 1;  // 2: a large document, with wider lengths
    int channels = 0;
    uint32_t w = 0, h = 0;
    int depth = 8;
    int mode = 3;  // 1 greyscale, 3 RGB, 4 CMYK
    int colourChannels = 3;
};

PsdHeader readPsdHeader(const uint8_t* data, size_t size) {
    if (size < 26 || std::memcmp(data, "8BPS", 4) != 0) fail("Could not decode PSD data");
    PsdHeader header;
    header.version = be16(data + 4);
    if (header.version != 1 && header.version != 2) fail("Could not decode PSD data");
    header.channels = be16(data + 12);
    header.h = be32(data + 14), header.w = be32(data + 18);
    header.depth = be16(data + 22), header.mode = be16(data + 24);
    checkDimensions(header.w, header.h);
    if (header.depth != 8 && header.depth != 16) fail("This PSD bit depth is not supported");
    const int mode = header.mode;
    if (mode != 1 && mode != 3 && mode != 4) fail("This PSD colour mode is not supported");
    header.colourChannels = mode == 3 ? 3 : mode == 4 ? 4 : 1;
    if (header.channels < header.colourChannels) fail("Could not decode PSD data");
    return header;
}

// The section at p, after its length (8 bytes when wide); p moves past it.
std::pair<const uint8_t*, size_t> takeSection(const uint8_t*& p, const uint8_t* end, bool wide) {
    const size_t lenBytes = wide ? 8 : 4;
    if (static_cast<size_t>(end - p) < lenBytes) fail("Could not decode PSD data");
    uint64_t len = wide ? (static_cast<uint64_t>(be32(p)) << 32 | be32(p + 4)) : be32(p);
    p += lenBytes;
    if (static_cast<uint64_t>(end - p) < len) fail("Could not decode PSD data");
    const uint8_t* start = p;
    p += len;
    return {start, static_cast<size_t>(len)};
}

// Image resources: the ICC profile (0x040F) and the resolution (0x03ED).
void readImageResources(const uint8_t* res, size_t resLength, int mode, ImageMetadata& metadata) {
    for (const uint8_t* r = res; r + 12 <= res + resLength;) {
        if (std::memcmp(r, "8BIM", 4) != 0) break;
        const uint16_t id = be16(r + 4);
        const uint8_t nameLength = r[6];
        const uint8_t* q = r + 6 + ((nameLength + 2) & ~1);
        if (q + 4 > res + resLength) break;
        const uint32_t len = be32(q);
        q += 4;
        if (q + len > res + resLength) break;
        if (id == 0x040F && mode == 3) metadata.iccProfile.assign(q, q + len);
        if (id == 0x03ED && len >= 16) {
            metadata.dpiWidth = be32(q) / 65536.0;
            metadata.dpiHeight = be32(q + 8) / 65536.0;
        }
        r = q + ((len + 1) & ~1u);
    }
}

// Layers and masks. Only a negative layer count says the merged image's first extra channel
// is its transparency, its colours then blended with white as Photoshop stores them;
// otherwise extra channels are spare masks and the merged image is opaque.
bool mergedImageHasAlpha(const uint8_t* layers, size_t layersLength, int version) {
    const size_t countAt = version == 2 ? 8 : 4;
    if (layersLength < countAt + 2) return false;
    const uint64_t infoLength = version == 2 ? (static_cast<uint64_t>(be32(layers)) << 32 | be32(layers + 4)) : be32(layers);
    return infoLength >= 2 && (layers[countAt] & 0x80);
}

// The first `used` channels of the merged image, raw or PackBits-packed, one plane each.
std::vector<std::vector<uint8_t>> readPlanes(const uint8_t* p, const uint8_t* end, const PsdHeader& header, int used) {
    if (end - p < 2) fail("Could not decode PSD data");
    const int compression = be16(p);
    p += 2;
    const uint32_t h = header.h;
    const size_t rowBytes = static_cast<size_t>(header.w) * (header.depth / 8);
    // Raw planes are stored whole, and PackBits gives at most 128 bytes for every two it reads:
    // data too short for the declared size fails before the planes are allocated.
    const uint64_t stored = static_cast<uint64_t>(end - p);
    if (compression == 0 || compression == 1)
        checkDataHolds(uint64_t(rowBytes) * h * used, compression == 0 ? stored : (stored / 2 + 1) * 128);
    std::vector<std::vector<uint8_t>> planes(static_cast<size_t>(used), std::vector<uint8_t>(rowBytes * h));
    if (compression == 0) {
        for (int c = 0; c < used; ++c) std::memcpy(planes[static_cast<size_t>(c)].data(), p + rowBytes * h * c, rowBytes * h);
    } else if (compression == 1) {
        const size_t countBytes = header.version == 2 ? 4 : 2;
        const uint8_t* counts = p;
        if (static_cast<size_t>(end - p) < countBytes * h * header.channels) fail("Could not decode PSD data");
        p += countBytes * h * header.channels;
        for (int c = 0; c < used; ++c)
            for (uint32_t y = 0; y < h; ++y) {
                const size_t index = static_cast<size_t>(c) * h + y;
                const size_t len = header.version == 2 ? be32(counts + index * 4) : be16(counts + index * 2);
                if (static_cast<size_t>(end - p) < len) fail("Could not decode PSD data");
                const uint8_t* q = p;
                unpackBits(q, p + len, planes[static_cast<size_t>(c)].data() + rowBytes * y, rowBytes);
                p += len;
            }
    } else {
        fail("This PSD compression is not supported");
    }
    return planes;
}

// RGBA from the planes (the high byte of 16-bit samples), transparency taken out of the colours.
RgbaImage composePixels(const std::vector<std::vector<uint8_t>>& planes, const PsdHeader& header, bool alpha) {
    RgbaImage image(static_cast<int>(header.w), static_cast<int>(header.h));
    const size_t bytesPerSample = header.depth / 8;
    const size_t n = static_cast<size_t>(header.w) * header.h;
    auto at = [&](int c, size_t i) -> uint8_t { return planes[static_cast<size_t>(c)][i * bytesPerSample]; };
    for (size_t i = 0; i < n; ++i) {
        uint8_t* d = image.pixels.data() + i * 4;
        if (header.mode == 3) {
            d[0] = at(0, i), d[1] = at(1, i), d[2] = at(2, i);
        } else if (header.mode == 1) {
            d[0] = d[1] = d[2] = at(0, i);
        } else {
            // CMYK is stored inverted (0 = full ink).
            const unsigned k = at(3, i);
            d[0] = static_cast<uint8_t>(at(0, i) * k / 255);
            d[1] = static_cast<uint8_t>(at(1, i) * k / 255);
            d[2] = static_cast<uint8_t>(at(2, i) * k / 255);
        }
        d[3] = alpha ? at(header.colourChannels, i) : 255;
        if (alpha && d[3] > 0 && d[3] < 255)
            for (int c = 0; c < 3; ++c) d[c] = static_cast<uint8_t>(std::clamp((d[c] - (255 - d[3])) * 255 / d[3], 0, 255));
    }
    return image;
}

}  // namespace

void decodePSD(const uint8_t* data, size_t size, DecodeResult& out) {
    const PsdHeader header = readPsdHeader(data, size);
    const uint8_t* p = data + 26;
    const uint8_t* end = data + size;
    takeSection(p, end, false);  // colour mode data
    const auto [res, resLength] = takeSection(p, end, false);
    readImageResources(res, resLength, header.mode, out.props.metadata);
    const auto [layers, layersLength] = takeSection(p, end, header.version == 2);
    const bool mergedAlpha = mergedImageHasAlpha(layers, layersLength, header.version);
    const int used = std::min(header.channels, header.colourChannels + (mergedAlpha ? 1 : 0));
    const auto planes = readPlanes(p, end, header, used);
    const bool alpha = used > header.colourChannels;
    RgbaImage image = composePixels(planes, header, alpha);
    out.props.hasAlpha = alpha;
    out.props.bitsPerComponent = header.depth;
    out.props.pixelWidth = image.width;
    out.props.pixelHeight = image.height;
    out.frames.push_back({std::move(image), 0});
}

namespace {

// One channel's rows, PackBits-packed: the 2-byte count of every row, then the rows.
// With whiteMatted, colours are blended with white by their transparency.
Bytes packedChannel(const RgbaImage& image, int c, bool whiteMatted) {
    Bytes counts, data;
    std::vector<uint8_t> row(static_cast<size_t>(image.width));
    for (int y = 0; y < image.height; ++y) {
        const uint8_t* s = image.row(y);
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* p = s + x * 4;
            row[static_cast<size_t>(x)] = whiteMatted && c < 3 ? static_cast<uint8_t>((p[c] * p[3] + 255 * (255 - p[3]) + 127) / 255) : p[c];
        }
        const size_t before = data.size();
        packBits(row.data(), row.size(), data);
        const size_t len = data.size() - before;
        if (len > 0xFFFF) fail("The image is too large for PSD");
        putBE16(counts, static_cast<uint32_t>(len));
    }
    counts.insert(counts.end(), data.begin(), data.end());
    return counts;
}

// The layer and mask section for a picture with transparency: one layer holding the picture
// with its transparency channel, and a negative layer count, which tells readers that the
// merged image's fourth channel is its transparency rather than a spare mask. The layer keeps
// the colours as they are; the merged image has them blended with white, as Photoshop does.
Bytes layerSection(const RgbaImage& image) {
    std::vector<Bytes> channels;
    for (int c = 0; c < 4; ++c) channels.push_back(packedChannel(image, c, false));
    Bytes info;
    putBE16(info, 0xFFFF);  // -1: one layer, the merged image's alpha is its transparency
    for (uint32_t edge : {0u, 0u, static_cast<uint32_t>(image.height), static_cast<uint32_t>(image.width)}) putBE32(info, edge);
    putBE16(info, 4);
    for (int id : {-1, 0, 1, 2}) {
        putBE16(info, static_cast<uint16_t>(id));
        putBE32(info, static_cast<uint32_t>(2 + channels[static_cast<size_t>(id < 0 ? 3 : id)].size()));
    }
    info.insert(info.end(), {'8', 'B', 'I', 'M', 'n', 'o', 'r', 'm'});
    info.insert(info.end(), {255, 0, 0, 0});  // opacity, clipping, flags (visible), filler
    const uint8_t name[] = {5, 'L', 'a', 'y', 'e', 'r', 0, 0};  // Pascal string, padded to 4
    putBE32(info, 8 + sizeof(name));
    putBE32(info, 0);  // no layer mask
    putBE32(info, 0);  // no blending ranges
    info.insert(info.end(), name, name + sizeof(name));
    for (int id : {-1, 0, 1, 2}) {
        putBE16(info, 1);  // PackBits
        const Bytes& data = channels[static_cast<size_t>(id < 0 ? 3 : id)];
        info.insert(info.end(), data.begin(), data.end());
    }
    if (info.size() & 1) info.push_back(0);
    Bytes section;
    putBE32(section, static_cast<uint32_t>(4 + info.size() + 4));
    putBE32(section, static_cast<uint32_t>(info.size()));
    section.insert(section.end(), info.begin(), info.end());
    putBE32(section, 0);  // no global layer mask
    return section;
}

}  // namespace

Bytes encodePSD(const RgbaImage& image, const EncodeOptions&) {
    if (image.width > 30000 || image.height > 30000) fail("PSD images are at most 30,000 pixels on a side");
    const bool alpha = image.hasTransparency();
    const int channelCount = alpha ? 4 : 3;
    std::vector<Bytes> channels;
    for (int c = 0; c < channelCount; ++c) channels.push_back(packedChannel(image, c, alpha));
    Bytes out;
    out.insert(out.end(), {'8', 'B', 'P', 'S'});
    putBE16(out, 1);
    out.resize(out.size() + 6, 0);
    putBE16(out, static_cast<uint32_t>(channelCount));
    putBE32(out, static_cast<uint32_t>(image.height));
    putBE32(out, static_cast<uint32_t>(image.width));
    putBE16(out, 8);
    putBE16(out, 3);
    putBE32(out, 0);  // colour mode data
    Bytes resources;
    if (!image.iccProfile.empty()) {
        resources.insert(resources.end(), {'8', 'B', 'I', 'M'});
        putBE16(resources, 0x040F);
        putBE16(resources, 0);  // empty name, padded
        putBE32(resources, static_cast<uint32_t>(image.iccProfile.size()));
        resources.insert(resources.end(), image.iccProfile.begin(), image.iccProfile.end());
        if (image.iccProfile.size() & 1) resources.push_back(0);
    }
    putBE32(out, static_cast<uint32_t>(resources.size()));
    out.insert(out.end(), resources.begin(), resources.end());
    if (alpha) {
        const Bytes layers = layerSection(image);
        out.insert(out.end(), layers.begin(), layers.end());
    } else {
        putBE32(out, 0);  // no layers
    }
    putBE16(out, 1);  // PackBits: every channel's row counts first, then every channel's rows
    for (const auto& c : channels) out.insert(out.end(), c.begin(), c.begin() + 2 * image.height);
    for (const auto& c : channels) out.insert(out.end(), c.begin() + 2 * image.height, c.end());
    return out;
}

}  // namespace calvoro::imaging::detail
