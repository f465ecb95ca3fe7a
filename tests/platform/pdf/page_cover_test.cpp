// Reading a page's content for a full-page opaque fill: only a fill that surely reaches every
// point of the page counts; anything that could leave a corner bare, or is not followed, does not.
#include "platform/pdf/page_cover.h"

#include <gtest/gtest.h>

#include "support/drawn_pdf.h"

using namespace calvoro;
using namespace calvoro::testing;

namespace {

const std::string fullOpacity = "/Resources << /ExtGState << /G3 << /BM /Normal /ca 1 >> >> >>";

class PageCover : public ::testing::Test {
protected:
    bool covered(const std::string& content, const std::string& entries = "", double w = 200, double h = 200) {
        const auto path = dir_ / ("page" + std::to_string(++count_) + ".pdf");
        writeFile(path, drawnPDF({DrawnPage{w, h, content, entries}, unpaintedPage()}));
        return pdf::pageIsOpaquelyCovered(path, 0);
    }
    TempDir dir_;
    int count_ = 0;
};

}  // namespace

TEST_F(PageCover, AFullPageFillCountsHoweverItIsPlacedAndWhateverFollows) {
    EXPECT_TRUE(covered("0.1 0.5 0.4 rg 0 0 200 200 re f"));
    EXPECT_TRUE(covered("0 0 0 rg 200 200 -200 -200 re f*"));
    // As a web engine prints: flipped, scaled with a few digits, clipped to the page, then filled.
    EXPECT_TRUE(covered(".23999999 0 0 -.23999999 0 792 cm q 0 0 2550 3300 re W* n q 3.125 0 0 3.125 0 0 cm "
                        "1 1 1 RG 1 1 1 rg /G3 gs 0 0 816 54381 re f 0 0 0 rg BT ET Q Q",
                        fullOpacity, 612, 792));
    // A clip undone before the fill, and a fill in a calibrated space, rotated a quarter turn.
    EXPECT_TRUE(covered("q 10 10 5 5 re W n Q /CS0 cs 0.5 sc 0 1 -1 0 200 0 cm 0 0 200 200 re f",
                        "/Resources << /ColorSpace << /CS0 [/CalGray << /WhitePoint [1 1 1] >>] >> >>"));
    // Painting before the fill only adds to it.
    EXPECT_TRUE(covered("0 0 1 RG 5 w 10 10 m 50 50 l S 1 1 1 rg 0 0 200 200 re f"));
}

TEST_F(PageCover, AFillThatMightLeaveACornerBareDoesNotCount) {
    EXPECT_FALSE(covered("0 0 0 rg 80 80 40 40 re f")) << "a part of the page";
    EXPECT_FALSE(covered("0.5 0 0 0.5 0 0 cm 0 0 200 200 re f")) << "scaled down";
    EXPECT_FALSE(covered("0 0 200 200 re 200 0 -200 200 re f")) << "two rectangles that cancel";
    EXPECT_FALSE(covered("0 0 m 200 0 l 200 200 l 0 200 l h f")) << "a path not followed";
    EXPECT_FALSE(covered("50 50 100 100 re W n 0 0 200 200 re f")) << "clipped";
    EXPECT_FALSE(covered("BT 7 Tr ET 0 0 200 200 re f")) << "clipped by text";
    EXPECT_FALSE(covered("/G gs 0 0 200 200 re f", "/Resources << /ExtGState << /G << /ca 0 >> >> >>"));
    EXPECT_FALSE(covered("/G gs 0 0 200 200 re f", "/Resources << /ExtGState << /G << /SMask << /S /Alpha >> >> >> >>"));
    EXPECT_FALSE(covered("/G gs 0 0 200 200 re f")) << "an opacity that is not there";
    EXPECT_FALSE(covered("/Pattern cs /P0 scn 0 0 200 200 re f")) << "a pattern";
    EXPECT_FALSE(covered("/S cs 1 sc 0 0 200 200 re f",
                         "/Resources << /ColorSpace << /S [/Separation /None /DeviceGray << >>] >> >>"))
        << "a colorant that paints nothing";
    EXPECT_FALSE(covered("/OC /L1 BDC 0 0 200 200 re f EMC")) << "optional content, perhaps hidden";
    EXPECT_FALSE(covered("0 0 200 200 re f", "/Group << /S /Transparency /K true >>")) << "a knockout page";
    EXPECT_FALSE(covered("0 0 200 200 re f", "/CropBox [-50 -50 250 250]")) << "a crop box beyond the fill";
    EXPECT_FALSE(covered("1 0 0 1 0 0 xx 0 0 200 200 re f")) << "an operator not followed";
    EXPECT_FALSE(covered("0 0 200 re f")) << "too few operands";
}

TEST_F(PageCover, UnreadableFilesAndMissingPagesTellNothing) {
    writeFile(dir_ / "junk.pdf", std::string("not a PDF"));
    EXPECT_FALSE(pdf::pageIsOpaquelyCovered(dir_ / "junk.pdf", 0));
    EXPECT_FALSE(pdf::pageIsOpaquelyCovered(dir_ / "missing.pdf", 0));
    writeFile(dir_ / "one.pdf", drawnPDF({filledPage(1, 1, 1)}));
    EXPECT_TRUE(pdf::pageIsOpaquelyCovered(dir_ / "one.pdf", 0));
    EXPECT_FALSE(pdf::pageIsOpaquelyCovered(dir_ / "one.pdf", 1));
    EXPECT_FALSE(pdf::pageIsOpaquelyCovered(dir_ / "one.pdf", -1));
}
