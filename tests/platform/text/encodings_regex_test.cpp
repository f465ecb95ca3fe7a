#include <gtest/gtest.h>

#include "platform/text/encodings.h"
#include "platform/text/regex.h"
#include "platform/text/xml_text.h"

using namespace calvoro::text;

TEST(Encodings, UTF8IsStrict) {
    EXPECT_EQ(decode("caf\xC3\xA9", Encoding::utf8), "caf\xC3\xA9");
    EXPECT_EQ(decode("\xEF\xBB\xBFhi", Encoding::utf8), "hi");
    EXPECT_FALSE(decode("caf\xE9", Encoding::utf8));          // Latin-1 byte
    EXPECT_FALSE(decode("\xC0\xAF", Encoding::utf8));          // overlong
    EXPECT_FALSE(decode("\xED\xA0\x80", Encoding::utf8));      // surrogate
    EXPECT_FALSE(decode("\xF4\x90\x80\x80", Encoding::utf8));  // past U+10FFFF
    EXPECT_FALSE(decode("ab\xE2\x82", Encoding::utf8));        // cut short
}

TEST(Encodings, UTF16FollowsTheByteOrderMark) {
    EXPECT_EQ(decode(std::string("\xFF\xFEh\0i\0", 6), Encoding::utf16), "hi");
    EXPECT_EQ(decode(std::string("\xFE\xFF\0h\0i", 6), Encoding::utf16), "hi");
    EXPECT_EQ(decode(std::string("\0h\0i", 4), Encoding::utf16), "hi");  // big-endian without a mark
    EXPECT_FALSE(decode(std::string("\xFF\xFEh\0i", 5), Encoding::utf16));
    EXPECT_FALSE(decode(std::string("\xFF\xFE\x00\xD8\x41\x00", 6), Encoding::utf16));  // lone high surrogate
    EXPECT_TRUE(hasUTF16ByteOrderMark("\xFF\xFE"));
    EXPECT_FALSE(hasUTF16ByteOrderMark("\xEF\xBB\xBF"));
}

TEST(Encodings, SingleByteTables) {
    EXPECT_EQ(decode("\xE9\x80", Encoding::isoLatin1), "\xC3\xA9\xC2\x80");
    EXPECT_EQ(decode("\x80\x93", Encoding::windowsCP1252), "\xE2\x82\xAC\xE2\x80\x9C");
    EXPECT_FALSE(decode("a\x81", Encoding::windowsCP1252));
    EXPECT_EQ(decode("\x8E\xA5", Encoding::macOSRoman), "\xC3\xA9\xE2\x80\xA2");
}

TEST(Regex, MultilineAnchorsAndLineEnds) {
    Regex h1("(?m)^# (.+)$");
    EXPECT_EQ(h1.replaceAll("# One\ntext\n# Two", "<h1>$1</h1>"), "<h1>One</h1>\ntext\n<h1>Two</h1>");
    // "." stops before a carriage return, which also ends the line.
    EXPECT_EQ(h1.replaceAll("# One\r\nx", "<h1>$1</h1>"), "<h1>One</h1>\r\nx");
    Regex lazy("\\*(.+?)\\*");
    EXPECT_EQ(lazy.replaceAll("*a* and *b*\n*c\nd*", "<em>$1</em>"), "<em>a</em> and <em>b</em>\n*c\nd*");
    Regex head("<head[^>]*>", true);
    auto m = head.firstMatch("<html><HEAD lang=x>");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->begin, 6u);
    EXPECT_EQ(m->end, 19u);
    // Byte offsets stay byte offsets past multi-byte characters.
    EXPECT_EQ(Regex("b").firstMatch("\xC3\xA9" "b")->begin, 2u);
}

TEST(XMLText, ForbiddenCharactersAreDropped) {
    EXPECT_EQ(removingXMLForbiddenCharacters(std::string("a\x01" "b\tc\xEF\xBF\xBF" "d\x0B")), "ab\tcd");
    QString s = QString::fromUtf16(u"x\u0002y") + QChar(0xD800) + QStringLiteral("z");
    EXPECT_EQ(removingXMLForbiddenCharacters(s), QStringLiteral("xyz"));
    // Ill-formed UTF-8 (a lone lead, a cut sequence, an overlong form, a surrogate, beyond
    // U+10FFFF, a stray continuation) becomes U+FFFD; well-formed characters pass.
    const std::string bad = "\xCCh|\xE2\x82|\xC0\xAF|\xED\xA0\x80|\xF4\x90\x80\x80|\x80|\xF0\x9F\x98\x80\xC3\xA9";
    EXPECT_EQ(removingXMLForbiddenCharacters(bad),
              "\xEF\xBF\xBDh|\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|"
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|\xEF\xBF\xBD|\xF0\x9F\x98\x80\xC3\xA9");
}
