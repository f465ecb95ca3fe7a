#include <algorithm>

#include "converters/font/byte_io.h"
#include "converters/font/font_converter.h"
#include "converters/font/font_limits.h"
#include "converters/font/woff2_glyf.h"
#include "converters/font/woff2_hmtx.h"
#include "core/conversion_error.h"
#include "platform/compression/brotli_codec.h"

namespace calvoro {

namespace {

using compression::BrotliCodec;

constexpr uint32_t tagGlyf = 0x676C7966;
constexpr uint32_t tagLoca = 0x6C6F6361;
constexpr uint32_t tagHmtx = 0x686D7478;
constexpr uint32_t tagHead = 0x68656164;
constexpr uint32_t tagMaxp = 0x6D617870;
constexpr uint32_t tagHhea = 0x68686561;

void writeBase128(uint32_t value, ByteOut& out) {
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    for (int i = count - 1; i >= 0; --i) out.u8(static_cast<uint8_t>(groups[i] | (i > 0 ? 0x80 : 0)));
}

int knownTagIndex(uint32_t tag) {
    const auto& tags = FontConverter::knownTags();
    auto it = std::find(tags.begin(), tags.end(), FontConverter::tagToString(tag));
    return it == tags.end() ? 63 : int(it - tags.begin());
}

// The 16-bit field at `at`, or nothing when the table is missing or too short for it.
std::optional<int> field16(const FontConverter::Table* table, size_t at) {
    if (!table || table->data.size() < at + 2) return std::nullopt;
    return readU16(table->data, at);
}

// One table of a WOFF2 directory: its length in the stream, which is the transformed length
// for a transformed table.
struct WOFF2Entry {
    uint32_t tag;
    size_t length;
    bool transformed;
};

// The directory's entries; total gets the sum of their lengths in the stream.
std::vector<WOFF2Entry> readWOFF2Directory(ByteReader& r, uint16_t numTables, uint64_t& total) {
    std::vector<WOFF2Entry> entries;
    entries.reserve(numTables);
    for (uint16_t i = 0; i < numTables; ++i) {
        const uint8_t flags = r.u8();
        const int index = flags & 0x3F;
        const int version = flags >> 6;
        const uint32_t tag =
            index == 63 ? r.u32() : FontConverter::stringToTag(FontConverter::knownTags()[size_t(index)]);
        const uint32_t origLength = r.uintBase128();
        bool transformed = false;
        uint32_t length = origLength;
        if (tag == tagGlyf || tag == tagLoca) {
            transformed = version == 0;
        } else if (tag == tagHmtx) {
            transformed = version == 1;
        } else if (version != 0) {
            throw ConversionError::corruptFile("WOFF2 table '" + FontConverter::tagToString(tag) +
                                               "' uses an unsupported transform.");
        }
        if (transformed) length = r.uintBase128();
        entries.push_back({tag, length, transformed});
        total += length;
    }
    return entries;
}

// The decompressed stream cut into the directory's tables: the plain ones whole, the
// transformed glyf and hmtx kept aside to be rebuilt.
struct WOFF2Tables {
    std::vector<FontConverter::Table> tables;
    std::optional<std::span<const uint8_t>> transformedGlyf, transformedHmtx;
};

WOFF2Tables cutTableStream(std::span<const uint8_t> all, const std::vector<WOFF2Entry>& entries) {
    WOFF2Tables out;
    out.tables.reserve(entries.size() + 3);
    size_t position = 0;
    for (const auto& e : entries) {
        if (e.length > all.size() - position)
            throw ConversionError::corruptFile("WOFF2 table stream is shorter than the directory claims.");
        auto bytes = all.subspan(position, e.length);
        position += e.length;
        if (!e.transformed) {
            out.tables.push_back({e.tag, FontConverter::sfntChecksum(bytes), std::vector<uint8_t>(bytes.begin(), bytes.end())});
        } else if (e.tag == tagGlyf) {
            out.transformedGlyf = bytes;
        } else if (e.tag == tagHmtx) {
            out.transformedHmtx = bytes;
        }
        // A transformed loca carries nothing: loca is rebuilt from glyf.
    }
    return out;
}

FontConverter::Table* firstTable(std::vector<FontConverter::Table>& tables, uint32_t tag) {
    for (auto& t : tables)
        if (t.tag == tag) return &t;
    return nullptr;
}

void dropTag(std::vector<FontConverter::Table>& tables, uint32_t tag) {
    std::erase_if(tables, [tag](const FontConverter::Table& t) { return t.tag == tag; });
}

// glyf and loca rebuilt from the transformed glyf, head's index format set to the new loca's.
void restoreGlyf(std::vector<FontConverter::Table>& tables, std::span<const uint8_t> transformed) {
    auto rebuilt = WOFF2Glyf::reconstruct(transformed);
    // The rebuilt pair replaces untransformed copies, so the font keeps one glyf and one loca.
    dropTag(tables, tagGlyf);
    dropTag(tables, tagLoca);
    const uint32_t glyfSum = FontConverter::sfntChecksum(rebuilt.glyf);
    const uint32_t locaSum = FontConverter::sfntChecksum(rebuilt.loca);
    tables.push_back({tagGlyf, glyfSum, std::move(rebuilt.glyf)});
    tables.push_back({tagLoca, locaSum, std::move(rebuilt.loca)});
    if (FontConverter::Table* head = firstTable(tables, tagHead); head && head->data.size() >= 52) {
        head->data[50] = static_cast<uint8_t>((rebuilt.indexFormat >> 8) & 0xFF);
        head->data[51] = static_cast<uint8_t>(rebuilt.indexFormat & 0xFF);
        head->checksum = FontConverter::sfntChecksum(head->data);
    }
}

// hmtx rebuilt from its transformed form and the glyphs' bounding boxes.
void restoreHmtx(std::vector<FontConverter::Table>& tables, std::span<const uint8_t> transformed) {
    const auto numGlyphs = field16(firstTable(tables, tagMaxp), 4);
    const auto numberOfHMetrics = field16(firstTable(tables, tagHhea), 34);
    const auto indexFormat = field16(firstTable(tables, tagHead), 50);
    const FontConverter::Table* glyf = firstTable(tables, tagGlyf);
    const FontConverter::Table* loca = firstTable(tables, tagLoca);
    if (!numGlyphs || !numberOfHMetrics || !indexFormat || !glyf || !loca)
        throw ConversionError::corruptFile("WOFF2 uses the hmtx transform but is missing the tables needed to reverse it.");
    auto hmtx = WOFF2Hmtx::reconstruct(transformed, *numGlyphs, *numberOfHMetrics, glyf->data, loca->data, *indexFormat);
    dropTag(tables, tagHmtx);
    const uint32_t sum = FontConverter::sfntChecksum(hmtx);
    tables.push_back({tagHmtx, sum, std::move(hmtx)});
}

}  // namespace

const std::vector<std::string>& FontConverter::knownTags() {
    static const std::vector<std::string> tags = {
        "cmap", "head", "hhea", "hmtx", "maxp", "name", "OS/2", "post", "cvt ", "fpgm", "glyf", "loca", "prep",
        "CFF ", "VORG", "EBDT", "EBLC", "gasp", "hdmx", "kern", "LTSH", "PCLT", "VDMX", "vhea", "vmtx", "BASE",
        "GDEF", "GPOS", "GSUB", "EBSC", "JSTF", "MATH", "CBDT", "CBLC", "COLR", "CPAL", "SVG ", "sbix", "acnt",
        "avar", "bdat", "bloc", "bsln", "cvar", "fdsc", "feat", "fmtx", "fvar", "gvar", "hsty", "just", "lcar",
        "mort", "morx", "opbd", "prop", "trak", "Zapf", "Silf", "Glat", "Gloc", "Feat", "Sill"};
    return tags;
}

std::vector<uint8_t> FontConverter::brotliCompress(std::span<const uint8_t> data) {
    if (data.empty()) return {};
    const size_t capacity = data.size() + data.size() / 8 + 1024;
    // The smallest window that still spans the whole stream: no match is lost, and the search is shorter.
    int window = 10;
    while (window < 22 && (size_t(1) << window) - 16 < data.size()) ++window;
    auto out = BrotliCodec::compress(data, {.quality = 11, .window = window, .mode = BrotliCodec::Mode::font}, capacity);
    if (!out || out->empty()) throw ConversionError::conversionFailed();
    return std::move(*out);
}

std::vector<uint8_t> FontConverter::brotliDecompress(std::span<const uint8_t> data, size_t expected) {
    // Streaming into a buffer that grows with the real output: the claimed size only caps it.
    auto out = BrotliCodec::decompress(data, std::max<size_t>(expected, 1024));
    if (!out || out->empty()) throw ConversionError::corruptFile("WOFF2 stream failed to decompress.");
    return std::move(*out);
}

std::vector<uint8_t> FontConverter::encodeWOFF2(const SFNT& font) {
    const size_t n = font.tables.size();
    font_limits::checkTableCount(n, 65536);
    auto sorted = sortedTables(font);

    auto first = [&sorted](uint32_t tag) -> const Table* {
        for (const Table* t : sorted)
            if (t->tag == tag) return t;
        return nullptr;
    };
    const Table* glyf = first(tagGlyf);
    const Table* loca = first(tagLoca);
    const auto numGlyphs = field16(first(tagMaxp), 4);
    const auto indexFormat = field16(first(tagHead), 50);
    std::optional<std::vector<uint8_t>> transformedGlyf;
    if (glyf && loca && numGlyphs && indexFormat)
        transformedGlyf = WOFF2Glyf::transform(glyf->data, loca->data, *indexFormat, *numGlyphs);

    ByteOut directory;
    std::vector<uint8_t> stream;
    uint64_t streamSize = 0;
    uint64_t sfntSize = 12 + 16 * uint64_t(n);
    for (const Table* t : sorted) {
        font_limits::checkFits32(t->data.size());
        sfntSize += font_limits::padded4(t->data.size());
        streamSize += (t->tag == tagGlyf && transformedGlyf) ? transformedGlyf->size()
                      : (t->tag == tagLoca && transformedGlyf) ? 0
                                                              : t->data.size();
    }
    font_limits::checkFits32(sfntSize);
    font_limits::checkFits32(streamSize);
    stream.reserve(streamSize);

    for (const Table* t : sorted) {
        const int index = knownTagIndex(t->tag);
        const bool glyfOrLoca = t->tag == tagGlyf || t->tag == tagLoca;
        uint8_t flags = static_cast<uint8_t>(index);
        if (glyfOrLoca && !transformedGlyf) flags |= 0xC0;
        directory.u8(flags);
        if (index == 63) directory.u32(t->tag);
        writeBase128(static_cast<uint32_t>(t->data.size()), directory);
        if (glyfOrLoca && transformedGlyf) {
            if (t->tag == tagGlyf) {
                writeBase128(static_cast<uint32_t>(transformedGlyf->size()), directory);
                stream.insert(stream.end(), transformedGlyf->begin(), transformedGlyf->end());
            } else {
                writeBase128(0, directory);
            }
        } else {
            stream.insert(stream.end(), t->data.begin(), t->data.end());
        }
    }

    const auto compressed = brotliCompress(stream);
    // Readers such as the browsers' sanitiser refuse a file whose stream is not padded to 4 bytes.
    const uint64_t length = font_limits::padded4(48 + uint64_t(directory.size()) + compressed.size());
    font_limits::checkFits32(length);

    ByteOut out;
    out.bytes.reserve(length);
    out.u16(0x774F);
    out.u16(0x4632);
    out.u32(font.sfntVersion);
    out.u32(static_cast<uint32_t>(length));
    out.u16(static_cast<uint16_t>(n));
    out.u16(0);
    out.u32(static_cast<uint32_t>(sfntSize));
    out.u32(static_cast<uint32_t>(compressed.size()));
    out.u16(1);
    for (int i = 0; i < 11; ++i) out.u16(0);
    out.append(directory.bytes);
    out.append(compressed);
    out.zeros(length - out.size());
    return std::move(out.bytes);
}

FontConverter::SFNT FontConverter::decodeWOFF2(std::span<const uint8_t> data) {
    ByteReader r(data);
    if (r.u32() != tagWOFF2) throw ConversionError::corruptFile("Not a WOFF2 file (bad signature).");
    const uint32_t flavor = r.u32();
    r.skip(4);
    const uint16_t numTables = r.u16();
    r.skip(6);
    const uint32_t totalCompressedSize = r.u32();
    r.skip(24);
    uint64_t total = 0;
    const std::vector<WOFF2Entry> entries = readWOFF2Directory(r, numTables, total);

    const size_t streamStart = r.offset();
    if (uint64_t(streamStart) + totalCompressedSize > data.size())
        throw ConversionError::corruptFile("WOFF2 compressed stream extends past end of file.");
    font_limits::checkDecodedTotal(total);
    const auto decompressed = brotliDecompress(data.subspan(streamStart, totalCompressedSize), size_t(total));
    if (decompressed.size() < total) throw ConversionError::corruptFile("WOFF2 stream decompressed to the wrong size.");

    WOFF2Tables cut = cutTableStream(decompressed, entries);
    if (cut.transformedGlyf) restoreGlyf(cut.tables, *cut.transformedGlyf);
    if (cut.transformedHmtx) restoreHmtx(cut.tables, *cut.transformedHmtx);
    if (cut.tables.empty()) throw ConversionError::corruptFile("WOFF2 contains no tables.");
    return SFNT(flavor, std::move(cut.tables));
}

}  // namespace calvoro
