// Chains and nestings a million long in the picture formats that can hold them, read as any
// other picture: no reader walks them with a call per link.
#include <gtest/gtest.h>

#include <functional>

#include "core/gif_blocks.h"
#include "platform/imaging/image_source.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::testing;

namespace {

using Bytes = std::vector<uint8_t>;

constexpr size_t kMillion = 1'000'000;

void le16(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void le32(Bytes& b, uint32_t v) { le16(b, v & 0xFFFF), le16(b, v >> 16); }
void be16(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v >> 8), uint8_t(v)}); }
void be32(Bytes& b, uint32_t v) { be16(b, v >> 16), be16(b, v & 0xFFFF); }
void append(Bytes& b, std::string_view s) { b.insert(b.end(), s.begin(), s.end()); }

// A one-pixel grey TIFF whose first directory is followed by a million more, the last pointing
// back at the first when loop is set.
Bytes tiffChain(bool loop) {
    Bytes b{'I', 'I', 42, 0};
    le32(b, 8);
    const uint32_t entries = 9, first = 8, firstSize = 2 + 12 * entries + 4, pixel = first + firstSize;
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) { le16(b, tag), le16(b, type), le32(b, 1), le32(b, value); };
    le16(b, entries);
    entry(256, 3, 1), entry(257, 3, 1), entry(258, 3, 8), entry(259, 3, 1), entry(262, 3, 1), entry(273, 4, pixel),
        entry(277, 3, 1), entry(278, 3, 1), entry(279, 4, 1);
    le32(b, pixel + 2);
    b.insert(b.end(), {0x80, 0});
    for (size_t i = 0; i < kMillion; ++i) {
        le16(b, 1);
        entry(256, 3, 1);
        const bool last = i + 1 == kMillion;
        le32(b, last ? (loop ? first : 0) : static_cast<uint32_t>(b.size() + 4));
    }
    return b;
}

// A one-pixel GIF with a million copies of one extension before its picture.
Bytes gifWith(const Bytes& extension) {
    Bytes b;
    append(b, "GIF89a");
    le16(b, 1), le16(b, 1);
    b.insert(b.end(), {0x80, 0, 0, 0, 0, 0, 255, 255, 255});
    b.reserve(b.size() + extension.size() * kMillion + 32);
    for (size_t i = 0; i < kMillion; ++i) b.insert(b.end(), extension.begin(), extension.end());
    b.push_back(0x2C);
    le16(b, 0), le16(b, 0), le16(b, 1), le16(b, 1);
    b.insert(b.end(), {0, 2, 2, 0x44, 0x01, 0, 0x3B});
    return b;
}

// A one-pixel RGB PSD whose layers are as many nested groups as a layer count holds, each
// opened and never closed.
Bytes psdOfNestedGroups() {
    const int16_t groups = 32767;
    Bytes record(16, 0);
    be16(record, 0);
    append(record, "8BIMnorm");
    record.insert(record.end(), {255, 0, 0, 0});
    Bytes extra(8, 0);
    extra.insert(extra.end(), {0, 0, 0, 0});
    append(extra, "8BIMlsct");
    be32(extra, 4), be32(extra, 1);
    be32(record, static_cast<uint32_t>(extra.size()));
    record.insert(record.end(), extra.begin(), extra.end());
    Bytes layers;
    be16(layers, static_cast<uint16_t>(groups));
    for (int i = 0; i < groups; ++i) layers.insert(layers.end(), record.begin(), record.end());
    if (layers.size() % 2) layers.push_back(0);
    Bytes b;
    append(b, "8BPS");
    be16(b, 1);
    b.insert(b.end(), 6, 0);
    be16(b, 3), be32(b, 1), be32(b, 1), be16(b, 8), be16(b, 3);
    be32(b, 0), be32(b, 0);
    be32(b, static_cast<uint32_t>(4 + layers.size() + 4));
    be32(b, static_cast<uint32_t>(layers.size()));
    b.insert(b.end(), layers.begin(), layers.end());
    be32(b, 0);
    be16(b, 0);
    b.insert(b.end(), {10, 20, 30});
    return b;
}

struct DeepPicture {
    const char* name;
    const char* extension;
    std::function<Bytes()> make;
};

const DeepPicture kDeepPictures[] = {
    {"TIFFDirectoryChain", "tiff", [] { return tiffChain(false); }},
    {"TIFFDirectoryLoop", "tiff", [] { return tiffChain(true); }},
    {"GIFComments", "gif", [] { return gifWith({0x21, 0xFE, 0}); }},
    {"GIFGraphicControls", "gif", [] { return gifWith({0x21, 0xF9, 4, 0, 0, 0, 0, 0}); }},
    {"GIFApplicationBlocks",
     "gif",
     [] {
         Bytes ext{0x21, 0xFF, 11};
         append(ext, "NETSCAPE2.0");
         ext.insert(ext.end(), {3, 1, 0, 0, 0});
         return gifWith(ext);
     }},
    {"PSDNestedLayerGroups", "psd", psdOfNestedGroups},
};

class DeepPictures : public ::testing::TestWithParam<DeepPicture> {};

}  // namespace

TEST_P(DeepPictures, AreReadAsTheirOnePixel) {
    TempDir dir;
    const auto file = dir / (std::string("deep.") + GetParam().extension);
    writeFile(file, GetParam().make());
    auto source = imaging::ImageSource::open(file);
    ASSERT_TRUE(source);
    EXPECT_GE(source->properties().frameCount, 1);
    const auto image = source->decodeFirstFrame();
    EXPECT_EQ(image.width, 1);
    EXPECT_EQ(image.height, 1);
    if (std::string_view(GetParam().extension) == "gif") {
        EXPECT_EQ(source->decodeAllFrames().size(), 1u);
        EXPECT_EQ(gifReachesTrailer(file), true);
    }
}

INSTANTIATE_TEST_SUITE_P(AMillionDeep, DeepPictures, ::testing::ValuesIn(kDeepPictures),
                         [](const auto& info) { return std::string(info.param.name); });
