#include <gtest/gtest.h>

#include "converters/document/document_converter.h"
#include "document_fixtures.h"
#include "support/test_support.h"

using namespace calvoro;
namespace DC = calvoro::DocumentConverter;
using calvoro::testing::readText;
using calvoro::testing::TempDir;
using calvoro::testing::writeFile;
using text::AttributedString;
using text::Attributes;

namespace {

std::string bodyOf(const std::string& page) {
    size_t b = page.find("<body>");
    size_t e = page.rfind("</body>");
    return page.substr(b + 6, e - b - 6);
}

std::string markdownBody(const std::string& markdown) {
    TempDir dir;
    writeFile(dir / "m.md", markdown);
    DC::markdownToHTML(dir / "m.md", dir / "m.html");
    return bodyOf(readText(dir / "m.html"));
}

Attributes sized(double size, bool bold = false, bool italic = false, bool mono = false) {
    Attributes a;
    a.font = mono ? text::monospacedSystemFont(size) : text::systemFont(size);
    a.font->bold = bold;
    a.font->italic = italic;
    return a;
}

}  // namespace

TEST(MarkdownToHTML, PageTemplateAndRewrites) {
    TempDir dir;
    writeFile(dir / "R&D <n>.md", std::string("# A & B\ntext"));
    DC::markdownToHTML(dir / "R&D <n>.md", dir / "o.html");
    std::string page = readText(dir / "o.html");
    EXPECT_EQ(page.rfind("<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"UTF-8\"><title>R&amp;D &lt;n&gt;</title>\n<meta name=\"color-scheme\" content=\"only light\">\n<style>html{color-scheme: only light;}", 0), 0u);
    EXPECT_EQ(bodyOf(page), "<p><h1>A &amp; B</h1>\ntext</p>");
    EXPECT_EQ(page.substr(page.size() - 15), "</body>\n</html>");
}

TEST(MarkdownToHTML, InlineSpansParagraphsAndNonFeatures) {
    EXPECT_EQ(markdownBody("**bold** *it* `x<y`"), "<p><strong>bold</strong> <em>it</em> <code>x&lt;y</code></p>");
    EXPECT_EQ(markdownBody("a\nb\n\nc"), "<p>a\nb</p><p>c</p>");
    EXPECT_EQ(markdownBody("## Two\n### Three"), "<p><h2>Two</h2>\n<h3>Three</h3></p>");
    EXPECT_EQ(markdownBody("#word\n#### four\n- item\n_under_"), "<p>#word\n#### four\n- item\n_under_</p>");
    EXPECT_EQ(markdownBody("**open\nclose**\n*"), "<p>**open\nclose**\n*</p>");
}

TEST(MarkdownToHTML, PandocReadsThePage) {
    ASSERT_TRUE(calvoro::testing::peerInstalled("pandoc"));
    TempDir dir;
    writeFile(dir / "m.md", std::string("# Title\n\nSome **strong** words.\n\nSecond paragraph."));
    DC::markdownToHTML(dir / "m.md", dir / "m.html");
    auto r = calvoro::testing::run("pandoc -f html -t plain " + calvoro::testing::shellQuote((dir / "m.html").string()));
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("Title"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Some strong words."), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Second paragraph."), std::string::npos) << r.output;
}

TEST(EscapeMarkdown, SpecialCharactersAndCombiningMarks) {
    EXPECT_EQ(DC::escapeMarkdown("a*b_c[d]<e>`f\\g"), "a\\*b\\_c\\[d\\]\\<e\\>\\`f\\\\g");
    // "*" followed by a combining mark is another character and stays as it is.
    EXPECT_EQ(DC::escapeMarkdown("*\xCC\x81*"), "*\xCC\x81\\*");
}

TEST(AttributedStringToMarkdown, HeadingsFromSizesAndTraits) {
    AttributedString s;
    s.append("Big\n", sized(24));
    s.append("Mid\n", sized(18));
    s.append("Bold small\n", sized(14, true));
    s.append("Plain small\n", sized(14));
    for (int i = 0; i < 4; ++i) s.append("body " + std::to_string(i) + (i % 2 ? "\n" : " "), sized(12, i % 2 == 0));
    std::string md = DC::attributedStringToMarkdown(s);
    EXPECT_EQ(md.rfind("# Big\n\n## Mid\n\n### **Bold small**\n\nPlain small\n\n", 0), 0u) << md;
}

TEST(AttributedStringToMarkdown, SpansLinksAndBlankLines) {
    AttributedString s;
    s.append("Hello ", sized(12, true));
    s.append("a*b", sized(12, false, false, true));
    s.append(" a*b ", sized(12));
    Attributes link = sized(12, true, true);
    link.link = text::Link{text::Link::Kind::url, "https://x.org/"};
    s.append("go", link);
    s.append("\n\n\n\nNext", sized(12));
    EXPECT_EQ(DC::attributedStringToMarkdown(s), "**Hello **`a*b` a\\*b [***go***](https://x.org/)\n\nNext\n");
    EXPECT_EQ(DC::attributedStringToMarkdown(AttributedString()), "");
}

TEST(PDFToMarkdown, PagesSeparatedByRules) {
    TempDir dir;
    calvoro::testing::makeTextPDF(dir / "p.pdf", {"A", "", "B"});
    DC::pdfToMarkdown(dir / "p.pdf", dir / "p.md");
    EXPECT_EQ(readText(dir / "p.md"), "A\n\n---\n\nB\n");
}
