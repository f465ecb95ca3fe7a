// PDF outputs and folders of pages, rendered by the PDF layer onto transparency.
#include <gtest/gtest.h>

#include "engine/validator.h"
#include "support/drawn_pdf.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;
using Status = Validator::ValidationStatus;

namespace {

class ValidatorPDF : public ::testing::Test {
protected:
    fs::path pdf(const std::string& name, const std::vector<DrawnPage>& pages) {
        writeFile(dir_ / name, drawnPDF(pages));
        return dir_ / name;
    }
    static std::string reason(const Status& s) { return s.isFailure() ? s.reason() : "<not a failure>"; }
    TempDir dir_;
};

}  // namespace

TEST_F(ValidatorPDF, DocumentPagesMustPaintALightBackground) {
    EXPECT_EQ(Validator::validate(SupportedFormat::pdf, pdf("white.pdf", {filledPage(1, 1, 1)})), Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdf, pdf("bare.pdf", {unpaintedPage()}))),
              "PDF corner is transparent \u2014 page lacks background fill (inversion bug)");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdf, pdf("black.pdf", {filledPage(0, 0, 0)}))),
              "PDF corner is dark RGB(0,0,0) \u2014 page has dark background");
    // Only the first page is looked at.
    EXPECT_EQ(Validator::validate(SupportedFormat::pdf, pdf("mixed.pdf", {filledPage(1, 1, 1), filledPage(0, 0, 0)})),
              Status::passed());
}

TEST_F(ValidatorPDF, WebPagesMayPaintTheirOwnDarkBackgroundButNotLeaveItTransparent) {
    EXPECT_EQ(Validator::validate(SupportedFormat::pdf, pdf("dark.pdf", {filledPage(0.1, 0.5, 0.4)}), SupportedFormat::html),
              Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdf, pdf("bare.pdf", {unpaintedPage()}), SupportedFormat::html)),
              "PDF corner is transparent \u2014 page lacks background fill (inversion bug)");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdf, pdf("dark.pdf", {filledPage(0, 0, 0)}), SupportedFormat::rtf)),
              "PDF corner is dark RGB(0,0,0) \u2014 page has dark background");
}

TEST_F(ValidatorPDF, AFullPageFillThatLeavesTheCornersTransparentIsStillRefused) {
    const std::string transparent = "PDF corner is transparent \u2014 page lacks background fill (inversion bug)";
    auto html = [&](const std::string& name, const std::string& content, const std::string& entries = "") {
        return Validator::validate(SupportedFormat::pdf, pdf(name, {DrawnPage{200, 200, content, entries}}),
                                   SupportedFormat::html);
    };
    // As a web engine prints a page: clipped to the page, flipped, then filled in full.
    EXPECT_EQ(html("printed.pdf", ".5 0 0 -.5 0 200 cm q 0 0 400 400 re W* n /G gs 0 0 0 rg 0 0 400 4000 re f Q",
                   "/Resources << /ExtGState << /G << /ca 1 >> >> >>"),
              Status::passed());
    EXPECT_EQ(reason(html("clear.pdf", "/G gs 0 0 200 200 re f", "/Resources << /ExtGState << /G << /ca 0 >> >> >>")),
              transparent);
    EXPECT_EQ(reason(html("clipped.pdf", "50 50 100 100 re W n 0 0 200 200 re f")), transparent);
    EXPECT_EQ(reason(html("cancelled.pdf", "0 0 200 200 re 200 0 -200 200 re f")), transparent);
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdf_image,
                                         pdf("clipped-image.pdf", {DrawnPage{200, 200, "50 50 100 100 re W n 0 0 200 200 re f", ""}}))),
              "Image-PDF corner is transparent \u2014 broken file");
}

TEST_F(ValidatorPDF, ImagePagesMayBeAnyColourButNotTransparent) {
    EXPECT_EQ(Validator::validate(SupportedFormat::pdf_image, pdf("black.pdf", {filledPage(0, 0, 0)})), Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdf_image, pdf("bare.pdf", {unpaintedPage()}))),
              "Image-PDF corner is transparent \u2014 broken file");
}

TEST_F(ValidatorPDF, TinyPagesAreStillRenderedAndUnreadableFilesNamed) {
    EXPECT_EQ(Validator::validate(SupportedFormat::pdf, pdf("tiny.pdf", {filledPage(1, 1, 1, 5, 5)})), Status::passed());
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdf, pdf("tinyblack.pdf", {filledPage(0, 0, 0, 5, 5)}))),
              "PDF corner is dark RGB(0,0,0) \u2014 page has dark background");
    writeFile(dir_ / "junk.pdf", std::string("this is not a PDF at all"));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdf, dir_ / "junk.pdf")), "The PDF cannot be opened");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdf, dir_ / "missing.pdf")), "The PDF cannot be opened");
}

TEST_F(ValidatorPDF, APDFWithoutPagesReportsTheCount) {
    const auto s = Validator::validate(SupportedFormat::pdf, pdf("empty.pdf", {}));
    ASSERT_TRUE(s.isFailure());
    // A reader may refuse a page tree without pages outright.
    EXPECT_TRUE(s.reason() == "PDF has 0 pages, expected \u2265 1" || s.reason() == "The PDF cannot be opened") << s.reason();
}

TEST_F(ValidatorPDF, AHugePageIsNotAllocated) {
    // 200000 points square would need a 200 GB bitmap at a quarter of its size.
    EXPECT_EQ(Validator::validate(SupportedFormat::pdf_image, pdf("huge.pdf", {filledPage(0, 0, 0, 200000, 200000)})),
              Status::passed());
}

TEST_F(ValidatorPDF, FoldersOfPagesAreCheckedByTheirFirstMatchingFile) {
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdfSplit, dir_ / "nothing")), "Output folder doesn't exist");
    writeFile(dir_ / "afile", std::string("x"));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdfSplit, dir_ / "afile")), "Output path is not a folder");
    fs::create_directories(dir_ / "empty");
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdfSplit, dir_ / "empty")), "Output folder is empty");
    fs::create_directories(dir_ / "jpegs");
    writeFile(dir_ / "jpegs" / "page_001.jpg", std::string("x"));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdfPagePng, dir_ / "jpegs")), "Folder has no .png files");

    fs::create_directories(dir_ / "split");
    writeFile(dir_ / "split" / "page_002.pdf", drawnPDF({filledPage(1, 1, 1)}));
    writeFile(dir_ / "split" / "page_001.PDF", drawnPDF({filledPage(1, 1, 1)}));
    EXPECT_EQ(Validator::validate(SupportedFormat::pdfSplit, dir_ / "split"), Status::passed());
    writeFile(dir_ / "split" / "page_000.pdf", drawnPDF({filledPage(0, 0, 0)}));
    EXPECT_EQ(reason(Validator::validate(SupportedFormat::pdfSplit, dir_ / "split")),
              "PDF corner is dark RGB(0,0,0) \u2014 page has dark background")
        << "the first page by name decides even when later ones are sound";
}
