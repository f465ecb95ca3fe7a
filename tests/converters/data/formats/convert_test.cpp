#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <system_error>

#include "converters/data/data_converter.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/output_name_registry.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using testing::TempDir;
using testing::peerInstalled;
using testing::run;
using testing::shellQuote;
using F = SupportedFormat;

std::filesystem::path convert(const std::filesystem::path& source, F from, F to, const std::filesystem::path& dir) {
    return DataConverter::convert(source, from, to, dir);
}

ConversionError conversionError(const std::function<void()>& body) {
    try {
        body();
    } catch (const ConversionError& e) {
        return e;
    }
    ADD_FAILURE() << "no ConversionError thrown";
    return ConversionError::conversionFailed();
}

std::string fileNames(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const auto& name : names) joined += (joined.empty() ? "" : ",") + name;
    return joined;
}

TEST(DataConvert, HeaderOnlyCSV) {
    TempDir in, out;
    auto source = in / "people.csv";
    testing::writeFile(source, "name,age\n");
    ConversionLogger::shared().clear();

    auto json = convert(source, F::csv, F::json, out.path());
    EXPECT_EQ(json, out / "people.json");
    EXPECT_EQ(testing::readText(json), "[\n]\n");
    auto entries = ConversionLogger::shared().entries();
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back().level, ConversionLogger::Level::success);
    EXPECT_EQ(entries.back().category, "Data");
    EXPECT_EQ(entries.back().message, "Wrote 1 rows");
    EXPECT_EQ(entries.back().detail, "people.json");

    auto html = testing::readText(convert(source, F::csv, F::html, out.path()));
    EXPECT_NE(html.find("<title>people</title>"), std::string::npos);
    EXPECT_NE(html.find("<tr><th>name</th><th>age</th></tr>\n</table>"), std::string::npos);
    EXPECT_EQ(testing::readText(convert(source, F::csv, F::markdown, out.path())), "| name | age |\n| --- | --- |\n");
    EXPECT_EQ(convert(source, F::csv, F::markdown, out.path()), out / "people (1).md");
    EXPECT_EQ(fileNames(out.path()), "people (1).md,people.html,people.json,people.md");  // no temporary left behind
}

TEST(DataConvert, EmptyTablesAndCueListsFail) {
    TempDir in, out;
    testing::writeFile(in / "blank.csv", "\n\r\n\n");
    auto e = conversionError([&] { convert(in / "blank.csv", F::csv, F::json, out.path()); });
    EXPECT_STREQ(e.what(), "File appears corrupt: No rows found in blank.csv");
    testing::writeFile(in / "empty.json", "[]");
    e = conversionError([&] { convert(in / "empty.json", F::json, F::csv, out.path()); });
    EXPECT_STREQ(e.what(), "File appears corrupt: No rows found in empty.json");

    testing::writeFile(in / "none.srt", "1\nno timing here\n\n");
    e = conversionError([&] { convert(in / "none.srt", F::srt, F::vtt, out.path()); });
    EXPECT_STREQ(e.what(), "File appears corrupt: No subtitle cues found in none.srt");
    // The name stays reserved after the failure, and nothing was written under it.
    EXPECT_EQ(OutputNameRegistry::reserve(out.path(), "none", "vtt"), out / "none (1).vtt");
    EXPECT_EQ(fileNames(out.path()), "");
}

TEST(DataConvert, SubtitleTargets) {
    TempDir in, out;
    auto source = in / "talk.srt";
    testing::writeFile(source, "1\n00:00:01,000 --> 00:00:02,000\nHello\n\n2\n00:00:03,000 --> 00:00:04,000\nWorld\n");
    ConversionLogger::shared().clear();
    EXPECT_EQ(testing::readText(convert(source, F::srt, F::txt, out.path())), "Hello\n\nWorld");
    EXPECT_EQ(ConversionLogger::shared().entries().back().message, "Wrote 2 cues");
    auto vtt = convert(source, F::srt, F::vtt, out.path());
    EXPECT_EQ(testing::readText(vtt), "WEBVTT\n\n00:00:01.000 --> 00:00:02.000\nHello\n\n00:00:03.000 --> 00:00:04.000\nWorld\n");
    auto srt = convert(vtt, F::vtt, F::srt, out.path());
    EXPECT_EQ(srt, out / "talk.srt");
    EXPECT_EQ(testing::readText(srt), testing::readText(source));
}

TEST(DataConvert, RefusedPairsNameBothFormats) {
    TempDir in, out;
    testing::writeFile(in / "t.csv", "a\n1\n");
    testing::writeFile(in / "s.srt", "1\n00:00:01,000 --> 00:00:02,000\nx\n");
    auto e = conversionError([&] { convert(in / "t.csv", F::csv, F::srt, out.path()); });
    EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedConversion);
    EXPECT_EQ(e.payload(), "CSV");
    EXPECT_EQ(e.secondPayload(), F(F::srt).displayName());
    e = conversionError([&] { convert(in / "s.srt", F::srt, F::csv, out.path()); });
    EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedConversion);
    e = conversionError([&] { convert(in / "t.csv", F::png, F::csv, out.path()); });
    EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedConversion);
    EXPECT_EQ(fileNames(out.path()), "");
}

TEST(DataConvert, UnreadableSourceReservesNothing) {
    TempDir out;
    EXPECT_THROW(convert(out / "missing.csv", F::csv, F::json, out.path()), std::system_error);
    EXPECT_EQ(OutputNameRegistry::reserve(out.path(), "missing", "json"), out / "missing.json");
}

TEST(ReadText, Encodings) {
    TempDir dir;
    auto decode = [&](const std::string& bytes) {
        testing::writeFile(dir / "t.csv", bytes);
        return DataConverter::readText(dir / "t.csv");
    };
    EXPECT_EQ(decode("caf\xC3\xA9,x"), "caf\u00e9,x");
    // A UTF-8 byte-order mark never becomes part of the first header.
    EXPECT_EQ(decode("\xEF\xBB\xBFid,name\n"), "id,name\n");
    EXPECT_EQ(DataConverter::parseDelimited(decode("\xEF\xBB\xBFid,name\n"), ',')[0][0], "id");
    EXPECT_EQ(decode(std::string("\xFF\xFE" "a\0\xE9\0", 6)), "a\u00e9");
    EXPECT_EQ(decode(std::string("\xFE\xFF\0a\0\xE9\xD8\x3D\xDE\x00", 10)), "a\u00e9\U0001F600");
    EXPECT_EQ(decode(std::string("n\0a\0m\0\xE9\0,\0x\0", 12)), "nam\u00e9,x");
    // Windows-1252 text of even length is not taken for UTF-16 without NUL bytes to show it.
    EXPECT_EQ(decode("ab\xE9" "c"), "ab\u00e9c");
    EXPECT_EQ(decode("\x80 \x93q\x94"), "\u20ac \u201cq\u201d");
    // Bytes Windows-1252 leaves undefined fall through to Latin-1.
    EXPECT_EQ(decode("\x81\xE9"), "\u0081\u00e9");
    EXPECT_EQ(decode(""), "");
}

// UTF-32 with its byte-order mark, in either byte order, from code points.
std::string utf32(const std::u32string& text, bool bigEndian) {
    std::string bytes;
    for (char32_t c : U"\uFEFF" + text)
        for (int i = 0; i < 4; ++i) bytes += static_cast<char>((c >> (bigEndian ? 24 - 8 * i : 8 * i)) & 0xFF);
    return bytes;
}

TEST(ReadText, UTF32WithAByteOrderMarkReadsAsUTF16Does) {
    TempDir in, out;
    const std::u32string srt = U"1\r\n00:00:01,000 --> 00:00:02,500\r\nCaf\u00e9 \U0001F600\r\n";
    for (bool bigEndian : {false, true}) {
        const auto source = in / (bigEndian ? "be.srt" : "le.srt");
        testing::writeFile(source, utf32(srt, bigEndian));
        EXPECT_EQ(DataConverter::readText(source), "1\r\n00:00:01,000 --> 00:00:02,500\r\nCaf\u00e9 \U0001F600\r\n");
        const auto vtt = convert(source, F::srt, F::vtt, out.path());
        EXPECT_EQ(testing::readText(vtt), "WEBVTT\n\n00:00:01.000 --> 00:00:02.500\nCaf\u00e9 \U0001F600\n");
    }
    // A UTF-16LE mark followed by text that is no UTF-32 stays UTF-16.
    testing::writeFile(in / "t.csv", std::string("\xFF\xFE\0\0a\0", 6));
    EXPECT_EQ(DataConverter::readText(in / "t.csv"), std::string("\0a", 2));
}

// Peers read what we wrote.
TEST(DataConvert, PeersReadOurTables) {
    ASSERT_TRUE(peerInstalled("mlr"));
    ASSERT_TRUE(peerInstalled("python3"));
    TempDir in, out;
    auto source = in / "mixed.csv";
    testing::writeFile(source, "id,text,price,flag\r\n1,\"comma, and \"\"quotes\"\"\",2.50,TRUE\r\n2,\"two\nlines\",,no\r\n3,caf\u00e9\t\u00fc,1e3,null\r\n");
    auto csv = convert(source, F::csv, F::csv, out.path());
    auto tsv = convert(source, F::csv, F::tsv, out.path());
    auto json = convert(source, F::csv, F::json, out.path());

    auto viaMiller = run("mlr --icsv --ojson cat " + shellQuote(csv.string()));
    ASSERT_EQ(viaMiller.status, 0) << viaMiller.output;
    EXPECT_NE(viaMiller.output.find("\"text\": \"comma, and \\\"quotes\\\"\""), std::string::npos) << viaMiller.output;
    EXPECT_NE(viaMiller.output.find("\"text\": \"two\\nlines\""), std::string::npos) << viaMiller.output;
    auto tsvRows = run("mlr --icsv --ifs tab --ojson cat " + shellQuote(tsv.string()) + " | python3 -c 'import json,sys; print(len(json.load(sys.stdin)))'");
    EXPECT_EQ(tsvRows.output, "3\n");

    auto check = run("python3 -c " +
                     shellQuote("import json,sys\n"
                                "rows = json.load(open(sys.argv[1], encoding='utf-8'))\n"
                                "assert rows[0] == {'id': 1, 'text': 'comma, and \"quotes\"', 'price': 2.5, 'flag': True}, rows[0]\n"
                                "assert rows[1] == {'id': 2, 'text': 'two\\nlines', 'price': None, 'flag': 'no'}, rows[1]\n"
                                "assert rows[2] == {'id': 3, 'text': 'caf\\u00e9\\t\\u00fc', 'price': 1000.0, 'flag': None}, rows[2]\n"
                                "print('ok')\n") +
                     " " + shellQuote(json.string()));
    EXPECT_EQ(check.output, "ok\n");
}

// A first row shorter than later ones (a title or comment line above the real header): every
// target keeps every cell, read back by peers that take the header as the column names.
TEST(DataConvert, RaggedTablesKeepEveryCellInEveryTarget) {
    ASSERT_TRUE(peerInstalled("python3"));
    TempDir in, out;
    auto source = in / "r.csv";
    testing::writeFile(source, "# comment line\na,b,c\n1,2,3\n4,5\n");
    ConversionLogger::shared().clear();
    const auto json = convert(source, F::csv, F::json, out.path());
    auto entries = ConversionLogger::shared().entries();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2].level, ConversionLogger::Level::warning);
    EXPECT_EQ(entries[entries.size() - 2].message, "Row 2 has 3 cells, the header 1: the header was widened to 3 columns");
    EXPECT_EQ(entries[entries.size() - 2].detail, "r.csv");
    auto check = run("python3 -c " +
                     shellQuote("import json,sys\n"
                                "rows = json.load(open(sys.argv[1]))\n"
                                "assert rows == [{'# comment line': 'a', 'column2': 'b', 'column3': 'c'},\n"
                                "                {'# comment line': 1, 'column2': 2, 'column3': 3},\n"
                                "                {'# comment line': 4, 'column2': 5, 'column3': None}], rows\n"
                                "print('ok')\n") +
                     " " + shellQuote(json.string()));
    EXPECT_EQ(check.output, "ok\n");

    // CSV and TSV: a rectangular table whose header has an empty cell for each column it lacked.
    const std::string readDelimited = "import csv,sys\n"
                                      "rows = list(csv.reader(open(sys.argv[1], newline=''), delimiter=sys.argv[2]))\n"
                                      "assert rows == [['# comment line', '', ''], ['a', 'b', 'c'], ['1', '2', '3'], ['4', '5', '']], rows\n"
                                      "print('ok')\n";
    const auto tsv = convert(source, F::csv, F::tsv, out.path());
    EXPECT_EQ(run("python3 -c " + shellQuote(readDelimited) + " " + shellQuote(tsv.string()) + " '\t'").output, "ok\n");
    const auto csv = convert(in / "r.csv", F::csv, F::csv, out.path());
    EXPECT_EQ(run("python3 -c " + shellQuote(readDelimited) + " " + shellQuote(csv.string()) + " ,").output, "ok\n");

    // HTML: a header cell over every column.
    const auto html = convert(source, F::csv, F::html, out.path());
    check = run("python3 -c " +
                shellQuote("import sys\n"
                           "from html.parser import HTMLParser\n"
                           "class P(HTMLParser):\n"
                           "    rows = []\n"
                           "    def handle_starttag(self, tag, attrs):\n"
                           "        if tag == 'tr': self.rows.append([])\n"
                           "        if tag in ('th', 'td'): self.rows[-1].append(tag)\n"
                           "p = P(); p.feed(open(sys.argv[1]).read())\n"
                           "print([len(r) for r in p.rows], p.rows[0])\n") +
                " " + shellQuote(html.string()));
    EXPECT_EQ(check.output, "[3, 3, 3, 2] ['th', 'th', 'th']\n");

    // A JSON source of arrays, whose first is the shortest, to CSV: nothing dropped either.
    testing::writeFile(in / "arrays.json", "[[\"x\"],[1,2,3]]");
    const auto fromArrays = convert(in / "arrays.json", F::json, F::csv, out.path());
    EXPECT_EQ(testing::readText(fromArrays), "x,,\n1,2,3\n");

    // A table whose rows are as wide as its header gets no warning.
    testing::writeFile(in / "even.csv", "a,b\n1,2\n");
    ConversionLogger::shared().clear();
    convert(in / "even.csv", F::csv, F::json, out.path());
    for (const auto& entry : ConversionLogger::shared().entries()) EXPECT_NE(entry.level, ConversionLogger::Level::warning);
    // A table measured again after a wider row leaves no first attempt behind.
    EXPECT_EQ(fileNames(out.path()), "arrays.csv,even.json,r.csv,r.html,r.json,r.tsv");
}

TEST(DataConvert, FFprobeReadsOurSubtitles) {
    ASSERT_TRUE(peerInstalled("ffprobe"));
    TempDir in, out;
    auto source = in / "film.vtt";
    testing::writeFile(source, "WEBVTT\n\nNOTE skip me\n\nid1\n00:01.000 --> 00:02.500 align:start\nOne\n\n01:00:00.000 --> 01:00:01.000\nTwo\nlines\n");
    for (F target : {F::srt, F::vtt}) {
        auto written = convert(source, F::vtt, target, out.path());
        auto probe = run("ffprobe -v error -show_entries packet=pts_time,duration_time -of csv=p=0 " + shellQuote(written.string()));
        EXPECT_EQ(probe.status, 0) << probe.output;
        EXPECT_EQ(probe.output, "1.000000,1.500000\n3600.000000,1.000000\n") << target.displayName();
    }
}

}  // namespace
}  // namespace calvoro
