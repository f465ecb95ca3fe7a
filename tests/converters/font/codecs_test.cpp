// The zlib and Brotli codecs, checked against Python's zlib and brotli modules where it matters.
#include <gtest/gtest.h>

#include "font_test_util.h"
#include "platform/compression/brotli_codec.h"
#include "platform/compression/zlib_codec.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using namespace fonttest;
using compression::BrotliCodec;
using compression::ZlibCodec;
using testing::run;
using testing::TempDir;
using testing::writeFile;

Bytes sample(size_t n) {
    Bytes b(n);
    uint32_t x = 12345;
    for (auto& v : b) {
        x = x * 1103515245 + 12345;
        v = uint8_t((x >> 16) % 7 + 'a');
    }
    return b;
}

using testing::pythonModuleInstalled;

TEST(ZlibCodec, RoundTripsAndIsReadByZlib) {
    const auto data = sample(100000);
    auto z = ZlibCodec::compress(data, 9);
    EXPECT_LT(z.size(), data.size() / 2);
    EXPECT_EQ(ZlibCodec::decompress(z, data.size()), data);
    EXPECT_FALSE(ZlibCodec::decompress(z, data.size() - 1)) << "more than the cap is refused";
    auto damaged = z;
    damaged[damaged.size() - 1] ^= 1;
    EXPECT_FALSE(ZlibCodec::decompress(damaged, data.size())) << "the trailer is checked";
    ASSERT_TRUE(pythonModuleInstalled("zlib"));
    TempDir dir;
    writeFile(dir / "z", z);
    auto r = run("/usr/bin/python3 -c 'import sys, zlib; sys.stdout.write(str(len(zlib.decompress(open(sys.argv[1], \"rb\").read()))))' " +
                 (dir / "z").string());
    EXPECT_EQ(r.output, "100000");
}

TEST(ZlibCodec, BodyIsBoundedByCapAndRatio) {
    const Bytes zeros(1u << 20, 0);
    auto body = ZlibCodec::deflateBody(zeros, 6, zeros.size());
    ASSERT_TRUE(body);
    EXPECT_GE(body->size() * ZlibCodec::maxRatio + 1024, zeros.size());
    EXPECT_EQ(ZlibCodec::inflateBody(*body, zeros.size()), zeros);
    EXPECT_EQ(ZlibCodec::inflateBody(*body, 1000), Bytes(1000, 0)) << "the head of a longer stream";
    EXPECT_EQ(ZlibCodec::inflateBody(*body, size_t(1) << 40)->size(), zeros.size()) << "a huge cap allocates no more than the ratio";
    EXPECT_FALSE(ZlibCodec::deflateBody(sample(1000), 6, 10)) << "does not fit";
    EXPECT_FALSE(ZlibCodec::inflateBody(Bytes(10, 0xFF), 100));
    auto truncated = *body;
    truncated.resize(truncated.size() / 2);
    EXPECT_FALSE(ZlibCodec::inflateBody(truncated, zeros.size()));
    EXPECT_EQ(ZlibCodec::adler32(bytes({'a', 'b', 'c'})), 0x024D0127u);
}

TEST(BrotliCodec, RoundTripsAndIsReadByBrotli) {
    const auto data = sample(200000);
    auto c = BrotliCodec::compress(data, {.quality = 5});
    ASSERT_TRUE(c);
    EXPECT_EQ(BrotliCodec::decompress(*c, data.size()), data);
    bool cut = true;
    EXPECT_EQ(BrotliCodec::decompress(*c, data.size() + 1, &cut), data);
    EXPECT_FALSE(cut);
    EXPECT_EQ(BrotliCodec::decompress(*c, 5000, &cut), Bytes(data.begin(), data.begin() + 5000));
    EXPECT_TRUE(cut);
    EXPECT_FALSE(BrotliCodec::compress(data, {}, 100)) << "does not fit the capacity";
    ASSERT_TRUE(pythonModuleInstalled("brotli"));
    TempDir dir;
    writeFile(dir / "b", *c);
    auto r = run("/usr/bin/python3 -c 'import sys, brotli; sys.stdout.write(str(len(brotli.decompress(open(sys.argv[1], \"rb\").read()))))' " +
                 (dir / "b").string());
    EXPECT_EQ(r.output, "200000");
}

TEST(BrotliCodec, DamagedAndTruncatedStreamsGiveNothing) {
    auto c = *BrotliCodec::compress(sample(50000));
    auto truncated = c;
    truncated.resize(c.size() / 2);
    EXPECT_FALSE(BrotliCodec::decompress(truncated, 50000));
    EXPECT_FALSE(BrotliCodec::decompress(Bytes(100, 0xFF), 50000));
    EXPECT_FALSE(BrotliCodec::decompress({}, 50000));
}

}  // namespace
}  // namespace calvoro
