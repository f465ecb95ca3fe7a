#include <gtest/gtest.h>

#include <map>

#include "converters/document/document_converter.h"
#include "converters/document/html_to_pdf.h"
#include "support/archive_test_util.h"
#include "support/test_support.h"
#include "platform/zip/zip_archive.h"

using namespace calvoro;
namespace DC = calvoro::DocumentConverter;
using calvoro::testing::run;
using calvoro::testing::shellQuote;
using calvoro::testing::TempDir;
using calvoro::testing::writeFile;
using DC::detail::toXHTMLFragment;

namespace {

std::string body(const std::string& html) { return toXHTMLFragment("<!DOCTYPE html><html><body>" + html + "</body></html>"); }

// A page written the way older tools write them, with every construct the EPUB content model
// refuses, and without a doctype, so that it is read in quirks mode.
const std::string oldStylePage = R"(<HTML><HEAD><TITLE>Old manual</TITLE>
<META HTTP-EQUIV="Content-Type" CONTENT="text/html; charset=iso-8859-1">
<SCRIPT LANGUAGE="JavaScript">var hidden = "never shown";</SCRIPT></HEAD>
<BODY BGCOLOR="#FFFFFF" TEXT="#000000" LINK="#0000FF">
<CENTER><FONT FACE="Arial, Helvetica" SIZE="+2" COLOR=red>Old Manual</FONT></CENTER>
<A NAME="top"></A><A NAME="intro"><H2>Introduction</H2></A>
<P ALIGN=justify>First paragraph with <TT>typed text</TT>, <BIG>big words</BIG>, <STRIKE>struck</STRIKE> and
<ACRONYM TITLE="HyperText">HTML</ACRONYM>.
<DIV>A division inside the paragraph.</DIV> Trailing words.
<P>Paragraph holding a table <TABLE BORDER=1 CELLPADDING=4 CELLSPACING=0 WIDTH="80%" ALIGN=center BGCOLOR=eeeeee>
<TR VALIGN=top><TH NOWRAP ALIGN=left WIDTH=30>Option</TH><TD HEIGHT=20>Meaning &amp; use</TD></TR>
<TR><TD COLSPAN=2 BGCOLOR="#ccc">spanning cell</TD></TR></TABLE> after the table.
<DL><DT>term one<DT>term two</DL>
<DL><DD>definition without a term</DD></DL>
<UL TYPE=square>stray words<LI>item one<UL><LI>nested</UL><LI>item two</UL>
<OL TYPE="1" START=3><LI VALUE=5>five</OL>
<P>See <A HREF="#intro">the introduction</A>, <A HREF="#nowhere">a lost anchor</A>,
<A HREF="other.html#x">another file</A> and <A HREF="http://example.com/a b">a site</A>.
<SPAN><DIV>block in a span</DIV></SPAN> <FONT COLOR="#00f"><P>paragraph in a font</P></FONT>
<BR CLEAR=all><HR NOSHADE SIZE=1 WIDTH="50%">
<P ID="dup">first id</P><P ID="dup">second id</P><A NAME="with space">spaced</A> <A HREF="#with%20space">to it</A>
<BLINK>blinking</BLINK> <MARQUEE>moving</MARQUEE> <NOBR>no break</NOBR> <XMP><b>shown as text</b></XMP>
<NOSCRIPT>no scripts here</NOSCRIPT><O:P>office words</O:P><APPLET CODE="a.class">applet fallback</APPLET>
&copy; 2001 &eacute;t&eacute; &notin; &hellip; &amp &lt &#150;
</BODY></HTML>)";

std::string chapterOf(const std::filesystem::path& epub) {
    for (auto& m : zip::readZIP(calvoro::testing::readFile(epub)))
        if (m.name == "OEBPS/chapter1.xhtml") return std::string(m.data.begin(), m.data.end());
    return {};
}

}  // namespace

TEST(XHTMLChapter, NestingIsMendedAsABrowserMendsItAndNothingIsDropped) {
    // A block closes the open paragraph; a block where only phrasing may stand closes the
    // paragraph around it, or becomes a span that shows as the block did.
    EXPECT_EQ(body("<p>a<div>b</div>c</p>"), "<p>a</p><div>b</div>c<p></p>");
    EXPECT_EQ(toXHTMLFragment("<p>x<table><tr><td>c</td></tr></table>y"),
              "<p>x</p><table><tbody><tr><td>c</td></tr></tbody></table><p>y</p>");
    EXPECT_EQ(body("<span>s<div>d</div></span><b><p>p</p></b>"),
              "<span>s<span style=\"display:block\">d</span></span><b><span style=\"display:block\">p</span></b>");
    EXPECT_EQ(body("<h2><table><tr><td>t</td></tr></table></h2>"),
              "<h2></h2><table><tbody><tr><td>t</td></tr></tbody></table>");
    // Lists hold only items; definition lists pair terms with definitions.
    EXPECT_EQ(body("<ul>stray<li>one<ul><li>n</ul>more</ul>"),
              "<ul><li style=\"list-style-type:none\">stray</li><li>one<ul><li>n</li></ul>more</li></ul>");
    EXPECT_EQ(body("<ul><ul><li>deep</li></ul></ul>"), "<ul><li style=\"list-style-type:none\"><ul><li>deep</li></ul></li></ul>");
    EXPECT_EQ(body("<dl><dt>a<dt>b</dl>"), "<dl><dt>a</dt><dt>b</dt><dd></dd></dl>");
    EXPECT_EQ(body("<dl><dt>a</dt><p>loose</p><dd>d</dd></dl>"), "<dl><dt>a</dt><dd><p>loose</p></dd><dd>d</dd></dl>");
    EXPECT_EQ(body("<dl><dd>alone</dd></dl><li>item</li><dt>term</dt>"), "<div><div>alone</div></div><div>item</div><span>term</span>");
    // Elements the chapter has no place for keep their text in a span or a div.
    EXPECT_EQ(body("<noscript>n</noscript><o:p>o</o:p><applet>a<p>b</p></applet><form>f<input value=v></form>"),
              "<span>n</span><span>o</span><div>a<p>b</p></div><div>f</div>");
    EXPECT_EQ(body("<p>x<button>b</button><select><option>o1<option>o2</select><textarea>t</textarea>"),
              "<p>x<span>b</span><span><span>o1</span><span>o2</span></span><span style=\"white-space:pre-wrap\">t</span></p>");
}

TEST(XHTMLChapter, PresentationBecomesCSS) {
    EXPECT_EQ(body("<center>c</center><font face=\"Arial, 'Sans'\" size=+1 color=ff0000>f</font><tt>t</tt><big>b</big>"
                   "<strike>s</strike><acronym title=T>A</acronym><nobr>n</nobr>"),
              "<div style=\"text-align:center\">c</div><span style=\"color:#ff0000;font-family:'Arial','Sans';font-size:large\">f</span>"
              "<span style=\"font-family:monospace\">t</span><span style=\"font-size:larger\">b</span>"
              "<span style=\"text-decoration:line-through\">s</span><abbr title=\"T\">A</abbr>"
              "<span style=\"white-space:nowrap\">n</span>");
    EXPECT_EQ(body("<table border=2 cellpadding=3 cellspacing=0 width=90% align=center bgcolor=white summary=s>"
                   "<tr valign=top bgcolor=#eee><th nowrap align=right width=40 scope=col>h</th><td colspan=2 rowspan=x>d</td></tr></table>"),
              "<table style=\"margin-left:auto;margin-right:auto;width:90%;background-color:white;border:2px outset;border-spacing:0px\">"
              "<tbody><tr style=\"vertical-align:top;background-color:#eee\"><th scope=\"col\" style=\"padding:3px;border:1px inset;"
              "text-align:right;width:40px;white-space:nowrap\">h</th><td colspan=\"2\" style=\"padding:3px;border:1px inset\">d</td>"
              "</tr></tbody></table>");
    // Author styles come last, so that they still win.
    EXPECT_EQ(body("<p align=center style=\"color:red\" onclick=go() name=n width=3 class=c lang=en-GB dir=sideways>p</p>"),
              "<p class=\"c\" lang=\"en-GB\" style=\"text-align:center;color:red\">p</p>");
    EXPECT_EQ(body("<ol type=i start=4 compact><li value=7 type=A>x</ol><ul type=circle><li value=2>y</ul><br clear=left><hr size=2 width=50 align=left>"),
              "<ol start=\"4\" style=\"list-style-type:lower-roman\"><li value=\"7\" style=\"list-style-type:upper-alpha\">x</li></ol>"
              "<ul style=\"list-style-type:circle\"><li>y</li></ul><br style=\"clear:left\"/>"
              "<hr style=\"margin-right:auto;width:50px;height:2px\"/>");
}

TEST(XHTMLChapter, AnchorsBecomeIdsAndLinksThatLeadNowhereBecomeText) {
    EXPECT_EQ(body("<a name=top></a><h1 id=top>T</h1><a href=#top>up</a>"), "<a id=\"top\"></a><h1>T</h1><a href=\"#top\">up</a>");
    // The id an anchor's name would take is already an element's: the link goes to that one.
    EXPECT_EQ(body("<h2 id=s1><a name=\"s1\">S</a></h2><a href=\"#s1\">s</a>"), "<h2 id=\"s1\">S</h2><a href=\"#s1\">s</a>");
    EXPECT_EQ(body("<a id=a name=b>x</a><a href=#b>to b</a>"), "<a id=\"a\">x</a><a href=\"#a\">to b</a>");
    // Ids an XHTML id cannot be are made into names, and links follow them; a second equal id goes.
    EXPECT_EQ(body("<p id=\"1 two\">p</p><p id=\"1 two\">q</p><a href=\"#1%20two\">l</a><a href=\"#1 two\">m</a>"),
              "<p id=\"_1_two\">p</p><p>q</p><a href=\"#_1_two\">l</a><a href=\"#_1_two\">m</a>");
    EXPECT_EQ(body("<a href=#gone>lost</a> <a href=other.html#x>file</a> <a href=\"javascript:go()\">js</a> <a href=#>top</a>"),
              "lost file js top");
    EXPECT_EQ(body("<a href=' https://example.com/a b?q=\"x\"&amp;y#f#g'>web</a><a href=\"MAILTO:me@example.com\">m</a>"),
              "<a href=\"https://example.com/a%20b?q=%22x%22&amp;y#f%23g\">web</a><a href=\"MAILTO:me@example.com\">m</a>");
    // An id on an element the chapter cannot write takes its links with it.
    EXPECT_EQ(body("<table id=t><form id=f></form><tr><td>c</td></tr></table><a href=#f>f</a><a href=#t>t</a>"),
              "<table id=\"t\"><tbody><tr><td>c</td></tr></tbody></table>f<a href=\"#t\">t</a>");
}

TEST(XHTMLChapter, TextIsReadAsHTML5ReadsIt) {
    // Every named reference of HTML5, with or without the semicolon where HTML5 allows it.
    EXPECT_EQ(body("&notin;&NotEqualTilde;&copy &amp &lt;x&gt; &#150; &#x1F600; &bogus;"),
              "\xE2\x88\x89\xE2\x89\x82\xCC\xB8\xC2\xA9 &amp; &lt;x&gt; \xE2\x80\x93 \xF0\x9F\x98\x80 &amp;bogus;");
    EXPECT_EQ(body("bad\x01\x1F" "chars&#1;<!-- c --><script>s()</script><style>p{}</style><template>t</template>"), "badchars");
    EXPECT_EQ(body("<xmp><b>&amp;</b></xmp><pre>\nkept</pre>"), "<pre>&lt;b&gt;&amp;amp;&lt;/b&gt;</pre><pre>kept</pre>");
    // A reference far beyond Unicode is U+FFFD, as browsers show it, never a stray byte.
    EXPECT_EQ(body("a&#x52cccccccccccccccccccccccccccccc;b &#99999999999;c"), "a\xEF\xBF\xBD" "b \xEF\xBF\xBD" "c");
}

// A megabyte of tags that are never closed, read in quirks mode as a page without a doctype is:
// every word kept, in the book and in print, in memory that does not grow with the depth (the
// parser's own error records once took gigabytes for a tenth of it).
TEST(XHTMLChapter, DeepNestingKeepsEveryWord) {
    TempDir dir;
    std::string html = "<p><b>";
    int words = 0;
    while (html.size() < (1 << 20)) html += "<div><div><span>w" + std::to_string(words++) + " <div><div><div>";
    writeFile(dir / "deep.html", html);
    const long long growth = archive_testing::peakMemoryGrowth([&] {
        DC::anyToEPUB(dir / "deep.html", SupportedFormat::html, dir / "deep.epub");
        return true;
    });
    EXPECT_GE(growth, 0);
    EXPECT_LT(growth, 200LL << 20);
    const std::string out = chapterOf(dir / "deep.epub");
    // The printer gets the page with its nesting bounded the same way, and prints every word.
    DC::renderHTMLToPDFWithWebKit(dir / "deep.html", dir / "deep.pdf");
    const std::string printed = run("pdftotext " + shellQuote((dir / "deep.pdf").string()) + " -").output;
    for (int i : {0, 399, 400, 2999, words / 2, words - 1}) {
        EXPECT_NE(out.find("w" + std::to_string(i) + " "), std::string::npos) << i;
        EXPECT_NE(printed.find("w" + std::to_string(i)), std::string::npos) << i;
    }

    // Blocks of one word each, nested without a space between them: past the bounds their words
    // stay apart, in the book as in print, where they wrap instead of running off the page's
    // edge as one long word.
    std::string blocks;
    for (int i = 0; i < 3000; ++i) blocks += "<div><span>t" + std::to_string(100000 + i) + "</span>";
    writeFile(dir / "blocks.html", blocks);
    DC::anyToEPUB(dir / "blocks.html", SupportedFormat::html, dir / "blocks.epub");
    DC::renderHTMLToPDFWithWebKit(dir / "blocks.html", dir / "blocks.pdf");
    const std::string chapter = chapterOf(dir / "blocks.epub");
    const std::string blocksPrinted = run("pdftotext " + shellQuote((dir / "blocks.pdf").string()) + " -").output;
    for (int i : {0, 99, 100, 111, 399, 400, 450, 1500, 2999}) {
        EXPECT_NE(chapter.find("t" + std::to_string(100000 + i)), std::string::npos) << i;
        EXPECT_EQ(chapter.find("t" + std::to_string(100000 + i) + "t"), std::string::npos) << i;
        EXPECT_NE(blocksPrinted.find("t" + std::to_string(100000 + i)), std::string::npos) << i;
    }
}

// The page read by html5lib, an HTML5 parser of its own, against the chapter read as XML.
TEST(XHTMLChapter, AnOldStylePageGivesAValidBookThatKeepsEveryWord) {
    TempDir dir;
    writeFile(dir / "old.html", oldStylePage);
    DC::anyToEPUB(dir / "old.html", SupportedFormat::html, dir / "old.epub");
    const std::string chapter = chapterOf(dir / "old.epub");
    writeFile(dir / "chapter.xhtml", chapter);
    for (const char* gone : {"never shown", "<center", "<font", "<tt", "name=", "bgcolor", "cellpadding", "other.html", "#nowhere"})
        EXPECT_EQ(chapter.find(gone), std::string::npos) << gone;
    const auto check = calvoro::testing::epubcheck({dir / "old.epub"});
    EXPECT_EQ(check[0].status, 0) << check[0].output << chapter;
    ASSERT_TRUE(calvoro::testing::pythonHas("html5lib")) << "python3-html5lib is missing; scripts/setup installs it";
    const std::string compare = R"(
import sys, html5lib, xml.etree.ElementTree as ET
def texts(e, out, skip):
    if isinstance(e.tag, str) and e.tag.split('}')[-1].lower() not in skip:
        out.append(e.text or '')
        for c in e:
            texts(c, out, skip); out.append(c.tail or '')
    return out
page = html5lib.parse(open(sys.argv[1], encoding='utf-8').read(), treebuilder='etree', namespaceHTMLElements=False)
book = ET.parse(sys.argv[2]).getroot().find('{http://www.w3.org/1999/xhtml}body')
a = ''.join(texts(page.find('body'), [], {'script', 'style', 'template'})).split()
b = ''.join(texts(book, [], set())).split()
print(len(a), 'same' if a == b else 'page %r\nbook %r' % (a, b))
)";
    writeFile(dir / "compare.py", compare);
    auto words = run("/usr/bin/python3 " + shellQuote((dir / "compare.py").string()) + " " + shellQuote((dir / "old.html").string()) + " " +
                     shellQuote((dir / "chapter.xhtml").string()));
    EXPECT_EQ(words.status, 0) << words.output;
    EXPECT_NE(words.output.find(" same"), std::string::npos) << words.output;
    EXPECT_GT(std::stoi(words.output), 80);
}
