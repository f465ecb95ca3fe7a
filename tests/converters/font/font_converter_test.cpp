// The converter's entry: files in, files out, one log entry per success.
#include <gtest/gtest.h>

#include "converters/font/font_converter.h"
#include "core/conversion_logger.h"
#include "font_test_util.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using namespace fonttest;
using testing::readFile;
using testing::TempDir;
using testing::writeFile;

// A small TrueType-flavoured font of the given number of tables.
Bytes smallFont(int tables, uint32_t version = FontConverter::tagTrueType) {
    FontConverter::SFNT font;
    font.sfntVersion = version;
    for (int i = 0; i < tables; ++i) font.tables.push_back(table("t" + std::to_string(10 + i), Bytes(20 + i, uint8_t(i))));
    return font.sfntData();
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& dir) {
    std::vector<std::filesystem::path> files;
    for (auto& e : std::filesystem::directory_iterator(dir)) files.push_back(e.path().filename());
    std::sort(files.begin(), files.end());
    return files;
}

class FontConvert : public ::testing::Test {
protected:
    void SetUp() override {
        ConversionLogger::shared().clear();
        std::filesystem::create_directories(dir / "out");
    }
    TempDir dir;
};

TEST_F(FontConvert, EveryPairOfFontFormatsRoundTrips) {
    ASSERT_TRUE(std::filesystem::exists(dejaVu)) << dejaVu << " is not installed (scripts/setup installs it)";
    const auto original = readFile(dejaVu);
    writeFile(dir / "DejaVuSans.ttf", original);
    auto woff2 = FontConverter::convert(dir / "DejaVuSans.ttf", SupportedFormat::ttf, SupportedFormat::woff2, dir / "out");
    EXPECT_EQ(woff2, dir / "out" / "DejaVuSans.woff2");
    auto woff = FontConverter::convert(woff2, SupportedFormat::woff2, SupportedFormat::woff, dir / "out");
    auto otf = FontConverter::convert(woff, SupportedFormat::woff, SupportedFormat::otf, dir / "out");
    auto ttf = FontConverter::convert(otf, SupportedFormat::otf, SupportedFormat::ttf, dir / "out");
    EXPECT_EQ(ttf, dir / "out" / "DejaVuSans.ttf");
    EXPECT_EQ(readFile(dir / "DejaVuSans.ttf"), original) << "the source is never changed";

    const FontConverter::SFNT source(original), back(readFile(ttf));
    EXPECT_EQ(back.sfntVersion, source.sfntVersion);
    ASSERT_EQ(back.tables.size(), source.tables.size());
    for (const auto* t : FontConverter::sortedTables(source)) {
        if (t->tag == FontConverter::stringToTag("glyf") || t->tag == FontConverter::stringToTag("loca")) continue;
        auto it = std::find_if(back.tables.begin(), back.tables.end(), [t](const auto& b) { return b.tag == t->tag; });
        ASSERT_NE(it, back.tables.end());
        EXPECT_EQ(it->data, t->data) << FontConverter::tagToString(t->tag);
    }

    auto entries = ConversionLogger::shared().entries();
    ASSERT_EQ(entries.size(), 4u);
    const std::string message = "Font: " + std::to_string(source.tables.size()) + " tables, TrueType";
    for (const auto& e : entries) {
        EXPECT_EQ(e.level, ConversionLogger::Level::success);
        EXPECT_EQ(e.category, "Font");
        EXPECT_EQ(e.message, message);
    }
    EXPECT_EQ(entries[0].detail, "DejaVuSans.woff2");
    EXPECT_EQ(entries[3].detail, "DejaVuSans.ttf");
}

TEST_F(FontConvert, CffOutlinesAreNamedInTheLog) {
    writeFile(dir / "a.otf", smallFont(3, FontConverter::tagOTTO));
    auto out = FontConverter::convert(dir / "a.otf", SupportedFormat::otf, SupportedFormat::woff, dir / "out");
    EXPECT_EQ(FontConverter::decodeWOFF(readFile(out)).sfntVersion, FontConverter::tagOTTO);
    auto entries = ConversionLogger::shared().entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].message, "Font: 3 tables, OTF/CFF");
    EXPECT_EQ(entries[0].detail, "a.woff");
}

TEST_F(FontConvert, TtfToOtfRewritesTheContainerOnly) {
    const auto source = smallFont(14);
    writeFile(dir / "f.ttf", source);
    auto out = FontConverter::convert(dir / "f.ttf", SupportedFormat::ttf, SupportedFormat::otf, dir / "out");
    EXPECT_EQ(out.filename(), "f.otf");
    EXPECT_EQ(readFile(out), source);
    EXPECT_EQ(ConversionLogger::shared().entries().at(0).message, "Font: 14 tables, TrueType");
}

TEST_F(FontConvert, FormatComesFromTheJobNotTheBytes) {
    writeFile(dir / "f.ttf", FontConverter::encodeWOFF(FontConverter::SFNT(smallFont(2))));
    EXPECT_EQ(corruptMessage([&] {
                  FontConverter::convert(dir / "f.ttf", SupportedFormat::ttf, SupportedFormat::woff2, dir / "out");
              }),
              "Not a recognised font container.");
}

TEST_F(FontConvert, FailureWritesNothingLogsNothingAndKeepsTheName) {
    writeFile(dir / "bad.ttf", bytes({0x00, 0x01, 0x00, 0x00, 0x00}));
    try {
        FontConverter::convert(dir / "bad.ttf", SupportedFormat::ttf, SupportedFormat::woff, dir / "out");
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "File appears corrupt: Unexpected end of font data.");
    }
    EXPECT_TRUE(filesIn(dir / "out").empty());
    EXPECT_TRUE(ConversionLogger::shared().entries().empty());

    writeFile(dir / "bad.ttf", smallFont(1));
    auto out = FontConverter::convert(dir / "bad.ttf", SupportedFormat::ttf, SupportedFormat::woff, dir / "out");
    EXPECT_EQ(out.filename(), "bad (1).woff");
}

TEST_F(FontConvert, NonFontFormatsAreRefused) {
    writeFile(dir / "f.ttf", smallFont(1));
    try {
        FontConverter::convert(dir / "f.ttf", SupportedFormat::ttf, SupportedFormat::png, dir / "out");
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedConversion);
        EXPECT_EQ(e.payload(), "TTF");
        EXPECT_EQ(e.secondPayload(), "PNG");
    }
    try {
        FontConverter::convert(dir / "f.ttf", SupportedFormat::zip, SupportedFormat::woff, dir / "out");
        FAIL() << "no error";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedConversion);
    }
    EXPECT_TRUE(filesIn(dir / "out").empty());
}

TEST_F(FontConvert, MissingSourceIsAFileError) {
    EXPECT_THROW(FontConverter::convert(dir / "none.ttf", SupportedFormat::ttf, SupportedFormat::woff, dir / "out"),
                 std::filesystem::filesystem_error);
}

}  // namespace
}  // namespace calvoro
