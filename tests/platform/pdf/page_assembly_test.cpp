#include "platform/pdf/page_assembly.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/pdf/pdf_document.h"
#include "platform/pdf/pdf_fixture.h"

using namespace calvoro;
using namespace calvoro::testing;

namespace {

std::string pdfinfo(const std::filesystem::path& path, const std::string& extra = "") {
    return run("pdfinfo " + extra + " " + shellQuote(path.string())).output;
}

}  // namespace

TEST(PageAssembly, SplitsAndReassemblesPageByPage) {
    TempDir dir;
    auto source = writeFixturePDF(dir / "three.pdf", {{612, 792, 0, "One", false}, {300, 300, 0, "Two", false}, {612, 792, 0, "Three", false}});
    auto doc = pdf::PageAssembly::open(source);
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->pageCount(), 3);

    // One page on its own, as a split writes it.
    auto single = pdf::PageAssembly::empty();
    ASSERT_TRUE(single.insertPage(*doc, 1, 0));
    ASSERT_TRUE(single.write(dir / "page2.pdf"));
    auto reread = pdf::Document::open(dir / "page2.pdf");
    ASSERT_TRUE(reread);
    EXPECT_EQ(reread->pageCount(), 1);
    EXPECT_NE(reread->pageText(0).find("Two"), std::string::npos);

    // Reordered: the last page in front of the others.
    auto all = pdf::PageAssembly::empty();
    all.appendAllPages(*doc);
    EXPECT_TRUE(all.insertPage(*doc, 2, 0));
    EXPECT_FALSE(all.insertPage(*doc, 3, 0));
    EXPECT_FALSE(all.insertPage(*doc, 0, 9));
    ASSERT_TRUE(all.write(dir / "four.pdf"));
    ASSERT_TRUE(peerInstalled("pdftotext"));
    auto text = run("pdftotext " + shellQuote((dir / "four.pdf").string()) + " -").output;
    EXPECT_LT(text.find("Three"), text.find("One")) << text;
    EXPECT_LT(text.find("One"), text.find("Two")) << text;
    ASSERT_TRUE(peerInstalled("pdfinfo"));
    EXPECT_EQ(pdfinfoField(pdfinfo(dir / "four.pdf"), "Pages"), "4");
}

TEST(PageAssembly, EmptyDocumentHasNoPages) {
    TempDir dir;
    auto empty = pdf::PageAssembly::empty();
    EXPECT_EQ(empty.pageCount(), 0);
    ASSERT_TRUE(empty.write(dir / "empty.pdf"));
    auto reopened = pdf::PageAssembly::open(dir / "empty.pdf");
    ASSERT_TRUE(reopened);
    EXPECT_EQ(reopened->pageCount(), 0);
}

TEST(PageAssembly, CropsAPageToAStripFromItsTop) {
    TempDir dir;
    // Text near the top (y 900 of 1000), a red square at the bottom left.
    auto tall = writeFixturePDF(dir / "tall.pdf", {{200, 1000, 0, "High", true}});
    auto doc = pdf::PageAssembly::open(tall);
    ASSERT_TRUE(doc);
    EXPECT_FALSE(doc->cropToStrip(0, 1000, 10));
    EXPECT_FALSE(doc->cropToStrip(0, 0, 0));
    EXPECT_FALSE(doc->cropToStrip(1, 0, 10));
    ASSERT_TRUE(doc->cropToStrip(0, 0, 300));
    ASSERT_TRUE(doc->write(dir / "strip.pdf"));
    auto strip = pdf::Document::open(dir / "strip.pdf");
    ASSERT_TRUE(strip);
    EXPECT_DOUBLE_EQ(strip->pageSize(0).width, 200);
    EXPECT_DOUBLE_EQ(strip->pageSize(0).height, 300);
    auto image = strip->render(0, 200, 300, false);
    EXPECT_EQ(image.row(295)[1 + 10 * 4], 255);  // the square is cut away
    ASSERT_TRUE(peerInstalled("pdftotext"));
    EXPECT_NE(run("pdftotext " + shellQuote((dir / "strip.pdf").string()) + " -").output.find("High"), std::string::npos);
}

TEST(PageAssembly, RefusesDamagedInputAndReportsFailedWrites) {
    TempDir dir;
    writeFile(dir / "junk.pdf", std::string("not a pdf at all"));
    EXPECT_FALSE(pdf::PageAssembly::open(dir / "junk.pdf"));
    EXPECT_FALSE(pdf::PageAssembly::openBytes("%PDF-1.7\nbroken"));
    EXPECT_TRUE(pdf::PageAssembly::openBytes(fixturePDF({{100, 100, 0, "x", false}})));

    auto doc = pdf::PageAssembly::empty();
    EXPECT_FALSE(doc.write(dir / "no" / "such" / "folder.pdf"));
    std::filesystem::create_directory(dir / "locked");
    chmod((dir / "locked").c_str(), 0500);
    if (geteuid() != 0) {
        EXPECT_FALSE(doc.write(dir / "locked" / "x.pdf"));
        EXPECT_FALSE(std::filesystem::exists(dir / "locked" / "x.pdf"));
    }
    chmod((dir / "locked").c_str(), 0700);
}
