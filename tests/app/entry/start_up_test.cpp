// What a run loads at start: an image, table or text-page conversion must not pay for the document
// layers (Qt Gui, QtPdf, qpdf, the web engine) or FFmpeg, and a table or text page not even for Qt
// or a picture or compression codec; a document conversion gets them through the module.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/entry/command_line_modes.h"
#include "platform/media/media_fixtures.h"
#include "support/test_support.h"

using namespace calvoro::testing;

namespace {

// Runs calvoro with the dynamic loader's file log; returns every line of that log.
std::string loadedFiles(const TempDir& dir, const std::string& arguments, int& status) {
    const auto log = dir / "ld";
    auto r = run("QT_QPA_PLATFORM=offscreen LD_DEBUG=files LD_DEBUG_OUTPUT=" + shellQuote(log.string()) + " " +
                 shellQuote(CALVORO_BINARY) + " " + arguments);
    status = r.status;
    std::string all;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        if (entry.path().filename().string().rfind("ld.", 0) == 0) {
            all += readText(entry.path());
            std::filesystem::remove(entry.path());
        }
    return all;
}

// A library is loaded when a "file=" line of the log names it (by soname or by path).
bool loads(const std::string& log, const std::string& library) {
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) end = log.size();
        const std::string_view line(log.data() + start, end - start);
        const size_t file = line.find("file=");
        if (file != std::string_view::npos && line.find(library, file) != std::string_view::npos) return true;
        start = end + 1;
    }
    return false;
}

}  // namespace

TEST(StartUp, ImageConversionLoadsNoDocumentLayersButDocumentsDo) {
    TempDir dir;
    media::ffmpeg("-f lavfi -i testsrc=size=64x48 -frames:v 1 " + shellQuote((dir / "s.png").string()));
    int status = -1;
    std::string log = loadedFiles(dir, "--convert " + shellQuote((dir / "s.png").string()) + " jpeg " + shellQuote((dir / "out").string()), status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "out" / "s.jpg"));
    ASSERT_TRUE(loads(log, "libjpeg")) << "no loader log captured";
    const auto heavyLibraries = {"libQt6Gui", "libQt6WebEngineCore", "libQt6Pdf", "libqpdf", "libavformat", "libheif", "libjxl", "libcalvoro_documents"};
    for (const char* heavy : heavyLibraries) EXPECT_FALSE(loads(log, heavy)) << heavy;

    // Tables and text pages are written with the plain rooms alone: no Qt, no codec library.
    const auto plainRefused = {"libQt6Core", "libcalvoro_rooms", "libcalvoro_program", "libtiff", "libwebp",
                               "libexiv2", "libgif", "libjpeg", "libpng", "liblcms2", "libfreetype", "libdeflate",
                               "libbrotli", "libz.so", "liblzma"};
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    log = loadedFiles(dir, "--convert " + shellQuote((dir / "t.csv").string()) + " json " + shellQuote((dir / "out").string()), status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readText(dir / "out" / "t.json"), "[\n  {\n    \"a\": 1,\n    \"b\": 2\n  }\n]\n");
    ASSERT_TRUE(loads(log, "libcalvoro_plain")) << "no loader log captured";
    for (const char* heavy : heavyLibraries) EXPECT_FALSE(loads(log, heavy)) << heavy;
    for (const char* heavy : plainRefused) EXPECT_FALSE(loads(log, heavy)) << heavy;

    writeFile(dir / "p.md", "# Title\n\nSome *text*.\n");
    log = loadedFiles(dir, "--convert " + shellQuote((dir / "p.md").string()) + " html " + shellQuote((dir / "out").string()), status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(readText(dir / "out" / "p.html").find("<em>text</em>"), std::string::npos);
    ASSERT_TRUE(loads(log, "libcalvoro_plain")) << "no loader log captured";
    for (const char* heavy : plainRefused) EXPECT_FALSE(loads(log, heavy)) << heavy;

    writeFile(dir / "a.md", "# Title\n\nSome *text*.\n");
    log = loadedFiles(dir, "--convert " + shellQuote((dir / "a.md").string()) + " pdf " + shellQuote((dir / "out").string()), status);
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(loads(log, "libcalvoro_documents"));
    EXPECT_TRUE(loads(log, "libQt6Gui"));
    EXPECT_EQ(run("pdfinfo " + shellQuote((dir / "out" / "a.pdf").string())).status, 0);
}

TEST(StartUp, OnlyDocumentRoutesAskForTheDocumentLayers) {
    TempDir dir;
    writeFile(dir / "a.md", "# x\n");
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    media::ffmpeg("-f lavfi -i testsrc=size=32x32 -frames:v 1 " + shellQuote((dir / "s.png").string()));
    // What a decision says of converting a file of the folder to a target.
    auto of = [&](auto decide) {
        return [&dir, decide](const std::string& file, const std::string& target) {
            return decide({"calvoro", "--convert", (dir / file).string(), target, "/tmp/out"});
        };
    };
    auto needs = of(&calvoro::CalvoroApp::convertNeedsDocuments);
    EXPECT_FALSE(needs("s.png", "jpeg"));
    EXPECT_FALSE(needs("s.png", "webp"));
    EXPECT_TRUE(needs("s.png", "pdf_image"));  // its check renders the PDF
    EXPECT_FALSE(needs("a.md", "html"));
    EXPECT_TRUE(needs("a.md", "pdf"));
    EXPECT_FALSE(needs("t.csv", "json"));
    EXPECT_TRUE(needs("t.csv", "pdf"));
    EXPECT_FALSE(needs("s.png", "nonsense"));
    EXPECT_FALSE(needs("missing.png", "jpeg"));
    EXPECT_FALSE(calvoro::CalvoroApp::convertNeedsDocuments({"calvoro", "--convert", "a.png"}));

    // Only tables, subtitles and text pages to anything but PDF are converted without Qt.
    auto plain = of(&calvoro::CalvoroApp::convertRunsPlain);
    EXPECT_TRUE(plain("t.csv", "json"));
    EXPECT_TRUE(plain("a.md", "html"));
    EXPECT_FALSE(plain("t.csv", "pdf"));
    EXPECT_FALSE(plain("a.md", "pdf"));
    EXPECT_FALSE(plain("a.md", "docx"));
    EXPECT_FALSE(plain("s.png", "jpeg"));
    EXPECT_FALSE(plain("t.csv", "nonsense"));
    EXPECT_FALSE(calvoro::CalvoroApp::convertRunsPlain({"calvoro", "--convert", "t.csv"}));
}
