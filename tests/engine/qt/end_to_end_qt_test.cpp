// Conversions through the engine whose converters or checks need the PDF or text layers.
#include <gtest/gtest.h>

#include "engine/conversion_engine.h"
#include "engine/engine_test_support.h"
#include "support/drawn_pdf.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;

TEST(EngineEndToEndQt, PDFPagesBecomeAFolderOfPNGs) {
    TempDir dir;
    writeFile(dir / "report.pdf", drawnPDF({filledPage(1, 1, 1), filledPage(1, 0, 0)}));
    std::vector<double> progress;
    LogCapture log;
    const fs::path out = ConversionEngine::convert(makeJob(dir / "report.pdf", SupportedFormat::pdf, SupportedFormat::pdfPagePng),
                                                   dir / "out", [&](double v) { progress.push_back(v); });
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_EQ(progress, (std::vector<double>{0.3, 1.0}));
    const std::string last = log.entries().back().message;
    EXPECT_EQ(last.substr(last.size() - 9), "(2 files)") << last;
    EXPECT_EQ(Validator::validate(SupportedFormat::pdfPagePng, out), Validator::ValidationStatus::passed());
    ASSERT_TRUE(peerInstalled("identify"));
    for (const auto& e : fs::directory_iterator(out))
        EXPECT_EQ(run("identify -format %m " + shellQuote(e.path().string())).output, "PNG") << e.path();
}

TEST(EngineEndToEndQt, AnImageBecomesAnOpaqueImagePDF) {
    ASSERT_TRUE(peerInstalled("convert"));
    ASSERT_TRUE(peerInstalled("pdfinfo"));
    TempDir dir;
    ASSERT_EQ(run("convert -size 40x30 xc:black " + shellQuote((dir / "dark.png").string())).status, 0);
    const fs::path out = ConversionEngine::convert(makeJob(dir / "dark.png", SupportedFormat::png, SupportedFormat::pdf_image),
                                                   dir / "out", noProgress);
    const auto info = run("pdfinfo " + shellQuote(out.string()));
    EXPECT_EQ(info.status, 0) << info.output;
    EXPECT_NE(info.output.find("\nPages:           1\n"), std::string::npos) << info.output;
}
