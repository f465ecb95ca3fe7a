#include <gtest/gtest.h>

#include "converters/font/byte_io.h"
#include "converters/font/font_converter.h"
#include "font_test_util.h"
#include "platform/compression/zlib_codec.h"

namespace calvoro {
namespace {

using namespace fonttest;
using SFNT = FontConverter::SFNT;

struct Entry {
    std::string tag;
    Bytes stored;
    uint32_t origLength;
    uint32_t checksum = 0;
};

// A WOFF file whose directory says what the entries say, stored blocks back to back.
Bytes woffFile(const std::vector<Entry>& entries, uint32_t flavor = FontConverter::tagTrueType) {
    Bytes b;
    put32(b, FontConverter::tagWOFF);
    put32(b, flavor);
    put32(b, 0);
    put16(b, uint32_t(entries.size()));
    b.resize(44, 0);
    uint32_t offset = 44 + 20 * uint32_t(entries.size());
    for (auto& e : entries) {
        put32(b, FontConverter::stringToTag(e.tag));
        put32(b, offset);
        put32(b, uint32_t(e.stored.size()));
        put32(b, e.origLength);
        put32(b, e.checksum);
        offset += uint32_t(e.stored.size());
    }
    for (auto& e : entries) b.insert(b.end(), e.stored.begin(), e.stored.end());
    return b;
}

Bytes zlibOf(const Bytes& data) { return FontConverter::zlibCompress(data); }

TEST(WoffReader, TablesAsStored) {
    const Bytes text(300, 'a');
    auto font = FontConverter::decodeWOFF(
        woffFile({{"name", zlibOf(text), 300, 11}, {"cmap", bytes({1, 2, 3}), 3, 12}}, 0x12345678));
    EXPECT_EQ(font.sfntVersion, 0x12345678u) << "any flavor is kept";
    ASSERT_EQ(font.tables.size(), 2u);
    EXPECT_EQ(FontConverter::tagToString(font.tables[0].tag), "name");
    EXPECT_EQ(font.tables[0].data, text);
    EXPECT_EQ(font.tables[0].checksum, 11u);
    EXPECT_EQ(font.tables[1].data, bytes({1, 2, 3}));
}

TEST(WoffReader, EqualLengthsMeanUncompressedEvenForZlibBytes) {
    auto z = zlibOf(Bytes(100, 0));
    auto font = FontConverter::decodeWOFF(woffFile({{"name", z, uint32_t(z.size())}}));
    EXPECT_EQ(font.tables[0].data, z);
}

TEST(WoffReader, FramingIsNotChecked) {
    const Bytes text(500, 'q');
    auto z = zlibOf(text);
    z[0] = 0x11;
    z.back() ^= 0xFF;
    EXPECT_EQ(FontConverter::decodeWOFF(woffFile({{"name", z, 500}})).tables[0].data, text);
}

TEST(WoffReader, DamagedTables) {
    EXPECT_EQ(corruptMessage([] { FontConverter::decodeWOFF(bytes({'w', 'O', 'F', '2', 0, 0, 0, 0})); }),
              "Not a WOFF file (bad signature).");
    EXPECT_EQ(corruptMessage([] { FontConverter::decodeWOFF(woffFile({})); }), "WOFF contains no tables.");
    auto cut = woffFile({{"name", Bytes(10, 1), 10}});
    cut.resize(cut.size() - 1);
    EXPECT_EQ(corruptMessage([&] { FontConverter::decodeWOFF(cut); }), "WOFF table extends past end of file.");
    cut.resize(50);
    EXPECT_EQ(corruptMessage([&] { FontConverter::decodeWOFF(cut); }), "Unexpected end of font data.");
    EXPECT_EQ(corruptMessage([] { FontConverter::decodeWOFF(woffFile({{"name", Bytes(6, 1), 10}})); }),
              "WOFF table too short to be zlib data.");
    const auto emptyStream = bytes({0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});  // zlib of nothing
    EXPECT_EQ(corruptMessage([&] { FontConverter::decodeWOFF(woffFile({{"name", emptyStream, 0}})); }),
              "WOFF table failed to decompress.");
    EXPECT_EQ(corruptMessage([] { FontConverter::decodeWOFF(woffFile({{"name", Bytes(20, 0xFF), 40}})); }),
              "WOFF table failed to decompress.");
    EXPECT_EQ(corruptMessage([] { FontConverter::decodeWOFF(woffFile({{"name", zlibOf(Bytes(100, 7)), 101}})); }),
              "WOFF table decompressed to the wrong size.");
}

TEST(WoffReader, LongerStreamGivesItsHead) {
    Bytes data(4000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = uint8_t(i * 7 / 13);
    auto font = FontConverter::decodeWOFF(woffFile({{"name", zlibOf(data), 1000}}));
    EXPECT_EQ(font.tables[0].data, Bytes(data.begin(), data.begin() + 1000));
}

TEST(WoffReader, ClaimedSizesBeyondDeflateRatioAreRefusedBeforeAllocating) {
    // 100 bytes of file that claim a 4 GB table.
    auto bomb = woffFile({{"glyf", Bytes(36, 0x55), 0xFFFFFFF0}});
    ASSERT_LE(bomb.size(), 100u);
    EXPECT_EQ(corruptMessage([&] { FontConverter::decodeWOFF(bomb); }), "WOFF table decompressed to the wrong size.");
    // Entries that stay inside the ratio still have to fit the total, checked before any table is made:
    // here 3,000 entries share the same 100 kB.
    Bytes file;
    put32(file, FontConverter::tagWOFF);
    put32(file, FontConverter::tagTrueType);
    put32(file, 0);
    put16(file, 3000);
    file.resize(44, 0);
    const uint32_t dataAt = 44 + 20 * 3000;
    for (int i = 0; i < 3000; ++i) {
        put32(file, FontConverter::stringToTag("glyf"));
        put32(file, dataAt);
        put32(file, 100000);
        put32(file, 100000);
        put32(file, 0);
    }
    file.resize(dataAt + 100000, 0);
    EXPECT_EQ(corruptMessage([&] { FontConverter::decodeWOFF(file); }), "Font data would take more than 256 MB once decoded.");
}

TEST(WoffWriter, Layout) {
    const Bytes text(1000, 'x');
    SFNT font(FontConverter::tagOTTO,
              {table("post", bytes({1, 2, 3}), 5), table("name", text, 6), table("OS/2", {}, 7), table("cmap", Bytes(9, 1), 8)});
    auto out = FontConverter::encodeWOFF(font);
    EXPECT_EQ(readU32(out, 0), FontConverter::tagWOFF);
    EXPECT_EQ(readU32(out, 4), FontConverter::tagOTTO);
    EXPECT_EQ(readU32(out, 8), out.size());
    EXPECT_EQ(out.size() % 4, 0u);
    EXPECT_EQ(readU16(out, 12), 4);
    EXPECT_EQ(readU32(out, 16), font.sfntData().size());
    EXPECT_EQ(readU16(out, 20), 1);
    for (size_t at = 22; at < 44; ++at) EXPECT_EQ(out[at], 0) << at;
    const char* order[] = {"OS/2", "cmap", "name", "post"};
    for (size_t i = 0; i < 4; ++i) {
        const size_t e = 44 + 20 * i;
        EXPECT_EQ(FontConverter::tagToString(readU32(out, e)), order[i]);
        EXPECT_EQ(readU32(out, e + 4) % 4, 0u);
    }
    // OS/2 is empty, cmap and post do not shrink: stored as they are; name is compressed.
    EXPECT_EQ(readU32(out, 44 + 8), 0u);
    EXPECT_EQ(readU32(out, 64 + 8), 9u);
    EXPECT_EQ(readU32(out, 64 + 12), 9u);
    EXPECT_LT(readU32(out, 84 + 8), 1000u);
    EXPECT_EQ(readU32(out, 84 + 12), 1000u);
    EXPECT_EQ(readU32(out, 84 + 16), 6u);
    const uint32_t nameAt = readU32(out, 84 + 4);
    EXPECT_EQ(out[nameAt], 0x78);
    EXPECT_EQ(out[nameAt + 1], 0x9C);
    EXPECT_EQ(readU32(out, 104 + 8), 3u);

    auto back = FontConverter::decodeWOFF(out);
    ASSERT_EQ(back.tables.size(), 4u);
    EXPECT_EQ(back.tables[2].data, text);
    EXPECT_EQ(back.tables[2].checksum, 6u);
    EXPECT_EQ(back.sfntData(), font.sfntData());
}

TEST(WoffWriter, RefusesMoreTablesThanItsFieldsHold) {
    SFNT font;
    font.tables.resize(65536);
    EXPECT_EQ(corruptMessage([&] { FontConverter::encodeWOFF(font); }), "Font has too many tables to be written.");
}

TEST(WoffTools, Zlib) {
    EXPECT_EQ(FontConverter::adler32(bytes({'a', 'b', 'c'})), 0x024D0127u);
    EXPECT_EQ(FontConverter::adler32({}), 1u);
    EXPECT_TRUE(FontConverter::zlibCompress({}).empty());
    const Bytes data(777, 'z');
    auto z = FontConverter::zlibCompress(data);
    // A complete zlib stream: the codec's checked decoder takes it.
    EXPECT_EQ(compression::ZlibCodec::decompress(z, 1000), data);
    EXPECT_EQ(readU32(z, z.size() - 4), FontConverter::adler32(data));
    EXPECT_EQ(FontConverter::zlibDecompress(z, 777), data);
}

}  // namespace
}  // namespace calvoro
