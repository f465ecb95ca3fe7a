#include <gtest/gtest.h>

#include <cstring>
#include <chrono>

#include "support/archive_test_util.h"
#include "converters/archive/archive_converter.h"
#include "platform/zip/zip_support.h"
#include "core/bzip2.h"

using namespace calvoro;
using namespace calvoro::archive_testing;
using calvoro::testing::TempDir;
namespace fs = std::filesystem;
namespace AC = calvoro::ArchiveConverter;
using Clock = std::chrono::system_clock;

namespace {

std::string extractError(const fs::path& source, SupportedFormat format, int64_t limit = AC::archiveSizeLimit) {
    TempDir out;
    return errorText([&] { AC::extractArchive(source, format, out.path(), {}, limit); }, ConversionError::Kind::corruptFile);
}

struct Codec {
    SupportedFormat format;
    const char* name;
    std::vector<uint8_t> (*compress)(std::span<const uint8_t>);
};

std::vector<Codec> codecs() {
    std::vector<Codec> all = {{SupportedFormat::gzip, "gzip", [](std::span<const uint8_t> d) { return AC::compressGzip(d); }},
                              {SupportedFormat::xz, "xz", [](std::span<const uint8_t> d) { return XZCodec::compress(d); }}};
    if (BZip2::isAvailable())
        all.push_back({SupportedFormat::bz2, "bzip2", [](std::span<const uint8_t> d) { return BZip2::compress(d, 9); }});
    return all;
}

std::vector<uint8_t> sampleText(size_t bytes) {
    std::string s;
    for (size_t i = 0; s.size() < bytes; ++i) s += "line " + std::to_string(i * 7919 % 1000) + " of the sample\n";
    return bytesOf(s);
}

Clock::time_point localTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    parts.tm_isdst = -1;
    return Clock::from_time_t(std::mktime(&parts));
}

// A small tree whose files carry old dates (even seconds, which a ZIP keeps exactly).
void datedTree(const fs::path& root) {
    calvoro::testing::writeFile(root / "a.txt", std::string("alpha\n"));
    calvoro::testing::writeFile(root / "sub" / "b.bin", randomBytes(70000, 3));
    calvoro::testing::writeFile(root / "sub" / "deeper" / "c.txt", std::string(5000, 'c'));
    zip::setModificationTime(root / "a.txt", localTime(2003, 4, 5, 6, 7, 8));
    zip::setModificationTime(root / "sub" / "b.bin", localTime(2011, 12, 31, 23, 59, 58));
    zip::setModificationTime(root / "sub" / "deeper" / "c.txt", localTime(1999, 7, 1, 12, 0, 0));
}

std::map<std::string, Clock::time_point> datesBelow(const fs::path& root) {
    std::map<std::string, Clock::time_point> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file()) out[fs::relative(it->path(), root).string()] = *zip::modificationTime(it->path());
    return out;
}

}  // namespace

TEST(ArchiveStreams, PayloadLimitsRefuseCraftedStreams) {
    TempDir dir;
    // A tar whose one large entry is an extended header: nothing of it reaches the disk.
    std::vector<uint8_t> tar = tarHeader("pax", 'x', octal(100000));
    tar.resize(tar.size() + 100000 + 1024 + (512 - 100000 % 512), 0);
    for (const auto& codec : codecs()) {
        SCOPED_TRACE(codec.name);
        fs::path source = dir / (std::string("bomb.tar.") + codec.name);
        calvoro::testing::writeFile(source, codec.compress(tar));
        EXPECT_EQ(extractError(source, codec.format, 50000),
                  std::string("File appears corrupt: ") + codec.name + " contents exceed the 50 KB limit");
        // The limit is inclusive.
        TempDir out;
        AC::extractArchive(source, codec.format, out.path(), {}, static_cast<int64_t>(tar.size()));
        EXPECT_TRUE(fs::is_empty(out.path()));
    }
}

TEST(ArchiveStreams, CraftedHeadersAndDamagedStreams) {
    TempDir dir;
    // A header that claims 8 GB is refused when the stream ends, without anything that large being held.
    auto claim = tarHeader("huge.bin", '0', octal((uint64_t{1} << 33) - 1));
    claim.resize(claim.size() + 4096, 'z');
    calvoro::testing::writeFile(dir / "claim.tar", claim);
    EXPECT_EQ(extractError(dir / "claim.tar", SupportedFormat::tar), "File appears corrupt: TAR entry 'huge.bin' exceeds archive bounds");
    for (const auto& codec : codecs()) {
        SCOPED_TRACE(codec.name);
        fs::path source = dir / (std::string("claim.tar.") + codec.name);
        calvoro::testing::writeFile(source, codec.compress(claim));
        EXPECT_EQ(extractError(source, codec.format), "File appears corrupt: TAR entry 'huge.bin' exceeds archive bounds");
    }

    auto gz = AC::compressGzip(randomBytes(300000, 9));
    calvoro::testing::writeFile(dir / "cut.gz", std::vector<uint8_t>(gz.begin(), gz.begin() + 1000));
    EXPECT_EQ(extractError(dir / "cut.gz", SupportedFormat::gzip), "File appears corrupt: GZIP data truncated");
    auto broken = gz;
    broken[3] = 0;
    for (size_t i = 10; i < 60; ++i) broken[i] = 0xFF;
    calvoro::testing::writeFile(dir / "broken.gz", broken);
    EXPECT_EQ(extractError(dir / "broken.gz", SupportedFormat::gzip), "File appears corrupt: Cannot decompress data");

    // A header with every optional field and its own CRC-16, padded so that the trailer's CRC-32
    // is split between the decoder's first read of the file (256 KiB) and its second.
    const auto body = randomBytes(200000, 5);
    const auto plain = AC::compressGzip(body);
    const std::vector<uint8_t> deflated(plain.begin() + 10, plain.end() - 8), trailer(plain.end() - 8, plain.end());
    const size_t extra = (256 << 10) + 6 - (10 + 2 + 9 + 8 + 2 + deflated.size() + 8);
    ASSERT_LT(extra, 65536u);
    std::vector<uint8_t> fields = {0x1F, 0x8B, 8, 0x1E, 0, 0, 0, 0, 0, 0xFF, static_cast<uint8_t>(extra), static_cast<uint8_t>(extra >> 8)};
    fields.resize(fields.size() + extra, 'x');
    for (const char* text : {"name.txt", "comment"}) fields.insert(fields.end(), text, text + std::strlen(text) + 1);
    const uint32_t headerCrc = AC::crc32Checksum(fields);
    auto member = [&](uint8_t headerCrcLow, size_t damagedFromEnd, size_t cut) {
        std::vector<uint8_t> out = fields;
        out.insert(out.end(), {headerCrcLow, static_cast<uint8_t>(headerCrc >> 8)});
        out.insert(out.end(), deflated.begin(), deflated.end());
        out.insert(out.end(), trailer.begin(), trailer.end());
        if (damagedFromEnd) out[out.size() - damagedFromEnd] ^= 0x01;
        out.resize(out.size() - cut);
        calvoro::testing::writeFile(dir / "split.txt.gz", out);
        return dir / "split.txt.gz";
    };
    {
        TempDir out;
        AC::extractArchive(member(static_cast<uint8_t>(headerCrc), 0, 0), SupportedFormat::gzip, out.path());
        EXPECT_EQ(calvoro::testing::readFile(out / "split.txt"), body);
    }
    EXPECT_EQ(extractError(member(static_cast<uint8_t>(headerCrc ^ 1), 0, 0), SupportedFormat::gzip),
              "File appears corrupt: Cannot decompress data");
    EXPECT_EQ(extractError(member(static_cast<uint8_t>(headerCrc), 7, 0), SupportedFormat::gzip),
              "File appears corrupt: checksum mismatch in split.txt");
    // The CRC-32 is checked as soon as it is in, before the length that is missing.
    EXPECT_EQ(extractError(member(static_cast<uint8_t>(headerCrc), 7, 4), SupportedFormat::gzip),
              "File appears corrupt: checksum mismatch in split.txt");
    EXPECT_EQ(extractError(member(static_cast<uint8_t>(headerCrc), 2, 0), SupportedFormat::gzip),
              "File appears corrupt: length mismatch in split.txt");
    calvoro::testing::writeFile(dir / "junk.xz", randomBytes(5000, 4));
    EXPECT_EQ(extractError(dir / "junk.xz", SupportedFormat::xz), "File appears corrupt: Not an xz stream (bad magic)");
    auto xz = XZCodec::compress(randomBytes(300000, 9));
    calvoro::testing::writeFile(dir / "cut.xz", std::vector<uint8_t>(xz.begin(), xz.end() - 100));
    EXPECT_EQ(extractError(dir / "cut.xz", SupportedFormat::xz).rfind("File appears corrupt: xz decompression failed (code ", 0), 0u);
    if (BZip2::isAvailable()) {
        auto bz = BZip2::compress(randomBytes(300000, 9), 9);
        calvoro::testing::writeFile(dir / "cut.bz2", std::vector<uint8_t>(bz.begin(), bz.end() - 100));
        EXPECT_EQ(extractError(dir / "cut.bz2", SupportedFormat::bz2).rfind("File appears corrupt: bzip2 decompression failed (code ", 0), 0u);
        calvoro::testing::writeFile(dir / "junk.bz2", randomBytes(5000, 4));
        EXPECT_EQ(extractError(dir / "junk.bz2", SupportedFormat::bz2), "File appears corrupt: Not a bzip2 stream (bad magic)");
    }
}

TEST(ArchiveStreams, DatesSurviveEveryFormatAndRunsRepeatExactly) {
    TempDir dir;
    datedTree(dir / "tree");
    const auto original = datesBelow(dir / "tree");
    calvoro::testing::writeFile(dir / "start.tar", AC::createTARData(dir / "tree"));

    // Round the formats: each step unpacks the last one's output.
    fs::path current = dir / "start.tar";
    SupportedFormat format = SupportedFormat::tar;
    std::vector<SupportedFormat> chain = {SupportedFormat::zip, SupportedFormat::xz, SupportedFormat::gzip, SupportedFormat::tar};
    if (BZip2::isAvailable()) chain.insert(chain.begin() + 2, SupportedFormat::bz2);
    for (SupportedFormat next : chain) {
        SCOPED_TRACE(next.displayName());
        fs::path out1 = dir / ("a-" + next.fileExtension());
        fs::path out2 = dir / ("b-" + next.fileExtension());
        fs::create_directories(out1);
        fs::create_directories(out2);
        fs::path first = AC::convert(current, format, next, out1);
        fs::path second = AC::convert(current, format, next, out2);
        EXPECT_EQ(calvoro::testing::readFile(first), calvoro::testing::readFile(second));
        current = first;
        format = next;
    }
    TempDir back;
    AC::extractArchive(current, format, back.path());
    EXPECT_EQ(datesBelow(back.path()), original);
    EXPECT_EQ(treeContents(back.path()), treeContents(dir / "tree"));

    // A compressed single file takes the compressed file's date, as the peers' decompressors leave it.
    calvoro::testing::writeFile(dir / "notes.gz", AC::compressGzip(bytesOf("plain notes\n")));
    const auto when = localTime(2015, 6, 7, 8, 9, 10);
    zip::setModificationTime(dir / "notes.gz", when);
    TempDir single;
    AC::extractArchive(dir / "notes.gz", SupportedFormat::gzip, single.path());
    EXPECT_EQ(*zip::modificationTime(single / "notes"), when);
}

TEST(ArchiveStreams, MemoryStaysWithTheLargestEntry) {
    TempDir dir;
    // 96 MiB of content in 1 MiB files; the whole archive held at once would show as far more.
    fs::create_directories(dir / "tree");
    auto text = sampleText(1 << 20);
    text.resize(1 << 20);
    for (int i = 0; i < 96; ++i) {
        text[0] = static_cast<uint8_t>(i);
        calvoro::testing::writeFile(dir / "tree" / ("f" + std::to_string(i)), text);
    }
    calvoro::testing::writeFile(dir / "big.tar.gz", AC::compressGzip(AC::createTARData(dir / "tree")));
    fs::remove_all(dir / "tree");
    fs::create_directories(dir / "out");
    for (SupportedFormat target : {SupportedFormat::zip, SupportedFormat::gzip}) {
        SCOPED_TRACE(target.displayName());
        long long growth = peakMemoryGrowth([&] {
            AC::convert(dir / "big.tar.gz", SupportedFormat::gzip, target, dir / "out");
            return true;
        });
        EXPECT_GE(growth, 0);
        EXPECT_LT(growth, 40LL << 20);
    }
}

TEST(ArchiveStreams, DatesBeyondTheClockAreLeftOut) {
    TempDir dir;
    // An mtime of year 2427 in the 12-digit field: keeping it would overflow the clock.
    auto header = tarHeader("late.txt", '0', octal(5));
    std::memcpy(header.data() + 136, "153527245606", 12);
    std::memset(header.data() + 148, ' ', 8);
    unsigned sum = 0;
    for (uint8_t b : header) sum += b;
    snprintf(reinterpret_cast<char*>(header.data() + 148), 8, "%06o", sum);
    std::vector<uint8_t> tar = header;
    const std::string body = "late\n";
    tar.insert(tar.end(), body.begin(), body.end());
    tar.resize(1024 + 1024, 0);
    calvoro::testing::writeFile(dir / "late.tar", tar);
    TempDir out;
    const auto before = Clock::now() - std::chrono::minutes(1);
    AC::extractArchive(dir / "late.tar", SupportedFormat::tar, out.path(), {}, 1 << 20);
    ASSERT_TRUE(fs::exists(out.path() / "late.txt"));
    EXPECT_GT(*zip::modificationTime(out.path() / "late.txt"), before);
}
