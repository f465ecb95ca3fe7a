#include <gtest/gtest.h>

#include "core/conversion_error.h"
#include "platform/text/docx.h"
#include "platform/text/html.h"
#include "platform/text/rtf.h"
#include "support/test_support.h"
#include "run_lookup.h"

using namespace calvoro;
using namespace calvoro::text;
using calvoro::testing::runHolding;
using calvoro::testing::TempDir;

namespace {

Attributes font(double size, bool bold = false, bool italic = false, bool mono = false) {
    Attributes a;
    a.font = mono ? monospacedSystemFont(size) : systemFont(size);
    a.font->bold = bold;
    a.font->italic = italic;
    return a;
}

AttributedString sample() {
    AttributedString s;
    s.append("Title", font(24, true));
    s.append("\n", font(12));
    s.append("plain ", font(12));
    s.append("bold", font(12, true));
    s.append(" ", font(12));
    s.append("slant", font(12, false, true));
    s.append(" x*y ", font(12));
    s.append("code", font(12, false, false, true));
    Attributes link = font(12);
    link.link = Link{Link::Kind::url, "https://example.com/a?b=1"};
    s.append("site", link);
    Attributes red = font(12);
    red.foreground = Color{255, 0, 0, 255};
    s.append("\nred caf\u00e9 \u20ac\ttab {brace} \\", red);
    return s;
}

void expectSampleAttributes(const AttributedString& s) {
    ASSERT_TRUE(runHolding(s, "Title"));
    EXPECT_DOUBLE_EQ(runHolding(s, "Title")->attributes.font->pointSize, 24);
    EXPECT_TRUE(runHolding(s, "Title")->attributes.font->bold);
    EXPECT_TRUE(runHolding(s, "bold")->attributes.font->bold);
    EXPECT_FALSE(runHolding(s, "plain")->attributes.font->bold);
    EXPECT_TRUE(runHolding(s, "slant")->attributes.font->italic);
    EXPECT_TRUE(runHolding(s, "code")->attributes.font->monospace);
    EXPECT_FALSE(runHolding(s, "plain")->attributes.font->monospace);
    ASSERT_TRUE(runHolding(s, "site")->attributes.link);
    EXPECT_EQ(runHolding(s, "site")->attributes.link->value, "https://example.com/a?b=1");
    ASSERT_TRUE(runHolding(s, "red")->attributes.foreground);
    EXPECT_EQ(runHolding(s, "red")->attributes.foreground->red, 255);
}

}  // namespace

TEST(AttributedString, RunsMergeAndCut) {
    AttributedString s;
    s.append("ab", font(12));
    s.append("cd", font(12));
    s.append("ef", font(14));
    ASSERT_EQ(s.runs().size(), 2u);
    auto cut = s.runs(3, 2);
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0].location, 3);
    EXPECT_EQ(cut[0].length, 1);
    EXPECT_EQ(cut[1].length, 1);
    EXPECT_DOUBLE_EQ(s.attributesAt(5)->font->pointSize, 14);
    EXPECT_EQ(s.attributesAt(6), nullptr);
}

TEST(HTMLReader, DefaultsForHeadingsCodeAndLinks) {
    auto s = readHTML(
        "<h1>Big</h1><h2>Mid</h2><h3>Small</h3><p>Body <b>strong</b> <i>slanted</i> <code>c1</code> <tt>t1</tt> "
        "<a href=\"http://x.org/p\">ln</a><br>next</p><pre>p1</pre>");
    EXPECT_DOUBLE_EQ(runHolding(s, "Big")->attributes.font->pointSize, 24);
    EXPECT_DOUBLE_EQ(runHolding(s, "Mid")->attributes.font->pointSize, 18);
    EXPECT_DOUBLE_EQ(runHolding(s, "Small")->attributes.font->pointSize, 14.04);
    EXPECT_TRUE(runHolding(s, "Small")->attributes.font->bold);
    EXPECT_DOUBLE_EQ(runHolding(s, "Body")->attributes.font->pointSize, 12);
    EXPECT_FALSE(runHolding(s, "Body")->attributes.font->bold);
    EXPECT_TRUE(runHolding(s, "strong")->attributes.font->bold);
    EXPECT_TRUE(runHolding(s, "slanted")->attributes.font->italic);
    for (auto m : {"c1", "t1", "p1"}) EXPECT_TRUE(runHolding(s, m)->attributes.font->monospace) << m;
    EXPECT_EQ(runHolding(s, "ln")->attributes.link->value, "http://x.org/p");
    EXPECT_EQ(s.plainText(), "Big\nMid\nSmall\nBody strong slanted c1 t1 ln\nnext\np1");
}

TEST(HTMLWriter, RoundTripsThroughTheReader) {
    auto again = readHTML(writeHTML(sample()));
    expectSampleAttributes(again);
}

TEST(RTF, WriterAndReaderAgree) {
    auto s = sample();
    auto again = readRTF(writeRTF(s));
    EXPECT_EQ(again.plainText(), s.plainText());
    expectSampleAttributes(again);
}

TEST(RTF, PeersReadOurRTF) {
    TempDir dir;
    auto path = dir / "s.rtf";
    calvoro::testing::writeFile(path, writeRTF(sample()));
    ASSERT_TRUE(calvoro::testing::peerInstalled("unrtf"));
    auto text = calvoro::testing::run("unrtf --text " + calvoro::testing::shellQuote(path.string()));
    EXPECT_EQ(text.status, 0) << text.output;
    EXPECT_NE(text.output.find("plain bold slant x*y code"), std::string::npos) << text.output;
    ASSERT_TRUE(calvoro::testing::peerInstalled("pandoc"));
    auto md = calvoro::testing::run("pandoc -f rtf -t markdown " + calvoro::testing::shellQuote(path.string()));
    EXPECT_EQ(md.status, 0) << md.output;
    EXPECT_NE(md.output.find("**bold**"), std::string::npos) << md.output;
    EXPECT_NE(md.output.find("*slant*"), std::string::npos) << md.output;
    EXPECT_NE(md.output.find("https://example.com/a?b=1"), std::string::npos) << md.output;
    EXPECT_NE(md.output.find("caf\xC3\xA9 \xE2\x82\xAC"), std::string::npos) << md.output;
    EXPECT_NE(md.output.find("{brace}"), std::string::npos) << md.output;
}

TEST(RTF, ReaderHandlesEscapesTablesFieldsAndSkippedGroups) {
    std::string rtf =
        "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\fswiss Helvetica;}{\\f1\\fmodern Courier New;}}"
        "{\\colortbl;\\red0\\green128\\blue255;}{\\info{\\title Hidden}}{\\*\\generator Tool;}"
        "{\\stylesheet{\\s0 Normal;}}\\pard\\plain\\fs28 caf\\'e9 \\u8364?\\uc2\\u8212\\'97\\'97!\\line next\\par"
        "{\\f1 mono} {\\cf1 blue} {\\b bold\\b0  not}\\tab "
        "{\\field{\\*\\fldinst{HYPERLINK \"http://a.b/c\"}}{\\fldrslt{\\ul link}}} after}";
    auto s = readRTF(rtf);
    EXPECT_EQ(s.plainText(), "caf\xC3\xA9 \xE2\x82\xAC\xE2\x80\x94!\nnext\nmono blue bold not\tlink after");
    EXPECT_DOUBLE_EQ(runHolding(s, "caf")->attributes.font->pointSize, 14);
    EXPECT_TRUE(runHolding(s, "mono")->attributes.font->monospace);
    EXPECT_EQ(runHolding(s, "blue")->attributes.foreground->blue, 255);
    EXPECT_TRUE(runHolding(s, "bold")->attributes.font->bold);
    EXPECT_FALSE(runHolding(s, "not")->attributes.font->bold);
    EXPECT_EQ(runHolding(s, "link")->attributes.link->value, "http://a.b/c");
    EXPECT_FALSE(runHolding(s, "after")->attributes.link);
}

TEST(RTF, FieldsShowTheirResultOrTheirDisplayTextAndShapesTheirTextOnce) {
    std::string rtf =
        "{\\rtf1\\ansi{\\fonttbl{\\f0 Times;}}From {\\field{\\*\\fldinst MACROBUTTON None Sender's name}} to "
        "{\\field{\\*\\fldinst{ MACROBUTTON  NoMacro  [Recipient] }}{\\fldrslt Ada}} on {\\field{\\*\\fldinst DATE}}page "
        "{\\field{\\*\\fldinst PAGE}{\\fldrslt 3}}\\par "
        "{\\shp{\\*\\shpinst\\shpleft0\\shpright100{\\sp{\\sn shapeType}{\\sv 202}}{\\shptxt Shape {\\b words}\\par}}"
        "{\\shprslt Fallback words\\par}}After}";
    auto s = readRTF(rtf);
    EXPECT_EQ(s.plainText(), "From Sender's name to Ada on page 3\nShape words\nAfter");
    EXPECT_TRUE(runHolding(s, "words")->attributes.font->bold);
}

TEST(RTF, BadDataIsRefused) {
    EXPECT_THROW(readRTF("hello"), ConversionError);
    EXPECT_THROW(readRTF(std::string(100000, '{').insert(0, "{\\rtf1")), ConversionError);
    // An unterminated document still gives what it holds.
    EXPECT_EQ(readRTF("{\\rtf1 cut sh").plainText(), "cut sh");
}
