#include <gtest/gtest.h>

#include <sys/xattr.h>

#include <algorithm>
#include <optional>

#include "core/file_detector.h"
#include "support/test_support.h"

using calvoro::FileDetector;
using calvoro::testing::TempDir;
using calvoro::testing::writeFile;
using F = calvoro::SupportedFormat;

namespace {

// Some file systems (tmpfs on old kernels) refuse user attributes; those tests then skip.
bool setMime(const std::filesystem::path& p, const std::string& mime) {
    return ::setxattr(p.c_str(), "user.mime_type", mime.data(), mime.size(), 0) == 0;
}

}  // namespace

TEST(FileDetector, NameWinsOverContent) {
    TempDir dir;
    writeFile(dir / "photo.jpg", std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(FileDetector::detect(dir / "photo.jpg"), F(F::jpg));
    EXPECT_EQ(FileDetector::detect(dir / "PHOTO.JPEG"), F(F::jpeg));  // missing but named
    EXPECT_EQ(FileDetector::detect(dir / "archive.tar.gz"), F(F::gzip));
    std::filesystem::create_directory(dir / "folder.zip");
    EXPECT_EQ(FileDetector::detect(dir / "folder.zip"), F(F::zip));
}

TEST(FileDetector, TypeFallbackWalksTheConformanceList) {
    TempDir dir;
    writeFile(dir / "server.log", "line\n");
    EXPECT_EQ(FileDetector::detect(dir / "server.log"), F(F::txt));  // a plain-text type
    writeFile(dir / "page.xhtml", "<html/>");
    EXPECT_FALSE(FileDetector::detect(dir / "page.xhtml"));  // XML, not HTML
    writeFile(dir / "bundle.tgz", "x");
    EXPECT_EQ(FileDetector::detect(dir / "bundle.tgz"), F(F::gzip));
    writeFile(dir / "clip.qt", "x");
    EXPECT_EQ(FileDetector::detect(dir / "clip.qt"), F(F::mov));
    for (const char* name : {"movie.webm", "drawing.svg", "book.epub", "data.unknownext", "noext"}) {
        writeFile(dir / name, "x");
        EXPECT_FALSE(FileDetector::detect(dir / name)) << name;
    }
    EXPECT_FALSE(FileDetector::detect(dir / "missing.log"));
}

TEST(FileDetector, FilesWithoutExtensionUseTheirMimeAttribute) {
    TempDir dir;
    writeFile(dir / "image", "x");
    writeFile(dir / "notes", "x");
    writeFile(dir / "sheet", "x");
    if (!setMime(dir / "image", "image/png")) GTEST_SKIP() << "no user extended attributes here";
    setMime(dir / "notes", "text/plain; charset=utf-8");
    setMime(dir / "sheet", "application/vnd.oasis.opendocument.spreadsheet");
    EXPECT_EQ(FileDetector::detect(dir / "image"), F(F::png));
    EXPECT_EQ(FileDetector::detect(dir / "notes"), F(F::txt));
    EXPECT_FALSE(FileDetector::detect(dir / "sheet"));
}

TEST(FileDetector, CreateJobFillsDefaults) {
    TempDir dir;
    writeFile(dir / "a.csv", "a,b\n1,2\n");
    auto job = FileDetector::createJob(dir / "a.csv");
    ASSERT_TRUE(job);
    EXPECT_EQ(job->fileName, "a.csv");
    EXPECT_EQ(job->fileSize, 8);
    EXPECT_EQ(job->detectedFormat, F::csv);
    EXPECT_FALSE(job->targetFormat);
    EXPECT_FALSE(job->imageQuality);
    auto vanished = FileDetector::createJob(dir / "gone.mp3");
    ASSERT_TRUE(vanished);
    EXPECT_EQ(vanished->fileSize, 0);
    EXPECT_FALSE(FileDetector::createJob(dir / "x.webm"));
    EXPECT_NE(FileDetector::createJob(dir / "a.csv")->id, job->id);
}

TEST(FileDetector, ReadableExtensionsAreExactlyTheNamesDetectionKnows) {
    const auto readable = FileDetector::readableExtensions();
    auto find = [&](const std::string& ext) {
        for (const auto& [e, format] : readable)
            if (e == ext) return std::optional<F>(format);
        return std::optional<F>();
    };
    // By name, by the type of the name, and never a name of a type no format reads.
    EXPECT_EQ(find("png"), F(F::png));
    EXPECT_EQ(find("cr2"), F(F::raw));
    EXPECT_EQ(find("jpe"), F(F::jpeg));
    EXPECT_FALSE(find("mkv"));
    TempDir dir;
    for (const auto& [ext, format] : readable) {
        writeFile(dir / ("a." + ext), std::string("x"));
        EXPECT_EQ(FileDetector::detect(dir / ("a." + ext)), format) << ext;
        EXPECT_EQ(std::count_if(readable.begin(), readable.end(), [&](const auto& r) { return r.first == ext; }), 1) << ext;
    }
}
