#include <algorithm>

#include "converters/font/byte_io.h"
#include "converters/font/font_converter.h"
#include "converters/font/font_limits.h"
#include "core/conversion_error.h"

namespace calvoro {

FontConverter::SFNT::SFNT(std::span<const uint8_t> data) {
    ByteReader r(data);
    uint32_t version = r.u32();
    if (version == tagTTCF)
        throw ConversionError::corruptFile(
            "This is a TrueType Collection (.ttc) containing multiple fonts — extract a single font first.");
    if (version != tagTrueType && version != tagTrue && version != tagOTTO)
        throw ConversionError::corruptFile("Not a recognised font container.");
    uint16_t numTables = r.u16();
    r.skip(6);
    if (numTables == 0) throw ConversionError::corruptFile("Font contains no tables.");

    // Records may overlap, so the same bytes could otherwise be copied thousands of times.
    font_limits::checkDirectoryTotal(data, 12, 16, numTables, [&](size_t at) { return font_limits::be32(data, at + 12); });
    sfntVersion = version;
    tables.reserve(numTables);
    for (uint16_t i = 0; i < numTables; ++i) {
        Table t;
        t.tag = r.u32();
        t.checksum = r.u32();
        uint64_t offset = r.u32();
        uint64_t length = r.u32();
        if (offset + length > data.size())
            throw ConversionError::corruptFile("Font table extends past end of file — the file is truncated.");
        t.data.assign(data.begin() + offset, data.begin() + offset + length);
        tables.push_back(std::move(t));
    }
}

std::vector<const FontConverter::Table*> FontConverter::sortedTables(const SFNT& font) {
    std::vector<const Table*> sorted;
    sorted.reserve(font.tables.size());
    for (const auto& t : font.tables) sorted.push_back(&t);
    std::stable_sort(sorted.begin(), sorted.end(), [](const Table* a, const Table* b) { return a->tag < b->tag; });
    return sorted;
}

std::vector<uint8_t> FontConverter::SFNT::sfntData() const {
    const size_t n = tables.size();
    // searchRange is 16 bits wide: 16 × 4,096 no longer fits.
    font_limits::checkTableCount(n, 4096);
    uint64_t total = 12 + 16 * uint64_t(n);
    for (const auto& t : tables) total += font_limits::padded4(t.data.size());
    font_limits::checkFits32(total);

    uint16_t p = 0, log = 0;
    if (n > 0) {
        p = 1;
        while (uint32_t(p) * 2 <= n) {
            p = static_cast<uint16_t>(p * 2);
            ++log;
        }
    }
    const uint16_t searchRange = static_cast<uint16_t>(16 * p);

    ByteOut out;
    out.bytes.reserve(total);
    out.u32(sfntVersion);
    out.u16(static_cast<uint16_t>(n));
    out.u16(searchRange);
    out.u16(log);
    out.u16(static_cast<uint16_t>(16 * n - searchRange));

    auto sorted = sortedTables(*this);
    uint32_t offset = static_cast<uint32_t>(12 + 16 * n);
    for (const Table* t : sorted) {
        out.u32(t->tag);
        out.u32(t->checksum);
        out.u32(offset);
        out.u32(static_cast<uint32_t>(t->data.size()));
        offset += static_cast<uint32_t>(font_limits::padded4(t->data.size()));
    }
    for (const Table* t : sorted) {
        out.append(t->data);
        out.zeros(font_limits::padded4(t->data.size()) - t->data.size());
    }
    return std::move(out.bytes);
}

uint32_t FontConverter::sfntChecksum(std::span<const uint8_t> data) {
    uint32_t sum = 0;
    size_t i = 0;
    for (; i + 4 <= data.size(); i += 4) sum += readU32(data, i);
    if (i < data.size()) {
        uint8_t last[4] = {0, 0, 0, 0};
        std::copy(data.begin() + i, data.end(), last);
        sum += readU32(last, 0);
    }
    return sum;
}

uint32_t FontConverter::stringToTag(std::string_view text) {
    uint32_t tag = 0;
    for (size_t i = 0; i < 4; ++i) tag = (tag << 8) | (i < text.size() ? uint8_t(text[i]) : 0x20);
    return tag;
}

std::string FontConverter::tagToString(uint32_t tag) {
    // ISO Latin-1 to UTF-8: every byte decodes, so "????" is never needed.
    std::string s;
    for (int shift = 24; shift >= 0; shift -= 8) {
        auto c = static_cast<uint8_t>(tag >> shift);
        if (c < 0x80) {
            s.push_back(static_cast<char>(c));
        } else {
            s.push_back(static_cast<char>(0xC0 | (c >> 6)));
            s.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return s;
}

}  // namespace calvoro
