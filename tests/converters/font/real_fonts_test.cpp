// Round trips of real Debian fonts, checked by peers: fontTools, woff2 and ots-sanitize.
#include <gtest/gtest.h>

#include "converters/font/font_converter.h"
#include "font_test_util.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using namespace fonttest;
using testing::peerInstalled;
using testing::readFile;
using testing::run;
using testing::shellQuote;
using testing::TempDir;
using testing::writeFile;

const std::filesystem::path compareScript = std::filesystem::path(CALVORO_FONT_TEST_DIR) / "compare_fonts.py";

// fontTools reads both files and finds no difference in any table.
void expectSameFont(const std::filesystem::path& a, const std::filesystem::path& b) {
    ASSERT_TRUE(testing::pythonModuleInstalled("fontTools"));
    ASSERT_TRUE(testing::pythonModuleInstalled("brotli"));
    auto r = run("/usr/bin/python3 " + shellQuote(compareScript.string()) + " " + shellQuote(a.string()) + " " +
                 shellQuote(b.string()));
    EXPECT_EQ(r.status, 0) << r.output;
}

void expectSanitizerAccepts(const std::filesystem::path& file) {
    ASSERT_TRUE(peerInstalled("ots-sanitize"));
    auto r = run("ots-sanitize " + shellQuote(file.string()));
    EXPECT_EQ(r.status, 0) << file << ": " << r.output;
}

// Tables that pass through a container unchanged, with their checksums.
void expectSameTables(const FontConverter::SFNT& a, const FontConverter::SFNT& b, bool checksums) {
    ASSERT_EQ(a.tables.size(), b.tables.size());
    auto sa = FontConverter::sortedTables(a), sb = FontConverter::sortedTables(b);
    for (size_t i = 0; i < sa.size(); ++i) {
        EXPECT_EQ(sa[i]->tag, sb[i]->tag);
        EXPECT_EQ(sa[i]->data, sb[i]->data) << FontConverter::tagToString(sa[i]->tag);
        if (checksums) {
            EXPECT_EQ(sa[i]->checksum, sb[i]->checksum) << FontConverter::tagToString(sa[i]->tag);
        }
    }
}

class RealFont : public ::testing::TestWithParam<std::filesystem::path> {
protected:
    void SetUp() override {
        ASSERT_TRUE(std::filesystem::exists(GetParam())) << GetParam() << " is not installed (scripts/setup installs it)";
        source = readFile(GetParam());
        font = FontConverter::SFNT(source);
    }
    Bytes source;
    FontConverter::SFNT font;
    TempDir dir;
};

TEST_P(RealFont, SfntRewriteKeepsEveryTable) {
    auto out = font.sfntData();
    expectSameTables(FontConverter::SFNT(out), font, true);
    writeFile(dir / "out.ttf", out);
    expectSanitizerAccepts(dir / "out.ttf");
}

TEST_P(RealFont, WoffRoundTripIsExact) {
    auto woff = FontConverter::encodeWOFF(font);
    EXPECT_LT(woff.size(), source.size());
    expectSameTables(FontConverter::decodeWOFF(woff), font, true);
    writeFile(dir / "out.woff", woff);
    expectSanitizerAccepts(dir / "out.woff");
    expectSameFont(GetParam(), dir / "out.woff");
}

TEST_P(RealFont, Woff2RoundTripThroughOurDecoder) {
    auto woff2 = FontConverter::encodeWOFF2(font);
    auto back = FontConverter::decodeWOFF2(woff2);
    EXPECT_EQ(back.sfntVersion, font.sfntVersion);
    writeFile(dir / "back.ttf", back.sfntData());
    expectSanitizerAccepts(dir / "back.ttf");
    expectSameFont(GetParam(), dir / "back.ttf");
}

TEST_P(RealFont, Woff2ReadByPeers) {
    writeFile(dir / "out.woff2", FontConverter::encodeWOFF2(font));
    expectSanitizerAccepts(dir / "out.woff2");
    expectSameFont(GetParam(), dir / "out.woff2");  // fontTools' own WOFF2 reader
    ASSERT_TRUE(peerInstalled("woff2_decompress"));
    auto r = run("woff2_decompress " + shellQuote((dir / "out.woff2").string()));
    ASSERT_EQ(r.status, 0) << r.output;
    expectSameFont(GetParam(), dir / "out.ttf");
}

TEST_P(RealFont, PeerWoff2ReadByUs) {
    ASSERT_TRUE(peerInstalled("woff2_compress"));
    writeFile(dir / "peer.ttf", source);
    auto r = run("woff2_compress " + shellQuote((dir / "peer.ttf").string()));
    ASSERT_EQ(r.status, 0) << r.output;
    auto decoded = FontConverter::decodeWOFF2(readFile(dir / "peer.woff2"));
    writeFile(dir / "decoded.ttf", decoded.sfntData());
    expectSanitizerAccepts(dir / "decoded.ttf");
    expectSameFont(GetParam(), dir / "decoded.ttf");
}

INSTANTIATE_TEST_SUITE_P(Debian, RealFont, ::testing::Values(dejaVu, freeSerif),
                         [](const auto& info) { return info.param.stem().string().substr(0, 8) == "DejaVuSa" ? "TrueType" : "CFF"; });

}  // namespace
}  // namespace calvoro
