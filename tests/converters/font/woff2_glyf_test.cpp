#include <gtest/gtest.h>

#include "converters/font/byte_io.h"
#include "converters/font/woff2_glyf.h"
#include "font_test_util.h"

namespace calvoro {
namespace {

using namespace fonttest;

Bytes encoded255(int v) {
    ByteOut out;
    WOFF2Glyf::encode255UInt16(v, out);
    return out.bytes;
}

int read255(const Bytes& b) {
    Cursor c(b, 0, b.size());
    return c.read255UInt16();
}

TEST(Woff2Numbers, Encode255UInt16) {
    EXPECT_EQ(encoded255(0), bytes({0x00}));
    EXPECT_EQ(encoded255(252), bytes({0xFC}));
    EXPECT_EQ(encoded255(253), bytes({0xFF, 0x00}));
    EXPECT_EQ(encoded255(505), bytes({0xFF, 0xFC}));
    EXPECT_EQ(encoded255(506), bytes({0xFE, 0x00}));
    EXPECT_EQ(encoded255(761), bytes({0xFE, 0xFF}));
    EXPECT_EQ(encoded255(762), bytes({0xFD, 0x02, 0xFA}));
    EXPECT_EQ(encoded255(65535), bytes({0xFD, 0xFF, 0xFF}));
    for (int v : {0, 252, 253, 505, 506, 761, 762, 65535}) EXPECT_EQ(read255(encoded255(v)), v);
    EXPECT_EQ(read255(bytes({0xFD, 0x00, 0x05})), 5);
    EXPECT_EQ(corruptMessage([] { read255(bytes({0xFD, 0x00})); }), "WOFF2 stream ended early.");
}

TEST(Woff2Numbers, Triplets) {
    struct Case {
        int dx, dy, code;
        Bytes data;
    };
    const std::vector<Case> cases = {
        {0, 0, 0, {0x00}},           {0, 1279, 9, {0xFF}},         {0, -1279, 8, {0xFF}},
        {0, 1280, 122, {0x00, 0x05, 0x00}}, {300, 0, 13, {0x2C}},   {0, -300, 2, {0x2C}},
        {1, 1, 23, {0x00}},          {-1, 1, 22, {0x00}},          {1, -1, 21, {0x00}},
        {-1, -1, 20, {0x00}},        {64, 64, 83, {0xFF}},         {65, 1, 87, {0x40, 0x00}},
        {768, 768, 119, {0xFF, 0xFF}}, {769, 1, 123, {0x30, 0x10, 0x01}}, {4095, -4095, 121, {0xFF, 0xFF, 0xFF}},
        {4096, 0, 125, {0x10, 0x00, 0x00, 0x00}}, {-65535, 65535, 126, {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        auto t = WOFF2Glyf::encodeTriplet(c.dx, c.dy);
        ASSERT_TRUE(t) << c.dx << "," << c.dy;
        EXPECT_EQ(t->code, c.code) << c.dx << "," << c.dy;
        EXPECT_EQ(Bytes(t->bytes, t->bytes + t->count), c.data) << c.dx << "," << c.dy;
        Cursor cursor(c.data, 0, c.data.size());
        EXPECT_EQ(WOFF2Glyf::readTriplet(c.code, cursor), std::make_pair(c.dx, c.dy));
        EXPECT_EQ(cursor.position, c.data.size());
    }
    EXPECT_FALSE(WOFF2Glyf::encodeTriplet(65536, 0));
    Bytes one = bytes({0});
    Cursor c(one, 0, 1);
    EXPECT_EQ(corruptMessage([&] { WOFF2Glyf::readTriplet(128, c); }), "Invalid WOFF2 point flag.");
}

TEST(Woff2Numbers, CursorStaysInsideItsWindow) {
    Bytes b = bytes({1, 2, 3, 4});
    Cursor c(b, 1, 3);
    EXPECT_EQ(corruptMessage([&] { c.take(3); }), "WOFF2 stream ended early.");
    EXPECT_EQ(c.position, 1u);
    EXPECT_EQ(c.take(2).size(), 2u);
    EXPECT_EQ(corruptMessage([&] { c.u8(); }), "WOFF2 stream ended early.");
    EXPECT_EQ(corruptMessage([&] { c.take(-1); }), "WOFF2 stream ended early.");
}

// A glyph builder for simple glyphs with one-byte-free coordinates (16-bit deltas).
Bytes simpleGlyph(const std::vector<std::vector<std::pair<int, int>>>& contours, std::array<int, 4> box,
                  const Bytes& instructions = {}, bool offCurveFirst = false) {
    Bytes g;
    put16(g, uint32_t(contours.size()));
    for (int v : box) put16(g, uint32_t(uint16_t(int16_t(v))));
    int end = -1;
    std::vector<std::pair<int, int>> points;
    for (auto& c : contours) {
        end += int(c.size());
        put16(g, uint32_t(end));
        points.insert(points.end(), c.begin(), c.end());
    }
    put16(g, uint32_t(instructions.size()));
    g.insert(g.end(), instructions.begin(), instructions.end());
    for (size_t i = 0; i < points.size(); ++i) g.push_back(i == 0 && offCurveFirst ? 0x00 : 0x01);
    int px = 0, py = 0;
    for (auto& p : points) put16(g, uint32_t(uint16_t(int16_t(p.first - px)))), px = p.first;
    for (auto& p : points) put16(g, uint32_t(uint16_t(int16_t(p.second - py)))), py = p.second;
    return g;
}

struct Font {
    Bytes glyf, loca;
};
Font longLocaFont(const std::vector<Bytes>& glyphs) {
    Font f;
    put32(f.loca, 0);
    for (auto& g : glyphs) {
        f.glyf.insert(f.glyf.end(), g.begin(), g.end());
        put32(f.loca, uint32_t(f.glyf.size()));
    }
    return f;
}

uint32_t streamSize(const Bytes& t, int i) { return readU32(t, 8 + 4 * size_t(i)); }

TEST(Woff2Glyf, WorkedExample) {
    const Bytes glyph1 = bytes({0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x00, 0x64, 0x00, 0x02, 0x00, 0x00,
                                0x31, 0x33, 0x27, 0x64, 0x64, 0x64});
    const Bytes loca = bytes({0x00, 0x00, 0x00, 0x00, 0x00, 0x0A});
    auto t = WOFF2Glyf::transform(glyph1, loca, 0, 2);
    ASSERT_TRUE(t);
    const Bytes expected = bytes({0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00,  // header
                                  0, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0, 3, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 4, 0, 0, 0, 0,
                                  0x00, 0x00, 0x00, 0x01,                          // nContour
                                  0x03,                                            // nPoints
                                  0x00, 0x0B, 0x56,                                // flags
                                  0x00, 0x64, 0x63, 0x63, 0x00,                    // glyph
                                  0x00, 0x00, 0x00, 0x00});                        // bbox bitmap
    EXPECT_EQ(*t, expected);
    auto r = WOFF2Glyf::reconstruct(*t);
    EXPECT_EQ(r.glyf, glyph1);
    EXPECT_EQ(r.loca, loca);
    EXPECT_EQ(r.indexFormat, 0);
}

TEST(Woff2Glyf, BoundingBoxesTravelOnlyWhenNeeded) {
    const auto agreeing = simpleGlyph({{{0, 0}, {50, 0}, {0, 70}}}, {0, 0, 50, 70});
    const auto wider = simpleGlyph({{{0, 0}, {50, 0}, {0, 70}}}, {-5, 0, 50, 70});
    const auto farOut = simpleGlyph({{{0, 0}, {32767, 0}, {32767, 10}}}, {0, 0, 32767, 10});
    auto f = longLocaFont({agreeing, wider, farOut});
    auto t = WOFF2Glyf::transform(f.glyf, f.loca, 1, 3);
    ASSERT_TRUE(t);
    EXPECT_EQ(streamSize(*t, 5), 4u + 8u) << "bitmap plus the one stored box";
    const size_t bboxAt = 36 + streamSize(*t, 0) + streamSize(*t, 1) + streamSize(*t, 2) + streamSize(*t, 3) + streamSize(*t, 4);
    EXPECT_EQ((*t)[bboxAt], 0x40) << "glyph 1 only";
    EXPECT_EQ(int16_t(readU16(*t, bboxAt + 4)), -5);

    auto r = WOFF2Glyf::reconstruct(*t);
    EXPECT_EQ(r.indexFormat, 1);
    ASSERT_EQ(r.loca.size(), 16u);
    const uint32_t second = readU32(r.loca, 4);
    EXPECT_EQ(int16_t(readU16(r.glyf, second + 2)), -5) << "stored box comes back";
    EXPECT_EQ(readU16(r.glyf, readU32(r.loca, 8) + 6), 32767);
}

TEST(Woff2Glyf, BitmapCoversEveryGlyph) {
    const Bytes empty;
    std::vector<Bytes> glyphs(33, empty);
    auto f = longLocaFont(glyphs);
    auto t = WOFF2Glyf::transform(f.glyf, f.loca, 1, 33);
    ASSERT_TRUE(t);
    EXPECT_EQ(streamSize(*t, 0), 66u);
    EXPECT_EQ(streamSize(*t, 5), 8u);
    auto r = WOFF2Glyf::reconstruct(*t);
    EXPECT_TRUE(r.glyf.empty());
    EXPECT_EQ(r.loca.size(), 34u * 4);
}

Bytes compositeGlyph(uint16_t firstFlags, uint16_t lastFlags, const Bytes& instructions) {
    Bytes g;
    put16(g, 0xFFFF);
    for (int v : {1, 2, 3, 4}) put16(g, uint32_t(v));
    put16(g, firstFlags | 0x0020);
    put16(g, 0);
    g.push_back(5), g.push_back(6);
    put16(g, lastFlags | 0x0001 | 0x0008);  // word arguments and a scale
    put16(g, 0);
    put32(g, 0x00070008);
    put16(g, 0x4000);
    if (!instructions.empty()) {
        put16(g, uint32_t(instructions.size()));
        g.insert(g.end(), instructions.begin(), instructions.end());
    }
    return g;
}

TEST(Woff2Glyf, CompositeInstructionsFollowTheLastRecord) {
    const Bytes code = bytes({0xB0, 0x01, 0x2C});
    auto withLast = compositeGlyph(0, 0x0100, code);
    auto withFirst = compositeGlyph(0x0100, 0, code);
    withFirst.push_back(0);  // keep lengths even; the trailing bytes are padding to the transform
    auto f = longLocaFont({withLast, withFirst});
    auto t = WOFF2Glyf::transform(f.glyf, f.loca, 1, 2);
    ASSERT_TRUE(t);
    EXPECT_EQ(streamSize(*t, 6), 3u) << "only the glyph whose last record asks for them";
    EXPECT_EQ(streamSize(*t, 5), 4u + 16u) << "composites always carry their box";
    auto r = WOFF2Glyf::reconstruct(*t);
    EXPECT_EQ(Bytes(r.glyf.begin(), r.glyf.begin() + long(withLast.size())), withLast);
    const size_t second = readU32(r.loca, 4);
    EXPECT_EQ(Bytes(r.glyf.begin() + long(second), r.glyf.begin() + long(second + withFirst.size() - 6)),
              Bytes(withFirst.begin(), withFirst.end() - 6));
}

TEST(Woff2Glyf, TransformGivesNothingForWhatItCannotTakeApart) {
    const auto ok = simpleGlyph({{{0, 0}, {10, 10}}}, {0, 0, 10, 10});
    auto f = longLocaFont({ok});
    EXPECT_TRUE(WOFF2Glyf::transform(f.glyf, f.loca, 1, 1));
    EXPECT_FALSE(WOFF2Glyf::transform(f.glyf, f.loca, 1, 0));
    EXPECT_FALSE(WOFF2Glyf::transform(f.glyf, Bytes(f.loca.begin(), f.loca.begin() + 4), 1, 1));
    EXPECT_FALSE(WOFF2Glyf::transform(Bytes(f.glyf.begin(), f.glyf.end() - 1), f.loca, 1, 1)) << "ends beyond glyf";
    auto tiny = longLocaFont({Bytes(9, 0)});
    EXPECT_FALSE(WOFF2Glyf::transform(tiny.glyf, tiny.loca, 1, 1));
    auto zeroContours = longLocaFont({Bytes(12, 0)});
    EXPECT_FALSE(WOFF2Glyf::transform(zeroContours.glyf, zeroContours.loca, 1, 1));
    auto decreasing = simpleGlyph({{{0, 0}, {1, 1}}, {{2, 2}}}, {0, 0, 2, 2});
    decreasing[12] = 0x05;  // second end point 5, first 1 → change first to 5 too
    decreasing[10] = 0x00, decreasing[11] = 0x05;
    auto dec = longLocaFont({decreasing});
    EXPECT_FALSE(WOFF2Glyf::transform(dec.glyf, dec.loca, 1, 1));
    auto cut = ok;
    cut.resize(cut.size() - 2);  // the last y coordinate is missing
    auto cutFont = longLocaFont({cut});
    EXPECT_FALSE(WOFF2Glyf::transform(cutFont.glyf, cutFont.loca, 1, 1));
}

TEST(Woff2Glyf, RepeatedFlagsAndOffCurvePoints) {
    // Three points, flags 0x00 with repeat 5: two surplus repeats are ignored.
    Bytes g;
    put16(g, 1);
    for (int v : {0, 0, 2, 2}) put16(g, uint32_t(v));
    put16(g, 2);
    put16(g, 0);
    g.push_back(0x08 | 0x02 | 0x04 | 0x10 | 0x20), g.push_back(5);
    g.insert(g.end(), {1, 1, 0, 1, 1, 0});
    auto f = longLocaFont({g});
    auto t = WOFF2Glyf::transform(f.glyf, f.loca, 1, 1);
    ASSERT_TRUE(t);
    EXPECT_EQ((*t)[36 + 2 + 1], 0x80 | 23) << "off-curve (1, 1)";
    auto r = WOFF2Glyf::reconstruct(*t);
    // one flag per point, one-byte coordinates, no repeat bit
    const Bytes expectedFlags = bytes({0x36, 0x36, 0x00 | 0x10 | 0x20});
    EXPECT_EQ(Bytes(r.glyf.begin() + 14, r.glyf.begin() + 17), expectedFlags);
}

TEST(Woff2Glyf, ReconstructRefusesBrokenTables) {
    EXPECT_EQ(corruptMessage([] { WOFF2Glyf::reconstruct(Bytes(35, 0)); }), "Transformed glyf table is too short.");
    Bytes header(36, 0);
    header[11] = 1;  // nContour stream of 1 byte in a table without it
    EXPECT_EQ(corruptMessage([&] { WOFF2Glyf::reconstruct(header); }),
              "Transformed glyf stream runs past the end of the table.");
    Bytes noBitmap(36, 0);
    noBitmap[5] = 1;  // one glyph, bbox stream empty
    EXPECT_EQ(corruptMessage([&] { WOFF2Glyf::reconstruct(noBitmap); }), "WOFF2 bbox bitmap is truncated.");
    auto empty = WOFF2Glyf::reconstruct(Bytes(36, 0));
    EXPECT_TRUE(empty.glyf.empty());
    EXPECT_EQ(empty.loca, bytes({0, 0}));
}

// A transformed table from its streams.
Bytes transformed(int numGlyphs, int indexFormat, const std::vector<Bytes>& streams) {
    Bytes t;
    put32(t, 0);
    put16(t, uint32_t(numGlyphs));
    put16(t, uint32_t(indexFormat));
    for (auto& s : streams) put32(t, uint32_t(s.size()));
    for (auto& s : streams) t.insert(t.end(), s.begin(), s.end());
    return t;
}

TEST(Woff2Glyf, ReconstructRefusesImpossibleGlyphs) {
    // A first contour of zero points would need the end point -1.
    auto zeroFirst = transformed(1, 0, {bytes({0, 2}), bytes({0, 3}), bytes({1, 1, 1}), bytes({0, 0, 0, 0}), {},
                                        bytes({0, 0, 0, 0}), {}});
    EXPECT_EQ(corruptMessage([&] { WOFF2Glyf::reconstruct(zeroFirst); }), "Glyph 0 has an invalid point count.");
    auto tooMany = transformed(1, 0, {bytes({0, 2}), bytes({0xFD, 0xFF, 0xFF, 1}), {}, {}, {}, bytes({0, 0, 0, 0}), {}});
    EXPECT_EQ(corruptMessage([&] { WOFF2Glyf::reconstruct(tooMany); }), "Glyph 0 has an invalid point count.");
    auto noBox = transformed(2, 0, {bytes({0, 0, 0xFF, 0xFF}), {}, {}, {}, bytes({0, 0, 0, 0, 0, 0}), bytes({0, 0, 0, 0}), {}});
    EXPECT_EQ(corruptMessage([&] { WOFF2Glyf::reconstruct(noBox); }), "Composite glyph 1 is missing its bounding box.");
    auto shortFlags = transformed(1, 0, {bytes({0, 1}), bytes({2}), bytes({1}), bytes({0, 0}), {}, bytes({0, 0, 0, 0}), {}});
    EXPECT_EQ(corruptMessage([&] { WOFF2Glyf::reconstruct(shortFlags); }), "WOFF2 stream ended early.");
}

TEST(Woff2Glyf, OddGlyphsArePaddedAndBigFontsGetALongLoca) {
    // One point at (1, 0): 10 + 2 + 2 + 1 flag + 1 x byte = 16 bytes; with a 1-byte program, 17 → 18.
    auto odd = transformed(1, 0, {bytes({0, 1}), bytes({1}), bytes({11}), bytes({1, 1}), {}, bytes({0, 0, 0, 0}), bytes({0xB0})});
    auto r = WOFF2Glyf::reconstruct(odd);
    EXPECT_EQ(r.glyf.size(), 18u);
    EXPECT_EQ(r.glyf.back(), 0);
    EXPECT_EQ(r.loca, bytes({0, 0, 0, 9}));

    // Three glyphs of 65,535 instruction bytes each: far beyond what a short loca can address.
    const int n = 3;
    Bytes nContour, glyphStream, instructions(65535 * n, 0x2C);
    for (int i = 0; i < n; ++i) {
        put16(nContour, 1);
        glyphStream.insert(glyphStream.end(), {0, 0xFD, 0xFF, 0xFF});
    }
    auto big = transformed(n, 0, {nContour, Bytes(n, 1), Bytes(n, 0), glyphStream, {}, bytes({0, 0, 0, 0}), instructions});
    auto rb = WOFF2Glyf::reconstruct(big);
    EXPECT_GE(rb.glyf.size(), 131072u);
    EXPECT_EQ(rb.indexFormat, 1);
    EXPECT_EQ(rb.loca.size(), 4u * (n + 1));
    EXPECT_EQ(readU32(rb.loca, 4 * n), rb.glyf.size());
}

// Composite glyphs are carried as records, never followed: a chain through every glyph a font
// can number, a glyph that holds itself and one of a million components go through unchanged.
TEST(Woff2Glyf, CompositeChainsLoopsAndAMillionComponentsAreCarriedWithoutFollowingThem) {
    auto composite = [](uint16_t firstFlags, uint16_t lastFlags, std::vector<uint16_t> components) {
        Bytes g;
        put16(g, 0xFFFF);
        for (int v : {0, 0, 100, 100}) put16(g, uint32_t(v));
        for (size_t i = 0; i < components.size(); ++i) {
            put16(g, (i + 1 < components.size() ? firstFlags | 0x0020 : lastFlags) | 0x0001);
            put16(g, components[i]);
            put32(g, 0);
        }
        return g;
    };
    const uint16_t glyphs = 65535;
    std::vector<Bytes> chain;
    for (uint32_t i = 0; i + 1 < glyphs; ++i) chain.push_back(composite(0, 0, {uint16_t(i + 1)}));
    chain.push_back(composite(0, 0, {uint16_t(glyphs - 1)}));  // the last holds itself
    chain[0] = composite(0, 0, std::vector<uint16_t>(1'000'000, 0));
    const auto f = longLocaFont(chain);
    const auto t = WOFF2Glyf::transform(f.glyf, f.loca, 1, glyphs);
    ASSERT_TRUE(t);
    const auto r = WOFF2Glyf::reconstruct(*t);
    EXPECT_EQ(r.glyf, f.glyf);
    EXPECT_EQ(r.loca, f.loca);
}

}  // namespace
}  // namespace calvoro
