#include <gtest/gtest.h>

#include <random>

#include "core/bzip2.h"
#include "core/conversion_error.h"
#include "support/test_support.h"

using calvoro::BZip2;
using calvoro::ConversionError;
using namespace calvoro::testing;

namespace {

std::vector<uint8_t> bytes(const std::string& s) { return {s.begin(), s.end()}; }

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
