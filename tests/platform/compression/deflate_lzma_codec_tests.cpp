#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <sstream>
#include <string>

#include "platform/compression/deflate_codec.h"
#include "platform/compression/lzma_codec.h"
#include "platform/compression/stream_codecs.h"
#include "support/test_support.h"

using calvoro::compression::DeflateCodec;
using calvoro::compression::LzmaCodec;
using namespace calvoro::testing;

namespace {

std::vector<uint8_t> mixed(size_t n) {
    std::mt19937 rng(3);
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = (i / 4096) % 2 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>("abcab"[i % 5]);
    return out;
}

// zlib's own inflater as the reference reader of what we deflate.
std::vector<uint8_t> zlibInflate(const std::vector<uint8_t>& in, size_t expected) {
    std::vector<uint8_t> out(expected + 1);
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    int rc = inflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return rc == Z_STREAM_END ? out : std::vector<uint8_t>{};
}

std::vector<uint8_t> zlibDeflate(const std::vector<uint8_t>& in) {
    std::vector<uint8_t> out(compressBound(static_cast<uLong>(in.size())) + 64);
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

std::vector<uint8_t> xzInPieces(std::span<const uint8_t> data, uint32_t threads, size_t piece) {
    std::vector<uint8_t> out;
    calvoro::VectorSink sink(out);
    auto encoder = calvoro::compression::xzEncoder(sink, {}, threads);
    for (size_t at = 0; at < data.size(); at += piece) encoder->write(data.subspan(at, std::min(piece, data.size() - at)));
    encoder->finish();
    return out;
}

}  // namespace

TEST(DeflateCodec, DeflateIsReadByZlibAndInflatesWithAnyHint) {
    auto data = mixed(300000);
    auto deflated = DeflateCodec::deflate(data);
    ASSERT_FALSE(deflated.empty());
    EXPECT_LT(deflated.size(), data.size());
    EXPECT_EQ(zlibInflate(deflated, data.size()), data);
    EXPECT_TRUE(DeflateCodec::deflate({}).empty());

    // Exact, too small, too large and absent hints all give the same content.
    for (size_t hint : {data.size(), size_t{10}, data.size() * 3, size_t{0}}) {
        std::vector<uint8_t> out = {9, 9};  // decoding appends
        auto r = DeflateCodec::inflate(deflated, hint, 1 << 30, out);
        ASSERT_EQ(r.status, DeflateCodec::Status::ok) << hint;
        EXPECT_EQ(r.consumed, deflated.size());
        EXPECT_EQ(out.size(), data.size() + 2);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin() + 2)) << hint;
    }
}

TEST(DeflateCodec, LimitsDamageAndTrailingBytes) {
    auto data = mixed(100000);
    auto deflated = zlibDeflate(data);
    std::vector<uint8_t> out;
    EXPECT_EQ(DeflateCodec::inflate(deflated, data.size(), data.size(), out).status, DeflateCodec::Status::ok);
    out.clear();
    EXPECT_EQ(DeflateCodec::inflate(deflated, data.size(), data.size() - 1, out).status, DeflateCodec::Status::limitExceeded);
    EXPECT_TRUE(out.empty());

    auto cut = std::vector<uint8_t>(deflated.begin(), deflated.begin() + deflated.size() / 2);
    EXPECT_EQ(DeflateCodec::inflate(cut, data.size(), 1 << 30, out).status, DeflateCodec::Status::damaged);
    EXPECT_EQ(DeflateCodec::inflate(cut, 0, 1 << 30, out).status, DeflateCodec::Status::damaged);
    EXPECT_TRUE(out.empty());
    std::vector<uint8_t> garbage(1000, 0xFF);
    EXPECT_EQ(DeflateCodec::inflate(garbage, 5000, 1 << 30, out).status, DeflateCodec::Status::damaged);

    // An empty stream is content too; bytes after the final block are reported, not read.
    auto empty = zlibDeflate({});
    auto withTail = empty;
    withTail.insert(withTail.end(), {1, 2, 3});
    auto r = DeflateCodec::inflate(withTail, 0, 100, out);
    EXPECT_EQ(r.status, DeflateCodec::Status::ok);
    EXPECT_EQ(r.consumed, empty.size());
    EXPECT_TRUE(out.empty());
}

TEST(DeflateCodec, Crc32) {
    const std::string check = "123456789";
    EXPECT_EQ(DeflateCodec::crc32({reinterpret_cast<const uint8_t*>(check.data()), check.size()}), 0xCBF43926u);
    EXPECT_EQ(DeflateCodec::maxInflatedSize(10), 10320u);
}

TEST(LzmaCodec, RoundTripLimitAndDamage) {
    auto data = mixed(200000);
    auto xz = LzmaCodec::encode(data);
    ASSERT_GT(xz.size(), 6u);
    std::vector<uint8_t> out;
    ASSERT_EQ(LzmaCodec::decode(xz, data.size(), out).status, LzmaCodec::Status::ok);
    EXPECT_EQ(out, data);
    out.clear();
    EXPECT_EQ(LzmaCodec::decode(xz, data.size() - 1, out).status, LzmaCodec::Status::limitExceeded);
    EXPECT_TRUE(out.empty());
    auto twice = xz;
    twice.insert(twice.end(), xz.begin(), xz.end());
    ASSERT_EQ(LzmaCodec::decode(twice, 1 << 30, out).status, LzmaCodec::Status::ok);
    EXPECT_EQ(out.size(), 2 * data.size());
    out.clear();
    auto damaged = xz;
    damaged[damaged.size() / 2] ^= 0x55;
    EXPECT_EQ(LzmaCodec::decode(damaged, 1 << 30, out).status, LzmaCodec::Status::damaged);
    auto cut = std::vector<uint8_t>(xz.begin(), xz.end() - 5);
    EXPECT_EQ(LzmaCodec::decode(cut, 1 << 30, out).status, LzmaCodec::Status::damaged);
    EXPECT_TRUE(out.empty());
}

TEST(LzmaCodec, ThreadedBlocksGiveTheSameBytesWhateverTheThreads) {
    // One full block and a short one, of phrases that repeat with changes: quick to compress.
    std::mt19937 rng(11);
    std::vector<std::string> phrases;
    for (int i = 0; i < 64; ++i) phrases.push_back("phrase " + std::to_string(rng() % 100000) + " of the sample, ");
    std::vector<uint8_t> data;
    while (data.size() < LzmaCodec::encoderBlockSize + 150'000) {
        const auto& p = phrases[rng() % phrases.size()];
        data.insert(data.end(), p.begin(), p.end());
        if (rng() % 16 == 0) data.push_back(static_cast<uint8_t>(rng()));
    }
    data.resize(LzmaCodec::encoderBlockSize + 150'000);
    const auto one = xzInPieces(data, 1, 256 * 1024);
    EXPECT_EQ(xzInPieces(data, 2, 100000), one);
    std::vector<uint8_t> back;
    ASSERT_EQ(LzmaCodec::decode(one, data.size(), back).status, LzmaCodec::Status::ok);
    EXPECT_EQ(back, data);
    EXPECT_GE(LzmaCodec::encoderThreads(0), 1u);
    EXPECT_EQ(LzmaCodec::encoderThreads(1), 1u);
    // The memory budget holds four threads at preset 6, however many processors there are.
    EXPECT_EQ(LzmaCodec::encoderThreads(64), 4u);
    ASSERT_TRUE(peerInstalled("xz"));
    TempDir dir;
    writeFile(dir / "t.xz", one);
    const std::string path = shellQuote((dir / "t.xz").string());
    EXPECT_EQ(run("xz -t " + path).status, 0);
    // The tool lists the blocks: two, the first holding exactly the block size.
    auto listing = run("xz --robot -lvv " + path);
    ASSERT_EQ(listing.status, 0) << listing.output;
    std::vector<std::string> blockSizes;
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("block\t", 0) != 0) continue;
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i <= 7 && std::getline(fields, field, '\t'); ++i) {
        }
        blockSizes.push_back(field);
    }
    EXPECT_EQ(blockSizes, (std::vector<std::string>{std::to_string(LzmaCodec::encoderBlockSize), "150000"})) << listing.output;
}
