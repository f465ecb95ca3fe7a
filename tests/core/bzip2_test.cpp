#include <gtest/gtest.h>

#include <random>

#include "core/bzip2.h"
#include "core/byte_pipe.h"
#include "core/conversion_error.h"
#include "support/archive_test_util.h"
#include "support/test_support.h"

using calvoro::BZip2;
using calvoro::ConversionError;
using namespace calvoro::testing;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

// Runs of every length the library's run-length stage treats apart, so that block ends fall
// inside runs of each kind.
std::vector<uint8_t> runsOfEveryKind(size_t size, uint32_t seed) {
    static constexpr size_t lengths[] = {1, 1, 1, 2, 3, 4, 5, 254, 255, 256, 257, 600, 5000};
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    while (out.size() < size) out.insert(out.end(), lengths[rng() % std::size(lengths)], static_cast<uint8_t>(rng() % 3 ? rng() : 'a'));
    out.resize(size);
    return out;
}

// Block after block, runs of each kind placed so that the block ends inside them or just at
// their ends: filler bytes, none repeating, up to a few counted bytes short of the block's limit,
// then the run.
std::vector<uint8_t> runsAcrossBlockEnds(int level, const std::vector<size_t>& runs, uint32_t seed) {
    const size_t limit = 100000 * static_cast<size_t>(level) - 19;
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    for (size_t block = 0; block < runs.size(); ++block) {
        const size_t filler = limit - 1 - block % 6;
        for (size_t i = 0; i < filler; ++i) {
            uint8_t b = static_cast<uint8_t>(rng() % 64 + 'A');
            if (!out.empty() && b == out.back()) b ^= 0x40;
            out.push_back(b);
        }
        const uint8_t value = out.back() ^ 0x20;
        out.insert(out.end(), runs[block], value);
        out.push_back(value ^ 0x01);
    }
    return out;
}

std::vector<uint8_t> wordsAndNoise(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> out;
    while (out.size() < size) {
        if (rng() % 8 == 0)
            for (int i = 0; i < 3000; ++i) out.push_back(static_cast<uint8_t>(rng()));
        for (uint32_t i = 0, n = 2 + rng() % 9; i < n; ++i) out.push_back(static_cast<uint8_t>('a' + rng() % 6));
        out.push_back(' ');
    }
    out.resize(size);
    return out;
}

std::vector<uint8_t> encodeInPieces(std::span<const uint8_t> data, int level, int threads, size_t piece) {
    std::vector<uint8_t> out;
    calvoro::VectorSink sink(out);
    auto encoder = BZip2::encoder(sink, level, {}, threads);
    for (size_t at = 0; at < data.size(); at += piece) encoder->write(data.subspan(at, std::min(piece, data.size() - at)));
    encoder->finish();
    return out;
}

// Block headers in a bzip2 stream: the 48-bit block magic at any bit offset.
size_t blockCount(const std::vector<uint8_t>& stream) {
    constexpr uint64_t magic = 0x314159265359ULL, mask = (uint64_t{1} << 48) - 1;
    uint64_t window = 0;
    size_t count = 0;
    for (size_t bit = 0; bit < stream.size() * 8; ++bit) {
        window = ((window << 1) | ((stream[bit / 8] >> (7 - bit % 8)) & 1)) & mask;
        if (bit >= 47 && window == magic) ++count;
    }
    return count;
}

std::string corruptText(const std::function<void()>& f) {
    try {
        f();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
        return e.payload();
    }
    return "(no error)";
}

}  // namespace

TEST(BZip2, RoundTripsAndPeersAgree) {
    std::mt19937 rng(7);
    std::vector<uint8_t> data(300000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i % 7 == 0 ? rng() : 'a' + i % 13);
    auto packed = BZip2::compress(data, 9);
    EXPECT_TRUE(BZip2::isBZip2(packed));
    EXPECT_EQ(packed[3], '9');
    EXPECT_EQ(BZip2::decompress(packed, 1 << 30), data);
    EXPECT_EQ(BZip2::decompress(BZip2::compress(bytes("x"), 9), 100), bytes("x"));

    TempDir dir;
    writeFile(dir / "ours.bz2", packed);
    EXPECT_EQ(run("bzip2 -t " + shellQuote((dir / "ours.bz2").string())).status, 0);
    writeFile(dir / "plain", data);
    ASSERT_EQ(run("bzip2 -k -1 " + shellQuote((dir / "plain").string())).status, 0);
    EXPECT_EQ(BZip2::decompress(readFile(dir / "plain.bz2"), 1 << 30), data);
}

TEST(BZip2, ConcatenatedStreamsDecodeWhole) {
    auto a = BZip2::compress(bytes("first part, "), 9);
    auto b = BZip2::compress(bytes("second part"), 1);
    a.insert(a.end(), b.begin(), b.end());
    EXPECT_EQ(BZip2::decompress(a, 1000), bytes("first part, second part"));
}

TEST(BZip2, BadMagicDamageAndLimits) {
    EXPECT_EQ(corruptText([] { BZip2::decompress(bytes("BZh0xxxx"), 100); }), "Not a bzip2 stream (bad magic)");
    EXPECT_EQ(corruptText([] { BZip2::decompress(bytes("BZx9xxxx"), 100); }), "Not a bzip2 stream (bad magic)");
    EXPECT_EQ(corruptText([] { BZip2::decompress(bytes("BZh"), 100); }), "Not a bzip2 stream (bad magic)");
    auto garbage = corruptText([] { BZip2::decompress(bytes("BZh9 this is not compressed data at all"), 100); });
    EXPECT_EQ(garbage.rfind("bzip2 decompression failed (code -", 0), 0u) << garbage;

    auto packed = BZip2::compress(std::vector<uint8_t>(200000, 'z'), 9);
    auto truncated = std::vector<uint8_t>(packed.begin(), packed.begin() + packed.size() / 2);
    EXPECT_EQ(corruptText([&] { BZip2::decompress(truncated, 1 << 20); }).rfind("bzip2 decompression failed (code -", 0), 0u);
    EXPECT_EQ(corruptText([&] { BZip2::decompress(packed, 1000); }), "bzip2 contents exceed the 1 KB limit");
    EXPECT_EQ(corruptText([&] { BZip2::decompress(packed, 100000); }), "bzip2 contents exceed the 100 KB limit");
    EXPECT_EQ(BZip2::decompress(packed, 200000).size(), 200000u);
    try {
        BZip2::compress({}, 9);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::emptyOutput);
    }
}

TEST(BZip2, AbsentLibraryIsUnsupportedFormat) {
    BZip2::simulateAbsenceForTesting(true);
    for (int op = 0; op < 2; ++op) {
        try {
            if (op == 0) BZip2::compress(bytes("x"), 9);
            else BZip2::decompress(bytes("BZh9xxxx"), 10);
            ADD_FAILURE();
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.kind(), ConversionError::Kind::unsupportedFormat);
        }
    }
    BZip2::simulateAbsenceForTesting(false);
    EXPECT_TRUE(BZip2::isAvailable());
}

TEST(BZip2, ThreadedEncoderWritesTheToolsBytesWhateverTheThreads) {
    ASSERT_TRUE(peerInstalled("bzip2"));
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<uint8_t> data;
        int level;
    };
    std::vector<Case> cases;
    cases.push_back({"runs", runsOfEveryKind(2'500'000, 5), 1});
    cases.push_back({"runs across block ends, level 1", runsAcrossBlockEnds(1, {2, 4, 5, 255, 256, 600, 5000, 100000}, 3), 1});
    cases.push_back({"runs across block ends, level 9", runsAcrossBlockEnds(9, {4, 256, 5000, 100000}, 4), 9});
    cases.push_back({"text", wordsAndNoise(3'000'000, 6), 9});
    // 5 bytes of block hold 255 of input here: one block takes 5 MB at level 1.
    std::vector<uint8_t> zeros(12'000'000, 0);
    zeros[7'000'000] = 1;
    cases.push_back({"zeros", std::move(zeros), 1});
    cases.push_back({"empty", {}, 9});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir / std::to_string(&c - cases.data());
        writeFile(file, c.data);
        const std::string path = shellQuote(file.string());
        ASSERT_EQ(run("bzip2 -c -" + std::to_string(c.level) + " < " + path + " > " + path + ".bz2").status, 0);
        const auto expected = readFile(file.string() + ".bz2");
        if (std::string(c.name).starts_with("runs across")) {
            EXPECT_GE(blockCount(expected), c.level == 1 ? 8u : 4u);
        }
        EXPECT_EQ(encodeInPieces(c.data, c.level, 1, 1 << 20), expected);
        EXPECT_EQ(encodeInPieces(c.data, c.level, 3, 7777), expected);
        EXPECT_EQ(encodeInPieces(c.data, c.level, 8, c.data.size() + 1), expected);
    }
}

// Runs of zeros fill a block with 51 times its counted size: what is held stays within the
// budget the encoder states, the block being filled counted, on one thread and on eight.
TEST(BZip2, ThreadedEncoderKeepsWithinItsMemoryBudget) {
    // The address sanitizer keeps freed blocks in quarantine: resident memory is not what is held.
    if (calvoro::archive_testing::underAddressSanitizer) GTEST_SKIP() << "resident memory is the sanitizer's";
    const std::vector<uint8_t> zeros(1 << 20, 0);
    for (int threads : {1, 8}) {
        SCOPED_TRACE(threads);
        size_t written = 0;
        long long growth = calvoro::archive_testing::peakMemoryGrowth([&] {
            struct Counting final : calvoro::ByteSink {
                size_t& total;
                explicit Counting(size_t& t) : total(t) {}
                void write(std::span<const uint8_t> bytes) override { total += bytes.size(); }
            } sink(written);
            auto encoder = BZip2::encoder(sink, 9, {}, threads);
            // Two blocks and part of a third.
            for (int i = 0; i < 100; ++i) encoder->write(zeros);
            encoder->finish();
            return written > 0;
        });
        ASSERT_GE(growth, 0);
        // What the process itself needs beside: threads' stacks, the allocator's arenas.
        constexpr long long slack = 16LL << 20;
        EXPECT_LT(growth, static_cast<long long>(BZip2::encoderMemoryBudget(9, threads)) + slack);
    }
}
