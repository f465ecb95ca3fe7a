#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "converters/document/document_converter.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "document_fixtures.h"
#include "platform/pdf/pdf_fixture.h"
#include "platform/text/docx.h"
#include "platform/text/rtf.h"
#include "support/test_support.h"

using namespace calvoro;
namespace DC = calvoro::DocumentConverter;
using calvoro::testing::peerInstalled;
using calvoro::testing::readText;
using calvoro::testing::run;
using calvoro::testing::shellQuote;
using calvoro::testing::TempDir;
using calvoro::testing::writeFile;
using F = SupportedFormat;

namespace {

// Small real sources of every document format, made here.
struct Sources {
    TempDir dir;
    std::filesystem::path txt, md, html, rtf, docx, pdf, out;
    Sources() {
        txt = dir / "notes.txt";
        writeFile(txt, std::string("Plain a & b\n\nSecond line"));
        md = dir / "readme.md";
        writeFile(md, std::string("# Heading\n\nSome **bold** text."));
        html = dir / "page.html";
        writeFile(html, std::string("<html><head><title>t</title></head><body><h1>Big</h1><p>Para <b>bold</b> <a href=\"https://example.com/\">link</a></p></body></html>"));
        rtf = dir / "letter.rtf";
        writeFile(rtf, std::string("{\\rtf1\\ansi{\\fonttbl{\\f0 Helvetica;}}\\f0\\fs48\\b Letter Head\\b0\\fs24\\par Body with {\\i italic} words.}"));
        docx = dir / "report.docx";
        text::AttributedString s;
        text::Attributes big, body;
        big.font = text::systemFont(24);
        big.font->bold = true;
        body.font = text::systemFont(12);
        s.append("Report Title\n", big);
        text::Attributes strong = body;
        strong.font->bold = true;
        s.append("Report body ", body);
        s.append("text", strong);
        s.append(".", body);
        writeFile(docx, text::writeDOCX(s));
        pdf = dir / "scan.pdf";
        calvoro::testing::makeTextPDF(pdf, {"Page one text", "Page two text"});
        out = dir / "out";
        std::filesystem::create_directories(out);
    }
    std::filesystem::path of(F f) const {
        switch (f) {
            case F::txt: return txt;
            case F::markdown: return md;
            case F::html: return html;
            case F::rtf: return rtf;
            case F::docx: return docx;
            default: return pdf;
        }
    }
};

std::string expectedText(F f) {
    switch (f) {
        case F::txt: return "Second line";
        case F::markdown: return "Heading";
        case F::html: return "Para";
        case F::rtf: return "Body with";
        case F::docx: return "Report body";
        default: return "Page two text";
    }
}

// What a peer sees in an output; plain text and Markdown are read as they are.
std::string textSeenIn(const std::filesystem::path& file, F target) {
    switch (target) {
        case F::txt:
        case F::markdown: return readText(file);
        case F::html: return run("pandoc -f html -t plain " + shellQuote(file.string())).output;
        case F::docx: return run("pandoc -f docx -t plain " + shellQuote(file.string())).output;
        case F::rtf: return run("unrtf --text " + shellQuote(file.string())).output;
        default: return "";
    }
}

}  // namespace

TEST(DocumentRoutes, EveryTextTargetFromEverySource) {
    ASSERT_TRUE(peerInstalled("pandoc"));
    ASSERT_TRUE(peerInstalled("unrtf"));
    Sources src;
    const F sources[] = {F::pdf, F::rtf, F::txt, F::html, F::markdown, F::docx};
    const F targets[] = {F::rtf, F::txt, F::html, F::markdown, F::docx};
    for (F from : sources) {
        for (F to : targets) {
            if (from == to) continue;
            SCOPED_TRACE(from.displayName() + " -> " + to.displayName());
            std::filesystem::path output;
            ASSERT_NO_THROW(output = DC::convert(src.of(from), from, to, src.out));
            EXPECT_EQ(output.extension().string(), std::filesystem::path("x." + to.fileExtension()).extension().string());
            std::string seen = textSeenIn(output, to);
            EXPECT_NE(seen.find(expectedText(from)), std::string::npos) << seen;
        }
    }
}

TEST(DocumentRoutes, RichTextKeepsItsShapeIntoMarkdown) {
    Sources src;
    EXPECT_EQ(readText(DC::convert(src.docx, F::docx, F::markdown, src.out)), "# **Report Title**\n\nReport body **text**.\n");
    EXPECT_EQ(readText(DC::convert(src.rtf, F::rtf, F::markdown, src.out)), "# **Letter Head**\n\nBody with *italic* words.\n");
    std::string md = readText(DC::convert(src.html, F::html, F::markdown, src.out));
    EXPECT_EQ(md, "# **Big**\n\nPara **bold** [link](https://example.com/)\n");
}

TEST(DocumentRoutes, PlainTextWritersKeepMarkupLiterally) {
    Sources src;
    auto rtf = text::readRTF(readText(DC::convert(src.md, F::markdown, F::rtf, src.out)));
    EXPECT_EQ(rtf.plainText(), "# Heading\n\nSome **bold** text.");
    EXPECT_DOUBLE_EQ(rtf.runs().front().attributes.font->pointSize, 14);
    EXPECT_FALSE(rtf.runs().front().attributes.foreground);
    auto fromText = text::readRTF(readText(DC::convert(src.txt, F::txt, F::rtf, src.out)));
    ASSERT_TRUE(fromText.runs().front().attributes.foreground);
    auto docx = text::readDOCX(calvoro::testing::readFile(DC::convert(src.md, F::markdown, F::docx, src.out)));
    EXPECT_EQ(docx.plainText(), "# Heading\n\nSome **bold** text.");
    EXPECT_DOUBLE_EQ(docx.runs().front().attributes.font->pointSize, 12);
}

TEST(DocumentRoutes, TextToHTMLParagraphsAndTitle) {
    TempDir dir;
    writeFile(dir / "R&D <notes>.txt", std::string("a & b\n\nline1\nline2\n\n\nx"));
    DC::textToHTML(dir / "R&D <notes>.txt", dir / "o.html");
    std::string page = readText(dir / "o.html");
    EXPECT_NE(page.find("<title>R&amp;D &lt;notes&gt;</title>"), std::string::npos);
    EXPECT_NE(page.find("<body><p>a &amp; b</p>\n<p>line1<br>line2</p>\n<p><br>x</p></body>\n</html>"), std::string::npos) << page;
}

TEST(DocumentRoutes, PDFToHTMLLooksAtPageTextNotMarkup) {
    TempDir dir;
    calvoro::testing::makeTextPDF(dir / "three.pdf", {"", "", "Only page three"});
    DC::pdfToHTML(dir / "three.pdf", dir / "o.html");
    std::string page = readText(dir / "o.html");
    EXPECT_NE(page.find("<body><div class=\"page\"><p></p></div>\n<div class=\"page\"><p></p></div>\n<div class=\"page\"><p>Only page three"), std::string::npos) << page;
    calvoro::testing::makeTextPDF(dir / "blank.pdf", {"", ""});
    for (F to : {F::html, F::txt, F::rtf, F::docx, F::markdown}) {
        try {
            DC::convert(dir / "blank.pdf", F::pdf, to, dir.path());
            ADD_FAILURE() << to.displayName();
        } catch (const ConversionError& e) {
            EXPECT_STREQ(e.what(), "File appears corrupt: PDF contains no extractable text (may be scanned/image-based)");
        }
    }
}

TEST(DocumentRoutes, NoRouteAndUnreadableSources) {
    TempDir dir;
    writeFile(dir / "same.txt", std::string("x"));
    try {
        DC::convert(dir / "same.txt", F::txt, F::txt, dir.path());
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "Converting TXT \xE2\x86\x92 TXT is not supported.");
    }
    // The refused job's name stays reserved.
    EXPECT_EQ(DC::convert(dir / "same.txt", F::txt, F::html, dir.path()).filename(), "same.html");
    writeFile(dir / "a.md", std::string("# x"));
    EXPECT_EQ(DC::convert(dir / "a.md", F::markdown, F::txt, dir.path()).filename(), "a.txt");
    if (geteuid() != 0) {
        writeFile(dir / "locked.txt", std::string("x"));
        chmod((dir / "locked.txt").c_str(), 0);
        try {
            DC::convert(dir / "locked.txt", F::txt, F::html, dir.path());
            FAIL();
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.kind(), ConversionError::Kind::fileAccessDenied);
        }
    }
    EXPECT_THROW(DC::convert(dir / "missing.txt", F::txt, F::html, dir.path()), ConversionError);
}

TEST(DocumentRoutes, TextAndMarkdownOfAnyEncodingBecomeUTF8EachWay) {
    TempDir dir;
    writeFile(dir / "l.md", std::string("caf\xE9"));
    EXPECT_EQ(readText(DC::convert(dir / "l.md", F::markdown, F::txt, dir.path())), "caf\xC3\xA9");
    writeFile(dir / "latin.txt", std::string("bytes \xE9 kept"));
    EXPECT_EQ(readText(DC::convert(dir / "latin.txt", F::txt, F::markdown, dir.path())), "bytes \xC3\xA9 kept");
    // UTF-16 with its byte-order mark: "é!" little-endian.
    writeFile(dir / "wide.txt", std::string("\xFF\xFE\xE9\x00!\x00", 6));
    EXPECT_EQ(readText(DC::convert(dir / "wide.txt", F::txt, F::markdown, dir.path())), "\xC3\xA9!");
}

TEST(DocumentRoutes, AFormFeedStartsANewPageInEveryPagedTarget) {
    TempDir dir;
    writeFile(dir / "ff.txt", std::string("page one\n\fpage two\n"));
    ASSERT_TRUE(peerInstalled("pdfinfo"));
    ASSERT_TRUE(peerInstalled("pdftotext"));
    auto pdf = DC::convert(dir / "ff.txt", F::txt, F::pdf, dir.path());
    EXPECT_EQ(calvoro::testing::pdfinfoField(run("pdfinfo " + shellQuote(pdf.string())).output, "Pages"), "2");
    EXPECT_NE(run("pdftotext -f 2 -l 2 " + shellQuote(pdf.string()) + " -").output.find("page two"), std::string::npos);
    auto docx = DC::convert(dir / "ff.txt", F::txt, F::docx, dir.path());
    const auto xml = run("unzip -p " + shellQuote(docx.string()) + " word/document.xml").output;
    EXPECT_NE(xml.find("<w:br w:type=\"page\"/>"), std::string::npos) << xml;
    ASSERT_TRUE(peerInstalled("pandoc"));
    const auto plain = textSeenIn(docx, F::docx);
    EXPECT_NE(plain.find("page one"), std::string::npos);
    EXPECT_NE(plain.find("page two"), std::string::npos);
    const auto html = readText(DC::convert(dir / "ff.txt", F::txt, F::html, dir.path()));
    EXPECT_EQ(html.find('\f'), std::string::npos);
    EXPECT_NE(html.find("<p>page one</p>\n<p style=\"break-before:page\">page two<br></p>"), std::string::npos) << html;
    // Blank lines part paragraphs, other line ends break them, and the byte-order mark goes.
    writeFile(dir / "p.txt", std::string("\xEF\xBB\xBF" "a<b & c\n\nline one\nline two"));
    const auto paragraphs = readText(DC::convert(dir / "p.txt", F::txt, F::html, dir.path()));
    EXPECT_NE(paragraphs.find("<body><p>a&lt;b &amp; c</p>\n<p>line one<br>line two</p></body>"), std::string::npos) << paragraphs;
    const auto rtf = readText(DC::convert(dir / "ff.txt", F::txt, F::rtf, dir.path()));
    const auto pageBreak = rtf.find("\\page\n");
    ASSERT_NE(pageBreak, std::string::npos) << rtf;
    EXPECT_LT(rtf.find("page one"), pageBreak);
    EXPECT_GT(rtf.find("page two"), pageBreak);
}

TEST(DocumentRoutes, BrokenRichTextIsAnError) {
    TempDir dir;
    writeFile(dir / "bad.rtf", std::string("not rtf"));
    writeFile(dir / "bad.docx", std::string("PK not a zip"));
    EXPECT_THROW(DC::convert(dir / "bad.rtf", F::rtf, F::txt, dir.path()), ConversionError);
    EXPECT_THROW(DC::convert(dir / "bad.docx", F::docx, F::html, dir.path()), ConversionError);
    EXPECT_FALSE(std::filesystem::exists(dir / "bad.txt"));
}

TEST(DocumentRoutes, PDFTargetsFromEverySource) {
    ASSERT_TRUE(peerInstalled("pdftotext"));
    Sources src;
    for (F from : {F::rtf, F::txt, F::html, F::markdown, F::docx}) {
        SCOPED_TRACE(from.displayName());
        std::filesystem::path output;
        ASSERT_NO_THROW(output = DC::convert(src.of(from), from, F::pdf, src.out));
        auto r = run("pdftotext " + shellQuote(output.string()) + " -");
        EXPECT_EQ(r.status, 0) << r.output;
        EXPECT_NE(r.output.find(expectedText(from)), std::string::npos) << r.output;
    }
    // Markdown is printed as typed, and RTF keeps its text only.
    auto md = run("pdftotext " + shellQuote((src.out / "readme.pdf").string()) + " -").output;
    EXPECT_NE(md.find("# Heading"), std::string::npos) << md;
}

TEST(DocumentRoutes, DOCXWithoutTextIsRefusedBeforeRendering) {
    calvoro::testing::ScopedTemporaryFolder tmp;
    TempDir dir;
    writeFile(dir / "empty.docx", text::writeDOCX(text::AttributedString()));
    try {
        DC::convert(dir / "empty.docx", F::docx, F::pdf, dir.path());
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "File appears corrupt: Document produced no readable text \xE2\x80\x94 it may be empty or unsupported");
    }
    EXPECT_EQ(calvoro::testing::countTemporaryItems("Calvoro_"), 0);
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.pdf"));
}
