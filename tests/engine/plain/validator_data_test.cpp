// Tables and subtitles read back with the data converter's readers.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/validator.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;
using Status = Validator::ValidationStatus;

namespace {

class ValidatorData : public ::testing::Test {
protected:
    Status check(SupportedFormat t, const std::string& text) {
        const fs::path p = dir_ / ("out." + t.fileExtension());
        writeFile(p, text);
        return Validator::validate(t, p);
    }
    std::string reason(SupportedFormat t, const std::string& text) {
        const Status s = check(t, text);
        return s.isFailure() ? s.reason() : "<not a failure>";
    }
    TempDir dir_;
};

}  // namespace

TEST_F(ValidatorData, DelimitedTablesNeedAHeaderAndEqualRows) {
    EXPECT_EQ(check(SupportedFormat::csv, "a,b\n1,\"x,y\"\n"), Status::passed());
    EXPECT_EQ(check(SupportedFormat::tsv, "a\tb\r\n1\t2\r\n"), Status::passed());
    EXPECT_EQ(reason(SupportedFormat::csv, "a,b\n"), "Expected a header plus at least one row, got 1");
    EXPECT_EQ(reason(SupportedFormat::csv, "a,b,c\n1,2,3\n4,5\n"), "Row 3 has 2 columns, header has 3");
    EXPECT_EQ(reason(SupportedFormat::tsv, "a,b\n1\t2\t3\n"), "Row 2 has 3 columns, header has 1");
    EXPECT_EQ(reason(SupportedFormat::csv, "a,b\n\xFF,1\n"), "Delimited file not readable as UTF-8");
    EXPECT_EQ(reason(SupportedFormat::csv, std::string("a,b\n1,2\n\0\n", 10)), "Delimited file holds a NUL byte");
}

TEST_F(ValidatorData, LargeTablesAreWalkedWhole) {
    // Past the pieces the check walks at a time: a character straddling a piece's end is
    // whole, and a short row far down is still found.
    std::string text = "\xEF\xBB\xBFname,note\n";
    const size_t straddle = (4u << 20) - 1;
    while (text.size() + 8 < straddle) text += "x,y\n";
    text += std::string(straddle - text.size() - 3, 'z') + ",y\n";
    text += "\xE2\x82\xAC,\"quoted, \"\"cell\"\"\"\n";
    while (text.size() < (20u << 20)) text += "\xC3\xA9t\xC3\xA9,\xF0\x9F\x98\x80\n";
    EXPECT_EQ(check(SupportedFormat::csv, text), Status::passed());
    const auto rows = std::count(text.begin(), text.end(), '\n');
    EXPECT_EQ(reason(SupportedFormat::csv, text + "lonely\n"), "Row " + std::to_string(rows + 1) + " has 1 columns, header has 2");
    std::string broken = text;
    broken[(12u << 20) + 1] = '\xFF';
    EXPECT_EQ(reason(SupportedFormat::csv, broken), "Delimited file not readable as UTF-8");
    EXPECT_EQ(reason(SupportedFormat::csv, ""), "Expected a header plus at least one row, got 0");
    EXPECT_EQ(Validator::validate(SupportedFormat::csv, dir_.path()).reason(), "Delimited file not readable as UTF-8");
}

TEST_F(ValidatorData, JSONNeedsANonEmptyArrayAtTheTop) {
    EXPECT_EQ(check(SupportedFormat::json, "[{\"a\": 1}]"), Status::passed());
    EXPECT_EQ(check(SupportedFormat::json, "\xEF\xBB\xBF [[]]\n"), Status::passed());
    EXPECT_EQ(check(SupportedFormat::json, "[null]"), Status::passed());
    EXPECT_EQ(reason(SupportedFormat::json, "[]"), "JSON array is empty");
    EXPECT_EQ(reason(SupportedFormat::json, "{\"rows\": [1]}"), "JSON root is not an array");
    for (const char* broken : {"", "42", "\"text\"", "[1,]", "[1] [2]", "[1", "[\"\xFF\"]", "{\"a\": }"})
        EXPECT_EQ(reason(SupportedFormat::json, broken), "Output is not valid JSON") << broken;
    EXPECT_EQ(reason(SupportedFormat::json, "{\"a\": [1,]}"), "Output is not valid JSON");
    EXPECT_EQ(Validator::validate(SupportedFormat::json, dir_.path() / "missing.json").reason(), "JSON not readable");

    // A long array: broken only at its very end.
    std::string big = "[";
    while (big.size() < (6u << 20)) big += "{\"k\": \"v\u00e9\", \"n\": [1.5, true, null]},";
    EXPECT_EQ(check(SupportedFormat::json, big + "{}]"), Status::passed());
    EXPECT_EQ(reason(SupportedFormat::json, big + "{}"), "Output is not valid JSON");
}

TEST_F(ValidatorData, SubtitlesNeedTimedCuesWithText) {
    EXPECT_EQ(check(SupportedFormat::srt, "1\n00:00:00,000 --> 00:00:01,000\nHello\n\n2\n00:00:01,500 --> 00:00:02,000\nWorld\n"),
              Status::passed());
    EXPECT_EQ(check(SupportedFormat::vtt, "WEBVTT\n\n00:00.000 --> 00:01.000\nOnly one, at zero\n"), Status::passed());
    EXPECT_EQ(reason(SupportedFormat::vtt, "\nWEBVTT\n\n00:00.000 --> 00:01.000\nx\n"),
              "WebVTT file must begin with the WEBVTT signature");
    EXPECT_EQ(reason(SupportedFormat::srt, "just some words\n"), "No cues parsed back from output");
    EXPECT_EQ(reason(SupportedFormat::srt, "1\n00:00:00,000 --> 00:00:01,000\na\n\n2\n00:00:00,000 --> 00:00:02,000\nb\n"),
              "Every cue starts at 00:00 \u2014 timings were lost");
    EXPECT_EQ(reason(SupportedFormat::vtt, "WEBVTT\n\n00:05.000 --> 00:01.000\nbackwards\n"), "Cue 1 ends before it starts");
    EXPECT_EQ(reason(SupportedFormat::srt, "1\n00:00:00,000 --> 00:00:01,000\n\xC3\n"), "Subtitle file not readable as UTF-8");
    EXPECT_EQ(reason(SupportedFormat::srt, std::string("1\n00:00:00,000 --> 00:00:01,000\na\0\n", 35)), "Subtitle file holds a NUL byte");
}
