// Damaged and hostile fonts: every reader fails with a corrupt-file error or decodes, never
// anything else, and never reads or allocates beyond what the file holds.
#include <gtest/gtest.h>

#include <random>

#include "converters/font/byte_io.h"
#include "converters/font/font_converter.h"
#include "converters/font/woff2_glyf.h"
#include "converters/font/woff2_hmtx.h"
#include "font_test_util.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using namespace fonttest;
using testing::readFile;
using testing::run;
using testing::shellQuote;
using testing::TempDir;

using Decoder = FontConverter::SFNT (*)(std::span<const uint8_t>);
FontConverter::SFNT decodeSfnt(std::span<const uint8_t> d) { return FontConverter::SFNT(d); }

// Decodes, and when that works writes the result back out: both must end cleanly.
std::string outcome(Decoder decode, const Bytes& data) {
    try {
        auto font = decode(data);
        (void)font.sfntData();
        return "ok";
    } catch (const ConversionError& e) {
        return e.kind() == ConversionError::Kind::corruptFile ? "corrupt" : std::string("other: ") + e.what();
    } catch (const std::exception& e) {
        return std::string("exception: ") + e.what();
    }
}

class HostileFonts : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A small TrueType font made from DejaVu Sans, so that every transform is exercised quickly.
        if (!std::filesystem::exists(dejaVu) || !testing::haveTool("pyftsubset")) return;  // SetUp says which
        dir = new TempDir();
        auto r = run("pyftsubset " + shellQuote(dejaVu.string()) + " --text='Hamburgefonstiv&%@' --output-file=" +
                     shellQuote((*dir / "small.ttf").string()));
        if (r.status == 0) sfnt = new Bytes(readFile(*dir / "small.ttf"));
    }
    static void TearDownTestSuite() {
        delete sfnt;
        delete dir;
        sfnt = nullptr;
        dir = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(dejaVu)) << dejaVu << " is not installed (scripts/setup installs it)";
        ASSERT_TRUE(testing::peerInstalled("pyftsubset"));
        ASSERT_TRUE(sfnt) << "pyftsubset could not make the small font";
    }
    static inline TempDir* dir = nullptr;
    static inline Bytes* sfnt = nullptr;
};

TEST_F(HostileFonts, TruncatedFilesFailCleanly) {
    const FontConverter::SFNT font(*sfnt);
    const std::vector<std::pair<Decoder, Bytes>> containers = {
        {decodeSfnt, *sfnt}, {FontConverter::decodeWOFF, FontConverter::encodeWOFF(font)},
        {FontConverter::decodeWOFF2, FontConverter::encodeWOFF2(font)}};
    for (const auto& [decode, full] : containers) {
        ASSERT_EQ(outcome(decode, full), "ok");
        for (size_t length = 0; length < full.size(); length += 1 + length / 16) {
            const Bytes cut(full.begin(), full.begin() + long(length));
            const auto result = outcome(decode, cut);
            EXPECT_TRUE(result == "corrupt" || (decode == FontConverter::decodeWOFF2 && result == "ok")) << length << ": " << result;
        }
    }
}

TEST_F(HostileFonts, FlippedBytesFailCleanly) {
    const FontConverter::SFNT font(*sfnt);
    const std::vector<std::pair<Decoder, Bytes>> containers = {
        {decodeSfnt, *sfnt}, {FontConverter::decodeWOFF, FontConverter::encodeWOFF(font)},
        {FontConverter::decodeWOFF2, FontConverter::encodeWOFF2(font)}};
    std::mt19937 random(20261208);
    for (const auto& [decode, full] : containers) {
        for (int round = 0; round < 300; ++round) {
            Bytes damaged = full;
            // Mostly the headers and directories, where sizes and offsets live.
            const size_t span = round % 2 ? damaged.size() : std::min<size_t>(damaged.size(), 160);
            for (int k = 0; k < 1 + round % 4; ++k) damaged[random() % span] = uint8_t(random());
            const auto result = outcome(decode, damaged);
            EXPECT_TRUE(result == "ok" || result == "corrupt") << round << ": " << result;
        }
    }
}

TEST_F(HostileFonts, DamagedTransformedGlyfFailsCleanly) {
    const FontConverter::SFNT font(*sfnt);
    auto tableOf = [&font](const char* tag) {
        for (auto& t : font.tables)
            if (t.tag == FontConverter::stringToTag(tag)) return t.data;
        return Bytes();
    };
    const Bytes head = tableOf("head"), maxp = tableOf("maxp");
    const auto transformed = WOFF2Glyf::transform(tableOf("glyf"), tableOf("loca"), readU16(head, 50), readU16(maxp, 4));
    ASSERT_TRUE(transformed);
    std::mt19937 random(7);
    for (int round = 0; round < 2000; ++round) {
        Bytes damaged = *transformed;
        // Every third round hits the header, where the stream sizes and the glyph count live.
        const size_t span = round % 3 ? damaged.size() : 36;
        for (int k = 0; k < 1 + round % 3; ++k) damaged[random() % span] = uint8_t(random());
        std::string result = "ok";
        try {
            auto r = WOFF2Glyf::reconstruct(damaged);
            (void)WOFF2Hmtx::reconstruct(Bytes(1 + 4 * 2000, 3), readU16(maxp, 4), 1, r.glyf, r.loca, r.indexFormat);
        } catch (const ConversionError& e) {
            if (e.kind() != ConversionError::Kind::corruptFile) result = e.what();
        } catch (const std::exception& e) {
            result = e.what();
        }
        EXPECT_EQ(result, "ok") << round;
    }
}

}  // namespace
}  // namespace calvoro
