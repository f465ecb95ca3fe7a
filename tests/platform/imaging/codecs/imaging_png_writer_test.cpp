// The PNG writer's strips: every shape of picture reads back as written, whether its rows come
// from a whole picture or one at a time; and the check of a PNG that never holds it whole.

#include <gtest/gtest.h>

#include <algorithm>

#include "core/conversion_error.h"
#include "platform/imaging/codecs/png_writer.h"
#include "platform/imaging/image_source.h"

using namespace calvoro;
using namespace calvoro::imaging;

namespace {

RgbaImage noisy(int w, int h, bool alpha, bool sixteen) {
    RgbaImage image(w, h);
    if (sixteen) image.deep.resize(image.pixels.size());
    uint32_t seed = 5;
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        const bool alphaSample = i % 4 == 3;
        const auto sample = static_cast<uint16_t>(alphaSample && !alpha ? 0xFFFF : (i / 4 % 251) * 200 + (seed >> 26));
        if (sixteen) image.deep[i] = sample;
        image.pixels[i] = static_cast<uint8_t>(sample >> 8);
    }
    if (sixteen) image.pixelsFromDeep();
    return image;
}

}  // namespace

TEST(ImagingPngWriter, StripsOfEveryShapeReadBackAsWritten) {
    struct Case {
        const char* name;
        int width, height;
        bool alpha, sixteen;
    };
    const Case cases[] = {
        {"one row", 300, 1, false, false},
        // Tall and narrow: the dictionary spans many rows, and strips of many thousand rows.
        {"narrow", 1, 300000, false, false},
        // Each row larger than a strip: a strip a row, the dictionary a row long.
        {"wide", 400000, 4, false, false},
        {"rgba over strips", 700, 500, true, false},
        {"16-bit over strips", 600, 300, true, true},
        {"16-bit opaque", 333, 71, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const RgbaImage image = noisy(c.width, c.height, c.alpha, c.sixteen);
        const auto bytes = detail::writePNGFile(image, {});
        const auto source = ImageSource::fromData(bytes);
        ASSERT_TRUE(source.has_value());
        const RgbaImage back = source->decodeFirstFrame();
        EXPECT_EQ(back.width, c.width);
        EXPECT_EQ(back.height, c.height);
        EXPECT_EQ(source->properties().hasAlpha, c.alpha);
        EXPECT_EQ(source->properties().bitsPerComponent, c.sixteen ? 16 : 8);
        EXPECT_TRUE(back.pixels == image.pixels);
        if (c.sixteen) EXPECT_TRUE(back.deep == image.deep);

        // Rows handed one at a time, from a single buffer reused for each, give the same file.
        detail::PngRows rows{c.width, c.height, c.alpha, c.sixteen, {}};
        std::vector<uint16_t> deepRow(static_cast<size_t>(c.width) * 4);
        std::vector<uint8_t> row(static_cast<size_t>(c.width) * 4);
        rows.rowAt = [&](int y) -> const void* {
            const size_t offset = static_cast<size_t>(y) * row.size();
            if (c.sixteen) return std::copy_n(image.deep.begin() + static_cast<long>(offset), deepRow.size(), deepRow.begin()), deepRow.data();
            return std::copy_n(image.pixels.begin() + static_cast<long>(offset), row.size(), row.begin()), row.data();
        };
        std::vector<uint8_t> streamed;
        size_t largestPart = 0;
        detail::writePNG(rows, {}, {}, [&](const uint8_t* p, size_t n) {
            streamed.insert(streamed.end(), p, p + n);
            largestPart = std::max(largestPart, n);
        });
        EXPECT_TRUE(streamed == bytes);
        EXPECT_LE(largestPart, (size_t(1) << 20) + 12);  // an IDAT chunk at most
    }
}

TEST(ImagingPngWriter, RowsThatStopComingFailTheWrite) {
    const RgbaImage image = noisy(900, 900, false, false);
    detail::PngRows rows{900, 900, false, false, {}};
    rows.rowAt = [&](int y) -> const void* { return y < 700 ? image.row(y) : nullptr; };
    EXPECT_THROW(detail::writePNG(rows, {}, {}, [](const uint8_t*, size_t) {}), ConversionError);
}

TEST(ImagingPngCheck, ABigPngIsCheckedRowByRowAtAFractionOfItsSize) {
    for (const bool alpha : {false, true}) {
        SCOPED_TRACE(alpha);
        const RgbaImage image = noisy(1000, 600, alpha, false);
        const auto bytes = detail::writePNGFile(image, {});
        const RgbaImage small = ImageSource::fromData(bytes)->decodeFirstFrameForCheck();
        // Every fourth pixel of every fourth row.
        ASSERT_EQ(small.width, 250);
        ASSERT_EQ(small.height, 150);
        for (int y : {0, 77, 149})
            for (int x : {0, 101, 249})
                EXPECT_TRUE(std::equal(small.row(y) + x * 4, small.row(y) + x * 4 + 4, image.row(y * 4) + x * 16));
        const auto source = ImageSource::fromData(bytes);
        source->decodeFirstFrameForCheck();
        EXPECT_EQ(source->properties().pixelWidth, 1000);
        EXPECT_EQ(source->properties().hasAlpha, alpha);
    }
    // A file cut short is checked as a whole decode checks it: the rows it has.
    const auto bytes = detail::writePNGFile(noisy(300, 300, false, false), {});
    const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2));
    EXPECT_EQ(ImageSource::fromData(cut)->decodeFirstFrameForCheck().width, 300);
}
