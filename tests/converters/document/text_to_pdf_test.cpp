#include "converters/document/text_to_pdf.h"

#include <gtest/gtest.h>

#include "core/conversion_error.h"
#include "platform/pdf/pdf_document.h"
#include "platform/pdf/pdf_fixture.h"
#include "platform/pdf/text_pages.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace DC = calvoro::DocumentConverter;

namespace {

int linesPerPage() {
    static const int n = pdf::TextPages::layOut(std::string(200, '\n'))->linesOnPage(0);
    return n;
}

std::string numberedLines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i) text += "line " + std::to_string(i) + "\n";
    return text;
}

std::string pdfinfo(const std::filesystem::path& path) {
    return run("pdfinfo " + shellQuote(path.string())).output;
}

}  // namespace

TEST(TextToPDF, PrintsTheTextAsTypedOnLetterPages) {
    TempDir dir;
    writeFile(dir / "notes.md", "# Title\n\n*not* interpreted\tafter a tab\n");
    DC::textToPDF(dir / "notes.md", dir / "notes.pdf");
    ASSERT_TRUE(haveTool("pdfinfo") && haveTool("pdftotext"));
    const auto info = pdfinfo(dir / "notes.pdf");
    EXPECT_EQ(pdfinfoField(info, "Pages"), "1") << info;
    EXPECT_EQ(pdfinfoField(info, "Page size"), "612 x 792 pts (letter)") << info;
    const auto text = run("pdftotext -layout " + shellQuote((dir / "notes.pdf").string()) + " -").output;
    EXPECT_NE(text.find("# Title"), std::string::npos) << text;
    EXPECT_NE(text.find("*not* interpreted"), std::string::npos) << text;
    // Text starts one inch in, in a monospaced font.
    const auto bbox = run("pdftotext -bbox " + shellQuote((dir / "notes.pdf").string()) + " -").output;
    EXPECT_NE(bbox.find("xMin=\"72.0"), std::string::npos) << bbox.substr(0, 600);
    ASSERT_TRUE(peerInstalled("pdffonts"));
    EXPECT_NE(run("pdffonts " + shellQuote((dir / "notes.pdf").string())).output.find("Mono"), std::string::npos);
}

TEST(TextToPDF, OneMoreLineThanAPageHoldsMakesASecondPage) {
    TempDir dir;
    writeFile(dir / "full.txt", numberedLines(linesPerPage()));
    writeFile(dir / "over.txt", numberedLines(linesPerPage() + 1));
    DC::textToPDF(dir / "full.txt", dir / "full.pdf");
    DC::textToPDF(dir / "over.txt", dir / "over.pdf");
    EXPECT_EQ(pdfinfoField(pdfinfo(dir / "full.pdf"), "Pages"), "1");
    EXPECT_EQ(pdfinfoField(pdfinfo(dir / "over.pdf"), "Pages"), "2");
    const auto second = run("pdftotext -f 2 -l 2 " + shellQuote((dir / "over.pdf").string()) + " -").output;
    EXPECT_NE(second.find("line " + std::to_string(linesPerPage() + 1)), std::string::npos) << second;
}

TEST(TextToPDF, EmptyTextGivesAPdfThatReadersOpen) {
    TempDir dir;
    writeFile(dir / "empty.txt", std::string());
    DC::textToPDF(dir / "empty.txt", dir / "empty.pdf");
    const auto info = run("pdfinfo " + shellQuote((dir / "empty.pdf").string()));
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_EQ(pdfinfoField(info.output, "Pages"), "1");
    auto doc = pdf::Document::open(dir / "empty.pdf");
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->pageText(0), "");
}

TEST(TextToPDF, RefusesTextLongerThanTenThousandPagesAndWritesNothing) {
    TempDir dir;
    // Blank lines are the cheapest way to fill pages: each takes one line of the container.
    writeFile(dir / "long.txt", std::string(static_cast<size_t>(linesPerPage()) * DC::pdfPageLimit + 1, '\n'));
    try {
        DC::textToPDF(dir / "long.txt", dir / "long.pdf");
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::corruptFile);
        EXPECT_STREQ(error.what(),
                     "File appears corrupt: This document is too long to convert to PDF (over 10,000 pages).");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "long.pdf"));
}

TEST(TextToPDF, ReaderErrorsAndUnwritableOutputs) {
    TempDir dir;
    EXPECT_THROW(DC::textToPDF(dir / "missing.txt", dir / "out.pdf"), ConversionError);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.pdf"));
    writeFile(dir / "ok.txt", "text");
    try {
        DC::textToPDF(dir / "ok.txt", dir / "no-folder" / "out.pdf");
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::failedToCreateOutput);
    }
}
