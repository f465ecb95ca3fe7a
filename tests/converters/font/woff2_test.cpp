#include <gtest/gtest.h>

#include "converters/font/byte_io.h"
#include "converters/font/font_converter.h"
#include "converters/font/woff2_glyf.h"
#include "font_test_util.h"
#include "platform/compression/brotli_codec.h"

namespace calvoro {
namespace {

using namespace fonttest;
using SFNT = FontConverter::SFNT;

// A WOFF2 file around a hand-made directory and an uncompressed stream.
Bytes woff2File(uint16_t numTables, const Bytes& directory, const Bytes& stream, uint32_t flavor = FontConverter::tagTrueType) {
    auto compressed = *compression::BrotliCodec::compress(stream);
    Bytes b;
    put32(b, FontConverter::tagWOFF2);
    put32(b, flavor);
    put32(b, 0);
    put16(b, numTables);
    put16(b, 0);
    put32(b, 0);
    put32(b, uint32_t(compressed.size()));
    b.resize(48, 0);
    b.insert(b.end(), directory.begin(), directory.end());
    b.insert(b.end(), compressed.begin(), compressed.end());
    return b;
}

const FontConverter::Table* find(const SFNT& f, const std::string& tag) {
    for (auto& t : f.tables)
        if (t.tag == FontConverter::stringToTag(tag)) return &t;
    return nullptr;
}

// The worked example's two glyphs, as a font with head, maxp and hhea around them.
SFNT twoGlyphFont(uint16_t indexFormat = 0) {
    Bytes head(54, 0), maxp(6, 0), hhea(36, 0);
    head[51] = uint8_t(indexFormat);
    maxp[5] = 2;
    hhea[35] = 1;
    const Bytes glyf = bytes({0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00, 0x64, 0x00, 0x02, 0x00, 0x00,
                              0x31, 0x33, 0x27, 0x64, 0x64, 0x64});
    Bytes loca = indexFormat ? bytes({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 20}) : bytes({0, 0, 0, 0, 0, 0x0A});
    return SFNT(FontConverter::tagTrueType,
                {table("post", Bytes(32, 3)), table("maxp", maxp), table("loca", loca), table("hmtx", bytes({0, 9, 0, 0, 0, 0})),
                 table("hhea", hhea), table("head", head), table("glyf", glyf), table("name", Bytes(10, 'n')),
                 table("cmap", Bytes(12, 1)), table("OS/2", Bytes(8, 2)), table("DSIG", bytes({1, 2, 3, 4, 5}))});
}

TEST(Woff2Writer, DirectoryFlagsAndHeader) {
    const auto font = twoGlyphFont();
    auto out = FontConverter::encodeWOFF2(font);
    EXPECT_EQ(readU32(out, 0), FontConverter::tagWOFF2);
    EXPECT_EQ(readU32(out, 8), out.size());
    EXPECT_EQ(out.size() % 4, 0u);
    EXPECT_EQ(readU16(out, 12), 11);
    EXPECT_EQ(readU32(out, 16), font.sfntData().size());
    EXPECT_EQ(readU16(out, 24), 1);
    for (size_t at = 26; at < 48; ++at) EXPECT_EQ(out[at], 0) << at;
    // Sorted: DSIG OS/2 cmap glyf head hhea hmtx loca maxp name post.
    const Bytes directory = bytes({0x3F, 'D', 'S', 'I', 'G', 5, 0x06, 8, 0x00, 12, 0x0A, 20, 53, 0x01, 54, 0x02, 36,
                                   0x03, 6, 0x0B, 6, 0, 0x04, 6, 0x05, 10, 0x07, 32});
    EXPECT_EQ(Bytes(out.begin() + 48, out.begin() + 48 + long(directory.size())), directory);
    const size_t end = 48 + directory.size() + readU32(out, 20);
    EXPECT_TRUE(end <= out.size() && out.size() < end + 4) << "the stream, then padding to 4 bytes";

    auto back = FontConverter::decodeWOFF2(out);
    EXPECT_EQ(back.tables.size(), 11u);
    EXPECT_EQ(find(back, "glyf")->data, find(font, "glyf")->data);
    EXPECT_EQ(find(back, "loca")->data, find(font, "loca")->data);
    for (auto& t : back.tables) EXPECT_EQ(t.checksum, FontConverter::sfntChecksum(t.data));
    // Untransformed tables in directory order, then the rebuilt glyf and loca.
    EXPECT_EQ(FontConverter::tagToString(back.tables[0].tag), "DSIG");
    EXPECT_EQ(FontConverter::tagToString(back.tables[9].tag), "glyf");
    EXPECT_EQ(FontConverter::tagToString(back.tables[10].tag), "loca");
}

TEST(Woff2Writer, UntransformableFontsUseTheNullTransform) {
    auto font = twoGlyphFont();
    for (auto& t : font.tables)
        if (t.tag == FontConverter::stringToTag("maxp")) t.data.resize(5);
    auto out = FontConverter::encodeWOFF2(font);
    const Bytes expected = bytes({0xCA, 20, 0x01, 54});  // glyf with version 3 and no transformLength, then head
    auto at = std::search(out.begin() + 48, out.end(), expected.begin(), expected.end());
    EXPECT_NE(at, out.end());
    EXPECT_EQ(FontConverter::decodeWOFF2(out).tables.size(), 11u);
    EXPECT_EQ(find(FontConverter::decodeWOFF2(out), "loca")->data, find(font, "loca")->data);
}

TEST(Woff2Writer, LengthsAreShortestBase128) {
    SFNT font(FontConverter::tagOTTO, {table("CFF ", Bytes(16384, 1)), table("name", Bytes(128, 2))});
    auto out = FontConverter::encodeWOFF2(font);
    EXPECT_EQ(Bytes(out.begin() + 48, out.begin() + 55), bytes({0x0D, 0x81, 0x80, 0x00, 0x05, 0x81, 0x00}));
    EXPECT_EQ(FontConverter::decodeWOFF2(out).tables.size(), 2u);
}

TEST(Woff2Writer, EmptyFont) {
    auto out = FontConverter::encodeWOFF2(SFNT());
    EXPECT_EQ(out.size(), 48u);
    EXPECT_EQ(readU32(out, 20), 0u);
}

TEST(Woff2Reader, Refusals) {
    EXPECT_EQ(corruptMessage([] { FontConverter::decodeWOFF2(FontConverter::encodeWOFF(SFNT(0, {table("name", {})}))); }),
              "Not a WOFF2 file (bad signature).");
    Bytes short47(47, 0);
    put32(short47, 0);
    std::copy_n(bytes({'w', 'O', 'F', '2'}).begin(), 4, short47.begin());
    short47.resize(47);
    EXPECT_EQ(corruptMessage([&] { FontConverter::decodeWOFF2(short47); }), "Unexpected end of font data.");
    EXPECT_EQ(corruptMessage([] { FontConverter::decodeWOFF2(woff2File(1, bytes({0x7F, 'a', 'b', 'c', 'd', 1}), bytes({7}))); }),
              "WOFF2 table 'abcd' uses an unsupported transform.");
    auto cut = woff2File(1, bytes({0x05, 10}), Bytes(10, 'n'));
    cut.pop_back();
    EXPECT_EQ(corruptMessage([&] { FontConverter::decodeWOFF2(cut); }), "WOFF2 compressed stream extends past end of file.");
    EXPECT_EQ(corruptMessage([] { FontConverter::decodeWOFF2(woff2File(1, bytes({0x05, 11}), Bytes(10, 'n'))); }),
              "WOFF2 stream decompressed to the wrong size.");
    auto garbage = woff2File(1, bytes({0x05, 10}), Bytes(10, 'n'));
    for (size_t i = 50; i < garbage.size(); ++i) garbage[i] = 0xFF;
    EXPECT_EQ(corruptMessage([&] { FontConverter::decodeWOFF2(garbage); }), "WOFF2 stream failed to decompress.");
    EXPECT_EQ(corruptMessage([] { FontConverter::decodeWOFF2(woff2File(0, {}, bytes({1}))); }), "WOFF2 contains no tables.");
    // A transformed hmtx needs hhea to be reversed.
    EXPECT_EQ(corruptMessage([] {
                  FontConverter::decodeWOFF2(woff2File(2, bytes({0x04, 6, 0x43, 5, 5}), bytes({0, 0, 0, 1, 0, 0, 1, 0, 1, 0, 0})));
              }),
              "WOFF2 uses the hmtx transform but is missing the tables needed to reverse it.");
}

TEST(Woff2Reader, ReservedVersionsOfGlyfAreTheNullTransform) {
    auto font = FontConverter::decodeWOFF2(woff2File(1, bytes({0x4A, 4}), bytes({1, 2, 3, 4, 9, 9})));
    ASSERT_EQ(font.tables.size(), 1u);
    EXPECT_EQ(font.tables[0].data, bytes({1, 2, 3, 4})) << "surplus stream bytes are ignored";
    EXPECT_EQ(font.tables[0].checksum, 0x01020304u);
}

// A stream for twoGlyphFont's directory with glyf transformed, loca given as listed.
Bytes transformedTwoGlyphs(const Bytes& locaDirectory, const Bytes& locaStream, size_t headSize = 54) {
    auto font = twoGlyphFont();
    auto t = *WOFF2Glyf::transform(find(font, "glyf")->data, find(font, "loca")->data, 0, 2);
    Bytes directory = bytes({0x01, uint8_t(headSize), 0x0A, 20, uint8_t(t.size())});
    directory.insert(directory.end(), locaDirectory.begin(), locaDirectory.end());
    Bytes stream(headSize, 0);
    if (headSize > 51) stream[51] = 1;  // claims a long loca; the rebuild says short
    stream.insert(stream.end(), t.begin(), t.end());
    stream.insert(stream.end(), locaStream.begin(), locaStream.end());
    return woff2File(3, directory, stream);
}

TEST(Woff2Reader, RebuiltGlyfSetsHeadsIndexFormat) {
    auto font = FontConverter::decodeWOFF2(transformedTwoGlyphs(bytes({0x0B, 6, 3}), bytes({7, 7, 7})));
    ASSERT_EQ(font.tables.size(), 3u) << "the transformed loca's bytes are dropped";
    EXPECT_EQ(find(font, "loca")->data, bytes({0, 0, 0, 0, 0, 0x0A}));
    EXPECT_EQ(find(font, "head")->data[51], 0);
    EXPECT_EQ(find(font, "head")->checksum, FontConverter::sfntChecksum(find(font, "head")->data));

    auto shortHead = FontConverter::decodeWOFF2(transformedTwoGlyphs(bytes({0x0B, 6, 0}), {}, 40));
    EXPECT_EQ(find(shortHead, "head")->data, Bytes(40, 0));
}

TEST(Woff2Reader, UntransformedLocaBesideATransformedGlyfIsDropped) {
    auto font = FontConverter::decodeWOFF2(transformedTwoGlyphs(bytes({0xCB, 6}), bytes({9, 9, 9, 9, 9, 9})));
    int locas = 0;
    for (auto& t : font.tables) locas += t.tag == FontConverter::stringToTag("loca");
    EXPECT_EQ(locas, 1);
    EXPECT_EQ(find(font, "loca")->data, bytes({0, 0, 0, 0, 0, 0x0A}));
}

TEST(Woff2Reader, TransformedHmtxTakesBearingsFromGlyf) {
    // maxp (2 glyphs), hhea (1 metric), the glyphs, and hmtx with both bearing arrays left out.
    Bytes maxp(6, 0), hhea(36, 0);
    maxp[5] = 2;
    hhea[35] = 1;
    auto font = twoGlyphFont();
    auto t = *WOFF2Glyf::transform(find(font, "glyf")->data, find(font, "loca")->data, 0, 2);
    Bytes directory = bytes({0x01, 54, 0x02, 36, 0x04, 6, 0x0A, 20, uint8_t(t.size()), 0x0B, 6, 0, 0x43, 6, 3});
    Bytes stream(54, 0);
    stream.insert(stream.end(), hhea.begin(), hhea.end());
    stream.insert(stream.end(), maxp.begin(), maxp.end());
    stream.insert(stream.end(), t.begin(), t.end());
    stream.insert(stream.end(), {0x03, 0x01, 0xF4});
    auto back = FontConverter::decodeWOFF2(woff2File(6, directory, stream));
    EXPECT_EQ(FontConverter::tagToString(back.tables.back().tag), "hmtx");
    EXPECT_EQ(find(back, "hmtx")->data, bytes({0x01, 0xF4, 0, 0, 0, 0}));
}

TEST(Woff2Reader, RefusesHugeClaimsAtOnce) {
    // 30 bytes of directory claiming 4 GB tables, 100 bytes of file in all.
    auto bomb = woff2File(3, bytes({0x05, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x07, 0x8F, 0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x81, 0x00}),
                          bytes({1}));
    bomb.resize(100, 0);
    EXPECT_EQ(corruptMessage([&] { FontConverter::decodeWOFF2(bomb); }), "Font data would take more than 256 MB once decoded.");
}

TEST(Woff2Reader, DecodingStopsAtWhatTheDirectoryNeeds) {
    // 64 MB of zeros compress to a few kB; only the 10 bytes the directory asks for are kept.
    auto compressed = *compression::BrotliCodec::compress(Bytes(64u << 20, 0), {.quality = 1});
    Bytes b;
    put32(b, FontConverter::tagWOFF2);
    put32(b, 0);
    put32(b, 0);
    put16(b, 1);
    put16(b, 0);
    put32(b, 0);
    put32(b, uint32_t(compressed.size()));
    b.resize(48, 0);
    b.insert(b.end(), {0x05, 10});
    b.insert(b.end(), compressed.begin(), compressed.end());
    auto font = FontConverter::decodeWOFF2(b);
    EXPECT_EQ(font.tables.at(0).data, Bytes(10, 0));
}

}  // namespace
}  // namespace calvoro
