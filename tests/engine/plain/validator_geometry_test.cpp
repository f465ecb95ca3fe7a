// The PDF corner test's arithmetic, independent of any renderer.
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
    EXPECT_EQ(cornerVerdict(filled(10, 10, 255, 255, 255, 255), 10, 10, PDFBackgroundRequirement::whitePage), Status::passed());
    EXPECT_EQ(reason(cornerVerdict(filled(10, 10, 0, 0, 0, 0), 10, 10, PDFBackgroundRequirement::whitePage)),
              "PDF corner is transparent \u2014 page lacks background fill (inversion bug)");
    EXPECT_EQ(reason(cornerVerdict(filled(10, 10, 0, 0, 0, 255), 10, 10, PDFBackgroundRequirement::whitePage)),
              "PDF corner is dark RGB(0,0,0) \u2014 page has dark background");
    // Half-transparent white reads as grey in a premultiplied bitmap.
    EXPECT_EQ(reason(cornerVerdict(filled(4, 4, 255, 255, 255, 128), 4, 4, PDFBackgroundRequirement::whitePage)),
              "PDF corner is dark RGB(128,128,128) \u2014 page has dark background");
}

TEST(ValidatorPDFCorners, TheFirstFailingCornerInOrderDecides) {
    auto px = filled(10, 10, 255, 255, 255, 255);
    // (w-2, 1) dark, (1, h-2) transparent: the dark one is sampled first.
    const size_t second = (1 * 10 + 8) * 4, third = (8 * 10 + 1) * 4;
    px[second] = 10, px[second + 1] = 20, px[second + 2] = 30;
    px[third + 3] = 0;
    EXPECT_EQ(reason(cornerVerdict(px, 10, 10, PDFBackgroundRequirement::whitePage)),
              "PDF corner is dark RGB(10,20,30) \u2014 page has dark background");
}

TEST(ValidatorPDFCorners, ImagePagesNeedOnlyOpaqueCorners) {
    EXPECT_EQ(cornerVerdict(filled(2, 2, 0, 0, 0, 255), 2, 2, PDFBackgroundRequirement::opaquePage), Status::passed());
    EXPECT_EQ(reason(cornerVerdict(filled(2, 2, 0, 0, 0, 0), 2, 2, PDFBackgroundRequirement::opaquePage)),
              "Image-PDF corner is transparent \u2014 broken file");
}
