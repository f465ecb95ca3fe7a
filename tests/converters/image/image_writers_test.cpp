// The PDF, ICO, ICNS and SVG writers.

#include <gtest/gtest.h>

#include "converters/image/pdf_image_writer.h"
#include "core/text_util.h"
#include "image_fixtures.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace types = calvoro::imaging::types;

namespace {
std::filesystem::path source(const TempDir& dir, int w, int h, bool alpha = false) {
    const auto path = dir / ("src" + std::to_string(w) + "x" + std::to_string(h) + ".png");
    imaging::writeImageFile(path, {markedPicture(w, h, alpha)}, types::png);
    return path;
}
std::string pageSize(const std::filesystem::path& pdf) {
    auto out = peer("pdfinfo " + shellQuote(pdf.string()));
    auto at = out.find("Page size:");
    if (at == std::string::npos) return out;
    auto end = out.find(" pts", at);
    return std::string(trimWhitespace(out.substr(at + 10, end - at - 10)));
}
}  // namespace

TEST(ImageWriters, PdfPageIsThePixelSizeCappedAt2000Points) {
    TempDir dir, out;
    EXPECT_EQ(pageSize(ImageConverter::convert(source(dir, 4000, 3000), SupportedFormat::pdf_image, out.path(), 0.92, std::nullopt, false)),
              "2000 x 1500");
    EXPECT_EQ(pageSize(ImageConverter::convert(source(dir, 1000, 800), SupportedFormat::pdf_image, out.path(), 0.92, std::nullopt, false)),
              "1000 x 800");
    const auto wide = ImageConverter::convert(source(dir, 3000, 1000), SupportedFormat::pdf_image, out.path(), 0.92, std::nullopt, false);
    EXPECT_EQ(pageSize(wide), "2000 x 666.667");
    // The page shows the picture: red left, blue right, drawn over the whole page.
    ASSERT_EQ(run("pdftoppm -r 7.2 -png " + shellQuote(wide.string()) + " " + shellQuote((out / "page").string())).status, 0);
    auto page = decode(out / "page-1.png");
    ASSERT_GT(page.width, 100);
    EXPECT_GT(page.row(page.height / 2)[10 * 4], 200);
    EXPECT_GT(page.row(page.height / 2)[(page.width - 10) * 4 + 2], 200);
}

TEST(ImageWriters, PdfKeepsTransparencyAsASoftMask) {
    TempDir dir, out;
    const auto pdf = ImageConverter::convert(source(dir, 40, 40, true), SupportedFormat::pdf_image, out.path(), 0.92, std::nullopt, false);
    EXPECT_NE(peer("pdfimages -list " + shellQuote(pdf.string())).find("smask"), std::string::npos);
}

TEST(ImageWriters, IcoHoldsFourSquareRenditions) {
    TempDir dir, out;
    const auto ico = ImageConverter::convert(source(dir, 300, 100, true), SupportedFormat::ico, out.path(), 0.92, std::nullopt, false);
    EXPECT_EQ(ico.filename(), "src300x100.ico");
    EXPECT_EQ(peer("identify -format '%w×%h,' " + shellQuote(ico.string())), "16×16,32×32,48×48,256×256,");
    // The whole picture fitted as a 256×85 band across the middle: red on the left, blue on the
    // right, transparent above and below it.
    auto r = run("convert " + shellQuote(ico.string() + "[3]") + " " + shellQuote((out / "e.png").string()));
    ASSERT_EQ(r.status, 0);
    auto e = decode(out / "e.png");
    EXPECT_GT(e.row(150)[2 * 4], 200);
    EXPECT_GT(e.row(150)[253 * 4 + 2], 200);
    EXPECT_LT(e.row(100)[128 * 4 + 3], 30);  // the picture's own transparent top
    EXPECT_EQ(e.row(20)[128 * 4 + 3], 0);
    EXPECT_EQ(e.row(235)[128 * 4 + 3], 0);
}

namespace {
// A transparent picture with an opaque disc filling its height (or width), in the middle.
std::filesystem::path discPicture(const TempDir& dir, int w, int h) {
    imaging::RgbaImage image(w, h);
    const double radius = std::min(w, h) / 2.0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double dx = x + 0.5 - w / 2.0, dy = y + 0.5 - h / 2.0;
            if (dx * dx + dy * dy <= radius * radius) image.row(y)[x * 4] = 255, image.row(y)[x * 4 + 3] = 255;
        }
    const auto path = dir / ("disc" + std::to_string(w) + "x" + std::to_string(h) + ".png");
    imaging::writeImageFile(path, image, types::png);
    return path;
}
// The bounding box of the opaque pixels, as ImageMagick finds it: "WxH+X+Y".
std::string opaqueBox(const std::filesystem::path& png) {
    return peer("convert " + shellQuote(png.string()) + " -alpha extract -threshold 50% -format '%@' info:");
}
}  // namespace

TEST(ImageWriters, IconsKeepTheShapeOfPicturesThatAreNotSquare) {
    TempDir dir, out;
    // A wide banner: the disc stays round, a quarter of the icon wide, in its middle.
    const auto ico = ImageConverter::convert(discPicture(dir, 400, 100), SupportedFormat::ico, out.path(), 0.92, std::nullopt, false);
    ASSERT_EQ(run("convert " + shellQuote(ico.string() + "[3]") + " " + shellQuote((out / "ico256.png").string())).status, 0);
    EXPECT_EQ(opaqueBox(out / "ico256.png"), "64x64+96+96");
    ASSERT_EQ(run("convert " + shellQuote(ico.string() + "[0]") + " " + shellQuote((out / "ico16.png").string())).status, 0);
    EXPECT_EQ(opaqueBox(out / "ico16.png"), "4x4+6+6");

    // A tall picture in an ICNS: the 1024 entry (an embedded PNG) has the disc as wide as high.
    const auto icns = ImageConverter::convert(discPicture(dir, 100, 400), SupportedFormat::icns, out.path(), 0.92, std::nullopt, false);
    const auto bytes = readFile(icns);
    size_t pos = 8;
    while (pos + 8 <= bytes.size() && std::string(bytes.begin() + pos, bytes.begin() + pos + 4) != "ic10")
        pos += size_t(bytes[pos + 4]) << 24 | size_t(bytes[pos + 5]) << 16 | size_t(bytes[pos + 6]) << 8 | bytes[pos + 7];
    ASSERT_LT(pos + 8, bytes.size());
    const size_t len = size_t(bytes[pos + 4]) << 24 | size_t(bytes[pos + 5]) << 16 | size_t(bytes[pos + 6]) << 8 | bytes[pos + 7];
    writeFile(out / "ic10.png", std::vector<uint8_t>(bytes.begin() + pos + 8, bytes.begin() + pos + len));
    EXPECT_EQ(opaqueBox(out / "ic10.png"), "256x256+384+384");

    // A square picture still fills every rendition.
    const auto square = ImageConverter::convert(discPicture(dir, 100, 100), SupportedFormat::ico, out.path(), 0.92, std::nullopt, false);
    ASSERT_EQ(run("convert " + shellQuote(square.string() + "[3]") + " " + shellQuote((out / "sq256.png").string())).status, 0);
    EXPECT_EQ(opaqueBox(out / "sq256.png"), "256x256+0+0");
}

TEST(ImageWriters, IcnsHoldsSevenRenditionsUpTo1024) {
    TempDir dir, out;
    const auto icns = ImageConverter::convert(source(dir, 20, 20), SupportedFormat::icns, out.path(), 0.92, std::nullopt, false);
    const auto bytes = readFile(icns);
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "icns");
    EXPECT_EQ((size_t(bytes[4]) << 24 | size_t(bytes[5]) << 16 | size_t(bytes[6]) << 8 | bytes[7]), bytes.size());
    // Walk the entries and let ImageMagick read each embedded PNG.
    std::vector<std::string> seen;
    size_t pos = 8;
    int index = 0;
    while (pos + 8 <= bytes.size()) {
        const size_t len = size_t(bytes[pos + 4]) << 24 | size_t(bytes[pos + 5]) << 16 | size_t(bytes[pos + 6]) << 8 | bytes[pos + 7];
        ASSERT_GE(len, 8u);
        const auto entry = out / ("entry" + std::to_string(index++) + ".png");
        writeFile(entry, std::vector<uint8_t>(bytes.begin() + pos + 8, bytes.begin() + pos + len));
        seen.push_back(std::string(bytes.begin() + pos, bytes.begin() + pos + 4) + ":" +
                       peer("identify -format '%w' " + shellQuote(entry.string())));
        pos += len;
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"icp4:16", "icp5:32", "icp6:64", "ic07:128", "ic08:256", "ic09:512", "ic10:1024"}));
    EXPECT_EQ(decode(icns).width, 1024);
}

TEST(ImageWriters, SvgTextIsExact) {
    TempDir dir, out;
    const auto svg = ImageConverter::convert(source(dir, 2, 1), SupportedFormat::svg, out.path(), 0.92, std::nullopt, false);
    const std::string text = readText(svg);
    const std::string start = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                              "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 2 1\" width=\"2\" height=\"1\">\n"
                              "<image href=\"data:image/png;base64,";
    ASSERT_EQ(text.substr(0, start.size()), start);
    const std::string end = "\" x=\"0\" y=\"0\" width=\"2\" height=\"1\" preserveAspectRatio=\"none\"/>\n</svg>";
    ASSERT_GT(text.size(), start.size() + end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
    // The embedded PNG decodes (via the Base64 tool) to the 2×1 picture.
    const std::string b64 = text.substr(start.size(), text.size() - start.size() - end.size());
    writeFile(out / "b64.txt", b64);
    ASSERT_EQ(run("base64 -d " + shellQuote((out / "b64.txt").string()) + " > " + shellQuote((out / "inner.png").string())).status, 0);
    EXPECT_EQ(peer("identify -format '%w×%h' " + shellQuote((out / "inner.png").string())), "2×1");
    ASSERT_TRUE(peerInstalled("vipsheader"));
    EXPECT_EQ(peer("vipsheader -f width " + shellQuote(svg.string())), "2\n");
}
