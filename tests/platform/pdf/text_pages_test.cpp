#include "platform/pdf/text_pages.h"

#include <gtest/gtest.h>

#include "platform/pdf/pdf_document.h"
#include "platform/pdf/pdf_fixture.h"

#include <QList>
#include <QString>

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

TEST(TextPages, AFormFeedEndsItsPageAndTheLineEndAfterItBelongsToIt) {
    auto layout = [](const std::string& text) {
        std::vector<int> lines;
        auto pages = pdf::TextPages::layOut(text);
        for (int p = 0; p < pages->pageCount(); ++p) lines.push_back(pages->linesOnPage(p));
        return lines;
    };
    using L = std::vector<int>;
    EXPECT_EQ(layout("page one\n\fpage two\n"), (L{1, 1}));
    EXPECT_EQ(layout("a\fb"), (L{1, 1}));
    EXPECT_EQ(layout("a\f\r\nb\nc"), (L{1, 2}));
    // Two in a row leave an empty page between; none before the first line or after the last.
    EXPECT_EQ(layout("a\f\fb"), (L{1, 0, 1}));
    EXPECT_EQ(layout("\fa\n\f"), (L{1}));
    EXPECT_EQ(layout("a\n\f\n\nb"), (L{1, 2}));
}

TEST(TextPages, LongParagraphsCutIntoWindowsLayOutAsTheyDoWhole) {
    // Words, an unbroken run many lines long, tabs and a right-to-left paragraph.
    std::string text;
    for (int i = 0; i < 900; ++i) text += (i % 7 ? "word" : "longerword") + std::to_string(i) + (i % 50 ? " " : "\t");
    text += std::string(5000, 'x') + " tail words after the run\n";
    for (int i = 0; i < 300; ++i) text += "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D ";
    text += "\nshort line\n";
    pdf::TextPages::Setup windowed, whole;
    windowed.layoutWindow = 64;
    whole.layoutWindow = 1 << 30;
    auto a = pdf::TextPages::layOut(text, windowed);
    auto b = pdf::TextPages::layOut(text, whole);
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->pageCount(), b->pageCount());
    ASSERT_GT(a->pageCount(), 1);
    for (int p = 0; p < a->pageCount(); ++p) EXPECT_EQ(a->linesOnPage(p), b->linesOnPage(p)) << "page " << p;
    TempDir dir;
    ASSERT_TRUE(a->writePDF(dir / "a.pdf") && b->writePDF(dir / "b.pdf"));
    auto da = pdf::Document::open(dir / "a.pdf");
    auto db = pdf::Document::open(dir / "b.pdf");
    ASSERT_TRUE(da && db);
    for (int p = 0; p < a->pageCount(); ++p) EXPECT_EQ(da->pageText(p), db->pageText(p)) << "page " << p;
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
    ASSERT_TRUE(peerInstalled("pdftotext"));
    const auto text = run("pdftotext " + shellQuote(path.string()) + " -");
    EXPECT_NE(text.output.find("line3"), std::string::npos) << text.output;
}

TEST(TextPages, JoinedScriptsKeepTheirOwnCharactersInTheTextLayer) {
    ASSERT_TRUE(peerInstalled("pdftotext"));
    // Arabic and Persian letters are drawn in their joined shapes; Syriac joins too. What a reader
    // copies out of the page is the letters as written, not the shapes' presentation forms.
    const std::vector<std::string> texts{"\u0645\u0631\u062d\u0628\u0627 \u0628\u0627\u0644\u0639\u0627\u0644\u0645",
                                         "\u06a9\u062a\u0627\u0628 \u0641\u0627\u0631\u0633\u06cc \u067e\u06af",
                                         "\u072b\u0720\u0721\u0710 \u0725\u0720\u0721\u0710"};
    std::string source;
    for (const auto& t : texts) source += t + "\n";
    TempDir dir;
    ASSERT_TRUE(pdf::TextPages::layOut(source)->writePDF(dir / "joined.pdf"));
    const std::string text = run("pdftotext " + shellQuote((dir / "joined.pdf").string()) + " -").output;
    for (const auto& t : texts) EXPECT_NE(text.find(t), std::string::npos) << t << " in " << text;
    for (char32_t c : QString::fromStdString(text).toUcs4())
        EXPECT_FALSE((c >= 0xFB50 && c <= 0xFDFF) || (c >= 0xFE70 && c <= 0xFEFF)) << std::hex << static_cast<unsigned>(c);
}
