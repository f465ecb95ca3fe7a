// PDF pages rendered to image files.

#include <gtest/gtest.h>

#include <cstdio>

#include "converters/image/pdf_image_writer.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "image_fixtures.h"
#include "support/pdf_objects.h"

using namespace calvoro;
using namespace calvoro::testing;

namespace {

// A one-page PDF of the given size showing a half-transparent picture.
std::filesystem::path pagePDF(const TempDir& dir, const std::string& name, double w, double h) {
    const auto path = dir / name;
    EXPECT_TRUE(writeImagePDF(markedPicture(8, 8, true), w, h, path));
    return path;
}

std::string size(const std::filesystem::path& file) { return peer("identify -format '%w×%h' " + shellQuote(file.string())); }

// A PDF of empty 20 × 10 point pages, written out by hand.
std::filesystem::path emptyPages(const TempDir& dir, int count) {
    std::vector<std::string> objects = {"<< /Type /Catalog /Pages 2 0 R >>"};
    std::string kids;
    for (int i = 0; i < count; ++i) kids += std::to_string(3 + i) + " 0 R ";
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(count) + " >>");
    for (int i = 0; i < count; ++i) objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 20 10] >>");
    const std::string pdf = pdfFromObjects(objects);
    const auto path = dir / "pages.pdf";
    writeFile(path, pdf);
    return path;
}

bool logged(const std::string& message) {
    for (const auto& e : ConversionLogger::shared().entries())
        if (e.message == message) return true;
    return false;
}

}  // namespace

TEST(PdfPages, LetterPageRendersAtTwiceItsPointsOnWhite) {
    TempDir dir, out;
    const auto pdf = pagePDF(dir, "report.pdf", 612, 792);
    const auto folder = ImageConverter::convertPDFPages(pdf, SupportedFormat::pdfPagePng, out.path(), 0.92);
    EXPECT_EQ(folder.filename(), "report (PNG (per page))");
    EXPECT_EQ(size(folder / "page_001.png"), "1224×1584");
    // The transparent top quarter of the picture shows the white page.
    auto image = decode(folder / "page_001.png");
    ASSERT_EQ(image.width, 1224);
    const uint8_t* p = image.row(20) + 600 * 4;
    EXPECT_EQ(p[0], 255);
    EXPECT_EQ(p[1], 255);
    EXPECT_EQ(p[2], 255);
    EXPECT_EQ(p[3], 255);
    EXPECT_TRUE(logged("Wrote 1 page(s)"));

    const auto again = ImageConverter::convertPDFPages(pdf, SupportedFormat::pdfPageJpeg, out.path(), 0.5);
    EXPECT_EQ(again.filename(), "report (JPEG (per page))");
    EXPECT_EQ(peer("identify -format '%m %Q' " + shellQuote((again / "page_001.jpg").string())), "JPEG 50");
    const auto third = ImageConverter::convertPDFPages(pdf, SupportedFormat::pdfPagePng, out.path(), 0.92);
    EXPECT_EQ(third.filename(), "report (PNG (per page)) (1)");
}

TEST(PdfPages, LargePagesAreCappedAt8192PixelsWithAWarning) {
    TempDir dir, out;
    ConversionLogger::shared().clear();
    const auto big = ImageConverter::convertPDFPages(pagePDF(dir, "big.pdf", 5000, 500), SupportedFormat::pdfPageJpeg, out.path(), 0.8);
    EXPECT_EQ(size(big / "page_001.jpg"), "8192×819");
    EXPECT_TRUE(logged("Page 1 is very large — rendering at 1.64× to stay within memory limits"));

    ConversionLogger::shared().clear();
    const auto edge = ImageConverter::convertPDFPages(pagePDF(dir, "edge.pdf", 4096, 10), SupportedFormat::pdfPageJpeg, out.path(), 0.8);
    EXPECT_EQ(size(edge / "page_001.jpg"), "8192×20");
    for (const auto& e : ConversionLogger::shared().entries()) EXPECT_EQ(e.message.find("very large"), std::string::npos);

    const auto dot = ImageConverter::convertPDFPages(pagePDF(dir, "dot.pdf", 0.3, 0.3), SupportedFormat::pdfPagePng, out.path(), 0.8);
    EXPECT_EQ(size(dot / "page_001.png"), "1×1");
}

TEST(PdfPages, PagesAreNumberedWithThreeDigits) {
    TempDir dir, out;
    const auto folder = ImageConverter::convertPDFPages(emptyPages(dir, 10), SupportedFormat::pdfPagePng, out.path(), 0.92);
    EXPECT_EQ(folder.filename(), "pages (PNG (per page))");
    EXPECT_TRUE(std::filesystem::exists(folder / "page_001.png"));
    EXPECT_TRUE(std::filesystem::exists(folder / "page_010.png"));
    EXPECT_EQ(size(folder / "page_010.png"), "40×20");
    EXPECT_TRUE(logged("Wrote 10 page(s)"));
}

TEST(PdfPages, UnreadableSourceCreatesNothing) {
    TempDir dir, out;
    writeFile(dir / "fake.pdf", std::string("not a pdf"));
    try {
        ImageConverter::convertPDFPages(dir / "fake.pdf", SupportedFormat::pdfPagePng, out.path(), 0.92);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::failedToLoadFile);
    }
    EXPECT_TRUE(std::filesystem::is_empty(out.path()));
}
