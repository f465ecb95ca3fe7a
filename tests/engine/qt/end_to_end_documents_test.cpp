// Document conversions through the engine: text, tables and PDF splitting.
#include <gtest/gtest.h>

#include "engine/conversion_engine.h"
#include "engine/engine_test_support.h"
#include "support/drawn_pdf.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;

TEST(EngineEndToEndDocuments, APDFSplitsIntoOnePagePDFsThatThePeerReads) {
    TempDir dir;
    writeFile(dir / "report.pdf", drawnPDF({filledPage(1, 1, 1), filledPage(1, 1, 1), filledPage(1, 1, 1)}));
    std::vector<double> progress;
    const fs::path out = ConversionEngine::convert(makeJob(dir / "report.pdf", SupportedFormat::pdf, SupportedFormat::pdfSplit),
                                                   dir / "out", [&](double v) { progress.push_back(v); });
    EXPECT_EQ(out.filename(), "report (pages)");
    EXPECT_EQ(progress, (std::vector<double>{0.3, 1.0}));
    ASSERT_TRUE(fs::exists(out / "page_003.pdf"));
    ASSERT_TRUE(peerInstalled("pdfinfo"));
    EXPECT_NE(run("pdfinfo " + shellQuote((out / "page_002.pdf").string())).output.find("\nPages:           1\n"),
              std::string::npos);
}

TEST(EngineEndToEndDocuments, ACSVBecomesAJSONArray) {
    TempDir dir;
    writeFile(dir / "people.csv", std::string("name,age\nAda,36\nAlan,41\n"));
    const fs::path out = ConversionEngine::convert(makeJob(dir / "people.csv", SupportedFormat::csv, SupportedFormat::json),
                                                   dir / "out", noProgress);
    EXPECT_EQ(out.filename(), "people.json");
    const std::string text = readText(out);
    EXPECT_NE(text.find("Ada"), std::string::npos) << text;
    EXPECT_EQ(Validator::validate(SupportedFormat::json, out), Validator::ValidationStatus::passed());
}

TEST(EngineEndToEndDocuments, MarkdownBecomesHTMLAndTextBecomesAWhitePDF) {
    TempDir dir;
    writeFile(dir / "notes.md", std::string("# Notes\n\nSome *words*.\n"));
    const fs::path html = ConversionEngine::convert(makeJob(dir / "notes.md", SupportedFormat::markdown, SupportedFormat::html),
                                                    dir / "out", noProgress);
    EXPECT_NE(readText(html).find("Notes"), std::string::npos);
    writeFile(dir / "plain.txt", std::string("Hello from a text file.\n"));
    const fs::path pdf = ConversionEngine::convert(makeJob(dir / "plain.txt", SupportedFormat::txt, SupportedFormat::pdf),
                                                   dir / "out", noProgress);
    ASSERT_TRUE(peerInstalled("pdftotext"));
    EXPECT_NE(run("pdftotext " + shellQuote(pdf.string()) + " -").output.find("Hello from a text file."), std::string::npos);
}
