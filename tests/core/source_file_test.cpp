#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "core/byte_pipe.h"
#include "core/source_file.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace fs = std::filesystem;

namespace {

ConversionError::Kind refusedKind(const std::function<void()>& open) {
    try {
        open();
    } catch (const ConversionError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "not refused";
    return ConversionError::Kind::conversionFailed;
}

}  // namespace

// A FIFO would keep its reader waiting for a writer and a device never ends: after links are
// followed only a regular file is a source, and opening one never waits, also when the file was
// swapped for a FIFO after it was looked at.
TEST(SourceFile, OnlyARegularFileBehindItsLinksIsReadAndOpeningNeverWaits) {
    TempDir dir;
    writeFile(dir / "t.csv", "a,b\n");
    fs::create_symlink(dir / "t.csv", dir / "link.csv");
    fs::create_symlink(dir / "gone.csv", dir / "dangling.csv");
    fs::create_directory(dir / "folder.csv");
    ASSERT_EQ(::mkfifo((dir / "pipe.csv").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero.csv");

    for (const char* name : {"t.csv", "link.csv"}) {
        EXPECT_EQ(SourceFile::kindOf(dir / name), SourceFile::Kind::regularFile) << name;
        EXPECT_FALSE(SourceFile::refusal(dir / name)) << name;
        SourceFile file(dir / name);
        EXPECT_EQ(file.size(), 4u);
        EXPECT_EQ(file.readAllAsString(), "a,b\n");
    }
    for (const char* name : {"gone.csv", "dangling.csv"}) {
        EXPECT_EQ(SourceFile::kindOf(dir / name), SourceFile::Kind::missing) << name;
        EXPECT_FALSE(SourceFile::refusal(dir / name)) << name << ": each entry says it is missing in its own words";
        EXPECT_THROW(SourceFile{dir / name}, fs::filesystem_error);
    }
    EXPECT_EQ(SourceFile::refusal(dir / "folder.csv")->kind(), ConversionError::Kind::sourceIsFolder);
    for (const char* name : {"pipe.csv", "zero.csv"}) {
        EXPECT_EQ(SourceFile::kindOf(dir / name), SourceFile::Kind::other) << name;
        EXPECT_EQ(SourceFile::refusal(dir / name)->what(), std::string(name) + " is not a regular file.");
        EXPECT_EQ(refusedKind([&] { SourceFile{dir / name}; }), ConversionError::Kind::notRegularFile) << name;
        EXPECT_EQ(refusedKind([&] { FileSource{dir / name}; }), ConversionError::Kind::notRegularFile) << name;
    }

    // Looked at as a file, then replaced by a FIFO before it is opened.
    writeFile(dir / "swapped.csv", "a,b\n");
    ASSERT_FALSE(SourceFile::refusal(dir / "swapped.csv"));
    fs::rename(dir / "pipe.csv", dir / "swapped.csv");
    EXPECT_EQ(refusedKind([&] { FileSource{dir / "swapped.csv"}; }), ConversionError::Kind::notRegularFile);
}
