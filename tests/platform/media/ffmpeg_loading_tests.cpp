#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "core/conversion_error.h"
#include "platform/media/asset.h"
#include "platform/media/audio_file.h"
#include "platform/media/capabilities.h"
#include "platform/media/ffmpeg_api.h"
#include "support/test_support.h"

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

// Whether the operation failed with the missing libraries as its reason.
template <typename Operation>
bool failsForWantOfFFmpeg(Operation operation) {
    try {
        operation();
    } catch (const ConversionError& e) {
        return std::string(e.what()).find("FFmpeg libraries are not available") != std::string::npos;
    } catch (...) {
    }
    return false;
}

// 0 when every media operation fails cleanly without FFmpeg, else the number of the first that did not.
int mediaWithoutFFmpeg() {
    ff::simulateAbsenceForTesting(true);
    testing::TempDir dir;
    if (!failsForWantOfFFmpeg([&] { Asset(dir / "clip.mp4").loadDuration(); })) return 1;
    AudioSettings settings;
    settings.formatID = audioFormatFLAC;
    // The writer's half-built state is unwound after the failure; that must not fail again.
    if (!failsForWantOfFFmpeg([&] { AudioFile::openForWriting(dir / "out.flac", settings, CommonFormat::float32, false); })) return 2;
    if (std::filesystem::exists(dir / "out.flac")) return 3;
    testing::writeFile(dir / "in.wav", std::string(64, '\0'));
    if (!failsForWantOfFFmpeg([&] { AudioFile::openForReading(dir / "in.wav", CommonFormat::int16, true); })) return 4;
    return anyFFmpegLoaded() ? 5 : 0;
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

TEST_F(FFmpegLoadingInFreshProcess, WithoutTheLibrariesMediaOperationsFailWithTheReason) {
    EXPECT_EXIT(std::_Exit(mediaWithoutFFmpeg()), ::testing::ExitedWithCode(0), "");
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
