#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "converters/data/data_converter.h"

namespace calvoro {
namespace {

using Cue = DataConverter::Cue;
using Cues = std::vector<Cue>;

TEST(Timestamp, Forms) {
    auto t = [](std::string_view text) { return DataConverter::parseTimestamp(text); };
    EXPECT_DOUBLE_EQ(*t("01:02:03,456"), 3723.456);
    EXPECT_DOUBLE_EQ(*t("02:03.5"), 123.5);
    EXPECT_DOUBLE_EQ(*t("7"), 7);
    EXPECT_DOUBLE_EQ(*t("00:xx:05"), 5);
    EXPECT_DOUBLE_EQ(*t(" \t00:00:01.250 align:start position:10%"), 1.25);
    EXPECT_DOUBLE_EQ(*t("9:01:02:03"), 3723);  // pieces before the hours are ignored
    EXPECT_DOUBLE_EQ(*t("::5"), 5);
    EXPECT_DOUBLE_EQ(*t("1e1"), 10);
    EXPECT_DOUBLE_EQ(*t("0x10"), 16);
    EXPECT_TRUE(std::isinf(*t("inf")));
    EXPECT_TRUE(std::isnan(*t("nan")));
    EXPECT_FALSE(t("soon"));
    EXPECT_FALSE(t(""));
    EXPECT_FALSE(t(":::"));
    EXPECT_FALSE(t("00:01x"));
    EXPECT_FALSE(t("00:\n1"));
}

TEST(Timestamp, Stamps) {
    EXPECT_EQ(DataConverter::stamp(3723.456, true), "01:02:03,456");
    EXPECT_EQ(DataConverter::stamp(3723.456, false), "01:02:03.456");
    EXPECT_EQ(DataConverter::stamp(-3, true), "00:00:00,000");
    EXPECT_EQ(DataConverter::stamp(1.9996, true), "00:00:02,000");
    EXPECT_EQ(DataConverter::stamp(360000, false), "100:00:00.000");
    // Times no stamp can hold are clamped instead of overflowing.
    EXPECT_EQ(DataConverter::stamp(std::nan(""), true), "00:00:00,000");
    EXPECT_EQ(DataConverter::stamp(-std::numeric_limits<double>::infinity(), true), "00:00:00,000");
    std::string largest = "2562047788015:12:55,807";
    EXPECT_EQ(DataConverter::stamp(std::numeric_limits<double>::infinity(), true), largest);
    EXPECT_EQ(DataConverter::stamp(1e300, true), largest);
    EXPECT_EQ(DataConverter::stamp(9.3e15, true), largest);
}

TEST(SRTReader, LineEndsAndByteOrderMark) {
    std::string lf = "1\n00:00:01,000 --> 00:00:02,500\nHello\nthere\n\n2\n00:00:03,000 --> 00:00:04,000\nWorld\n";
    std::string crlf = "\xEF\xBB\xBF" "1\r\n00:00:01,000 --> 00:00:02,500\r\nHello\r\nthere\r\n\r\n2\r\n00:00:03,000 --> 00:00:04,000\r\nWorld\r\n";
    Cues expected{{1, 1.0, 2.5, "Hello\nthere"}, {2, 3.0, 4.0, "World"}};
    EXPECT_EQ(DataConverter::parseSRT(lf), expected);
    EXPECT_EQ(DataConverter::parseSRT(crlf), expected);
}

TEST(SRTReader, IndexesAndSkippedBlocks) {
    std::string text =
        "5\n00:00:01,000 --> 00:00:02,000\nfirst\n\n\n"  // three line feeds still separate
        "9\n00:00:03,000 --> 00:00:04,000\nsecond\n\n"
        "word\n00:00:05,000 --> 00:00:06,000\nthird\n\n"
        "12\n00:00:07,000 --> soon\nbad end\n\n"
        "13\n00:00:08,000 --> 00:00:09,000\n   \n\t\n\n"
        "14\n00:00:10 --> 00:00:11 --> 00:00:12\ntwo arrows\n\n"
        "lonely line\n\n"
        "12\n00:00:13,000 --> 00:00:14,000\nfourth\n";
    Cues cues = DataConverter::parseSRT(text);
    ASSERT_EQ(cues.size(), 4u);
    EXPECT_EQ(cues[0].index, 5);
    EXPECT_EQ(cues[1].index, 9);
    EXPECT_EQ(cues[2].index, 3);  // a word is no index: the running number
    EXPECT_EQ(cues[3].index, 12);
    EXPECT_EQ(cues[3].text, "fourth");
    EXPECT_EQ(DataConverter::writeSRT(cues),
              "1\n00:00:01,000 --> 00:00:02,000\nfirst\n\n"
              "2\n00:00:03,000 --> 00:00:04,000\nsecond\n\n"
              "3\n00:00:05,000 --> 00:00:06,000\nthird\n\n"
              "4\n00:00:13,000 --> 00:00:14,000\nfourth\n");
    EXPECT_TRUE(DataConverter::parseSRT("nothing here").empty());
    EXPECT_EQ(DataConverter::writeSRT({}), "");
}

TEST(VTTReader, HeaderNotesStylesAndSettings) {
    std::string text =
        "WEBVTT - a title\nKind: captions\n\n"
        "NOTE this is\na comment\n\n"
        "STYLE\n::cue { color: red }\n\n"
        "REGION\nid:fred\n\n"
        "intro\n00:00:01.000 --> 00:00:02.000 align:start\nHi\n\n"
        "NOTES count as notes\n\n"
        "01:02.500 --> 01:04.000\n<v Ann>Bye\n";
    Cues cues = DataConverter::parseVTT(text);
    EXPECT_EQ(cues, (Cues{{1, 1.0, 2.0, "Hi"}, {2, 62.5, 64.0, "<v Ann>Bye"}}));
    EXPECT_EQ(DataConverter::writeVTT(cues),
              "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nHi\n\n00:01:02.500 --> 00:01:04.000\n<v Ann>Bye\n");
    EXPECT_EQ(DataConverter::writeVTT({}), "WEBVTT\n\n");
}

TEST(VTTReader, CueDirectlyUnderTheSignature) {
    EXPECT_EQ(DataConverter::parseVTT("WEBVTT\r\n00:00:01.000 --> 00:00:02.000\r\nright away\r\n\r\n00:03.000 --> 00:04.000\r\nnext\r\n"),
              (Cues{{1, 1.0, 2.0, "right away"}, {2, 3.0, 4.0, "next"}}));
    // Without a signature the whole text is read.
    EXPECT_EQ(DataConverter::parseVTT("00:01.000 --> 00:02.000\nno header\n"), (Cues{{1, 1.0, 2.0, "no header"}}));
}

TEST(Subtitles, RoundTripBetweenFormats) {
    Cues cues{{1, 0.5, 1.25, "one"}, {2, 3661.25, 3662, "two\nlines"}};
    EXPECT_EQ(DataConverter::parseVTT(DataConverter::writeVTT(cues)), cues);
    EXPECT_EQ(DataConverter::parseSRT(DataConverter::writeSRT(cues)), cues);
    EXPECT_EQ(DataConverter::parseVTT(DataConverter::writeSRT(cues)), cues);
}

}  // namespace
}  // namespace calvoro
