#include <gtest/gtest.h>

#include "converters/font/woff2_hmtx.h"
#include "font_test_util.h"

namespace calvoro {
namespace {

using namespace fonttest;

// Three glyphs with xMin 5, -10 (0xFFF6) and 7; glyph boxes at 0, 32 and 64 of glyf.
struct Glyphs {
    Bytes glyf = Bytes(96, 0);
    Bytes shortLoca = bytes({0, 0, 0, 0x10, 0, 0x20, 0, 0x30});
    Bytes longLoca = bytes({0, 0, 0, 0, 0, 0, 0, 32, 0, 0, 0, 64, 0, 0, 0, 96});
    Glyphs() {
        glyf[3] = 5;
        glyf[34] = 0xFF, glyf[35] = 0xF6;
        glyf[67] = 7;
    }
};

TEST(Woff2Hmtx, ImplausibleCounts) {
    Glyphs g;
    EXPECT_EQ(corruptMessage([&] { WOFF2Hmtx::reconstruct(bytes({0, 0, 1}), 4, 0, g.glyf, g.shortLoca, 0); }),
              "WOFF2 hmtx has an implausible metric count.");
    EXPECT_EQ(corruptMessage([&] { WOFF2Hmtx::reconstruct(Bytes(30, 0), 4, 5, g.glyf, g.shortLoca, 0); }),
              "WOFF2 hmtx has an implausible metric count.");
    EXPECT_EQ(corruptMessage([&] { WOFF2Hmtx::reconstruct({}, 3, 3, g.glyf, g.shortLoca, 0); }), "WOFF2 stream ended early.");
}

TEST(Woff2Hmtx, BearingsFromGlyf) {
    Glyphs g;
    auto out = WOFF2Hmtx::reconstruct(bytes({0x03, 0, 100, 0, 200}), 3, 2, g.glyf, g.shortLoca, 0);
    EXPECT_EQ(out, bytes({0, 100, 0, 5, 0, 200, 0xFF, 0xF6, 0, 7}));
    EXPECT_EQ(WOFF2Hmtx::reconstruct(bytes({0x03, 0, 100, 0, 200}), 3, 2, g.glyf, g.longLoca, 1), out);
    EXPECT_EQ(corruptMessage([&] { WOFF2Hmtx::reconstruct(bytes({0x03, 0, 100, 0}), 3, 2, g.glyf, g.shortLoca, 0); }),
              "WOFF2 stream ended early.");
}

TEST(Woff2Hmtx, EachFlagLeavesOutOneArray) {
    Glyphs g;
    // Flag 1: proportional bearings from glyf, the monospaced one read.
    EXPECT_EQ(WOFF2Hmtx::reconstruct(bytes({0x01, 0, 100, 0, 200, 0, 42, 9, 9}), 3, 2, g.glyf, g.shortLoca, 0),
              bytes({0, 100, 0, 5, 0, 200, 0xFF, 0xF6, 0, 42}));
    // Flag 2: proportional bearings read, the monospaced one from glyf.
    EXPECT_EQ(WOFF2Hmtx::reconstruct(bytes({0x02, 0, 100, 0, 200, 0, 1, 0, 2}), 3, 2, g.glyf, g.shortLoca, 0),
              bytes({0, 100, 0, 1, 0, 200, 0, 2, 0, 7}));
    // All metrics proportional: bit 1 changes nothing.
    EXPECT_EQ(WOFF2Hmtx::reconstruct(bytes({0x02, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6}), 3, 3, g.glyf, g.shortLoca, 0),
              WOFF2Hmtx::reconstruct(bytes({0x00, 0, 1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6}), 3, 3, g.glyf, g.shortLoca, 0));
}

TEST(Woff2Hmtx, UnreachableGlyphsGetZero) {
    Glyphs g;
    // Equal offsets for glyph 0, glyf too short for glyph 1, loca without an entry after glyph 2.
    Bytes loca = bytes({0, 0x10, 0, 0x10, 0, 0x20});
    auto out = WOFF2Hmtx::reconstruct(bytes({0x03, 0, 1}), 3, 1, Bytes(34, 0x11), loca, 0);
    EXPECT_EQ(out, bytes({0, 1, 0, 0, 0, 0, 0, 0}));
}

}  // namespace
}  // namespace calvoro
