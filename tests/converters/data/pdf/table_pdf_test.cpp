#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>

#include "converters/data/data_converter.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using testing::TempDir;

std::string pdftotext(const std::filesystem::path& pdf) {
    return testing::run("pdftotext " + testing::shellQuote(pdf.string()) + " -").output;
}

int pageCount(const std::filesystem::path& pdf) {
    const std::string info = testing::run("pdfinfo " + testing::shellQuote(pdf.string())).output;
    const size_t at = info.find("Pages:");
    return at == std::string::npos ? -1 : std::stoi(info.substr(at + 6));
}

// Every page's size as pdfinfo gives it, one per line.
std::string pageSizes(const std::filesystem::path& pdf) {
    std::istringstream info(testing::run("pdfinfo -f 1 -l 9999 " + testing::shellQuote(pdf.string())).output);
    std::string sizes;
    for (std::string line; std::getline(info, line);) {
        const size_t at = line.find(" size:");
        if (line.rfind("Page ", 0) == 0 && at != std::string::npos) sizes += line.substr(line.find_first_not_of(' ', at + 6)) + "\n";
    }
    return sizes;
}

std::string csvLine(const std::vector<std::string>& cells) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) line += (i ? "," : "") + ("\"" + cells[i] + "\"");
    return line + "\n";
}

#define REQUIRE_POPPLER()                                       \
    do {                                                        \
        ASSERT_TRUE(testing::peerInstalled("pdftotext"));       \
        ASSERT_TRUE(testing::peerInstalled("pdfinfo"));         \
    } while (0)

TEST(DataPDF, TableRendersToAPDFThatPopplerReads) {
    TempDir in, out;
    std::string csv = "city,visitors\nZ\u00fcrich,1200\nOsaka,3400\n";
    for (int i = 0; i < 80; ++i) csv += "row " + std::to_string(i) + "," + std::to_string(i * 7) + "\n";
    testing::writeFile(in / "visits.csv", csv);
    ConversionLogger::shared().clear();

    auto pdf = DataConverter::convert(in / "visits.csv", SupportedFormat::csv, SupportedFormat::pdf, out.path());
    EXPECT_EQ(pdf, out / "visits.pdf");
    auto bytes = testing::readText(pdf);
    ASSERT_GE(bytes.size(), 5u);
    EXPECT_EQ(bytes.substr(0, 5), "%PDF-");
    EXPECT_EQ(ConversionLogger::shared().entries().back().message, "Wrote 83 rows");

    REQUIRE_POPPLER();
    auto info = testing::run("pdfinfo " + testing::shellQuote(pdf.string()));
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_EQ(info.output.find("Pages:          1\n"), std::string::npos) << "83 rows do not fit one Letter page";
    auto text = pdftotext(pdf);
    EXPECT_NE(text.find("Z\u00fcrich"), std::string::npos) << text;
    EXPECT_NE(text.find("row 79"), std::string::npos);
}

// The world's countries as a CSV table, one line a row: codes, flags, names and official names
// that wrap to several lines, many empty cells.
constexpr const char* countriesScript = R"(
import csv, json, sys
rows = json.load(open('/usr/share/iso-codes/json/iso_3166-1.json'))['3166-1']
cols = ['alpha_2', 'alpha_3', 'flag', 'name', 'numeric', 'official_name', 'common_name']
w = csv.writer(open(sys.argv[1], 'w', newline=''), lineterminator='\n')
w.writerow(cols)
for r in rows: w.writerow([r.get(c, '') for c in cols])
)";

// The table whole once, then its first 21 to 40 rows: twenty rows fill a page, so the last row
// falls at every place of the second page, after a page break. The place on the page is what
// counts, not the table's length, so two pages a length are enough. Two shards that run side by
// side and end together: the whole table (as long as five short ones) and the eight shortest,
// then the twelve others.
class RowsToPDF : public ::testing::TestWithParam<int> {};

TEST_P(RowsToPDF, EveryRowReachesThePdfWhereverTheLastOneFallsOnItsPage) {
    REQUIRE_POPPLER();
    ASSERT_TRUE(std::filesystem::exists("/usr/share/iso-codes/json/iso_3166-1.json")) << "iso-codes (scripts/setup installs it)";
    TempDir in, out;
    const std::filesystem::path all = in / "countries.csv";
    testing::pythonOutput(countriesScript, all);
    std::vector<std::string> lines;
    std::istringstream text(testing::readText(all));
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    ASSERT_GT(lines.size(), 200u);
    // Each row is in the text of the PDF, its three-letter code a cell of its own.
    std::string failures;
    const size_t perPage = 20, split = perPage + 9;
    std::vector<size_t> lengths;  // lines, the header's among them
    if (GetParam() == 0) lengths.push_back(lines.size());
    const size_t from = GetParam() == 0 ? perPage + 1 : split, to = GetParam() == 0 ? split : 2 * perPage + 1;
    for (size_t rows = from; rows < to; ++rows) lengths.push_back(rows + 1);
    for (const size_t n : lengths) {
        const std::string name = "countries" + std::to_string(n - 1);
        std::string csv;
        for (size_t i = 0; i < n; ++i) csv += lines[i] + "\n";
        testing::writeFile(in / (name + ".csv"), csv);
        const auto pdf = DataConverter::convert(in / (name + ".csv"), SupportedFormat::csv, SupportedFormat::pdf, out.path());
        const std::string printed = "\n" + pdftotext(pdf);
        std::string missing;
        for (size_t i = 1; i < n; ++i) {
            const std::string code = lines[i].substr(3, 3);
            if (printed.find("\n" + code + "\n") == std::string::npos) missing += " " + code;
        }
        if (!missing.empty()) failures += name + " lacks" + missing + "\n";
    }
    EXPECT_EQ(failures, "");
}

INSTANTIATE_TEST_SUITE_P(DataPDF, RowsToPDF, ::testing::Range(0, 2));

std::set<std::string> words(const std::string& text) {
    std::istringstream in(text);
    std::set<std::string> out;
    for (std::string word; in >> word;) out.insert(word);
    return out;
}

std::string withoutBlanks(std::string text) {
    text.erase(std::remove_if(text.begin(), text.end(), [](unsigned char c) { return std::isspace(c); }), text.end());
    return text;
}

TEST(DataPDF, ATableWiderThanThePageKeepsEveryColumnOnLetterPages) {
    REQUIRE_POPPLER();
    TempDir in, out;
    auto number = [](int row, int column) { return std::to_string((row * 7919 + column * 104729) % 90000 + 10000) + "." + std::to_string(column % 10) + std::to_string(row % 10); };
    // Fourteen and thirty-one columns of numbers: every header and every value is a word of the text.
    const std::vector<std::string> housing{"CRIM", "ZN", "INDUS", "CHAS", "NOX", "RM", "AGE", "DIS", "RAD", "TAX", "PTRATIO", "B", "LSTAT", "MEDV"};
    std::vector<std::string> days;
    for (int d = 1; d <= 31; ++d) days.push_back("day" + std::to_string(d));
    for (const auto& [name, header] : {std::pair{"housing", housing}, std::pair{"days", days}}) {
        std::vector<std::vector<std::string>> rows{header};
        for (int r = 0; r < 40; ++r) {
            rows.emplace_back();
            for (size_t c = 0; c < header.size(); ++c) rows.back().push_back(number(r, static_cast<int>(c)));
        }
        std::string csv;
        for (const auto& row : rows) csv += csvLine(row);
        testing::writeFile(in / (std::string(name) + ".csv"), csv);
        const auto pdf = DataConverter::convert(in / (std::string(name) + ".csv"), SupportedFormat::csv, SupportedFormat::pdf, out.path());
        const auto printed = words(pdftotext(pdf));
        std::string missing;
        for (const auto& row : rows)
            for (const auto& cell : row)
                if (!printed.count(cell)) missing += " " + cell;
        EXPECT_EQ(missing, "") << name;
        std::string letter;
        for (int i = 0; i < pageCount(pdf); ++i) letter += "612 x 792 pts (letter)\n";
        EXPECT_EQ(pageSizes(pdf), letter) << name;
    }

    // Thirteen columns, one of them holding a single word thousands of characters long: it is
    // broken across lines of its column, and the other columns keep their room.
    const std::vector<std::string> keys{"name", "version", "description", "main", "scripts", "keywords", "author",
                                        "license", "dependencies", "devDependencies", "engines", "repository", "bugs"};
    std::string dependencies = "{";
    for (int i = 0; i < 250; ++i) dependencies += (i ? "," : "") + ("\"\"pkg" + std::to_string(i) + "\"\":\"\"^" + std::to_string(i) + ".0.0\"\"");
    dependencies += "}";
    std::vector<std::string> values{"sample", "1.2.3", "A package with one very long cell", "index.js", "build", "tables",
                                    "Someone", "MIT", dependencies, "typescript", "node", "repo.git", "issues"};
    testing::writeFile(in / "package.csv", csvLine(keys) + csvLine(values));
    const auto pdf = DataConverter::convert(in / "package.csv", SupportedFormat::csv, SupportedFormat::pdf, out.path());
    const std::string text = pdftotext(pdf);
    const auto printed = words(text);
    std::string missing;
    for (const auto& key : keys)
        if (!printed.count(key)) missing += " " + key;
    for (size_t i = 0; i < values.size(); ++i)
        if (i != 8 && withoutBlanks(text).find(withoutBlanks(values[i])) == std::string::npos) missing += " " + values[i];
    std::string unquoted = dependencies;
    for (size_t at; (at = unquoted.find("\"\"")) != std::string::npos;) unquoted.erase(at, 1);
    EXPECT_NE(withoutBlanks(text).find(unquoted), std::string::npos) << "the long cell, whole and in order";
    EXPECT_EQ(missing, "");
    EXPECT_LE(pageCount(pdf), 4);
}

TEST(DataPDF, EmptyTableOrARowTooLongFailsAndLeavesNothing) {
    TempDir in, out;
    testing::writeFile(in / "empty.csv", "\n");
    EXPECT_THROW(DataConverter::convert(in / "empty.csv", SupportedFormat::csv, SupportedFormat::pdf, out.path()), std::exception);
    EXPECT_FALSE(std::filesystem::exists(out / "empty.pdf"));

    // A row is printed whole: one cell of some sixty pages, and a row of more text than a layout
    // holds, are refused, where they took gigabytes.
    auto words = [](int count) {
        std::string text;
        for (int i = 0; i < count; ++i) text += (i ? " w" : "w") + std::to_string(i);
        return text;
    };
    testing::writeFile(in / "tall.csv", "id,text\n1,\"" + words(45000) + "\"\n2,short\n");
    testing::writeFile(in / "long.csv", "id,text\n1,\"" + words(150000) + "\"\n");
    for (const char* name : {"tall", "long"}) {
        try {
            DataConverter::convert(in / (std::string(name) + ".csv"), SupportedFormat::csv, SupportedFormat::pdf, out.path());
            ADD_FAILURE() << name << " converted";
        } catch (const ConversionError& error) {
            EXPECT_NE(std::string(error.what()).find("This table has a row too long to convert to PDF."), std::string::npos)
                << name << ": " << error.what();
        }
    }
    EXPECT_TRUE(std::filesystem::is_empty(out.path()));
}

}  // namespace
}  // namespace calvoro
