#include <gtest/gtest.h>
#include <fstream>

#include "app/entry/desktop/desktop_session.h"

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
