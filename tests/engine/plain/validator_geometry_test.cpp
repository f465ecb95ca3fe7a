// The PDF background test's arithmetic, independent of any renderer.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "engine/validation_checks.h"

using namespace calvoro::validation;

TEST(ValidatorPDFCorners, QuarterSizeIsTruncatedAndRaisedToTwo) {
    auto s = quarterBitmapSize(612, 792);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 153);
    EXPECT_EQ(s->height, 198);
    s = quarterBitmapSize(7.9, 3);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 2);
    EXPECT_EQ(s->height, 2);
    s = quarterBitmapSize(std::nan(""), -5);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 2);
}

TEST(ValidatorPDFCorners, PagesTooLargeForABitmapAreNotAllocated) {
    EXPECT_FALSE(quarterBitmapSize(1e12, 1e12));
    EXPECT_FALSE(quarterBitmapSize(std::numeric_limits<double>::infinity(), 100));
    EXPECT_FALSE(quarterBitmapSize(200000, 200000));
    EXPECT_TRUE(quarterBitmapSize(14400, 14400)) << "the largest page a PDF reader takes without a user unit";
}

namespace {
std::vector<uint8_t> filled(int w, int h, uint8_t r, uint8_t g, uint8_t b, uint8_t a) {
    std::vector<uint8_t> px(size_t(w) * h * 4);
    for (size_t i = 0; i < px.size(); i += 4) {
        px[i] = r;
        px[i + 1] = g;
        px[i + 2] = b;
        px[i + 3] = a;
    }
    return px;
}
std::string reason(const Status& s) { return s.isFailure() ? s.reason() : "<not a failure>"; }
}  // namespace

TEST(ValidatorPDFCorners, DocumentPagesNeedOpaqueLightCorners) {
    EXPECT_EQ(backgroundVerdict(filled(10, 10, 255, 255, 255, 255), 10, 10, PDFBackgroundRequirement::whitePage), Status::passed());
    EXPECT_EQ(reason(backgroundVerdict(filled(10, 10, 0, 0, 0, 0), 10, 10, PDFBackgroundRequirement::whitePage)),
              "PDF corner is transparent \u2014 page lacks background fill (inversion bug)");
    EXPECT_EQ(reason(backgroundVerdict(filled(10, 10, 0, 0, 0, 255), 10, 10, PDFBackgroundRequirement::whitePage)),
              "PDF corner is dark RGB(0,0,0) \u2014 page has dark background");
    // Half-transparent white reads as grey in a premultiplied bitmap.
    EXPECT_EQ(reason(backgroundVerdict(filled(4, 4, 255, 255, 255, 128), 4, 4, PDFBackgroundRequirement::whitePage)),
              "PDF corner is dark RGB(128,128,128) \u2014 page has dark background");
}

TEST(ValidatorPDFCorners, TheMarginsDecideNotTheContentThatReachesIntoThem) {
    // A Letter page at a quarter of its size: 153 x 198 pixels, margins 18 pixels wide.
    const int w = 153, h = 198;
    auto paint = [&](std::vector<uint8_t>& px, int x0, int y0, int x1, int y1, uint8_t grey, uint8_t alpha) {
        for (int y = y0; y < y1; ++y)
            for (int x = x0; x < x1; ++x) {
                const size_t at = (size_t(y) * w + x) * 4;
                px[at] = px[at + 1] = px[at + 2] = grey;
                px[at + 3] = alpha;
            }
    };
    // A table ruled in black from the very corner, and a line of text across the top margin.
    auto page = filled(w, h, 255, 255, 255, 255);
    paint(page, 0, 0, w, 1, 0, 255);
    paint(page, 0, 0, 1, h, 0, 255);
    paint(page, 0, 1, 2, 2, 0, 0);
    paint(page, 0, 2, w, 8, 30, 255);
    EXPECT_EQ(backgroundVerdict(page, w, h, PDFBackgroundRequirement::whitePage), Status::passed());
    // A dark page keeps its verdict with light text in its margins, and names its own colour.
    auto dark = filled(w, h, 10, 20, 30, 255);
    paint(dark, 1, 1, w - 1, 12, 255, 255);
    EXPECT_EQ(reason(backgroundVerdict(dark, w, h, PDFBackgroundRequirement::whitePage)),
              "PDF corner is dark RGB(10,20,30) \u2014 page has dark background");
    // So does a page without a fill whose text runs into its margins.
    auto bare = filled(w, h, 0, 0, 0, 0);
    paint(bare, 0, 0, w, 12, 0, 255);
    EXPECT_EQ(reason(backgroundVerdict(bare, w, h, PDFBackgroundRequirement::whitePage)),
              "PDF corner is transparent \u2014 page lacks background fill (inversion bug)");
    EXPECT_EQ(reason(backgroundVerdict(bare, w, h, PDFBackgroundRequirement::opaquePage)), "Image-PDF corner is transparent \u2014 broken file");
}

TEST(ValidatorPDFCorners, ImagePagesNeedOnlyOpaqueCorners) {
    EXPECT_EQ(backgroundVerdict(filled(2, 2, 0, 0, 0, 255), 2, 2, PDFBackgroundRequirement::opaquePage), Status::passed());
    EXPECT_EQ(reason(backgroundVerdict(filled(2, 2, 0, 0, 0, 0), 2, 2, PDFBackgroundRequirement::opaquePage)),
              "Image-PDF corner is transparent \u2014 broken file");
}
