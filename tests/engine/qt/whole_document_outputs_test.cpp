// Page folders and documents are whole or absent: a full disk or a cancellation leaves nothing.
#include <gtest/gtest.h>

#include "core/cancellation.h"
#include "core/conversion_error.h"
#include "engine/conversion_engine.h"
#include "engine/engine_test_support.h"
#include "support/drawn_pdf.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;

namespace {

fs::path manyPagePDF(const TempDir& dir, int pages) {
    std::vector<DrawnPage> drawn;
    for (int i = 0; i < pages; ++i) drawn.push_back(filledPage((i % 7) / 7.0, 0.5, 1 - (i % 5) / 5.0));
    writeFile(dir / "report.pdf", drawnPDF(drawn));
    return dir / "report.pdf";
}

}  // namespace

TEST(WholeDocumentOutputs, PageFoldersOnAFullDiskFailAndLeaveNothing) {
    SmallDisk disk(16 * 1024);
    REQUIRE_SMALL_DISK(disk);
    TempDir dir;
    const fs::path pdf = manyPagePDF(dir, 36);
    for (SupportedFormat target : {SupportedFormat::pdfPagePng, SupportedFormat::pdfPageJpeg, SupportedFormat::pdfSplit}) {
        LogCapture log;
        EXPECT_ANY_THROW(ConversionEngine::convert(makeJob(pdf, SupportedFormat::pdf, target), disk.path(), noProgress))
            << target.displayName();
        EXPECT_EQ(everything(disk.path()), std::vector<std::string>{}) << target.displayName();
        for (const auto& entry : log.entries())
            EXPECT_EQ(entry.message.find("Wrote "), std::string::npos) << "reported as written: " << entry.message;
    }
    // With room, the same folder comes out whole.
    const fs::path pages =
        ConversionEngine::convert(makeJob(pdf, SupportedFormat::pdf, SupportedFormat::pdfPagePng), dir / "out", noProgress);
    EXPECT_TRUE(fs::exists(pages / "page_036.png"));
}

TEST(WholeDocumentOutputs, CancellationReachesPagesAndWebPages) {
    TempDir dir;
    const fs::path pdf = manyPagePDF(dir, 3);
    writeFile(dir / "page.html", std::string("<html><body><p>Hello</p></body></html>"));
    const std::vector<ConversionJob> jobs = {
        makeJob(pdf, SupportedFormat::pdf, SupportedFormat::pdfPagePng),
        makeJob(pdf, SupportedFormat::pdf, SupportedFormat::pdfSplit),
        makeJob(dir / "page.html", SupportedFormat::html, SupportedFormat::pdf),
    };
    for (const auto& job : jobs) {
        std::stop_source stop;
        bool stoppedInside = false;
        // Cancelled once the converter has been chosen and is about to start.
        EXPECT_THROW(ConversionEngine::convert(job, dir / "out", [&](double) { stop.request_stop(); },
                                               watchingCancellation(stoppedInside), CancellationToken(stop.get_token())),
                     CancellationError)
            << job.targetFormat->displayName();
        EXPECT_TRUE(stoppedInside) << job.targetFormat->displayName();
        EXPECT_EQ(everything(dir / "out"), std::vector<std::string>{});
    }
}
