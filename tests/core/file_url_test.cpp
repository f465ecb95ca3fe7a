#include <gtest/gtest.h>

#include <filesystem>

#include "core/file_url.h"

namespace {

TEST(FileURL, KeysAreThePathUnlessItIsNotUTF8) {
    EXPECT_EQ(calvoro::pathKey("/tmp/café.png"), "/tmp/café.png");
    EXPECT_EQ(calvoro::pathKey("/tmp/caf\xE9.png"), "file:///tmp/caf%E9.png");
    EXPECT_NE(calvoro::pathKey("/tmp/caf\xE9.png"), calvoro::pathKey("/tmp/caf\xE8.png"));
}

TEST(FileURL, FileURLsCarryEveryByte) {
    EXPECT_EQ(calvoro::fileURL("/tmp/caf\xE9 #1%.png"), "file:///tmp/caf%E9%20%231%25.png");
    EXPECT_EQ(calvoro::fileURL("/a/b-c_d.e~"), "file:///a/b-c_d.e~");
    for (const char* path : {"/tmp/caf\xE9 #1%.png", "/a/b-c_d.e~", "/x?y", "/"})
        EXPECT_EQ(calvoro::pathFromFileURL(calvoro::fileURL(path)), std::filesystem::path(path)) << path;
    EXPECT_EQ(calvoro::pathFromFileURL("FILE://LocalHost/a%2fb"), std::filesystem::path("/a/b"));
    EXPECT_EQ(calvoro::pathFromFileURL("file:/a%00b"), std::filesystem::path(std::string("/a\0b", 4)));
    for (const char* url : {"file://host/a", "file:///a?b", "file:///a#b", "file:///a%4", "file:///a%g0", "file:a", "file://",
                            "http:///a", "/a"})
        EXPECT_FALSE(calvoro::pathFromFileURL(url)) << url;
}

}  // namespace
