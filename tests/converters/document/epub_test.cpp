#include <gtest/gtest.h>

#include <map>

#include "converters/document/document_converter.h"
#include "core/conversion_error.h"
#include "document_fixtures.h"
#include "platform/text/docx.h"
#include "support/test_support.h"
#include "platform/zip/zip_archive.h"

using namespace calvoro;
namespace DC = calvoro::DocumentConverter;
using calvoro::testing::TempDir;
using calvoro::testing::writeFile;
using F = SupportedFormat;

namespace {

std::map<std::string, std::string> entriesOf(const std::filesystem::path& epub) {
    auto bytes = calvoro::testing::readFile(epub);
    std::map<std::string, std::string> out;
    for (auto& m : zip::readZIP(bytes)) out[m.name] = std::string(m.data.begin(), m.data.end());
    return out;
}

std::string chapterBody(const std::string& chapter) {
    size_t b = chapter.find("<body>\n");
    size_t e = chapter.rfind("\n</body>");
    return chapter.substr(b + 7, e - b - 7);
}

}  // namespace

TEST(EPUB, PackageLayoutAndTemplates) {
    TempDir dir;
    writeFile(dir / "x&y\".txt", std::string("a<b & c"));
    DC::anyToEPUB(dir / "x&y\".txt", F::txt, dir / "book.epub");
    auto bytes = calvoro::testing::readFile(dir / "book.epub");
    // The first entry is "mimetype", stored, at offset 0.
    ASSERT_GT(bytes.size(), 60u);
    EXPECT_EQ(std::string(bytes.begin() + 30, bytes.begin() + 38), "mimetype");
    EXPECT_EQ(bytes[8], 0);
    EXPECT_EQ(std::string(bytes.begin() + 38, bytes.begin() + 58), "application/epub+zip");
    auto e = entriesOf(dir / "book.epub");
    EXPECT_EQ(e["META-INF/container.xml"].size(), 251u);
    EXPECT_NE(e["OEBPS/content.opf"].find("<dc:title>x&amp;y&quot;</dc:title>"), std::string::npos);
    EXPECT_NE(e["OEBPS/nav.xhtml"].find("<a href=\"chapter1.xhtml\">x&amp;y&quot;</a>"), std::string::npos);
    EXPECT_EQ(chapterBody(e["OEBPS/chapter1.xhtml"]), "<pre>a&lt;b &amp; c</pre>");
    EXPECT_NE(e["OEBPS/chapter1.xhtml"].find("<head><title>x&amp;y&quot;</title><meta charset=\"utf-8\"/></head>"), std::string::npos);
}

// Every source format, a title that needs escaping, in-page links and text inside inline SVG:
// each book is valid for epubcheck, all checked in one start of it.
TEST(EPUB, EverySourceGivesAValidBook) {
    TempDir dir;
    writeFile(dir / "x&y\".txt", std::string("Text with a bell \x07 and a form feed \x0C inside."));
    writeFile(dir / "m.md", std::string("# Title\n\nSome **bold** and `code`.\n\n## Next"));
    writeFile(dir / "h.html",
              std::string("<!DOCTYPE html><HTML><HEAD><TITLE>caps</TITLE><STYLE>p{}</STYLE></HEAD><BODY class=x>"
                          "<P>One &nbsp;&copy; & <B>two<BR>three<IMG SRC=pic.png><p>open <a href=other.html>rel</a> "
                          "<a href='https://example.com/?a=1&b=2'>abs</a><script>alert(1)</script><o:p></o:p>"
                          "<ul><li>a<li>b</ul></BODY></HTML>"));
    writeFile(dir / "links.html", std::string("<html><body><h1 id=\"top\">Manual</h1><p>Figure <svg width=\"20\" height=\"9\">"
                                              "<text x=\"0\" y=\"8\">Label inside</text></svg></p>"
                                              "<p><a href=\"#top\">Back to top</a></p></body></html>"));
    writeFile(dir / "r.rtf", std::string("{\\rtf1\\ansi\\b Bold\\b0  and \\'e9\\par next}"));
    text::AttributedString s;
    text::Attributes a;
    a.font = text::systemFont(12);
    s.append("Docx <text> & more", a);
    writeFile(dir / "d.docx", text::writeDOCX(s));
    calvoro::testing::makeTextPDF(dir / "p.pdf", {"PDF page"});
    struct Case {
        const char* name;
        F format;
        std::vector<const char*> expected;
    } cases[] = {{"x&y\".txt", F::txt, {"a bell  and a form feed  inside."}},
                 {"m.md", F::markdown, {"<strong>bold</strong>"}},
                 {"h.html", F::html, {"abs</a>"}},
                 {"links.html", F::html, {"<a href=\"#top\">Back to top</a>", "Label inside"}},
                 {"r.rtf", F::rtf, {"Bold"}},
                 {"d.docx", F::docx, {"Docx &lt;text&gt; &amp; more"}},
                 {"p.pdf", F::pdf, {"PDF page"}}};
    std::vector<std::filesystem::path> books;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        books.push_back(dir / (std::string(c.name) + ".epub"));
        DC::anyToEPUB(dir / c.name, c.format, books.back());
        std::string chapter = entriesOf(books.back())["OEBPS/chapter1.xhtml"];
        for (const char* expected : c.expected) EXPECT_NE(chapter.find(expected), std::string::npos) << chapter;
    }
    const auto checks = calvoro::testing::epubcheck(books);
    for (size_t i = 0; i < books.size(); ++i) EXPECT_EQ(checks[i].status, 0) << books[i].filename() << "\n" << checks[i].output;
}

TEST(EPUB, BodyExtraction) {
    using DC::detail::wrapAsXHTML;
    auto body = [](const std::string& chapter) { return chapterBody(chapter); };
    EXPECT_EQ(body(wrapAsXHTML("<html><body class=\"c\"><p>x</p></body>tail</body></html>", "t")), "<p>x</p>tail");
    // No lower-case body tag: the whole text is the content (head and title dropped).
    EXPECT_EQ(body(wrapAsXHTML("<HTML><HEAD><TITLE>n</TITLE></HEAD><BODY><P>x</BODY></HTML>", "t")), "<p>x</p>");
    // A misordered document keeps everything.
    EXPECT_EQ(body(wrapAsXHTML("</body><body>y", "t")), "y");
}

TEST(EPUB, XHTMLFragmentIsWellFormed) {
    using DC::detail::toXHTMLFragment;
    EXPECT_EQ(toXHTMLFragment("<p>a<br>b<hr><p>c"), "<p>a<br/>b</p><hr/><p>c</p>");
    EXPECT_EQ(toXHTMLFragment("<div><span>x</div>"), "<div><span>x</span></div>");
    EXPECT_EQ(toXHTMLFragment("a < b && c &unknown; &#x41;&#66;&eacute;"), "a &lt; b &amp;&amp; c &amp;unknown; AB\xC3\xA9");
    EXPECT_EQ(toXHTMLFragment("<a href=x.html onclick=\"go()\" title='q\"'>t</a>"), "t");
    EXPECT_EQ(toXHTMLFragment("bad\x01\x1F" "chars&#1;"), "badchars");
    EXPECT_EQ(toXHTMLFragment("</b>stray</i><!-- c -->"), "stray");
}

TEST(EPUB, InPageLinksAndTextInsideInlineSVGAreKept) {
    using DC::detail::toXHTMLFragment;
    EXPECT_EQ(toXHTMLFragment("<h1 id=top>T</h1><a href=\"#top\">Back to top</a> <a href=\"#gone\">dangling</a>"),
              "<h1 id=\"top\">T</h1><a href=\"#top\">Back to top</a> dangling");
    EXPECT_EQ(toXHTMLFragment("<p>Chart:<svg viewBox=\"0 0 9 9\"><style>t{}</style><g><text x=1>North</text><text x=5>"
                              "South &amp; <tspan>East</tspan></text></g></svg> done</p>"),
              "<p>Chart: North South &amp; East  done</p>");
}

TEST(EPUB, FreshIdentifiersAndNoTemporaryLeftovers) {
    calvoro::testing::ScopedTemporaryFolder tmp;
    TempDir dir;
    writeFile(dir / "n.md", std::string("text"));
    DC::anyToEPUB(dir / "n.md", F::markdown, dir / "a.epub");
    DC::anyToEPUB(dir / "n.md", F::markdown, dir / "b.epub");
    auto opfA = entriesOf(dir / "a.epub")["OEBPS/content.opf"], opfB = entriesOf(dir / "b.epub")["OEBPS/content.opf"];
    auto id = [](const std::string& opf) { return opf.substr(opf.find("urn:uuid:"), 45); };
    EXPECT_NE(id(opfA), id(opfB));
    EXPECT_EQ(calvoro::testing::countTemporaryItems("Calvoro_"), 0);
    try {
        DC::anyToEPUB(dir / "n.md", F::epub, dir / "c.epub");
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "Converting EPUB \xE2\x86\x92 EPUB is not supported.");
    }
    writeFile(dir / "bad.md", std::string());
    std::filesystem::remove(dir / "bad.md");
    EXPECT_THROW(DC::anyToEPUB(dir / "bad.md", F::markdown, dir / "d.epub"), ConversionError);
    EXPECT_EQ(calvoro::testing::countTemporaryItems("Calvoro_"), 0);
}
