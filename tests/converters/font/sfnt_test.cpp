#include <gtest/gtest.h>

#include "converters/font/byte_io.h"
#include "converters/font/font_converter.h"
#include "font_test_util.h"

namespace calvoro {
namespace {

using namespace fonttest;
using SFNT = FontConverter::SFNT;

// An sfnt file with hand-made directory records: (tag, checksum, offset, length).
Bytes sfntFile(uint32_t version, std::vector<std::tuple<std::string, uint32_t, uint32_t, uint32_t>> records, size_t size) {
    Bytes b;
    put32(b, version);
    put16(b, uint32_t(records.size()));
    put16(b, 0);
    put16(b, 0);
    put16(b, 0);
    for (auto& [tag, sum, off, len] : records) {
        put32(b, FontConverter::stringToTag(tag));
        put32(b, sum);
        put32(b, off);
        put32(b, len);
    }
    while (b.size() < size) b.push_back(uint8_t(b.size()));
    return b;
}

TEST(SfntReader, RefusesWhatIsNotASingleFont) {
    EXPECT_EQ(corruptMessage([] { SFNT(sfntFile(FontConverter::tagTTCF, {}, 12)); }),
              "This is a TrueType Collection (.ttc) containing multiple fonts — extract a single font first.");
    EXPECT_EQ(corruptMessage([] { SFNT(sfntFile(FontConverter::tagWOFF, {}, 12)); }), "Not a recognised font container.");
    EXPECT_EQ(corruptMessage([] { SFNT(sfntFile(FontConverter::tagTrueType, {}, 12)); }), "Font contains no tables.");
    EXPECT_EQ(corruptMessage([] { SFNT(bytes({0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 0})); }), "Unexpected end of font data.");
    auto cut = sfntFile(FontConverter::tagOTTO, {{"cmap", 0, 28, 4}}, 32);
    cut.resize(20);
    EXPECT_EQ(corruptMessage([&] { SFNT{std::span<const uint8_t>(cut)}; }), "Unexpected end of font data.");
}

TEST(SfntReader, TableMayEndExactlyAtTheEndOfTheFile) {
    auto ok = sfntFile(FontConverter::tagTrue, {{"cmap", 9, 28, 4}}, 32);
    SFNT font(ok);
    EXPECT_EQ(font.sfntVersion, FontConverter::tagTrue);
    ASSERT_EQ(font.tables.size(), 1u);
    EXPECT_EQ(font.tables[0].checksum, 9u);
    EXPECT_EQ(font.tables[0].data, Bytes(ok.begin() + 28, ok.end()));
    auto past = sfntFile(FontConverter::tagTrue, {{"cmap", 9, 28, 5}}, 32);
    EXPECT_EQ(corruptMessage([&] { SFNT{std::span<const uint8_t>(past)}; }),
              "Font table extends past end of file — the file is truncated.");
    auto huge = sfntFile(FontConverter::tagTrue, {{"cmap", 9, 0xFFFFFFF0, 0x20}}, 32);
    EXPECT_EQ(corruptMessage([&] { SFNT{std::span<const uint8_t>(huge)}; }),
              "Font table extends past end of file — the file is truncated.");
}

TEST(SfntReader, OverlappingTablesCannotMultiplyMemory) {
    // 4,000 records that all cover the same 100 kB: 400 MB if each were copied.
    std::vector<std::tuple<std::string, uint32_t, uint32_t, uint32_t>> records;
    for (int i = 0; i < 4000; ++i) records.emplace_back("abcd", 0, 0, 100000);
    auto file = sfntFile(FontConverter::tagTrueType, records, 12 + 16 * 4000 + 100000);
    EXPECT_EQ(corruptMessage([&] { SFNT{std::span<const uint8_t>(file)}; }),
              "Font data would take more than 256 MB once decoded.");
}

TEST(SfntWriter, SortsPadsAndKeepsChecksums) {
    SFNT font(FontConverter::tagOTTO, {table("cmap", bytes({1, 2, 3, 4, 5}), 0xDEADBEEF), table("OS/2", bytes({9}), 7),
                                       table("cmap", bytes({6}), 1)});
    auto out = font.sfntData();
    // 12 + 3 × 16 header, then OS/2 (1 → 4), cmap (5 → 8), cmap (1 → 4).
    ASSERT_EQ(out.size(), 60u + 4 + 8 + 4);
    EXPECT_EQ(readU32(out, 0), FontConverter::tagOTTO);
    EXPECT_EQ(readU16(out, 4), 3);
    EXPECT_EQ(readU16(out, 6), 32);
    EXPECT_EQ(readU16(out, 8), 1);
    EXPECT_EQ(readU16(out, 10), 16);
    auto record = [&](int i, int field) { return readU32(out, 12 + 16 * size_t(i) + 4 * size_t(field)); };
    EXPECT_EQ(record(0, 0), FontConverter::stringToTag("OS/2"));
    EXPECT_EQ(record(1, 0), FontConverter::stringToTag("cmap"));
    EXPECT_EQ(record(1, 1), 0xDEADBEEFu) << "checksums are carried, not recomputed";
    EXPECT_EQ(record(1, 2), 64u);
    EXPECT_EQ(record(1, 3), 5u);
    EXPECT_EQ(record(2, 1), 1u) << "equal tags keep their order";
    EXPECT_EQ(record(2, 2), 72u);
    EXPECT_EQ(Bytes(out.begin() + 64, out.begin() + 72), bytes({1, 2, 3, 4, 5, 0, 0, 0}));
    EXPECT_EQ(font.tables[0].data.size(), 5u) << "the stored order is untouched";
}

TEST(SfntWriter, SearchFields) {
    auto fields = [](int n) {
        SFNT font;
        for (int i = 0; i < n; ++i) font.tables.push_back(table("t" + std::to_string(100 + i), {}));
        auto out = font.sfntData();
        return std::vector<int>{readU16(out, 6), readU16(out, 8), readU16(out, 10)};
    };
    EXPECT_EQ(fields(0), (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(fields(1), (std::vector<int>{16, 0, 0}));
    EXPECT_EQ(fields(3), (std::vector<int>{32, 1, 16}));
    EXPECT_EQ(fields(16), (std::vector<int>{256, 4, 0}));
    EXPECT_EQ(fields(17), (std::vector<int>{256, 4, 16}));
    EXPECT_EQ(SFNT().sfntData().size(), 12u);
}

TEST(SfntWriter, RefusesMoreTablesThanItsFieldsHold) {
    SFNT font;
    font.tables.resize(4095);
    EXPECT_EQ(font.sfntData().size(), 12u + 16 * 4095);
    font.tables.resize(4096);
    EXPECT_EQ(corruptMessage([&] { font.sfntData(); }), "Font has too many tables to be written.");
}

TEST(SfntTools, ChecksumAndTags) {
    EXPECT_EQ(FontConverter::sfntChecksum(bytes({1, 2, 3, 4, 5})), 0x06020304u);
    EXPECT_EQ(FontConverter::sfntChecksum({}), 0u);
    EXPECT_EQ(FontConverter::sfntChecksum(bytes({0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 2})), 1u);
    EXPECT_EQ(FontConverter::tagToString(0x4F532F32), "OS/2");
    EXPECT_EQ(FontConverter::stringToTag("cvt"), 0x63767420u);
    EXPECT_EQ(FontConverter::stringToTag(""), 0x20202020u);
    EXPECT_EQ(FontConverter::stringToTag("glyfX"), 0x676C7966u);
    EXPECT_EQ(FontConverter::tagToString(0x41E92020), "A\xC3\xA9  ");
}

}  // namespace
}  // namespace calvoro
