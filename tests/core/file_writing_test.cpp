#include <gtest/gtest.h>

#include <fcntl.h>

#include <filesystem>

#include "core/file_writing.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::testing;

TEST(FileWriting, AtomicWritesReplaceWholeAndLeaveNoTemporary) {
    TempDir dir;
    const auto target = dir / "out.bin";
    writeFile(target, "old contents that are longer");
    const std::string bytes = "new";
    ASSERT_TRUE(files::writeAtomically(target, bytes.data(), bytes.size()));
    EXPECT_EQ(readText(target), "new");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 1);

    // A folder that does not exist: refused, nothing made.
    EXPECT_FALSE(files::writeAtomically(dir / "missing" / "x", bytes.data(), bytes.size()));
    EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

TEST(FileWriting, FailuresAreReported) {
    TempDir dir;
    writeFile(dir / "taken", "x");
    const std::string bytes(4096, 'a');
    EXPECT_FALSE(files::writeAll(dir / "taken", bytes.data(), bytes.size(), O_CREAT | O_EXCL));
    EXPECT_EQ(readText(dir / "taken"), "x");
    // A full disk is a failure, not a short file reported as written.
    EXPECT_FALSE(files::writeAll("/dev/full", bytes.data(), bytes.size(), O_CREAT | O_TRUNC));
}

TEST(FileWriting, AFileWrittenInPartsAppearsOnlyWhenCommitted) {
    TempDir dir;
    auto entries = [&] { return std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()); };
    {
        files::AtomicFile file(dir / "out.bin");
        EXPECT_TRUE(file.write("ab", 2));
        EXPECT_TRUE(file.write("cd", 2));
        EXPECT_FALSE(std::filesystem::exists(dir / "out.bin"));
        // Committed under another name in the same folder.
        ASSERT_TRUE(file.commit(dir / "chosen.bin"));
    }
    EXPECT_EQ(readText(dir / "chosen.bin"), "abcd");
    EXPECT_EQ(entries(), 1);
    {
        files::AtomicFile abandoned(dir / "other.bin");
        EXPECT_TRUE(abandoned.write("xyz", 3));
    }
    EXPECT_EQ(entries(), 1);  // not committed: nothing left behind
    // A folder that does not exist: every part and the commit fail.
    files::AtomicFile nowhere(dir / "missing" / "x");
    EXPECT_FALSE(nowhere.write("a", 1));
    EXPECT_FALSE(nowhere.commit());
}

TEST(FileWriting, ANameAsLongAsTheFileSystemAllowsCanBeWrittenAtomically) {
    TempDir dir;
    const auto target = dir / (std::string(251, 'n') + ".png");
    const std::string bytes = "whole";
    ASSERT_TRUE(files::writeAtomically(target, bytes.data(), bytes.size()));
    EXPECT_EQ(readText(target), "whole");
    EXPECT_LT(files::temporaryName().size(), 64u);
}

TEST(FileWriting, AnOutputFolderThatCannotBeMadeIsExplainedByName) {
    TempDir dir;
    ASSERT_FALSE(files::makeOutputFolder(dir / "new" / "nested"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "new" / "nested"));
    EXPECT_FALSE(files::makeOutputFolder(dir / "new" / "nested"));

    writeFile(dir / "f.txt", "x");
    std::filesystem::create_symlink(dir / "gone", dir / "dangl");
    const std::string d = dir.path().string();
    EXPECT_EQ(files::makeOutputFolder(""), "No output folder was given.");
    EXPECT_EQ(files::makeOutputFolder(dir / "f.txt"), "The output folder \u201C" + d + "/f.txt\u201D is a file, not a folder.");
    EXPECT_EQ(files::makeOutputFolder(dir / "f.txt" / "sub"),
              "The output folder \u201C" + d + "/f.txt/sub\u201D cannot be made: \u201C" + d + "/f.txt\u201D is a file, not a folder.");
    EXPECT_EQ(files::makeOutputFolder(dir / "dangl"),
              "The output folder \u201C" + d + "/dangl\u201D is a link to something that is no longer there.");
    EXPECT_EQ(files::makeOutputFolder(dir / "dangl" / "x"), "The output folder \u201C" + d + "/dangl/x\u201D cannot be made: \u201C" + d +
                                                                 "/dangl\u201D is a link to something that is no longer there.");
    EXPECT_FALSE(std::filesystem::exists(dir / "gone"));
}
