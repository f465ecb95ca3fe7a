#include <gtest/gtest.h>

#include <QBuffer>
#include <QImage>

#include "platform/text/docx.h"
#include "platform/text/html.h"
#include "platform/text/rtf.h"
#include "support/pandoc_samples.h"
#include "support/test_support.h"
#include "platform/zip/zip_archive.h"
#include "run_lookup.h"

using namespace calvoro::text;
using calvoro::testing::PandocSamples;
using calvoro::testing::peerInstalled;
using calvoro::testing::readFile;
using calvoro::testing::redPNG;
using calvoro::testing::run;
using calvoro::testing::runHolding;
using calvoro::testing::shellQuote;
using calvoro::testing::TempDir;
using calvoro::testing::writeFile;

namespace {

// The samples as our readers read them.
AttributedString docxOf(const PandocSamples& samples) { return readDOCX(readFile(samples.document("docx"))); }
AttributedString rtfOf(const PandocSamples& samples) {
    auto bytes = readFile(samples.document("rtf"));
    return readRTF(std::string(bytes.begin(), bytes.end()));
}

// The paragraph that holds needle, counted from 0, or -1.
int paragraphOf(const AttributedString& s, const QString& needle) {
    qsizetype at = s.characters().indexOf(needle);
    return at < 0 ? -1 : static_cast<int>(s.characters().left(at).count(QChar('\n')));
}

QString paragraphText(const AttributedString& s, int paragraph) { return s.characters().split(QChar('\n')).value(paragraph); }

Block blockOf(const AttributedString& s, const QString& needle) {
    int p = paragraphOf(s, needle);
    return p >= 0 && s.block(p) ? *s.block(p) : Block{};
}

const Picture* firstPicture(const AttributedString& s) {
    for (const Run& r : s.runs())
        if (r.attributes.picture) return r.attributes.picture.get();
    return nullptr;
}

// What both readers must keep of the sample: every word, the note after the body with its mark,
// the table's cells, the list's levels and markers, and the picture's own bytes.
void expectStructure(const AttributedString& s, const std::vector<uint8_t>& png) {
    QString chars = s.characters();
    EXPECT_TRUE(chars.contains("Body text.[1]")) << chars.toStdString();
    int note = paragraphOf(s, "Footnote body zebra.");
    ASSERT_GE(note, 0) << chars.toStdString();
    EXPECT_EQ(paragraphText(s, note), "[1] Footnote body zebra.");
    EXPECT_GT(note, paragraphOf(s, "c2"));

    const std::pair<const char*, std::pair<int, int>> cells[] = {{"H1", {0, 0}}, {"H2", {0, 1}}, {"c1", {1, 0}}, {"c2", {1, 1}}};
    for (const auto& [text, at] : cells) {
        Block b = blockOf(s, text);
        EXPECT_EQ(b.table, 0) << text;
        EXPECT_EQ(std::make_pair(b.row, b.column), at) << text;
        EXPECT_EQ(paragraphText(s, paragraphOf(s, text)), text);
    }
    EXPECT_EQ(blockOf(s, "Body text").table, -1);

    Block a = blockOf(s, "bullet A"), b = blockOf(s, "nested B");
    EXPECT_EQ(a.listLevel, 0);
    EXPECT_EQ(b.listLevel, 1);
    EXPECT_FALSE(a.ordered);
    EXPECT_EQ(paragraphText(s, paragraphOf(s, "bullet A")), QString::fromUtf8("•\tbullet A"));
    EXPECT_EQ(paragraphText(s, paragraphOf(s, "nested B")), QString::fromUtf8("\t◦\tnested B"));
    EXPECT_EQ(b.markerLength, 3);

    const Picture* picture = firstPicture(s);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->mimeType, "image/png");
    EXPECT_EQ(picture->bytes, png);
    EXPECT_GT(picture->width, 0);
    EXPECT_NEAR(picture->width / picture->height, 2.0, 0.01);
    EXPECT_EQ(s.plainText().find("\xEF\xBF\xBC"), std::string::npos) << "the placeholder is not text";
}

}  // namespace

TEST(DocumentStructure, DOCXFromPandocKeepsNotesTablesListsAndPictures) {
    PandocSamples samples;
    ASSERT_TRUE(samples.made);
    expectStructure(docxOf(samples), samples.png);
}

TEST(DocumentStructure, RTFFromPandocKeepsNotesTablesListsAndPictures) {
    PandocSamples samples;
    ASSERT_TRUE(samples.made);
    expectStructure(rtfOf(samples), samples.png);
}

TEST(DocumentStructure, DOCXHeadingStylesScaleAgainstTheBody) {
    PandocSamples samples;
    ASSERT_TRUE(samples.made);
    auto s = docxOf(samples);
    double body = runHolding(s, "Body text")->attributes.font->pointSize;
    auto heading = [&](const char* text) { return runHolding(s, text)->attributes.font; };
    // pandoc's Heading 1 and 2 are 16 and 14 pt over a 12 pt body: too close to tell apart.
    EXPECT_GE(heading("Level one")->pointSize / body, 1.8);
    EXPECT_GE(heading("Level two")->pointSize / body, 1.4);
    EXPECT_LT(heading("Level two")->pointSize / body, 1.8);
    EXPECT_GE(heading("Level three")->pointSize / body, 1.15);
    EXPECT_LT(heading("Level three")->pointSize / body, 1.4);
    for (const char* h : {"Level one", "Level two", "Level three"}) EXPECT_TRUE(heading(h)->bold) << h;
    EXPECT_FALSE(runHolding(s, "Body text")->attributes.font->bold);
}

TEST(DocumentStructure, WordStyleRTFListsAndTables) {
    // Word's way: list levels by \ilvl with the marker in \listtext; cells ended by \cell alone.
    std::string rtf =
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}{\\f1 Symbol;}}"
        "{\\listtext\\f1 \\'b7\\tab}\\pard\\ls1\\ilvl0 one\\par"
        "{\\listtext\\f1 o\\tab}\\pard\\ls1\\ilvl1 two\\par"
        "{\\listtext 1.\\tab}\\pard\\ls2\\ilvl0 three\\par"
        "\\pard after\\par"
        "\\trowd\\cellx1000\\cellx2000\\pard\\intbl alpha\\cell \\cell\\row"
        "\\pard end}";
    auto s = readRTF(rtf);
    EXPECT_EQ(blockOf(s, "one").listLevel, 0);
    EXPECT_EQ(blockOf(s, "two").listLevel, 1);
    EXPECT_EQ(paragraphText(s, paragraphOf(s, "two")), QString::fromUtf8("\t◦\ttwo"));
    EXPECT_TRUE(blockOf(s, "three").ordered);
    EXPECT_EQ(paragraphText(s, paragraphOf(s, "three")), "1.\tthree");
    EXPECT_EQ(blockOf(s, "after").listLevel, -1);
    EXPECT_EQ(paragraphText(s, paragraphOf(s, "after")), "after");
    // The empty second cell is a paragraph of its own.
    int a = paragraphOf(s, "alpha");
    ASSERT_TRUE(s.block(a + 1));
    EXPECT_EQ(s.block(a + 1)->column, 1);
    EXPECT_EQ(paragraphText(s, a + 1), "");
    EXPECT_EQ(blockOf(s, "end").table, -1);
}

namespace {

// Every structure, made directly, for the writers.
AttributedString structured(const std::vector<uint8_t>& png) {
    Attributes body;
    body.font = systemFont(12);
    AttributedString s;
    s.append("Intro\n", body);
    s.append(listItemPrefix(0, false, 1) + "outer", body);
    s.setBlock({0, false, 2});
    s.append("\n", body);
    s.append(listItemPrefix(1, false, 1) + "inner", body);
    s.setBlock({1, false, 3});
    s.append("\n", body);
    const char* cells[2][2] = {{"H1", "H2"}, {"c1", "c2"}};
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 2; ++c) {
            s.append(cells[r][c], body);
            Block b;
            b.table = 0;
            b.row = r;
            b.column = c;
            s.setBlock(b);
            s.append("\n", body);
        }
    Attributes picture = body;
    auto p = std::make_shared<Picture>();
    p->bytes = png;
    p->mimeType = "image/png";
    p->width = 100;
    p->height = 50;
    picture.picture = p;
    s.append(QString(QChar(attachmentCharacter)), picture);
    s.append("\nTail", body);
    return s;
}


}  // namespace

TEST(DocumentStructure, DOCXWriterGivesTablesListsAndPicturesToPythonDocx) {
    ASSERT_TRUE(calvoro::testing::pythonModuleInstalled("docx"));
    TempDir dir;
    writeFile(dir / "out.docx", writeDOCX(structured(redPNG())));
    std::string out = calvoro::testing::pythonOutput(
        "import sys, docx\n"
        "d = docx.Document(sys.argv[1])\n"
        "for t in d.tables:\n"
        "    print('table', [[c.text for c in r.cells] for r in t.rows])\n"
        "print('pictures', len(d.inline_shapes))\n"
        "for p in d.paragraphs:\n"
        "    n = p._p.pPr.numPr if p._p.pPr is not None else None\n"
        "    if n is not None: print('item', n.ilvl.val, p.text)\n"
        "print('texts', [p.text for p in d.paragraphs])\n",
        dir / "out.docx");
    EXPECT_NE(out.find("table [['H1', 'H2'], ['c1', 'c2']]"), std::string::npos) << out;
    EXPECT_NE(out.find("pictures 1"), std::string::npos) << out;
    EXPECT_NE(out.find("item 0 outer"), std::string::npos) << out;
    EXPECT_NE(out.find("item 1 inner"), std::string::npos) << out;
    EXPECT_NE(out.find("'Tail'"), std::string::npos) << out;
}

TEST(DocumentStructure, HTMLWriterNestsListsAndHoldsTablesAndDataPictures) {
    TempDir dir;
    writeFile(dir / "out.html", writeHTML(structured(redPNG())));
    std::string out = calvoro::testing::pythonOutput(
        "import sys\n"
        "from html.parser import HTMLParser\n"
        "class P(HTMLParser):\n"
        "    def __init__(s):\n"
        "        super().__init__(); s.stack = []; s.cells = []; s.items = []; s.imgs = []; s.text = None\n"
        "    def handle_starttag(s, t, a):\n"
        "        s.stack.append(t)\n"
        "        if t == 'img': a = dict(a); s.imgs.append((a.get('src', '')[:22], a.get('width'), a.get('height'))); s.stack.pop()\n"
        "    def handle_endtag(s, t):\n"
        "        while s.stack and s.stack.pop() != t: pass\n"
        "    def handle_data(s, d):\n"
        "        if not d.strip(): return\n"
        "        if 'td' in s.stack: s.cells.append(d.strip())\n"
        "        if 'li' in s.stack: s.items.append((sum(1 for x in s.stack if x in ('ul', 'ol')), d.strip()))\n"
        "p = P(); p.feed(open(sys.argv[1]).read())\n"
        "print('cells', p.cells); print('items', p.items); print('imgs', p.imgs)\n",
        dir / "out.html");
    EXPECT_NE(out.find("cells ['H1', 'H2', 'c1', 'c2']"), std::string::npos) << out;
    EXPECT_NE(out.find("items [(1, 'outer'), (2, 'inner')]"), std::string::npos) << out;
    // 100 × 50 points in whole CSS pixels.
    EXPECT_NE(out.find("imgs [('data:image/png;base64,', '133', '67')]"), std::string::npos) << out;
}

TEST(DocumentStructure, RTFWriterIsReadAsRowsListsAndPictures) {
    ASSERT_TRUE(peerInstalled("pandoc"));
    TempDir dir;
    auto png = redPNG();
    std::string rtf = writeRTF(structured(png));
    writeFile(dir / "out.rtf", rtf);
    auto r = run("cd " + shellQuote(dir.path().string()) + " && pandoc -f rtf -t html --extract-media=m out.rtf");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("<td><p>H1</p></td>"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("<td><p>c2</p></td>"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("<img"), std::string::npos) << r.output;
    // Our reader finds the same structure again.
    auto again = readRTF(rtf);
    EXPECT_EQ(blockOf(again, "inner").listLevel, 1);
    EXPECT_EQ(blockOf(again, "c2").row, 1);
    EXPECT_EQ(blockOf(again, "c2").column, 1);
    ASSERT_TRUE(firstPicture(again));
    EXPECT_EQ(firstPicture(again)->bytes, png);
    EXPECT_EQ(blockOf(again, "Tail").table, -1);
}

TEST(DocumentStructure, HTMLReaderKeepsNestedListsTablesAndDataPictures) {
    auto png = redPNG();
    QByteArray base64 = QByteArray(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size())).toBase64();
    auto s = readHTML("<html><body><p>Intro</p><ul><li>outer<ul><li>inner</li></ul></li></ul><ol><li>first</li><li>second</li></ol>"
                      "<table><tr><td>x</td><td>y</td></tr><tr><td>z</td><td>w</td></tr></table>"
                      "<p><img src=\"data:image/png;base64," + base64.toStdString() + "\" width=\"200\" height=\"100\"></p></body></html>");
    EXPECT_EQ(blockOf(s, "outer").listLevel, 0);
    EXPECT_EQ(blockOf(s, "inner").listLevel, 1);
    EXPECT_EQ(paragraphText(s, paragraphOf(s, "inner")), QString::fromUtf8("\t◦\tinner"));
    EXPECT_EQ(paragraphText(s, paragraphOf(s, "second")), "2.\tsecond");
    EXPECT_TRUE(blockOf(s, "second").ordered);
    EXPECT_EQ(blockOf(s, "w").row, 1);
    EXPECT_EQ(blockOf(s, "w").column, 1);
    EXPECT_EQ(blockOf(s, "Intro").table, -1);
    const Picture* picture = firstPicture(s);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->bytes, png);
    EXPECT_DOUBLE_EQ(picture->width, 150);
}

namespace {

std::vector<uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

// A package written by hand in Word's ways: a VML picture, a drawing with a fallback, a numbered
// list, an endnote and a Title paragraph.
std::vector<uint8_t> wordStyleDOCX(const std::vector<uint8_t>& png) {
    const std::string w = "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
                          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";
    const std::string drawing = "<w:drawing><wp:inline xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\">"
                                "<wp:extent cx=\"254000\" cy=\"127000\"/><a:graphic xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">"
                                "<a:graphicData><a:blip r:embed=\"rId5\"/></a:graphicData></a:graphic></wp:inline></w:drawing>";
    std::string document =
        "<w:document " + w + " xmlns:v=\"urn:schemas-microsoft-com:vml\" xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\"><w:body>"
        "<w:p><w:pPr><w:pStyle w:val=\"Title\"/></w:pPr><w:r><w:t>Big title</w:t></w:r></w:p>"
        "<w:p><w:r><w:t>Body</w:t></w:r><w:r><w:endnoteReference w:id=\"2\"/></w:r></w:p>"
        "<w:p><w:pPr><w:numPr><w:ilvl w:val=\"0\"/><w:numId w:val=\"3\"/></w:numPr></w:pPr><w:r><w:t>one</w:t></w:r></w:p>"
        "<w:p><w:pPr><w:numPr><w:ilvl w:val=\"0\"/><w:numId w:val=\"3\"/></w:numPr></w:pPr><w:r><w:t>two</w:t></w:r></w:p>"
        "<w:p><w:r><w:pict><v:shape style=\"width:30pt;height:15pt\"><v:imagedata r:id=\"rId5\"/></v:shape></w:pict></w:r></w:p>"
        "<w:p><w:r><mc:AlternateContent><mc:Choice Requires=\"wps\">" + drawing + "</mc:Choice><mc:Fallback><w:pict><v:shape>"
        "<v:imagedata r:id=\"rId5\"/></v:shape></w:pict></mc:Fallback></mc:AlternateContent></w:r></w:p>"
        "</w:body></w:document>";
    std::string rels =
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles\" Target=\"styles.xml\"/>"
        "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/numbering\" Target=\"numbering.xml\"/>"
        "<Relationship Id=\"rId3\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/endnotes\" Target=\"endnotes.xml\"/>"
        "<Relationship Id=\"rId5\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/image\" Target=\"media/p.png\"/>"
        "</Relationships>";
    std::string styles = "<w:styles " + w + "><w:docDefaults><w:rPrDefault><w:rPr><w:sz w:val=\"22\"/></w:rPr></w:rPrDefault></w:docDefaults>"
                         "<w:style w:type=\"paragraph\" w:styleId=\"Title\"><w:name w:val=\"Title\"/><w:rPr><w:sz w:val=\"28\"/></w:rPr></w:style>"
                         "</w:styles>";
    std::string numbering = "<w:numbering " + w + "><w:abstractNum w:abstractNumId=\"7\"><w:lvl w:ilvl=\"0\"><w:numFmt w:val=\"decimal\"/>"
                            "<w:lvlText w:val=\"%1.\"/></w:lvl></w:abstractNum><w:num w:numId=\"3\"><w:abstractNumId w:val=\"7\"/></w:num></w:numbering>";
    std::string endnotes = "<w:endnotes " + w + "><w:endnote w:id=\"1\" w:type=\"separator\"><w:p><w:r><w:separator/></w:r></w:p></w:endnote>"
                           "<w:endnote w:id=\"2\"><w:p><w:r><w:endnoteRef/></w:r><w:r><w:t xml:space=\"preserve\"> End words.</w:t></w:r></w:p></w:endnote></w:endnotes>";
    std::vector<calvoro::zip::ZipEntry> entries{
        {"word/document.xml", bytesOf(document)}, {"word/_rels/document.xml.rels", bytesOf(rels)}, {"word/styles.xml", bytesOf(styles)},
        {"word/numbering.xml", bytesOf(numbering)}, {"word/endnotes.xml", bytesOf(endnotes)}, {"word/media/p.png", png}};
    return calvoro::zip::writeZIP(entries);
}

}  // namespace

TEST(DocumentStructure, DOCXInWordsWays) {
    auto png = redPNG();
    auto s = readDOCX(wordStyleDOCX(png));
    EXPECT_GE(runHolding(s, "Big title")->attributes.font->pointSize, 2 * 11.0);
    EXPECT_TRUE(runHolding(s, "Big title")->attributes.font->bold);
    EXPECT_EQ(paragraphText(s, paragraphOf(s, "Body")), "Body[i]");
    EXPECT_EQ(paragraphText(s, paragraphOf(s, "one")), "1.\tone");
    EXPECT_EQ(paragraphText(s, paragraphOf(s, "two")), "2.\ttwo");
    EXPECT_TRUE(blockOf(s, "two").ordered);
    EXPECT_EQ(paragraphText(s, s.paragraphCount() - 1), "[i] End words.");
    // The VML picture and the drawing; the drawing's fallback is the same picture again.
    std::vector<const Picture*> pictures;
    for (const calvoro::text::Run& r : s.runs())
        if (r.attributes.picture) pictures.push_back(r.attributes.picture.get());
    ASSERT_EQ(pictures.size(), 2u);
    EXPECT_EQ(pictures[0]->bytes, png);
    EXPECT_DOUBLE_EQ(pictures[0]->width, 30);
    EXPECT_DOUBLE_EQ(pictures[1]->width, 20);
    EXPECT_DOUBLE_EQ(pictures[1]->height, 10);
}

TEST(DocumentStructure, PicturesWithoutASizeTakeTheirPixelsAt96PerInch) {
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(Qt::blue);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG");
    auto png = redPNG();
    std::string rtf = "{\\rtf1{\\pict\\jpegblip " + jpeg.toHex().toStdString() + "}{\\pict\\pngblip " +
                      QByteArray(reinterpret_cast<const char*>(png.data()), static_cast<qsizetype>(png.size())).toHex().toStdString() +
                      "}{\\pict\\pngblip 0102030405060708090a0b0c0d0e0f}}";
    auto s = readRTF(rtf);
    std::vector<const Picture*> pictures;
    for (const calvoro::text::Run& r : s.runs())
        if (r.attributes.picture) pictures.push_back(r.attributes.picture.get());
    // The third is no picture at all and is left out.
    ASSERT_EQ(pictures.size(), 2u);
    EXPECT_EQ(pictures[0]->mimeType, "image/jpeg");
    EXPECT_DOUBLE_EQ(pictures[0]->width, 30);
    EXPECT_DOUBLE_EQ(pictures[0]->height, 15);
    EXPECT_DOUBLE_EQ(pictures[1]->width, 75);
    EXPECT_DOUBLE_EQ(pictures[1]->height, 37.5);
}

TEST(DocumentStructure, DOCXTextBoxesAreReadOnceWhereTheyAreAnchored) {
    const std::string ns =
        "xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" xmlns:v=\"urn:schemas-microsoft-com:vml\" "
        "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" "
        "xmlns:wp=\"http://schemas.openxmlformats.org/drawingml/2006/wordprocessingDrawing\" "
        "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
        "xmlns:wps=\"http://schemas.microsoft.com/office/word/2010/wordprocessingShape\"";
    auto paragraphs = [](std::initializer_list<const char*> texts) {
        std::string out;
        for (const char* t : texts) out += std::string("<w:p><w:r><w:t>") + t + "</w:t></w:r></w:p>";
        return out;
    };
    auto drawing = [](const std::string& content) {
        return "<w:drawing><wp:anchor><wp:extent cx=\"914400\" cy=\"914400\"/><a:graphic><a:graphicData><wps:wsp><wps:txbx><w:txbxContent>" +
               content + "</w:txbxContent></wps:txbx></wps:wsp></a:graphicData></a:graphic></wp:anchor></w:drawing>";
    };
    auto vml = [](const std::string& content) {
        return "<w:pict><v:rect><v:textbox><w:txbxContent>" + content + "</w:txbxContent></v:textbox></v:rect></w:pict>";
    };
    const std::string box = paragraphs({"Boxed heading", "Boxed body"});
    const std::string document =
        "<w:document " + ns + "><w:body>"
        // A box in the middle of a paragraph, as LibreOffice and Word write it: the drawing with its VML fallback.
        "<w:p><w:r><w:t>Anchor text</w:t></w:r><w:r><mc:AlternateContent><mc:Choice Requires=\"wps\">" + drawing(box) +
        "</mc:Choice><mc:Fallback>" + vml(box) + "</mc:Fallback></mc:AlternateContent></w:r><w:r><w:t xml:space=\"preserve\"> continues</w:t></w:r></w:p>"
        // An old-style shape alone; a choice this reader cannot read gives way to its fallback.
        "<w:p><w:r>" + vml(paragraphs({"Old shape words"})) + "</w:r></w:p>"
        "<w:p><w:r><mc:AlternateContent><mc:Choice Requires=\"wpi\">" + drawing(paragraphs({"Ink choice"})) + "</mc:Choice><mc:Fallback>" +
        vml(paragraphs({"Ink fallback"})) + "</mc:Fallback></mc:AlternateContent></w:r></w:p>"
        // Alternate paragraphs between paragraphs.
        "<mc:AlternateContent><mc:Choice Requires=\"w14\">" + paragraphs({"Block choice"}) + "</mc:Choice><mc:Fallback>" +
        paragraphs({"Block fallback"}) + "</mc:Fallback></mc:AlternateContent>"
        // A box anchored in a cell stays in it; an empty one adds nothing.
        "<w:tbl><w:tr><w:tc><w:p><w:r><w:t>Cell</w:t></w:r><w:r>" + vml(paragraphs({"Cell box"})) + "</w:r><w:r>" + vml("<w:p/>") +
        "</w:r></w:p></w:tc><w:tc>" + paragraphs({"Next"}) + "</w:tc></w:tr></w:tbl>" + paragraphs({"End"}) + "</w:body></w:document>";
    auto s = readDOCX(calvoro::zip::writeZIP({{"word/document.xml", bytesOf(document)}}));
    EXPECT_EQ(s.plainText(),
              "Anchor text continues\nBoxed heading\nBoxed body\n\nOld shape words\n\nInk fallback\nBlock choice\nCell\nCell box\nNext\nEnd");
    const Block cell = blockOf(s, "Cell box");
    EXPECT_EQ(cell.table, 0);
    EXPECT_EQ(cell.column, 0);
    EXPECT_EQ(blockOf(s, "Next").column, 1);
    EXPECT_EQ(blockOf(s, "End").table, -1);
}
