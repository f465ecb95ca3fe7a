#include <gtest/gtest.h>

#include "converters/document/document_converter.h"
#include "converters/document/rich_text_print.h"
#include "core/conversion_error.h"
#include "support/pandoc_samples.h"
#include "support/test_support.h"
#include "platform/pdf/pdf_fixture.h"
#include "platform/zip/zip_archive.h"

using namespace calvoro;
namespace DC = calvoro::DocumentConverter;
using calvoro::testing::peerInstalled;
using calvoro::testing::readText;
using calvoro::testing::run;
using calvoro::testing::shellQuote;
using F = SupportedFormat;

namespace {

// The samples converted, each pair of formats into a folder of its own.
struct Samples : calvoro::testing::PandocSamples {
    std::filesystem::path convert(F source, F target) {
        auto out = dir / ("out-" + source.fileExtension() + "-" + target.fileExtension());
        std::filesystem::create_directories(out);
        return DC::convert(document(source.fileExtension()), source, target, out);
    }
};


}  // namespace

TEST(RichDocuments, EveryTextTargetKeepsEveryWordAndTheListMarkers) {
    Samples s;
    ASSERT_TRUE(s.made);
    for (F source : {F::docx, F::rtf}) {
        std::string txt = readText(s.convert(source, F::txt));
        std::string md = readText(s.convert(source, F::markdown));
        std::string html = readText(s.convert(source, F::html));
        // pandoc's RTF has no caption under the picture.
        for (const char* word : {"Level three", "Body text", "zebra", "bullet A", "nested B", "H2", "c2", source == F::docx ? "cap" : "c1"}) {
            EXPECT_NE(txt.find(word), std::string::npos) << source.displayName() << " txt " << word << "\n" << txt;
            EXPECT_NE(md.find(word), std::string::npos) << source.displayName() << " md " << word << "\n" << md;
            EXPECT_NE(html.find(word), std::string::npos) << source.displayName() << " html " << word;
        }
        EXPECT_NE(txt.find("Body text.[1]"), std::string::npos) << txt;
        EXPECT_NE(txt.find("\n[1] Footnote body zebra."), std::string::npos) << txt;
        EXPECT_NE(txt.find("\n•\tbullet A\n\t◦\tnested B\n"), std::string::npos) << txt;
        EXPECT_NE(md.find("\n• bullet A\n\n  ◦ nested B\n"), std::string::npos) << md;
    }
}

TEST(RichDocuments, DOCXHeadingsGiveThreeMarkdownLevels) {
    Samples s;
    ASSERT_TRUE(s.made);
    std::string md = readText(s.convert(F::docx, F::markdown));
    EXPECT_EQ(md.rfind("# **Level one**\n\n## **Level two**\n\n### **Level three**\n\nBody text", 0), 0u) << md;
}

TEST(RichDocuments, PDFFromDOCXAndRTFHoldsTheTableThePictureAndTheNote) {
    Samples s;
    ASSERT_TRUE(s.made);
    ASSERT_TRUE(peerInstalled("pdftotext"));
    ASSERT_TRUE(peerInstalled("pdfimages"));
    for (F source : {F::docx, F::rtf}) {
        SCOPED_TRACE(source.displayName());
        auto pdf = s.convert(source, F::pdf);
        auto text = run("pdftotext -layout " + shellQuote(pdf.string()) + " -");
        EXPECT_NE(text.output.find("zebra"), std::string::npos) << text.output;
        // The cells of a row stand side by side.
        EXPECT_NE(text.output.find("c1"), std::string::npos) << text.output;
        auto images = run("pdfimages -list " + shellQuote(pdf.string()));
        EXPECT_NE(images.output.find("  100    50  "), std::string::npos) << images.output;
    }
}

TEST(RichDocuments, ALongDocumentPrintedInPiecesGivesTheSamePagesAsInOnePiece) {
    calvoro::testing::TempDir dir;
    ASSERT_TRUE(peerInstalled("pdftotext"));
    // Headings, lists and paragraphs with margins of their own or of their first child, some lines cut
    // by page breaks, one paragraph longer than a page, a link to the last heading; about ten pages.
    std::string body = "<p><a href='#last'>To the end</a></p>";
    for (int i = 1; i <= 40; ++i) {
        if (i % 10 == 1) body += "<h1" + std::string(i == 31 ? " id='last'" : "") + ">Chapter " + std::to_string(i / 10 + 1) + "</h1>";
        std::string words;
        for (int w = 0; w < (i == 17 ? 900 : 45); ++w) words += " word" + std::to_string(i) + "x" + std::to_string(w);
        const std::string paragraph = "<p style='margin-top:" + std::to_string(i % 3 * 7) + "px'>Paragraph " + std::to_string(i) + words + "</p>";
        // A block whose first child's margin stands above it, collapsed through its own top.
        body += i % 7 == 0 ? "<ul><li>Item " + std::to_string(i) + "</li><li>" + words + "</li></ul>"
                           : (i % 2 == 0 ? "<div>" + paragraph + "</div>" : paragraph);
    }
    calvoro::testing::writeFile(dir / "long.html", "<html><head></head><body style='font-size:12pt'>\n" + body + "\n</body></html>");
    DC::printRichTextToPDF(dir / "long.html", dir / "whole.pdf");
    DC::printRichTextToPDF(dir / "long.html", dir / "pieces.pdf", 3000);
    const std::string pieces = shellQuote((dir / "pieces.pdf").string()), whole = shellQuote((dir / "whole.pdf").string());
    const std::string pages = calvoro::testing::pdfinfoField(run("pdfinfo " + whole).output, "Pages");
    EXPECT_GE(std::stoi(pages), 8);
    EXPECT_EQ(calvoro::testing::pdfinfoField(run("pdfinfo " + pieces).output, "Pages"), pages);
    EXPECT_EQ(run("pdftotext -layout " + pieces + " -").output, run("pdftotext -layout " + whole + " -").output);
    // Every page a letter sheet, its slice an inch below the top and its margins painted, as in one print.
    // (Each piece embeds its own subset of the fonts, whose glyphs may be drawn a shade apart.)
    const auto pictures = [](const std::string& pdf) {
        std::vector<std::string> out;
        const std::string all = run("pdftoppm -r 20 -gray " + pdf).output, header = "P5\n170 220\n255\n";
        for (size_t at = 0; at + header.size() + 170 * 220 <= all.size() && all.compare(at, header.size(), header) == 0;
             at += header.size() + 170 * 220)
            out.push_back(all.substr(at + header.size(), 170 * 220));
        return out;
    };
    const auto ours = pictures(pieces), theirs = pictures(whole);
    ASSERT_EQ(ours.size(), std::stoul(pages));
    ASSERT_EQ(theirs.size(), ours.size());
    for (size_t p = 0; p < ours.size(); ++p) {
        double difference = 0;
        for (size_t i = 0; i < ours[p].size(); ++i)
            difference += std::abs(static_cast<uint8_t>(ours[p][i]) - static_cast<uint8_t>(theirs[p][i]));
        EXPECT_LT(difference / ours[p].size(), 2.0) << "page " << p + 1;
    }
    EXPECT_EQ(run("pdfinfo -dests " + pieces).output, run("pdfinfo -dests " + whole).output);

    // A paragraph six pieces long is refused, not laid out whole.
    std::string words;
    for (int w = 0; w < 3000; ++w) words += " word" + std::to_string(w);
    calvoro::testing::writeFile(dir / "endless.html", "<html><head></head><body><p>First</p><p>" + words + "</p></body></html>");
    try {
        DC::printRichTextToPDF(dir / "endless.html", dir / "endless.pdf", 3000);
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_STREQ(error.what(), "File appears corrupt: This document has a paragraph or table too long to convert to PDF.");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "endless.pdf"));
}

TEST(RichDocuments, TextBoxesReachEveryTargetOnce) {
    calvoro::testing::TempDir dir;
    ASSERT_TRUE(calvoro::testing::pythonModuleInstalled("docx"));
    // A letter whose sender block stands in a text box, written as word processors write it: the
    // drawing, and the same box again in VML for readers that know no drawings.
    calvoro::testing::pythonOutput(
        "import sys, docx\n"
        "from docx.oxml import parse_xml\n"
        "ns = ('xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" '\n"
        "      'xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" xmlns:v=\"urn:schemas-microsoft-com:vml\" '\n"
        "      'xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" '\n"
        "      'xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" '\n"
        "      'xmlns:wps=\"http://schemas.microsoft.com/office/word/2010/wordprocessingShape\"')\n"
        "box = '<w:txbxContent><w:p><w:r><w:t>Boxed sender block</w:t></w:r></w:p></w:txbxContent>'\n"
        "run = ('<w:r %s><mc:AlternateContent><mc:Choice Requires=\"wps\"><w:drawing><wp:anchor><wp:extent cx=\"914400\" cy=\"457200\"/>'\n"
        "       '<a:graphic><a:graphicData><wps:wsp><wps:txbx>%s</wps:txbx></wps:wsp></a:graphicData></a:graphic></wp:anchor>'\n"
        "       '</w:drawing></mc:Choice><mc:Fallback><w:pict><v:rect><v:textbox>%s</v:textbox></v:rect></w:pict></mc:Fallback>'\n"
        "       '</mc:AlternateContent></w:r>') % (ns, box, box)\n"
        "d = docx.Document()\n"
        "d.add_paragraph('Letter opening')._p.append(parse_xml(run))\n"
        "d.add_paragraph('Body after the box')\n"
        "d.save(sys.argv[1])\n",
        dir / "letter.docx");
    ASSERT_TRUE(peerInstalled("pdftotext"));
    ASSERT_TRUE(peerInstalled("pandoc"));
    auto count = [](const std::string& text) {
        size_t n = 0;
        for (size_t at = text.find("Boxed sender block"); at != std::string::npos; at = text.find("Boxed sender block", at + 1)) ++n;
        return n;
    };
    for (F target : {F::txt, F::markdown, F::html, F::rtf, F::pdf, F::epub}) {
        SCOPED_TRACE(target.displayName());
        auto out = dir / ("out-" + target.fileExtension());
        std::filesystem::create_directories(out);
        const auto converted = DC::convert(dir / "letter.docx", F::docx, target, out);
        std::string text;
        if (target == F::pdf) {
            text = run("pdftotext " + shellQuote(converted.string()) + " -").output;
        } else if (target == F::rtf) {
            text = run("pandoc -f rtf -t plain " + shellQuote(converted.string())).output;
        } else if (target == F::epub) {
            for (auto& m : zip::readZIP(calvoro::testing::readFile(converted)))
                if (m.name.ends_with(".xhtml")) text += std::string(m.data.begin(), m.data.end());
        } else {
            text = readText(converted);
        }
        EXPECT_EQ(count(text), 1u) << text;
        EXPECT_LT(text.find("Letter opening"), text.find("Boxed sender block")) << text;
        EXPECT_LT(text.find("Boxed sender block"), text.find("Body after the box")) << text;
    }
}

TEST(RichDocuments, RTFToDOCXIsReadByPythonDocxAndPandoc) {
    Samples s;
    ASSERT_TRUE(s.made);
    auto docx = s.convert(F::rtf, F::docx);
    auto plain = run("pandoc -f docx -t plain " + shellQuote(docx.string()));
    for (const char* word : {"Level one", "zebra", "bullet A", "nested B", "c2"})
        EXPECT_NE(plain.output.find(word), std::string::npos) << word << "\n" << plain.output;
    ASSERT_TRUE(calvoro::testing::pythonModuleInstalled("docx"));
    std::string out = calvoro::testing::pythonOutput(
        "import sys, docx\n"
        "d = docx.Document(sys.argv[1])\n"
        "print('tables', [[[c.text for c in r.cells] for r in t.rows] for t in d.tables])\n"
        "print('pictures', len(d.inline_shapes))\n",
        docx);
    EXPECT_NE(out.find("tables [[['H1', 'H2'], ['c1', 'c2']]]"), std::string::npos) << out;
    EXPECT_NE(out.find("pictures 1"), std::string::npos) << out;
}

TEST(RichDocuments, EPUBKeepsThePictureAsAFileOfThePackage) {
    Samples s;
    ASSERT_TRUE(s.made);
    std::vector<std::filesystem::path> books;
    for (F source : {F::docx, F::rtf}) {
        books.push_back(s.convert(source, F::epub));
        std::map<std::string, std::string> entries;
        for (auto& m : zip::readZIP(calvoro::testing::readFile(books.back()))) entries[m.name] = std::string(m.data.begin(), m.data.end());
        EXPECT_EQ(entries["OEBPS/images/image1.png"], std::string(s.png.begin(), s.png.end()));
        EXPECT_NE(entries["OEBPS/content.opf"].find("href=\"images/image1.png\" media-type=\"image/png\""), std::string::npos);
        const std::string& chapter = entries["OEBPS/chapter1.xhtml"];
        EXPECT_NE(chapter.find("<img src=\"images/image1.png\" alt=\"\" width=\""), std::string::npos) << chapter;
        EXPECT_EQ(chapter.find("data:"), std::string::npos);
        EXPECT_NE(chapter.find("<table"), std::string::npos);
    }
    const auto checks = calvoro::testing::epubcheck(books);
    for (size_t i = 0; i < books.size(); ++i) EXPECT_EQ(checks[i].status, 0) << books[i].filename() << "\n" << checks[i].output;
}
