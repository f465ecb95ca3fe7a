// Windows ICO and Apple ICNS containers. Entries are written as PNG; ICO entries are read as
// PNG or DIB, ICNS entries as PNG, JPEG 2000 or the packed 24-bit kinds with their masks.

#include <algorithm>
#include <cstring>

#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

namespace {

const uint8_t pngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool isPNG(const uint8_t* p, size_t n) { return n >= 8 && std::memcmp(p, pngSignature, 8) == 0; }

RgbaImage decodeEmbedded(const uint8_t* p, size_t n, DecodeResult* into) {
    DecodeResult r;
    if (isPNG(p, n)) decodePNG(p, n, r);
    else if (n >= 12 && be32(p) == 12 && std::memcmp(p + 4, "jP  ", 4) == 0) decodeJPEG2000(p, n, r);
    else if (n >= 4 && p[0] == 0xFF && p[1] == 0x4F) decodeJPEG2000(p, n, r);
    else fail("Could not decode icon entry");
    if (into) into->props.metadata.iccProfile = r.props.metadata.iccProfile;
    return std::move(r.frames.front().image);
}

Bytes pngOf(const RgbaImage& image) {
    RgbaImage copy = image;
    copy.iccProfile.clear();
    return encodePNG(copy, EncodeOptions{});
}

// Packed 24-bit ICNS data: per channel, runs of up to 128 literal bytes or 3..130 repeats.
bool unpackIcnsChannels(const uint8_t* p, size_t n, int side, RgbaImage& image) {
    const size_t pixels = static_cast<size_t>(side) * side;
    if (n == pixels * 4) {
        // Unpacked ARGB.
        for (size_t i = 0; i < pixels; ++i) {
            image.pixels[i * 4] = p[i * 4 + 1];
            image.pixels[i * 4 + 1] = p[i * 4 + 2];
            image.pixels[i * 4 + 2] = p[i * 4 + 3];
        }
        return true;
    }
    size_t pos = 0;
    for (int c = 0; c < 3; ++c) {
        size_t i = 0;
        while (i < pixels) {
            if (pos >= n) return false;
            const uint8_t h = p[pos++];
            if (h & 0x80) {
                const size_t count = h - 125u;
                if (pos >= n) return false;
                for (size_t k = 0; k < count && i < pixels; ++k) image.pixels[(i++) * 4 + c] = p[pos];
                ++pos;
            } else {
                const size_t count = h + 1u;
                for (size_t k = 0; k < count && i < pixels; ++k) {
                    if (pos >= n) return false;
                    image.pixels[(i++) * 4 + c] = p[pos++];
                }
            }
        }
    }
    return true;
}

}  // namespace

void decodeICO(const uint8_t* data, size_t size, DecodeResult& out) {
    if (size < 6 || le16(data) != 0 || (le16(data + 2) != 1 && le16(data + 2) != 2)) fail("Could not decode ICO data");
    const int count = le16(data + 4);
    if (count < 1 || size < 6 + static_cast<size_t>(count) * 16) fail("Could not decode ICO data");
    // The first entry is image 0, as the platform's reader orders them.
    const uint8_t* e = data + 6;
    const uint32_t length = le32(e + 8), offset = le32(e + 12);
    if (offset >= size || length > size - offset) fail("Could not decode ICO data");
    RgbaImage image = isPNG(data + offset, length) ? decodeEmbedded(data + offset, length, &out)
                                                    : decodeDIB(data + offset, length, true);
    out.props.hasAlpha = true;
    out.props.frameCount = count;
    out.props.pixelWidth = image.width;
    out.props.pixelHeight = image.height;
    out.frames.push_back({std::move(image), 0});
}

Bytes encodeICO(const std::vector<RgbaImage>& images) {
    if (images.empty() || images.size() > 0xFFFF) fail("Could not encode ICO");
    std::vector<Bytes> entries;
    for (const auto& image : images) {
        if (image.width > 256 || image.height > 256) fail("ICO entries are at most 256 pixels wide");
        entries.push_back(pngOf(image));
    }
    Bytes out;
    putLE16(out, 0);
    putLE16(out, 1);
    putLE16(out, static_cast<uint32_t>(images.size()));
    uint32_t offset = static_cast<uint32_t>(6 + 16 * images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        out.push_back(static_cast<uint8_t>(images[i].width >= 256 ? 0 : images[i].width));
        out.push_back(static_cast<uint8_t>(images[i].height >= 256 ? 0 : images[i].height));
        out.push_back(0);
        out.push_back(0);
        putLE16(out, 1);
        putLE16(out, 32);
        putLE32(out, static_cast<uint32_t>(entries[i].size()));
        putLE32(out, offset);
        offset += static_cast<uint32_t>(entries[i].size());
    }
    for (const auto& e : entries) out.insert(out.end(), e.begin(), e.end());
    return out;
}

void decodeICNS(const uint8_t* data, size_t size, DecodeResult& out) {
    if (size < 8 || std::memcmp(data, "icns", 4) != 0) fail("Could not decode ICNS data");
    const size_t total = std::min<size_t>(be32(data + 4), size);
    struct Packed {
        const uint8_t* p;
        size_t n;
        int side;
    };
    const uint8_t* bestEmbedded = nullptr;
    size_t bestLength = 0;
    int bestSide = 0;
    std::vector<Packed> packed;
    std::vector<std::pair<int, const uint8_t*>> masks;  // side, 8-bit mask
    int entries = 0;
    for (size_t pos = 8; pos + 8 <= total;) {
        const uint8_t* e = data + pos;
        const size_t len = be32(e + 4);
        if (len < 8 || len > total - pos) break;
        const uint8_t* body = e + 8;
        const size_t n = len - 8;
        const std::string type(reinterpret_cast<const char*>(e), 4);
        if (isPNG(body, n) || (n >= 12 && std::memcmp(body + 4, "jP  ", 4) == 0) || (n >= 2 && body[0] == 0xFF && body[1] == 0x4F)) {
            ++entries;
            int side = 0;
            if (isPNG(body, n) && n >= 24) side = static_cast<int>(be32(body + 16));
            if (!bestEmbedded || side > bestSide) bestEmbedded = body, bestLength = n, bestSide = side;
        } else if (type == "is32" || type == "il32" || type == "ih32" || type == "it32") {
            ++entries;
            const int side = type == "is32" ? 16 : type == "il32" ? 32 : type == "ih32" ? 48 : 128;
            const size_t skip = type == "it32" ? 4 : 0;
            if (n > skip) packed.push_back({body + skip, n - skip, side});
        } else if (type == "s8mk" || type == "l8mk" || type == "h8mk" || type == "t8mk") {
            const int side = type == "s8mk" ? 16 : type == "l8mk" ? 32 : type == "h8mk" ? 48 : 128;
            if (n >= static_cast<size_t>(side) * side) masks.push_back({side, body});
        }
        pos += len;
    }
    RgbaImage image;
    int packedSide = 0;
    const Packed* bestPacked = nullptr;
    for (const auto& pk : packed)
        if (pk.side > packedSide) packedSide = pk.side, bestPacked = &pk;
    if (bestEmbedded && (bestSide >= packedSide || bestSide == 0)) {
        image = decodeEmbedded(bestEmbedded, bestLength, &out);
    } else if (bestPacked) {
        image = RgbaImage(bestPacked->side, bestPacked->side);
        std::fill(image.pixels.begin(), image.pixels.end(), 255);
        if (!unpackIcnsChannels(bestPacked->p, bestPacked->n, bestPacked->side, image)) fail("Could not decode ICNS data");
        for (const auto& [side, mask] : masks)
            if (side == bestPacked->side)
                for (size_t i = 0; i < static_cast<size_t>(side) * side; ++i) image.pixels[i * 4 + 3] = mask[i];
    } else {
        fail("Could not decode ICNS data");
    }
    out.props.hasAlpha = true;
    out.props.frameCount = std::max(1, entries);
    out.props.pixelWidth = image.width;
    out.props.pixelHeight = image.height;
    out.frames.push_back({std::move(image), 0});
}

Bytes encodeICNS(const std::vector<RgbaImage>& images) {
    if (images.empty()) fail("Could not encode ICNS");
    Bytes body;
    for (const auto& image : images) {
        if (image.width != image.height) fail("ICNS entries are square");
        const char* type = nullptr;
        switch (image.width) {
            case 16: type = "icp4"; break;
            case 32: type = "icp5"; break;
            case 64: type = "icp6"; break;
            case 128: type = "ic07"; break;
            case 256: type = "ic08"; break;
            case 512: type = "ic09"; break;
            case 1024: type = "ic10"; break;
            default: fail("ICNS has no entry of this size");
        }
        Bytes png = pngOf(image);
        body.insert(body.end(), type, type + 4);
        putBE32(body, static_cast<uint32_t>(png.size() + 8));
        body.insert(body.end(), png.begin(), png.end());
    }
    Bytes out{'i', 'c', 'n', 's'};
    putBE32(out, static_cast<uint32_t>(body.size() + 8));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace calvoro::imaging::detail
