#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/media/asset.h"
#include "platform/media/capabilities.h"
#include "platform/media/ffmpeg_api.h"

namespace calvoro::media {
namespace {

// Whether any FFmpeg library is in the process, without loading it.
bool anyFFmpegLoaded() {
    ff::Libraries names;
    for (const std::string* soname : {&names.avutil, &names.avcodec, &names.avformat, &names.swresample, &names.swscale}) {
        if (void* handle = ::dlopen(soname->c_str(), RTLD_NOW | RTLD_NOLOAD)) {
            ::dlclose(handle);
            return true;
        }
    }
    return false;
}

// Each case runs in a fresh process, as other tests of this binary load FFmpeg.
class FFmpegLoadingInFreshProcess : public ::testing::Test {
protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(FFmpegLoadingInFreshProcess, NothingLoadsFFmpegBeforeTheFirstMediaOperation) {
    EXPECT_EXIT(
        {
            if (anyFFmpegLoaded()) std::_Exit(1);  // linked after all
            registerCapabilities();
            Asset asset("/nonexistent/clip.mp4");  // an asset reads its file only when asked
            if (anyFFmpegLoaded()) std::_Exit(2);
            try {
                asset.loadDuration();
            } catch (...) {
            }
            std::_Exit(anyFFmpegLoaded() ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FFmpegLoadingInFreshProcess, AFailedLoadClosesTheLibrariesItOpened) {
    EXPECT_EXIT(
        {
            ff::Libraries names;
            names.swscale = "libcalvoro-missing.so.1";  // opened last, after the others
            ff::Api table{};
            if (ff::load(names, table).empty()) std::_Exit(1);
            std::_Exit(anyFFmpegLoaded() ? 2 : 0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(FFmpegLoading, AMissingLibraryOrFunctionIsNamedInTheFailure) {
    ff::Api table{};
    ff::Libraries missingLibrary;
    missingLibrary.avformat = "libcalvoro-missing.so.1";
    std::string failure = ff::load(missingLibrary, table);
    EXPECT_EQ(failure.rfind("FFmpeg libraries are not available: ", 0), 0u) << failure;
    EXPECT_NE(failure.find("libcalvoro-missing.so.1"), std::string::npos) << failure;
    EXPECT_EQ(table.av_read_frame, nullptr);

    // A library of another version: it opens, but lacks the functions asked of it.
    ff::Libraries wrongLibrary;
    wrongLibrary.avformat = wrongLibrary.avutil;
    failure = ff::load(wrongLibrary, table);
    EXPECT_EQ(failure.rfind("FFmpeg libraries are not available: ", 0), 0u) << failure;
    EXPECT_NE(failure.find("av_find_best_stream"), std::string::npos) << failure;
    EXPECT_EQ(table.av_read_frame, nullptr);

    EXPECT_EQ(ff::load(ff::Libraries{}, table), "");
    EXPECT_NE(table.av_read_frame, nullptr);
    EXPECT_NE(table.sws_scale, nullptr);
    EXPECT_NO_THROW(ff::api());
}

}  // namespace
}  // namespace calvoro::media
