#include "platform/pdf/pdf_document.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/pdf/pdf_fixture.h"

using namespace calvoro;
using namespace calvoro::testing;

TEST(PdfDocument, PagesSizesAndTextAgreeWithPdfinfo) {
    TempDir dir;
    auto path = writeFixturePDF(dir / "three.pdf", {{612, 792, 0, "First page", false},
                                                    {400, 300, 90, "Turned page", false},
                                                    {200, 100, 0, "", false}});
    auto doc = pdf::Document::open(path);
    ASSERT_TRUE(doc);
    EXPECT_EQ(doc->pageCount(), 3);
    EXPECT_DOUBLE_EQ(doc->pageSize(0).width, 612);
    EXPECT_DOUBLE_EQ(doc->pageSize(0).height, 792);
    // The rotation swaps the sides, as a viewer shows it.
    EXPECT_DOUBLE_EQ(doc->pageSize(1).width, 300);
    EXPECT_DOUBLE_EQ(doc->pageSize(1).height, 400);
    EXPECT_NE(doc->pageText(0).find("First page"), std::string::npos);
    EXPECT_NE(doc->pageText(1).find("Turned page"), std::string::npos);
    EXPECT_EQ(doc->pageText(2), "");
    EXPECT_EQ(doc->pageText(7), "");
    ASSERT_TRUE(peerInstalled("pdfinfo"));
    auto info = run("pdfinfo -f 2 -l 2 " + shellQuote(path.string()));
    EXPECT_EQ(pdfinfoField(info.output, "Pages"), "3");
    EXPECT_EQ(pdfinfoField(info.output, "Page    2 rot"), "90");
}

TEST(PdfDocument, RendersOntoWhiteOrTransparency) {
    TempDir dir;
    auto path = writeFixturePDF(dir / "square.pdf", {{100, 100, 0, "", true}});
    auto doc = pdf::Document::open(path);
    ASSERT_TRUE(doc);
    for (bool transparent : {false, true}) {
        auto image = doc->render(0, 200, 200, transparent);
        ASSERT_EQ(image.width, 200);
        ASSERT_EQ(image.height, 200);
        // The red square fills the bottom-left quarter; the rest is background.
        const uint8_t* red = image.row(190) + 10 * 4;
        EXPECT_GT(red[0], 240);
        EXPECT_LT(red[1], 15);
        EXPECT_EQ(red[3], 255);
        const uint8_t* empty = image.row(10) + 190 * 4;
        if (transparent) {
            EXPECT_EQ(empty[3], 0);
        } else {
            EXPECT_EQ(empty[0], 255);
            EXPECT_EQ(empty[1], 255);
            EXPECT_EQ(empty[2], 255);
            EXPECT_EQ(empty[3], 255);
        }
    }
    EXPECT_TRUE(doc->render(3, 10, 10, false).empty());
}

TEST(PdfDocument, RefusesWhatIsNotAPdf) {
    TempDir dir;
    writeFile(dir / "fake.pdf", std::string("%PDF-1.4 this is not really a pdf"));
    EXPECT_FALSE(pdf::Document::open(dir / "fake.pdf"));
    EXPECT_FALSE(pdf::Document::open(dir / "missing.pdf"));

    // A page tree of one page under 900 levels opens; under 1,100, or one whose root is among its
    // own kids, where the engine would stall for good, is refused.
    writeFile(dir / "loop.pdf", pdfFromObjects({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [2 0 R 3 0 R] /Count 2 >>",
                                               "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] >>"}));
    EXPECT_FALSE(pdf::Document::open(dir / "loop.pdf"));
    for (const int depth : {900, 1100}) {
        std::vector<std::string> objects{"<< /Type /Catalog /Pages 2 0 R >>"};
        for (int level = 0; level < depth; ++level)
            objects.push_back("<< /Type /Pages /Kids [" + std::to_string(level + 3) + " 0 R] /Count 1 >>");
        const std::string content = "BT /F1 12 Tf 72 700 Td (deep) Tj ET";
        objects.push_back("<< /Type /Page /Parent " + std::to_string(depth + 1) + " 0 R /MediaBox [0 0 612 792] /Contents " +
                          std::to_string(depth + 3) + " 0 R /Resources << /Font << /F1 " + std::to_string(depth + 4) +
                          " 0 R >> >> >>");
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
        objects.push_back("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
        const auto path = dir / ("deep" + std::to_string(depth) + ".pdf");
        writeFile(path, pdfFromObjects(objects));
        auto doc = pdf::Document::open(path);
        if (depth < 1000) {
            ASSERT_TRUE(doc) << depth;
            EXPECT_EQ(doc->pageCount(), 1);
            EXPECT_NE(doc->pageText(0).find("deep"), std::string::npos);
        } else {
            EXPECT_FALSE(doc) << depth;
        }
    }
}

TEST(PdfDocument, UsableFromSeveralThreadsAtOnce) {
    TempDir dir;
    auto path = writeFixturePDF(dir / "a.pdf", {{612, 792, 0, "Shared", true}});
    std::vector<std::thread> threads;
    std::atomic<int> good{0};
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 5; ++i) {
                auto doc = pdf::Document::open(path);
                if (doc && doc->pageText(0).find("Shared") != std::string::npos && !doc->render(0, 61, 79, false).empty())
                    ++good;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(good, 20);
}
