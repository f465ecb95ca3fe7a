#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include "converters/document/document_converter.h"
#include "support/test_support.h"
#include "platform/zip/zip_archive.h"

using namespace calvoro;
namespace DC = calvoro::DocumentConverter;
using calvoro::testing::haveTool;
using calvoro::testing::readText;
using calvoro::testing::run;
using calvoro::testing::shellQuote;
using calvoro::testing::TempDir;
using calvoro::testing::writeFile;
using F = SupportedFormat;

namespace {

// pandoc's DOCX and RTF of a Markdown text with headings, a footnote, a nested list, a table and
// a picture: documents made by another program.
struct Samples {
    TempDir dir;
    std::vector<uint8_t> png;
    bool made = false;

    Samples() {
        if (!haveTool("pandoc")) return;
        QImage image(100, 50, QImage::Format_RGB32);
        image.fill(Qt::red);
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        png.assign(bytes.begin(), bytes.end());
        writeFile(dir / "red.png", png);
        writeFile(dir / "d.md", std::string("# Level one\n\n## Level two\n\n### Level three\n\nBody text.[^n]\n\n"
                                            "- bullet A\n    - nested B\n\n| H1 | H2 |\n|----|----|\n| c1 | c2 |\n\n"
                                            "![cap](red.png)\n\n[^n]: Footnote body zebra.\n"));
        std::string cd = "cd " + shellQuote(dir.path().string()) + " && ";
        made = run(cd + "pandoc d.md -o d.docx").status == 0 && run(cd + "pandoc d.md -s -o d.rtf").status == 0;
    }

    std::filesystem::path convert(F source, F target) {
        auto out = dir / ("out-" + source.fileExtension() + "-" + target.fileExtension());
        std::filesystem::create_directories(out);
        return DC::convert(dir / ("d." + source.fileExtension()), source, target, out);
    }
};


}  // namespace

TEST(RichDocuments, EveryTextTargetKeepsEveryWordAndTheListMarkers) {
    Samples s;
    ASSERT_TRUE(s.made) << "pandoc could not make the samples; scripts/setup installs it";
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
    ASSERT_TRUE(s.made) << "pandoc could not make the samples; scripts/setup installs it";
    std::string md = readText(s.convert(F::docx, F::markdown));
    EXPECT_EQ(md.rfind("# **Level one**\n\n## **Level two**\n\n### **Level three**\n\nBody text", 0), 0u) << md;
}

TEST(RichDocuments, PDFFromDOCXAndRTFHoldsTheTableThePictureAndTheNote) {
    Samples s;
    ASSERT_TRUE(s.made) << "pandoc could not make the samples; scripts/setup installs it";
    ASSERT_TRUE(haveTool("pdftotext") && haveTool("pdfimages")) << "poppler-utils is missing; scripts/setup installs it";
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

TEST(RichDocuments, RTFToDOCXIsReadByPythonDocxAndPandoc) {
    Samples s;
    ASSERT_TRUE(s.made) << "pandoc could not make the samples; scripts/setup installs it";
    auto docx = s.convert(F::rtf, F::docx);
    auto plain = run("pandoc -f docx -t plain " + shellQuote(docx.string()));
    for (const char* word : {"Level one", "zebra", "bullet A", "nested B", "c2"})
        EXPECT_NE(plain.output.find(word), std::string::npos) << word << "\n" << plain.output;
    ASSERT_TRUE(calvoro::testing::pythonHas("docx")) << "python3-docx is missing; scripts/setup installs it";
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
    ASSERT_TRUE(s.made) << "pandoc could not make the samples; scripts/setup installs it";
    std::vector<std::filesystem::path> books;
    for (F source : {F::docx, F::rtf}) {
        books.push_back(s.convert(source, F::epub));
        std::map<std::string, std::string> entries;
        for (auto& m : ArchiveConverter::readZIP(calvoro::testing::readFile(books.back()))) entries[m.name] = std::string(m.data.begin(), m.data.end());
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
