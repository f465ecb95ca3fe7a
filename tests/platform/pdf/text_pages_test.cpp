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

TEST(TextPages, LineEndsOfEveryKindEndLines) {
    const int perPage = pdf::TextPages::layOut(lines(500))->linesOnPage(0);
    // 648 points of 12-point monospaced lines: a few dozen lines.
    EXPECT_GT(perPage, 40);
    EXPECT_LT(perPage, 56);
    std::string crlf;
    for (int i = 0; i < perPage; ++i) crlf += i % 2 ? "row\r\n" : "row\r";
    EXPECT_EQ(pdf::TextPages::layOut(crlf)->pageCount(), 1);
    EXPECT_EQ(pdf::TextPages::layOut(crlf + "\n")->pageCount(), 2);
    EXPECT_EQ(pdf::TextPages::layOut("")->pageCount(), 0);
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

TEST(TextPages, AFileWhoseNameIsNotUTF8IsWrittenAndOpenedByItsOwnName) {
    TempDir dir;
    const auto path = dir / "caf\xE9.pdf";
    auto pages = pdf::TextPages::layOut(lines(3));
    ASSERT_TRUE(pages);
    ASSERT_TRUE(pages->writePDF(path));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);
    auto doc = pdf::Document::open(path);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->pageCount(), 1);
    EXPECT_NE(doc->pageText(0).find("line3"), std::string::npos);
    if (haveTool("pdftotext")) {
        const auto text = run("pdftotext " + shellQuote(path.string()) + " -");
        EXPECT_NE(text.output.find("line3"), std::string::npos) << text.output;
    }
}
