// Document conversions through the engine: text, tables, rich text to PDF and PDF splitting.
#include <gtest/gtest.h>

#include <cstdio>

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

TEST(EngineEndToEndDocuments, RTFAndDOCXTablesPrintWithinTheMarginsOfTheTextPrint) {
    TempDir dir;
    // Ruled rows from the top of the first page over the break to the next.
    std::string rtf = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\froman Times New Roman;}}";
    const std::string ruled = "\\clbrdrt\\brdrs\\clbrdrl\\brdrs\\clbrdrb\\brdrs\\clbrdrr\\brdrs";
    for (int i = 0; i < 80; ++i)
        rtf += "\\trowd" + ruled + "\\cellx3000" + ruled + "\\cellx6000\\pard\\intbl Row" + std::to_string(i) + "\\cell Cell" +
               std::to_string(i) + "\\cell\\row";
    writeFile(dir / "rows.rtf", rtf + "\\pard Closing words\\par}");
    ASSERT_TRUE(pythonModuleInstalled("docx"));
    pythonOutput("import sys, docx\n"
                 "d = docx.Document()\n"
                 "t = d.add_table(rows=80, cols=2)\n"
                 "t.style = 'Table Grid'\n"
                 "for i in range(80):\n"
                 "    t.cell(i, 0).text = 'Row%d' % i\n"
                 "    t.cell(i, 1).text = 'Cell%d' % i\n"
                 "d.add_paragraph('Closing words')\n"
                 "d.save(sys.argv[1])\n",
                 dir / "rows.docx");
    ASSERT_TRUE(peerInstalled("pdftotext"));
    ASSERT_TRUE(peerInstalled("pdftoppm"));
    for (const auto& [name, format] : {std::pair{"rows.rtf", SupportedFormat::rtf}, std::pair{"rows.docx", SupportedFormat::docx}}) {
        SCOPED_TRACE(name);
        const fs::path pdf = ConversionEngine::convert(makeJob(dir / name, format, SupportedFormat::pdf), dir / "out", noProgress);
        const std::string text = run("pdftotext " + shellQuote(pdf.string()) + " -").output;
        for (const char* expected : {"Row0", "Cell0", "Row79", "Cell79", "Closing words"}) EXPECT_NE(text.find(expected), std::string::npos) << expected;
        // The first two pages at 36 dots an inch, in grey: an inch on every side stays white.
        const std::string pages = run("pdftoppm -gray -r 36 -f 1 -l 2 " + shellQuote(pdf.string()) + " " + shellQuote((dir / "page").string())).output;
        for (const char* page : {"page-1.pgm", "page-2.pgm"}) {
            const std::string pgm = readText(dir / page);
            int w = 0, h = 0, n = 0;
            ASSERT_EQ(std::sscanf(pgm.c_str(), "P5 %d %d 255%n", &w, &h, &n), 2) << page;
            ASSERT_EQ(pgm.size(), size_t(n) + 1 + size_t(w) * h) << page;
            int dark = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x)
                    if ((x < 34 || x >= w - 34 || y < 34 || y >= h - 34) && uint8_t(pgm[n + 1 + y * w + x]) < 250) ++dark;
            EXPECT_EQ(dark, 0) << page;
        }
    }
}
