// A JPEG decoded row by row for readers on other threads, and the JPEG encoder that reads
// such rows as they come.

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "core/conversion_error.h"
#include "fixtures.h"
#include "support/test_support.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"

using namespace calvoro;
using namespace calvoro::imaging;

namespace {

RgbaImage textured(int w, int h) {
    RgbaImage image(w, h);
    uint32_t seed = 99;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            uint8_t* p = image.row(y) + static_cast<size_t>(x) * 4;
            p[0] = static_cast<uint8_t>(x * 255 / w);
            p[1] = static_cast<uint8_t>(y * 255 / h);
            p[2] = static_cast<uint8_t>(seed >> 24);
            p[3] = 255;
        }
    return image;
}

std::vector<uint8_t> photo(int w, int h) {
    RgbaImage image = textured(w, h);
    image.iccProfile.assign(300, 7);
    EncodeOptions options;
    options.quality = 0.9;
    options.metadata.exif = calvoro::testing::exifBlock(6, true);
    options.metadata.orientation = 6;
    return encodeImage(image, types::jpeg, options);
}

TEST(ImagingRowStream, AnEncoderFedRowByRowWritesTheBytesOfTheWholeDecode) {
    // Odd sizes: the last band of rows is short, the chroma blocks are cut.
    const auto jpeg = photo(333, 217);
    const auto plain = ImageSource::fromData(jpeg);
    const RgbaImage want = plain->decodeFirstFrame();
    const ImageProperties wantProps = plain->properties();
    EncodeOptions again;
    again.quality = 0.8;
    again.metadata.exif = wantProps.metadata.exif;
    again.metadata.orientation = wantProps.metadata.orientation;

    RgbaImage image;
    RowProgress rows;
    ImageProperties seen;
    int rowsAtStart = -2;
    std::vector<uint8_t> encoded;
    std::string encoderError;
    std::jthread encoder;
    const auto streamed = ImageSource::fromData(jpeg);
    streamed->decodeFirstFrameRows(image, rows, [&](const ImageProperties& props) {
        seen = props;
        rowsAtStart = rows.waitFor(0);
        EXPECT_EQ(image.width, 333);
        EXPECT_EQ(image.iccProfile, want.iccProfile);
        encoder = std::jthread([&] {
            try {
                encodeJPEGRows(image, rows, again, [&](const uint8_t* p, size_t n) { encoded.insert(encoded.end(), p, p + n); });
            } catch (const std::exception& e) {
                encoderError = e.what();
            }
        });
    });
    encoder.join();
    EXPECT_EQ(rowsAtStart, 0);
    EXPECT_EQ(rows.waitFor(217), 217);
    EXPECT_TRUE(image.pixels == want.pixels);
    EXPECT_EQ(seen.pixelHeight, 217);
    EXPECT_EQ(seen.metadata.exif, wantProps.metadata.exif);
    EXPECT_EQ(seen.metadata.orientation, 6);
    EXPECT_TRUE(seen.hasGPS);
    EXPECT_EQ(streamed->properties().metadata.iccProfile, wantProps.metadata.iccProfile);
    EXPECT_EQ(encoderError, "");
    EXPECT_TRUE(encoded == encodeImage(want, types::jpeg, again));

    // Other types arrive whole, through the same call.
    const auto png = ImageSource::fromData(encodeImage(want, types::png));
    RgbaImage fromPng;
    RowProgress pngRows;
    int pngRowsAtStart = -2;
    png->decodeFirstFrameRows(fromPng, pngRows, [&](const ImageProperties&) { pngRowsAtStart = pngRows.waitFor(0); });
    EXPECT_EQ(pngRowsAtStart, 0);
    EXPECT_EQ(pngRows.waitFor(217), 217);
    EXPECT_TRUE(fromPng.pixels == want.pixels);
}

TEST(ImagingRowStream, FailuresReachTheOtherSide) {
    const RgbaImage image = textured(64, 64);
    // The rows stop coming, whether the encoder is already waiting or not.
    RowProgress rows;
    rows.advance(16);
    std::jthread failer([&] { rows.fail(); });
    try {
        encodeJPEGRows(image, rows, {}, [](const uint8_t*, size_t) {});
        FAIL() << "an incomplete picture was encoded";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::conversionFailed);
    }
    // A sink that gives up: its own error comes back out of the library.
    RowProgress all;
    all.advance(64);
    EXPECT_THROW(encodeJPEGRows(image, all, {}, [](const uint8_t*, size_t) { throw std::runtime_error("full"); }),
                 std::runtime_error);

    // A damaged scan past the middle: the decode fails after its start, and its readers learn it.
    auto jpeg = photo(333, 217);
    const uint8_t marker[] = {0xFF, 0xDA, 0x00, 0x00};
    std::copy(std::begin(marker), std::end(marker), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 2));
    const auto source = ImageSource::fromData(jpeg);
    RgbaImage decoded;
    RowProgress decodedRows;
    bool started = false;
    try {
        source->decodeFirstFrameRows(decoded, decodedRows, [&](const ImageProperties&) { started = true; });
        FAIL() << "a damaged file decoded";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
    }
    EXPECT_TRUE(started);
    EXPECT_EQ(decodedRows.waitFor(1), -1);
}

}  // namespace

TEST(ImagingRowStream, AFileLargerThanTheReadWindowDecodesAsFromMemory) {
    // Several megabytes of noise: the decode reads the mapped file a window at a time and hands
    // back what it has passed, which must not change a pixel, nor what a cut file gives.
    auto jpeg = photo(2400, 1800);
    ASSERT_GT(jpeg.size(), size_t(3) << 19);
    calvoro::testing::TempDir dir;
    for (const size_t keep : {jpeg.size(), jpeg.size() * 2 / 3}) {
        SCOPED_TRACE(keep);
        const std::vector<uint8_t> bytes(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(keep));
        calvoro::testing::writeFile(dir / "photo.jpg", bytes);
        const RgbaImage fromMemory = ImageSource::fromData(bytes)->decodeFirstFrame();
        const auto file = ImageSource::open(dir / "photo.jpg");
        ASSERT_TRUE(file);
        EXPECT_EQ(file->decodeFirstFrame().pixels, fromMemory.pixels);
        EXPECT_EQ(file->decodeFirstFrameForResize(300).pixels, ImageSource::fromData(bytes)->decodeFirstFrameForResize(300).pixels);
        // Read again after the decode handed the pages back.
        EXPECT_EQ(std::vector<uint8_t>(file->data().begin(), file->data().end()), bytes);
    }
}
