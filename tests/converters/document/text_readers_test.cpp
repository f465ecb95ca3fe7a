#include <gtest/gtest.h>

#include "converters/document/document_converter.h"
#include "core/conversion_error.h"
#include "platform/text/html.h"
#include "document_fixtures.h"
#include "platform/zip/zip_archive.h"
#include "support/test_support.h"

using namespace calvoro;
namespace DC = calvoro::DocumentConverter;
using calvoro::testing::TempDir;
using calvoro::testing::writeFile;

TEST(ReadTextFile, DecodingChain) {
    TempDir dir;
    writeFile(dir / "u.txt", std::string("caf\xC3\xA9"));
    EXPECT_EQ(DC::readTextFile(dir / "u.txt"), "caf\xC3\xA9");
    // Not UTF-8: ISO Latin 1 comes next (0x80 stays U+0080 rather than the euro of code page 1252).
    writeFile(dir / "l.txt", std::string("caf\xE9 \x80"));
    EXPECT_EQ(DC::readTextFile(dir / "l.txt"), "caf\xC3\xA9 \xC2\x80");
}

TEST(ReadTextFile, UTF16WithByteOrderMarkIsNotReadAsLatin1) {
    TempDir dir;
    writeFile(dir / "le.txt", std::string("\xFF\xFE" "h\0\xE9\0!\0", 8));
    EXPECT_EQ(DC::readTextFile(dir / "le.txt"), "h\xC3\xA9!");
    writeFile(dir / "be.txt", std::string("\xFE\xFF\0h\0\xE9", 6));
    EXPECT_EQ(DC::readTextFile(dir / "be.txt"), "h\xC3\xA9");
}

TEST(ReadTextFile, UTF32WithByteOrderMarkIsNotReadAsUTF16) {
    TempDir dir;
    writeFile(dir / "le.txt", std::string("\xFF\xFE\0\0h\0\0\0\xE9\0\0\0\x00\xF6\x01\0", 16));
    EXPECT_EQ(DC::readTextFile(dir / "le.txt"), "h\xC3\xA9\xF0\x9F\x98\x80");
    writeFile(dir / "be.txt", std::string("\0\0\xFE\xFF\0\0\0h\0\0\0\xE9", 12));
    EXPECT_EQ(DC::readTextFile(dir / "be.txt"), "h\xC3\xA9");
}

TEST(ReadTextFile, UnreadableFileCannotBeDecoded) {
    TempDir dir;
    try {
        DC::readTextFile(dir / "missing.txt");
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
        EXPECT_STREQ(e.what(), "File appears corrupt: Could not determine text encoding");
    }
}

TEST(ExtractPDFText, PagesFollowedByBlankLines) {
    TempDir dir;
    calvoro::testing::makeTextPDF(dir / "two.pdf", {"One", "Two"});
    EXPECT_EQ(DC::extractPDFText(dir / "two.pdf"), "One\n\nTwo\n\n");
}

TEST(ExtractPDFText, BlankAndBrokenPDFs) {
    TempDir dir;
    calvoro::testing::makeTextPDF(dir / "blank.pdf", {"", ""});
    try {
        DC::extractPDFText(dir / "blank.pdf");
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "File appears corrupt: PDF contains no extractable text (may be scanned/image-based)");
    }
    writeFile(dir / "fake.pdf", std::string("%PDF-1.4 nothing else"));
    try {
        DC::extractPDFText(dir / "fake.pdf");
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::failedToLoadFile);
    }
}

TEST(ParseHTML, ReadsThroughTheDecoderAndTheHTMLReader) {
    TempDir dir;
    writeFile(dir / "p.html", std::string("<p>caf\xE9 <b>x</b></p>"));  // Latin-1 bytes
    auto s = DC::parseHTML(dir / "p.html");
    EXPECT_EQ(s.plainText(), "caf\xC3\xA9 x");
}

// The text document holds about a kilobyte for each block: a 10 MB page of a million paragraphs
// took 2.5 GB. Past the bound it is refused before it is read.
TEST(ParseHTML, APageOfMoreBlocksThanTheReaderHoldsIsRefused) {
    TempDir dir;
    std::string page;
    for (int i = 0; i <= text::maxHTMLParagraphs; ++i) page += "<p>x";
    writeFile(dir / "p.html", page);
    try {
        DC::parseHTML(dir / "p.html");
        ADD_FAILURE() << "read";
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "File appears corrupt: This document has too many paragraphs to convert (over 400,000).");
    }
}

// A page of a million nested elements is read no deeper than browsers nest elements, every word
// kept: the text document's style rules look up each element's ancestors, and took hours on it.
// Its EPUB chapter is parsed with the same bound.
TEST(ParseHTML, AMillionNestedElementsReadWithEveryWord) {
    const size_t million = 1'000'000;
    TempDir dir;
    for (const std::string open : {"<div>", "<div><table><tr><td>", "<ul><li>", "<b>", "<blockquote><p>"}) {
        std::string page;
        page.reserve(open.size() * million + 20);
        for (size_t i = 0; i < million; ++i) page += open;
        writeFile(dir / "p.html", page + "deep words");
        EXPECT_NE(DC::parseHTML(dir / "p.html").plainText().find("deep words"), std::string::npos) << open;
        DC::anyToEPUB(dir / "p.html", SupportedFormat::html, dir / "p.epub");
        std::string chapter;
        for (auto& m : zip::readZIP(calvoro::testing::readFile(dir / "p.epub")))
            if (m.name == "OEBPS/chapter1.xhtml") chapter.assign(m.data.begin(), m.data.end());
        EXPECT_NE(chapter.find("deep words"), std::string::npos) << open;
    }
    // HTML read as rich text takes the same bound.
    EXPECT_NE(DC::readRichText(dir / "p.html", DC::DocumentType::html).plainText().find("deep words"), std::string::npos);
    // Markdown's markers nest nothing: its page is as flat as the text.
    for (const std::string marker : {">", "*"}) {
        std::string markdown;
        for (size_t i = 0; i < million; ++i) markdown += marker;
        writeFile(dir / "p.html", DC::markdownBodyHTML(markdown + "deep words"));
        EXPECT_NE(DC::parseHTML(dir / "p.html").plainText().find("deep words"), std::string::npos) << marker;
    }
}
