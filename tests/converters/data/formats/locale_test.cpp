#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <locale>

#include "converters/data/data_converter.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

// German number punctuation: decimal comma, dot for thousands.
struct GermanPunctuation : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

// Locale-independent text of a double, for comparing parsed times.
std::string exact(double value) {
    char buf[64];
    auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}

// Everything number-shaped the data converter writes or reads.
std::vector<std::string> numberWork(const std::filesystem::path& dir) {
    std::vector<std::string> out;
    auto table = DataConverter::rowsFromJSON(R"([{"f":2.5,"h":100.0,"t":1e-07,"i":1234567,"n":[0.25,1e300]}])");
    for (const auto& cell : table.at(1)) out.push_back(cell);
    out.push_back(DataConverter::writeJSON({{"a", "b"}, {"1234.5", "-0.75e2"}}));
    out.push_back(DataConverter::stamp(3723.456, true));
    out.push_back(DataConverter::stamp(1.5, false));
    out.push_back(exact(*DataConverter::parseTimestamp("01:02:03,456")));
    out.push_back(exact(DataConverter::parseSRT("1\n00:00:01,500 --> 00:00:02.25\nx\n").at(0).end));

    testing::writeFile(dir / "numbers.json", "[{\"x\": 0.5, \"y\": 1234567.125}]");
    out.push_back(testing::readText(DataConverter::convert(dir / "numbers.json", SupportedFormat::json, SupportedFormat::csv, dir)));
    testing::writeFile(dir / "cues.srt", "1\n00:00:01,500 --> 00:00:02,250\nx\n");
    out.push_back(testing::readText(DataConverter::convert(dir / "cues.srt", SupportedFormat::srt, SupportedFormat::vtt, dir)));
    return out;
}

TEST(Locale, GermanNumberFormatsChangeNothing) {
    testing::TempDir before, after;
    auto reference = numberWork(before.path());
    EXPECT_EQ(reference.at(0), "2.5");
    EXPECT_EQ(reference.at(4), "[0.25,1e+300]");

    std::string previousC = std::setlocale(LC_ALL, nullptr);
    std::locale previous = std::locale();
    // A German C library locale: the installed one, else one compiled for this test.
    testing::TempDir compiled;
    bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    if (!german && testing::haveTool("localedef") &&
        testing::run("localedef -i de_DE -f UTF-8 " + testing::shellQuote((compiled / "de_DE.UTF-8").string())).status == 0) {
        setenv("LOCPATH", compiled.path().c_str(), 1);
        german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    }
    if (german) {
        ASSERT_EQ(std::localeconv()->decimal_point, std::string(","));
        std::locale::global(std::locale("de_DE.UTF-8"));
    } else {
        // No German locale installed: a UTF-8 C library locale and German punctuation for C++.
        std::setlocale(LC_ALL, "C.UTF-8");
        std::locale::global(std::locale(std::locale(), new GermanPunctuation));
    }
    std::vector<std::string> results;
    EXPECT_NO_THROW(results = numberWork(after.path()));
    std::locale::global(previous);
    std::setlocale(LC_ALL, previousC.c_str());
    unsetenv("LOCPATH");

    EXPECT_EQ(results, reference);
}

}  // namespace
}  // namespace calvoro
