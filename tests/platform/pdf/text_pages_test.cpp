#include "platform/pdf/text_pages.h"

#include <gtest/gtest.h>

#include "platform/pdf/pdf_document.h"
#include "platform/pdf/pdf_fixture.h"

using namespace calvoro;
using namespace calvoro::testing;

namespace {

std::string lines(int count, const std::string& prefix = "line") {
    std::string text;
    for (int i = 0; i < count; ++i) text += prefix + std::to_string(i + 1) + "\n";
    return text;
}

}  // namespace

TEST(TextPages, FillsContainersAndBreaksAtThePageBoundary) {
    auto one = pdf::TextPages::layOut("x");
    ASSERT_TRUE(one);
    ASSERT_EQ(one->pageCount(), 1);
    const int perPage = pdf::TextPages::layOut(lines(500))->linesOnPage(0);
    // 648 points of 12-point monospaced lines: a few dozen lines.
    EXPECT_GT(perPage, 40);
    EXPECT_LT(perPage, 56);

    auto full = pdf::TextPages::layOut(lines(perPage));
    ASSERT_TRUE(full);
    EXPECT_EQ(full->pageCount(), 1);
    auto over = pdf::TextPages::layOut(lines(perPage + 1));
    ASSERT_TRUE(over);
    EXPECT_EQ(over->pageCount(), 2);
    EXPECT_EQ(over->linesOnPage(1), 1);
    // Without a final line feed the count is the same; CRLF and CR end lines too.
    std::string crlf;
    for (int i = 0; i < perPage; ++i) crlf += "row\r\n";
    EXPECT_EQ(pdf::TextPages::layOut(crlf)->pageCount(), 1);
    EXPECT_EQ(pdf::TextPages::layOut(crlf + "\r")->pageCount(), 2);
}

TEST(TextPages, WrapsLongLinesInsideTheTextWidth) {
    // 468 points hold 65 columns of a 7.2-point advance; 200 characters take 4 lines.
    auto pages = pdf::TextPages::layOut(std::string(200, 'a'));
    ASSERT_TRUE(pages);
    EXPECT_GE(pages->linesOnPage(0), 3);
    EXPECT_LE(pages->linesOnPage(0), 4);
    auto words = pdf::TextPages::layOut(std::string(30, ' ') + "word " + std::string(100, 'b'));
    ASSERT_TRUE(words);
    EXPECT_GE(words->linesOnPage(0), 2);
}

TEST(TextPages, StopsAtThePageLimit) {
    pdf::TextPages::Setup small;
    small.pageLimit = 3;
    const int perPage = pdf::TextPages::layOut(lines(200))->linesOnPage(0);
    EXPECT_TRUE(pdf::TextPages::layOut(lines(3 * perPage), small));
    EXPECT_FALSE(pdf::TextPages::layOut(lines(3 * perPage + 1), small));
}

TEST(TextPages, WritesLetterPagesThatPeersRead) {
    TempDir dir;
    const int perPage = pdf::TextPages::layOut(lines(200))->linesOnPage(0);
    auto pages = pdf::TextPages::layOut("# Title\n" + lines(perPage, "entry"));
    ASSERT_TRUE(pages);
    ASSERT_TRUE(pages->writePDF(dir / "text.pdf"));
    auto doc = pdf::Document::open(dir / "text.pdf");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->pageCount(), 2);
    EXPECT_DOUBLE_EQ(doc->pageSize(1).width, 612);
    EXPECT_DOUBLE_EQ(doc->pageSize(1).height, 792);
    // White page, black text starting one inch in.
    auto image = doc->render(0, 612, 792, true);
    EXPECT_EQ(image.row(10)[3], 255);
    EXPECT_EQ(image.row(10)[0], 255);
    if (haveTool("pdftotext")) {
        auto text = run("pdftotext -layout " + shellQuote((dir / "text.pdf").string()) + " -").output;
        EXPECT_NE(text.find("# Title"), std::string::npos) << text;
        EXPECT_NE(text.find("entry" + std::to_string(perPage)), std::string::npos);
        auto bbox = run("pdftotext -bbox -f 1 -l 1 " + shellQuote((dir / "text.pdf").string()) + " -").output;
        EXPECT_NE(bbox.find("xMin=\"72.0"), std::string::npos) << bbox.substr(0, 600);
    }
    if (haveTool("pdffonts")) {
        auto fonts = run("pdffonts " + shellQuote((dir / "text.pdf").string())).output;
        EXPECT_NE(fonts.find("Mono"), std::string::npos) << fonts;
    }
}

TEST(TextPages, EmptyTextGivesOneBlankPageAndBadPathsFail) {
    TempDir dir;
    auto empty = pdf::TextPages::layOut("");
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->pageCount(), 0);
    ASSERT_TRUE(empty->writePDF(dir / "empty.pdf"));
    if (haveTool("pdfinfo")) {
        auto info = run("pdfinfo " + shellQuote((dir / "empty.pdf").string()));
        EXPECT_EQ(info.status, 0) << info.output;
        EXPECT_EQ(pdfinfoField(info.output, "Pages"), "1");
    }
    EXPECT_FALSE(empty->writePDF(dir / "missing" / "out.pdf"));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}
