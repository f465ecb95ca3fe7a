#include <gtest/gtest.h>
#include <fstream>

#include "app/entry/desktop/desktop_session.h"
#include "support/test_support.h"

using calvoro::StartArguments;
namespace fs = std::filesystem;

TEST(StartArguments, SortsLinksFilesAndFlags) {
    const auto start = StartArguments::read(
        {"/usr/bin/calvoro", "calvoro://convert?src=/a.png&fmt=jpeg", "file:///home/u/My%20Photo.png", "relative/b.png",
         "/abs/c.png", "file://localhost/d.png", "file://elsewhere/e.png", "https://example.com/x", "-platform",
         "--dbus-service", "--seed-files", "/seeded.png"},
        "/work");
    EXPECT_EQ(start.urls, (std::vector<std::string>{"calvoro://convert?src=/a.png&fmt=jpeg", "https://example.com/x"}));
    EXPECT_EQ(start.files, (std::vector<fs::path>{"/home/u/My Photo.png", "/work/relative/b.png", "/abs/c.png", "/d.png"}));
    EXPECT_TRUE(start.dbusService);
}

TEST(StartArguments, AnExistingFileWhoseNameLooksLikeALinkIsAFile) {
    const fs::path folder = fs::temp_directory_path();
    const fs::path odd = folder / "x:y.png";
    { std::ofstream(odd) << "x"; }
    const auto start = StartArguments::read({"calvoro", "x:y.png"}, folder);
    fs::remove(odd);
    EXPECT_TRUE(start.urls.empty());
    EXPECT_EQ(start.files, std::vector<fs::path>{odd});
    EXPECT_FALSE(start.dbusService);
}

TEST(StartArguments, TheProgramsOwnSchemeIsAlwaysALink) {
    // Not a well-formed URL, and no such file: still a link, never a file to open in a window.
    const auto start = StartArguments::read(
        {"calvoro", "calvoro://convert?src=%ZZ&fmt=png", "CALVORO://convert?src=/a b.png&fmt=png", "calvoro:"}, "/work");
    EXPECT_EQ(start.urls, (std::vector<std::string>{"calvoro://convert?src=%ZZ&fmt=png", "CALVORO://convert?src=/a b.png&fmt=png",
                                                    "calvoro:"}));
    EXPECT_TRUE(start.files.empty());
}

TEST(StartArguments, SeedFilesAreTheExistingFilesAfterTheFlagAndTheRestAreNamed) {
    calvoro::testing::TempDir folder;
    calvoro::testing::writeFile(folder / "seed.csv", std::string("a\n1\n"));
    fs::create_directory(folder / "photos");
    const std::string latin1 = "caf\xE9.csv";
    calvoro::testing::writeFile(folder / latin1, std::string("a\n1\n"));
    const auto start = StartArguments::read({"calvoro", "/open/with.png", "--seed-files", "seed.csv", "missing-seed.csv", "photos",
                                             latin1, "calvoro://convert?src=/a.png&fmt=png", ""},
                                            folder.path());
    EXPECT_EQ(start.seedFiles, (std::vector<fs::path>{folder / "seed.csv", folder / latin1}));
    EXPECT_EQ(start.seedProblems, (std::vector<std::string>{"Not found: missing-seed.csv", "Folder not added: photos (add the files inside instead)",
                                                            "Not found: calvoro://convert?src=/a.png&fmt=png", "Not found: "}));
    EXPECT_EQ(start.files, std::vector<fs::path>{"/open/with.png"});
    EXPECT_TRUE(start.urls.empty());
    EXPECT_TRUE(StartArguments::read({"calvoro", "--seed-files"}, folder.path()).seedFiles.empty());
}
