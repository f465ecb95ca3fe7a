#include <gtest/gtest.h>

#include "converters/font/byte_io.h"
#include "font_test_util.h"

namespace calvoro {
namespace {

using namespace fonttest;

uint32_t base128(const Bytes& b) {
    ByteReader r(b);
    return r.uintBase128();
}

TEST(ByteReader, ReadingPastTheEndFails) {
    Bytes empty;
    ByteReader r(empty);
    EXPECT_EQ(corruptMessage([&] { r.u8(); }), "Unexpected end of font data.");
    Bytes one = bytes({7});
    ByteReader r1(one);
    EXPECT_EQ(r1.u8(), 7);
    EXPECT_EQ(corruptMessage([&] { r1.u8(); }), "Unexpected end of font data.");
    ByteReader r2(one);
    EXPECT_EQ(corruptMessage([&] { r2.skip(2); }), "Unexpected end of font data.");
}

TEST(ByteReader, UIntBase128) {
    EXPECT_EQ(base128(bytes({0x3F})), 63u);
    EXPECT_EQ(base128(bytes({0x81, 0x00})), 128u);
    EXPECT_EQ(base128(bytes({0x8F, 0xFF, 0xFF, 0xFF, 0x7F})), 4294967295u);
    EXPECT_EQ(corruptMessage([] { base128(bytes({0x80, 0x01})); }), "Malformed WOFF2 length field.");
    EXPECT_EQ(corruptMessage([] { base128(bytes({0x90, 0x80, 0x80, 0x80, 0x00})); }), "WOFF2 length field overflows.");
    EXPECT_EQ(corruptMessage([] { base128(bytes({0x8F, 0xFF, 0xFF, 0xFF, 0xFF})); }), "WOFF2 length field too long.");
    EXPECT_EQ(corruptMessage([] { base128(bytes({0x81})); }), "Unexpected end of font data.");
}

TEST(ByteOut, BigEndian) {
    ByteOut out;
    out.u16(0x1234);
    out.u16(0x0001);
    out.u16(0x0000);
    EXPECT_EQ(out.bytes, bytes({0x12, 0x34, 0x00, 0x01, 0x00, 0x00}));
}

}  // namespace
}  // namespace calvoro
