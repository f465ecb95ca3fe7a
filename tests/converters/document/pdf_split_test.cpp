#include "converters/document/pdf_split.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "core/conversion_error.h"
#include "platform/pdf/pdf_fixture.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace DC = calvoro::DocumentConverter;

namespace {

// Letters that do not compress away.
std::string noise(size_t length) {
    std::string out;
    uint32_t state = 12345;
    for (size_t i = 0; i < length; ++i) {
        state = state * 1103515245u + 12345u;
        out += static_cast<char>('a' + (state >> 16) % 26);
    }
    return out;
}

std::vector<std::string> names(const std::filesystem::path& folder) {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

TEST(SplitPDF, OnePdfPerPageInAReservedFolder) {
    TempDir dir;
    writeFixturePDF(dir / "Report.pdf", {{612, 792, 0, "Alpha", false}, {300, 400, 90, "Beta", false}, {612, 792, 0, "Gamma", false}});
    std::filesystem::create_directory(dir / "out");
    const auto folder = DC::splitPDF(dir / "Report.pdf", dir / "out");
    EXPECT_EQ(folder, dir / "out" / "Report (pages)");
    ASSERT_EQ(names(folder), (std::vector<std::string>{"page_001.pdf", "page_002.pdf", "page_003.pdf"}));
    const char* expected[] = {"Alpha", "Beta", "Gamma"};
    for (int i = 0; i < 3; ++i) {
        const auto page = folder / ("page_00" + std::to_string(i + 1) + ".pdf");
        const auto info = run("pdfinfo " + shellQuote(page.string())).output;
        EXPECT_EQ(pdfinfoField(info, "Pages"), "1") << info;
        EXPECT_NE(run("pdftotext " + shellQuote(page.string()) + " -").output.find(expected[i]), std::string::npos);
    }
    // The page keeps its rotation.
    EXPECT_EQ(pdfinfoField(run("pdfinfo " + shellQuote((folder / "page_002.pdf").string())).output, "Page rot"), "90");

    // A second split of the same file gets a folder of its own; dots before the
    // extension stay in the name.
    EXPECT_EQ(DC::splitPDF(dir / "Report.pdf", dir / "out"), dir / "out" / "Report (pages) (1)");
    std::filesystem::copy_file(dir / "Report.pdf", dir / "scan.final.pdf");
    EXPECT_EQ(DC::splitPDF(dir / "scan.final.pdf", dir / "out").filename(), "scan.final (pages)");
}

TEST(SplitPDF, NumbersPastNineHundredNinetyNineKeepAllDigits) {
    TempDir dir;
    writeFixturePDF(dir / "many.pdf", std::vector<FixturePage>(1001, FixturePage{100, 100, 0, "", false}));
    const auto folder = DC::splitPDF(dir / "many.pdf", dir.path());
    const auto files = names(folder);
    ASSERT_EQ(files.size(), 1001u);
    EXPECT_EQ(files.front(), "page_001.pdf");
    EXPECT_TRUE(std::filesystem::exists(folder / "page_999.pdf"));
    EXPECT_TRUE(std::filesystem::exists(folder / "page_1000.pdf"));
    EXPECT_TRUE(std::filesystem::exists(folder / "page_1001.pdf"));
}

TEST(SplitPDF, UnreadableSourceReservesAndCreatesNothing) {
    TempDir dir;
    writeFile(dir / "Broken.pdf", std::string("%PDF-1.4\nnothing here"));
    try {
        DC::splitPDF(dir / "Broken.pdf", dir.path());
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::failedToLoadFile);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "Broken (pages)"));
    // Nothing was reserved: a readable file of that name gets the plain folder name.
    writeFixturePDF(dir / "Broken.pdf", {{100, 100, 0, "ok", false}});
    EXPECT_EQ(DC::splitPDF(dir / "Broken.pdf", dir.path()).filename(), "Broken (pages)");
}

TEST(SplitPDF, AFailedPageWriteIsAnError) {
    TempDir dir;
    // The second page carries enough text to pass a file-size limit that the first does not.
    writeFixturePDF(dir / "two.pdf", {{100, 100, 0, "small", false}, {100, 100, 0, noise(60000), false}});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only qpdf and the standard library run here, no Qt.
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{20000, 20000};
        setrlimit(RLIMIT_FSIZE, &limit);
        int status = 3;
        try {
            DC::splitPDF(dir / "two.pdf", dir.path());
            status = 1;
        } catch (const ConversionError& error) {
            status = error.kind() == ConversionError::Kind::failedToCreateOutput ? 0 : 2;
        } catch (...) {
        }
        _exit(status);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "two (pages)" / "page_001.pdf"));
    EXPECT_FALSE(std::filesystem::exists(dir / "two (pages)" / "page_002.pdf"));
}
