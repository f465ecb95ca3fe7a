#include <algorithm>

#include "converters/font/byte_io.h"
#include "converters/font/font_converter.h"
#include "converters/font/font_limits.h"
#include "core/conversion_error.h"
#include "platform/compression/zlib_codec.h"

namespace calvoro {

namespace {
using compression::ZlibCodec;

// libdeflate's level 9: close to its best ratio at a fraction of level 12's time.
constexpr int woffLevel = 9;
}  // namespace

FontConverter::SFNT FontConverter::decodeWOFF(std::span<const uint8_t> data) {
    ByteReader r(data);
    if (r.u32() != tagWOFF) throw ConversionError::corruptFile("Not a WOFF file (bad signature).");
    uint32_t flavor = r.u32();
    r.skip(4);
    uint16_t numTables = r.u16();
    r.skip(30);

    // A claim beyond what DEFLATE can reach is refused by its own entry below; count what is reachable.
    font_limits::checkDirectoryTotal(data, 44, 20, numTables, [&](size_t at) {
        const uint64_t compLength = font_limits::be32(data, at + 8), origLength = font_limits::be32(data, at + 12);
        return compLength == origLength ? origLength : std::min<uint64_t>(origLength, ZlibCodec::maxInflatedSize(compLength));
    });
    SFNT font;
    font.sfntVersion = flavor;
    font.tables.reserve(numTables);
    for (uint16_t i = 0; i < numTables; ++i) {
        Table t;
        t.tag = r.u32();
        uint64_t offset = r.u32();
        uint64_t compLength = r.u32();
        uint64_t origLength = r.u32();
        t.checksum = r.u32();
        if (offset + compLength > data.size()) throw ConversionError::corruptFile("WOFF table extends past end of file.");
        auto stored = data.subspan(offset, compLength);
        if (compLength == origLength) {
            t.data.assign(stored.begin(), stored.end());
        } else {
            // A size that DEFLATE cannot reach from the stored bytes is refused before any room is made for it.
            if (origLength > ZlibCodec::maxInflatedSize(compLength))
                throw ConversionError::corruptFile("WOFF table decompressed to the wrong size.");
            t.data = zlibDecompress(stored, origLength);
        }
        if (t.data.size() != origLength) throw ConversionError::corruptFile("WOFF table decompressed to the wrong size.");
        font.tables.push_back(std::move(t));
    }
    if (font.tables.empty()) throw ConversionError::corruptFile("WOFF contains no tables.");
    return font;
}

std::vector<uint8_t> FontConverter::encodeWOFF(const SFNT& font) {
    const size_t n = font.tables.size();
    font_limits::checkTableCount(n, 65536);
    auto sorted = sortedTables(font);

    std::vector<std::vector<uint8_t>> compressed(n);
    std::vector<std::span<const uint8_t>> stored(n);
    uint64_t length = 44 + 20 * uint64_t(n);
    uint64_t sfntSize = 12 + 16 * uint64_t(n);
    for (size_t i = 0; i < n; ++i) {
        const auto& data = sorted[i]->data;
        font_limits::checkFits32(data.size());
        compressed[i] = zlibCompress(data);
        if (compressed[i].size() < data.size())
            stored[i] = compressed[i];
        else
            stored[i] = data;
        length += font_limits::padded4(stored[i].size());
        sfntSize += font_limits::padded4(data.size());
    }
    font_limits::checkFits32(length);
    font_limits::checkFits32(sfntSize);

    ByteOut out;
    out.bytes.reserve(length);
    out.u32(tagWOFF);
    out.u32(font.sfntVersion);
    out.u32(static_cast<uint32_t>(length));
    out.u16(static_cast<uint16_t>(n));
    out.u16(0);
    out.u32(static_cast<uint32_t>(sfntSize));
    out.u16(1);
    out.u16(0);
    for (int i = 0; i < 5; ++i) out.u32(0);

    uint64_t offset = 44 + 20 * uint64_t(n);
    for (size_t i = 0; i < n; ++i) {
        out.u32(sorted[i]->tag);
        out.u32(static_cast<uint32_t>(offset));
        out.u32(static_cast<uint32_t>(stored[i].size()));
        out.u32(static_cast<uint32_t>(sorted[i]->data.size()));
        out.u32(sorted[i]->checksum);
        offset += font_limits::padded4(stored[i].size());
    }
    for (size_t i = 0; i < n; ++i) {
        out.append(stored[i]);
        out.zeros(font_limits::padded4(stored[i].size()) - stored[i].size());
    }
    return std::move(out.bytes);
}

std::vector<uint8_t> FontConverter::zlibCompress(std::span<const uint8_t> data) {
    if (data.empty()) return {};
    const size_t capacity = data.size() + data.size() / 8 + 128;
    auto body = ZlibCodec::deflateBody(data, woffLevel, capacity);
    if (!body || body->empty()) throw ConversionError::conversionFailed();
    ByteOut out;
    out.bytes.reserve(body->size() + 6);
    out.u8(0x78);
    out.u8(0x9C);
    out.append(*body);
    out.u32(adler32(data));
    return std::move(out.bytes);
}

std::vector<uint8_t> FontConverter::zlibDecompress(std::span<const uint8_t> data, size_t expected) {
    if (data.size() < 7) throw ConversionError::corruptFile("WOFF table too short to be zlib data.");
    // Header and trailer are framing only; the body alone decides the table.
    auto body = data.subspan(2, data.size() - 6);
    auto out = ZlibCodec::inflateBody(body, expected == 0 ? 1 : expected);
    if (!out || out->empty()) throw ConversionError::corruptFile("WOFF table failed to decompress.");
    return std::move(*out);
}

uint32_t FontConverter::adler32(std::span<const uint8_t> data) { return ZlibCodec::adler32(data); }

}  // namespace calvoro
