#include <gtest/gtest.h>

#include <cstring>

#include "converters/archive/gzip_container.h"
#include "converters/archive/xz_codec.h"
#include "core/byte_pipe.h"
#include "core/conversion_error.h"
#include "platform/compression/stream_codecs.h"
#include "support/archive_test_util.h"

using namespace calvoro;
using namespace calvoro::archive_testing;
using calvoro::testing::TempDir;
namespace AC = calvoro::ArchiveConverter;
using calvoro::testing::peerInstalled;
using calvoro::testing::run;
using calvoro::testing::shellQuote;

namespace {

std::vector<uint8_t> sampleText(size_t lines) {
    std::string s;
    for (size_t i = 0; i < lines; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of the sample\n";
    return bytesOf(s);
}

}  // namespace

TEST(Gzip, WrittenMembersAsPeersSeeThem) {
    auto data = sampleText(20000);
    auto gz = AC::compressGzip(data);
    std::vector<uint8_t> head(gz.begin(), gz.begin() + 10);
    EXPECT_EQ(head, (std::vector<uint8_t>{0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0, 0xFF}));
    EXPECT_EQ(readUInt32Le(gz, gz.size() - 4), data.size());
    EXPECT_EQ(AC::decompressGzip(gz), data);
    ASSERT_TRUE(peerInstalled("gzip"));
    TempDir dir;
    calvoro::testing::writeFile(dir / "a.gz", gz);
    auto t = run("gzip -t " + shellQuote((dir / "a.gz").string()));
    EXPECT_EQ(t.status, 0) << t.output;
    EXPECT_EQ(bytesOf(run("gzip -dc " + shellQuote((dir / "a.gz").string())).output), data);
}

TEST(Gzip, HeaderChecks) {
    auto text = [](std::vector<uint8_t> d) { return errorText([&] { AC::decompressGzip(d); }); };
    EXPECT_EQ(text(std::vector<uint8_t>(9, 0x1F)), "File appears corrupt: GZIP data too short");
    EXPECT_EQ(text({0x1F, 0x8C, 8, 0, 0, 0, 0, 0, 0, 0xFF}), "File appears corrupt: Not a valid GZIP file");
    EXPECT_EQ(text({0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 0xFF}), "File appears corrupt: GZIP no compressed data after header");
    EXPECT_EQ(text({0x1F, 0x8B, 8, 4, 0, 0, 0, 0, 0, 0xFF, 1}), "File appears corrupt: GZIP header truncated (FEXTRA)");
    EXPECT_EQ(text({0x1F, 0x8B, 8, 4, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0xFF, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
              "File appears corrupt: GZIP no compressed data after header");
    std::vector<uint8_t> noTerminator = {0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 0xFF};
    noTerminator.insert(noTerminator.end(), 20, 'n');
    EXPECT_EQ(text(noTerminator), "File appears corrupt: GZIP no compressed data after header");

    // A trailer that disagrees with the data is damage, not a detail.
    auto gz = AC::compressGzip(bytesOf("payload"));
    EXPECT_EQ(AC::decompressGzip(gz), bytesOf("payload"));
    auto badSum = gz, badLength = gz;
    badSum[gz.size() - 8] ^= 0xFF;
    badLength[gz.size() - 4] ^= 0x01;
    EXPECT_EQ(text(badSum), "File appears corrupt: GZIP checksum mismatch");
    EXPECT_EQ(text(badLength), "File appears corrupt: GZIP length mismatch");
    auto truncated = AC::compressGzip(sampleText(5000));
    truncated.resize(truncated.size() / 2);
    EXPECT_EQ(text(truncated), "File appears corrupt: Cannot decompress data");
}

TEST(Gzip, PeerFilesMultipleMembersAndLimit) {
    ASSERT_TRUE(peerInstalled("gzip"));
    TempDir dir;
    auto a = sampleText(3000), b = randomBytes(70000, 5);
    calvoro::testing::writeFile(dir / "a", a);
    calvoro::testing::writeFile(dir / "b", b);
    // gzip's own members carry a file name (FNAME); two of them concatenated make one file.
    auto r = run("cd " + shellQuote(dir.path().string()) + " && gzip -k -9 a b && cat a.gz b.gz > ab.gz && : | gzip -c > empty.gz");
    ASSERT_EQ(r.status, 0) << r.output;
    auto whole = a;
    whole.insert(whole.end(), b.begin(), b.end());
    EXPECT_EQ(AC::decompressGzip(calvoro::testing::readFile(dir / "ab.gz")), whole);
    EXPECT_TRUE(AC::decompressGzip(calvoro::testing::readFile(dir / "empty.gz")).empty());

    EXPECT_EQ(errorText([&] { AC::decompressGzip(calvoro::testing::readFile(dir / "ab.gz"), 50000); }),
              "File appears corrupt: gzip contents exceed the 50 KB limit");
    EXPECT_EQ(AC::decompressGzip(calvoro::testing::readFile(dir / "ab.gz"), static_cast<int64_t>(whole.size())), whole);
}

// Members follow one another in a chain: a million of them, empty but the last, are read in turn
// by the streaming decoder the converter unpacks with.
TEST(Gzip, AMillionMembersAreReadInTurn) {
    auto member = [](const std::string& text) {
        std::vector<uint8_t> out(compressBound(static_cast<uLong>(text.size())) + 32);
        z_stream z{};
        deflateInit2(&z, 6, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY);
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
        z.avail_in = static_cast<uInt>(text.size());
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, Z_FINISH);
        out.resize(z.total_out);
        deflateEnd(&z);
        return out;
    };
    const auto empty = member("");
    std::vector<uint8_t> chain;
    chain.reserve(empty.size() * 1'000'000 + 64);
    for (int i = 0; i < 1'000'000; ++i) chain.insert(chain.end(), empty.begin(), empty.end());
    const auto last = member("the end");
    chain.insert(chain.end(), last.begin(), last.end());
    SpanSource source(chain);
    auto decoder = compression::gzipDecoder(source);
    std::vector<uint8_t> read(64);
    read.resize(decoder->readFully(read));
    EXPECT_EQ(read, bytesOf("the end"));
}

TEST(Gzip, TarDetection) {
    std::vector<uint8_t> d(262, 0);
    std::memcpy(d.data() + 257, "ustar", 5);
    EXPECT_FALSE(AC::isTarArchive(d));
    d.push_back('!');
    EXPECT_TRUE(AC::isTarArchive(d));
}

TEST(XZ, MagicRoundTripAndPeers) {
    EXPECT_EQ(errorText([] { XZCodec::decompress(std::vector<uint8_t>{0xFD, 0x37, 0x7A, 0x58, 0x5A}, 1000); }),
              "File appears corrupt: Not an xz stream (bad magic)");
    EXPECT_EQ(errorText([] { XZCodec::decompress(std::vector<uint8_t>{0xFD, 0x37, 0x7A, 0x58, 0x5A, 0}, 1000); }).rfind(
                  "File appears corrupt: xz decompression failed (code ", 0),
              0u);
    EXPECT_EQ(errorText([] { XZCodec::compress({}); }, ConversionError::Kind::emptyOutput), "Conversion produced an empty file.");

    auto data = sampleText(20000);
    auto xz = XZCodec::compress(data);
    EXPECT_TRUE(XZCodec::isXZ(xz));
    EXPECT_EQ(XZCodec::decompress(xz, 1 << 30), data);
    // The cap is inclusive; one byte less is refused.
    EXPECT_EQ(XZCodec::decompress(xz, static_cast<int64_t>(data.size())), data);
    EXPECT_FALSE(errorText([&] { XZCodec::decompress(xz, static_cast<int64_t>(data.size()) - 1); }).empty());
    EXPECT_EQ(errorText([&] { XZCodec::decompress(xz, 100000); }), "File appears corrupt: xz contents exceed the 100 KB limit");
    auto small = XZCodec::compress(bytesOf("x"));
    EXPECT_EQ(XZCodec::decompress(small, 100), bytesOf("x"));

    ASSERT_TRUE(peerInstalled("xz"));
    TempDir dir;
    calvoro::testing::writeFile(dir / "a.xz", xz);
    auto t = run("xz -t " + shellQuote((dir / "a.xz").string()));
    EXPECT_EQ(t.status, 0) << t.output;
    // Two streams one after another decode whole.
    calvoro::testing::writeFile(dir / "b", sampleText(10));
    ASSERT_EQ(run("cd " + shellQuote(dir.path().string()) + " && xz -k b && cat a.xz b.xz > ab.xz").status, 0);
    auto both = data;
    auto tail = sampleText(10);
    both.insert(both.end(), tail.begin(), tail.end());
    EXPECT_EQ(XZCodec::decompress(calvoro::testing::readFile(dir / "ab.xz"), 1 << 30), both);
    auto truncated = xz;
    truncated.resize(truncated.size() - 10);
    EXPECT_NE(errorText([&] { XZCodec::decompress(truncated, 1 << 30); }).find("xz decompression failed"), std::string::npos);
}
