// What the user is told when a conversion cannot be done, through the engine with its real router.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>

#include "compressor/compressor.h"
#include "core/conversion_error.h"
#include "engine/conversion_engine.h"
#include "engine/engine_test_support.h"
#include "platform/media/media_fixtures.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/type_identifiers.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;

namespace {

ConversionError errorOf(const std::function<void()>& body) {
    try {
        body();
    } catch (const ConversionError& e) {
        return e;
    }
    ADD_FAILURE() << "no conversion error";
    return ConversionError::conversionFailed();
}

}  // namespace

TEST(EngineRefusals, ATargetOutsideTheTableStillConvertsWhenAConverterWritesIt) {
    // The file-manager menu offers WebP for images although the table leaves it out.
    const auto offered = SupportedFormat(SupportedFormat::png).possibleConversions();
    ASSERT_EQ(std::find(offered.begin(), offered.end(), SupportedFormat::webp), offered.end());
    TempDir dir;
    writeFile(dir / "pic.png", imaging::encodeImage(imaging::RgbaImage(16, 16), imaging::types::png));
    const fs::path out = ConversionEngine::convert(makeJob(dir / "pic.png", SupportedFormat::png, SupportedFormat::webp),
                                                   dir / "out", noProgress);
    EXPECT_EQ(out.filename(), "pic.webp");
}

TEST(EngineRefusals, ATargetNoConverterWritesIsAnUnsupportedConversion) {
    ASSERT_TRUE(peerInstalled("ffmpeg"));
    TempDir dir;
    media::ffmpeg("-f lavfi -i sine=duration=0.3 " + shellQuote((dir / "tone.wav").string()));
    for (SupportedFormat target : {SupportedFormat::mp3, SupportedFormat::webp}) {
        const auto e = errorOf([&] {
            ConversionEngine::convert(makeJob(dir / "tone.wav", SupportedFormat::wav, target), dir / "out", noProgress);
        });
        EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedConversion);
        EXPECT_EQ(std::string(e.what()), "Converting WAV \u2192 " + target.displayName() + " is not supported.");
    }
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

// A job made earlier whose file has since become a folder, a FIFO or a device is refused before
// any converter reads it.
TEST(EngineRefusals, AFolderIsCalledAFolderAndAFIFOOrADeviceIsNotARegularFile) {
    TempDir dir;
    fs::create_directories(dir / "holiday.png");
    const std::string said = "holiday.png is a folder, not a file. Choose the files inside it to convert them.";
    auto e = errorOf([&] {
        ConversionEngine::convert(makeJob(dir / "holiday.png", SupportedFormat::png, SupportedFormat::jpeg), dir / "out", noProgress);
    });
    EXPECT_EQ(e.kind(), ConversionError::Kind::sourceIsFolder);
    EXPECT_STREQ(e.what(), said.c_str());
    e = errorOf([&] { Compressor::compress(dir / "holiday.png", SupportedFormat::png, CompressionLevel::maximum, dir / "out"); });
    EXPECT_STREQ(e.what(), said.c_str());

    ASSERT_EQ(::mkfifo((dir / "pipe.csv").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir / "zero.wav");
    e = errorOf([&] {
        ConversionEngine::convert(makeJob(dir / "pipe.csv", SupportedFormat::csv, SupportedFormat::json), dir / "out", noProgress);
    });
    EXPECT_EQ(e.kind(), ConversionError::Kind::notRegularFile);
    EXPECT_STREQ(e.what(), "pipe.csv is not a regular file.");
    e = errorOf([&] { Compressor::compress(dir / "zero.wav", SupportedFormat::wav, CompressionLevel::small, dir / "out"); });
    EXPECT_STREQ(e.what(), "zero.wav is not a regular file.");
    EXPECT_TRUE(!fs::exists(dir / "out") || fs::is_empty(dir / "out"));
}
