#include <gtest/gtest.h>

#include "converters/image_document_data/data/data_converter.h"
#include "core/conversion_logger.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using testing::TempDir;

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

    if (!testing::haveTool("pdftotext") || !testing::haveTool("pdfinfo")) GTEST_SKIP() << "poppler-utils missing";
    auto info = testing::run("pdfinfo " + testing::shellQuote(pdf.string()));
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_EQ(info.output.find("Pages:          1\n"), std::string::npos) << "83 rows do not fit one Letter page";
    auto text = testing::run("pdftotext " + testing::shellQuote(pdf.string()) + " -");
    EXPECT_NE(text.output.find("Z\u00fcrich"), std::string::npos) << text.output;
    EXPECT_NE(text.output.find("row 79"), std::string::npos);
}

TEST(DataPDF, EmptyTableFailsBeforeRendering) {
    TempDir in, out;
    testing::writeFile(in / "empty.csv", "\n");
    EXPECT_THROW(DataConverter::convert(in / "empty.csv", SupportedFormat::csv, SupportedFormat::pdf, out.path()), std::exception);
    EXPECT_FALSE(std::filesystem::exists(out / "empty.pdf"));
}

}  // namespace
}  // namespace calvoro
