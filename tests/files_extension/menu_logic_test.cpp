#include <gtest/gtest.h>

#include <set>

#include "files_extension/calvoro_finder_sync.h"
#include "files_extension/finder_menu_tables.h"

using namespace calvoro;

namespace {

using Lines = std::vector<std::string>;

// The menu logic with every opened URL and log line recorded; failing URLs are refused.
struct Recorder {
    Lines opened;
    Lines log;
    std::set<std::string> failing;
    CalvoroFinderSync sync{[this](const std::string& url) -> std::optional<std::string> {
                               opened.push_back(url);
                               if (failing.contains(url)) return "No application is registered";
                               return std::nullopt;
                           },
                           [this](std::string_view line) { log.emplace_back(line); }};

    std::optional<FinderMenu> menu(std::vector<std::filesystem::path> files) { return sync.menu(files); }
};

}  // namespace

TEST(FinderMenu, SharedTargetsKeepTheFirstFilesOrder) {
    Recorder r;
    auto one = r.menu({"/p/IMG.JPG"});
    ASSERT_TRUE(one);
    EXPECT_EQ(one->convertTitles, (Lines{"PNG", "HEIC", "TIFF", "PDF", "WebP"}));
    EXPECT_TRUE(one->showsCompress);
    EXPECT_EQ(r.log, Lines{"menu built: 1 item(s), 5 format(s)"});

    auto mixed = r.menu({"/p/a.jpg", "/p/b.png"});
    ASSERT_TRUE(mixed);
    EXPECT_EQ(mixed->convertTitles, (Lines{"HEIC", "TIFF", "PDF", "WebP"}));
    EXPECT_EQ(r.sync.menuFormats(), (std::vector<SupportedFormat>{SupportedFormat::heic, SupportedFormat::tiff,
                                                                 SupportedFormat::pdf_image, SupportedFormat::webp}));
    EXPECT_TRUE(mixed->showsCompress);

    auto video = r.menu({"/p/a.mov", "/p/b.mp4"});
    ASSERT_TRUE(video);
    EXPECT_EQ(video->convertTitles, (Lines{"M4V", "GIF", "Audio (M4A)"}));
    EXPECT_TRUE(video->showsCompress);

    auto gif = r.menu({"/p/a.gif"});
    ASSERT_TRUE(gif);
    EXPECT_EQ(gif->convertTitles, (Lines{"PNG", "JPEG", "MP4"}));
    EXPECT_FALSE(gif->showsCompress);

    auto data = r.menu({"/p/a.csv", "/p/b.TSV"});
    ASSERT_TRUE(data);
    EXPECT_EQ(data->convertTitles, (Lines{"JSON", "HTML"}));
    EXPECT_FALSE(data->showsCompress);

    // A compressible file beside one that is not: Convert without Compress.
    auto partly = r.menu({"/p/a.png", "/p/b.webp"});
    ASSERT_TRUE(partly);
    EXPECT_EQ(partly->convertTitles, (Lines{"JPEG", "TIFF"}));
    EXPECT_FALSE(partly->showsCompress);
}

TEST(FinderMenu, NoMenuLeavesTheCapturedSelection) {
    Recorder r;
    ASSERT_TRUE(r.menu({"/p/a.zip"}));
    const auto captured = r.sync.capturedSelection();
    const auto formats = r.sync.menuFormats();
    r.log.clear();
    for (const auto& files : std::vector<std::vector<std::filesystem::path>>{
             {},
             {"/p/a.jpg", "/p/b.mov"},    // nothing shared
             {"/p/a.jpg", "/p/Folder"},   // a folder without an extension
             {"/p/a.jpg", "/p/song.mp3"},  // compressible, yet no Convert targets
             {"/p/a.heif"},
             {"/p/a.tif"},
             {"/p/notes.markdown"},
             {"/p/a.gzip"},
         }) {
        EXPECT_FALSE(r.menu(files)) << files.size();
    }
    EXPECT_TRUE(r.log.empty());
    EXPECT_EQ(r.sync.capturedSelection(), captured);
    EXPECT_EQ(r.sync.menuFormats(), formats);
}

TEST(FinderMenu, EveryTableEntryNamesAFormat) {
    EXPECT_EQ(convertibleExtensions().size(), 34u);
    for (auto extension : convertibleExtensions()) {
        for (const auto& choice : convertTargets(extension)) {
            auto format = SupportedFormat::fromRawValue(choice.rawValue);
            ASSERT_TRUE(format) << choice.rawValue;
            EXPECT_NE(format->rawValue(), extension) << "a file is never converted into its own format";
        }
    }
    EXPECT_EQ(convertTargets("gz").front().rawValue, "zip");
    EXPECT_EQ(convertTargets("zip")[1].rawValue, "gzip");
}

TEST(FinderActions, ConvertHandsOffEveryCapturedFile) {
    Recorder r;
    ASSERT_TRUE(r.menu({"/w/a & b #1.jpg", "/w/c.png", "/w/\u00E9t\u00E9 100%.jpeg"}));
    r.log.clear();
    r.sync.convert(3);  // WebP
    EXPECT_EQ(r.opened, (Lines{"calvoro://convert?src=/w/a%20%26%20b%20%231.jpg&fmt=webp",
                               "calvoro://convert?src=/w/c.png&fmt=webp",
                               "calvoro://convert?src=/w/%C3%A9t%C3%A9%20100%25.jpeg&fmt=webp"}));
    EXPECT_EQ(r.log, (Lines{"action: target=webp count=3", "  handed off a & b #1.jpg \u2192 webp",
                            "  handed off c.png \u2192 webp", "  handed off \u00E9t\u00E9 100%.jpeg \u2192 webp"}));
}

TEST(FinderActions, TagsOutOfRangeAndFailures) {
    Recorder r;
    ASSERT_TRUE(r.menu({"/w/a.mov", "/w/b.mp4"}));
    r.log.clear();
    r.sync.convert(3);
    r.sync.convert(-1);
    r.sync.compress(5);
    r.sync.compress(static_cast<unsigned long>(-1));
    EXPECT_TRUE(r.opened.empty());
    EXPECT_EQ(r.log, (Lines{"action: tag 3 out of range (3 formats)", "action: tag -1 out of range (3 formats)"}));

    // One refused open is logged; the rest of the selection is still handed off.
    r.log.clear();
    r.failing = {"calvoro://convert?src=/w/a.mov&fmt=gif", "calvoro://compress?src=/w/a.mov&level=tiny"};
    r.sync.convert(1);
    r.sync.compress(4);
    EXPECT_EQ(r.opened.size(), 4u);
    EXPECT_EQ(r.log, (Lines{"action: target=gif count=2", "  hand-off FAILED a.mov: No application is registered",
                            "  handed off b.mp4 \u2192 gif", "compress: level=tiny count=2",
                            "  compress hand-off FAILED: No application is registered",
                            "  compress handed off b.mp4"}));
}

TEST(FinderActions, CompressLevelsAndTheSizePicker) {
    Recorder r;
    ASSERT_TRUE(r.menu({"/w/a.wav", "/w/b.m4a"}));
    r.log.clear();
    r.sync.compress(0);
    r.sync.chooseSize();
    EXPECT_EQ(r.opened, (Lines{"calvoro://compress?src=/w/a.wav&level=maximum", "calvoro://compress?src=/w/b.m4a&level=maximum",
                               "calvoro://compress?src=/w/a.wav&choose=1", "calvoro://compress?src=/w/b.m4a&choose=1"}));
    EXPECT_EQ(r.log, (Lines{"compress: level=maximum count=2", "  compress handed off a.wav", "  compress handed off b.m4a",
                            "compress: picker count=2", "  compress handed off a.wav", "  compress handed off b.m4a"}));
}

TEST(FinderActions, NothingCapturedYet) {
    Recorder r;
    r.sync.convert(0);
    r.sync.chooseSize();
    EXPECT_TRUE(r.opened.empty());
    EXPECT_EQ(r.log, (Lines{"action: tag 0 out of range (0 formats)", "compress: picker count=0"}));
}

TEST(FinderActions, PathsThatMakeNoURL) {
    Recorder r;
    ASSERT_TRUE(r.menu({"relative/a.jpg", "/w/b.jpg"}));
    r.log.clear();
    r.sync.convert(0);
    r.sync.compress(2);
    EXPECT_EQ(r.opened, (Lines{"calvoro://convert?src=/w/b.jpg&fmt=png", "calvoro://compress?src=/w/b.jpg&level=balanced"}));
    EXPECT_EQ(r.log, (Lines{"action: target=png count=2", "  could not build hand-off URL for a.jpg",
                            "  handed off b.jpg \u2192 png", "compress: level=balanced count=2",
                            "  compress handed off b.jpg"}));
}
