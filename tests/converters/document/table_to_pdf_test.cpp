#include "converters/document/table_to_pdf.h"

#include <gtest/gtest.h>

#include <future>

#include "converters/data/data_converter.h"
#include "platform/pdf/pdf_fixture.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace DC = calvoro::DocumentConverter;

namespace {

TEST(TablePDF, ALongTablePrintedInSlicesComesOutAsInOneLayout) {
    ASSERT_TRUE(peerInstalled("pdfinfo"));
    ASSERT_TRUE(peerInstalled("pdftotext"));
    // Rows of one to three lines, so that slices end at pages of different lengths, and a few
    // of some pages each, which count as the pages they fill.
    DataConverter::Table table{{"code", "name", "note"}};
    for (int i = 0; i < 260; ++i) {
        std::string note;
        for (int w = 0; w < (i % 70 == 35 ? 900 : (i * 5) % 11); ++w) note += "a note that wraps ";
        table.push_back({"C" + std::to_string(1000 + i), "Name " + std::to_string(i), note});
    }
    const std::string html = DataConverter::writeHTMLTable(table, "notes");
    TempDir dir;
    // About forty rows a slice: a page and a bit, so that every slice hands rows on to the next.
    // The two are asked for at once, as conversions side by side ask; they print in turn.
    auto sliced = std::async(std::launch::async, [&] { DC::tablePageToPDF(html, dir / "sliced.pdf", 120); });
    DC::tablePageToPDF(html, dir / "whole.pdf");
    sliced.get();
    auto text = [&](const char* name) { return run("pdftotext " + shellQuote((dir / name).string()) + " -").output; };
    auto pages = [&](const char* name) { return pdfinfoField(run("pdfinfo " + shellQuote((dir / name).string())).output, "Pages"); };
    const std::string whole = text("whole.pdf");
    for (int i = 0; i < 260; ++i) EXPECT_NE(whole.find("C" + std::to_string(1000 + i)), std::string::npos) << i;
    // The same rows on the same pages: none lost or repeated where slices meet, no page cut short.
    EXPECT_EQ(text("sliced.pdf"), whole);
    EXPECT_EQ(pages("sliced.pdf"), pages("whole.pdf"));
}

}  // namespace
