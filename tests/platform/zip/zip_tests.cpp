#include <gtest/gtest.h>
#include <zlib.h>

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <map>

#include "support/archive_test_util.h"
#include "platform/zip/zip_archive.h"
#include "platform/zip/zip_support.h"

using namespace calvoro;
using namespace calvoro::archive_testing;
using calvoro::testing::TempDir;
namespace fs = std::filesystem;

namespace {

std::string corruptText(const std::function<void()>& body) {
    try {
        body();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile) << e.what();
        return e.what();
    }
    ADD_FAILURE() << "no error thrown";
    return {};
}

std::vector<uint8_t> rawDeflate(const std::vector<uint8_t>& data, int level = 9) {
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&zs, data.size()) + 16);
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

// A raw DEFLATE stream of `size` zero bytes, made in chunks so the test never holds them all.
std::vector<uint8_t> deflatedZeros(size_t size) {
    z_stream zs{};
    deflateInit2(&zs, 1, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> zeros(1 << 20, 0), out;
    uint8_t buffer[1 << 16];
    size_t left = size;
    int flush = Z_NO_FLUSH;
    do {
        size_t n = std::min(left, zeros.size());
        left -= n;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        zs.next_in = zeros.data();
        zs.avail_in = static_cast<uInt>(n);
        do {
            zs.next_out = buffer;
            zs.avail_out = sizeof buffer;
            deflate(&zs, flush);
            out.insert(out.end(), buffer, buffer + (sizeof buffer - zs.avail_out));
        } while (zs.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&zs);
    return out;
}

void makeSampleTree(const fs::path& root) {
    using calvoro::testing::writeFile;
    writeFile(root / "readme.txt", std::string(5000, 'a') + "hello\n");
    writeFile(root / ".gitignore", std::string("build/\n"));
    writeFile(root / "docs" / "guide.md", std::string("# Guide\n"));
    writeFile(root / "docs" / "deep" / "n\xC3\xA4me \xE2\x82\xAC.txt", std::string("umlaut"));
    writeFile(root / "big.bin", randomBytes(1 << 20 | 12345, 7));
    writeFile(root / "empty.txt", std::string());
    fs::create_directories(root / "empty-folder");
}

}  // namespace

TEST(ZipRoutines, ChecksumTimestampNamesAndPaths) {
    EXPECT_EQ(zip::crc32Checksum(bytesOf("123456789")), 0xCBF43926u);
    EXPECT_EQ(zip::crc32Checksum({}), 0u);

    std::tm late{};
    late.tm_year = 2110 - 1900;
    late.tm_mon = 11;
    late.tm_mday = 31;
    late.tm_hour = 13;
    late.tm_min = 14;
    late.tm_sec = 59;
    late.tm_isdst = -1;
    auto stamp = zip::dosTimestamp(std::chrono::system_clock::from_time_t(std::mktime(&late)));
    EXPECT_EQ(stamp.date, 65439);
    EXPECT_EQ(stamp.time, 13 * 2048 + 14 * 32 + 29);
    std::tm early{};
    early.tm_year = 75;
    early.tm_mon = 5;
    early.tm_mday = 3;
    early.tm_isdst = -1;
    EXPECT_EQ(zip::dosTimestamp(std::chrono::system_clock::from_time_t(std::mktime(&early))).date, 0 * 512 + 6 * 32 + 3);

    EXPECT_EQ(zip::decodeArchiveName(bytesOf("caf\xC3\xA9")), "caf\xC3\xA9");
    EXPECT_EQ(zip::decodeArchiveName(bytesOf("caf\xE9 \x80")), "caf\xC3\xA9 \xE2\x82\xAC");  // Windows-1252
    EXPECT_EQ(zip::decodeArchiveName(bytesOf("x\x81")), "x\xC2\x81");                       // undefined in 1252: Latin-1
    EXPECT_EQ(zip::decodeArchiveName(bytesOf("\xC0\xAF")), "\xC3\x80\xC2\xAF");             // overlong UTF-8 is not UTF-8

    EXPECT_EQ(zip::sanitizePath("../../etc/passwd"), "etc/passwd");
    EXPECT_EQ(zip::sanitizePath("/abs/x"), "abs/x");
    EXPECT_EQ(zip::sanitizePath("dir\\file.txt"), "dir/file.txt");
    EXPECT_EQ(zip::sanitizePath("a/../b//./c"), "a/b/c");
    EXPECT_EQ(zip::sanitizePath(".."), "");
}

TEST(ZipWriter, InMemoryEntriesRoundTripAndPeersAccept) {
    TempDir dir;
    std::vector<zip::ZipEntry> entries = {
        {"mimetype", bytesOf("application/epub+zip"), zip::ZipMethod::store},
        {"META-INF/", {}, zip::ZipMethod::deflate},
        {"META-INF/container.xml", bytesOf(std::string(3000, 'x')), zip::ZipMethod::deflate},
        {"noise.bin", randomBytes(4096, 1), zip::ZipMethod::deflate},
        {"forced.txt", bytesOf(std::string(3000, 'y')), zip::ZipMethod::store},
    };
    auto zip = zip::writeZIP(entries);
    // The first entry's local header: method 0 and its name right at offset 30.
    EXPECT_EQ(zip[8], 0);
    EXPECT_EQ(std::string(zip.begin() + 30, zip.begin() + 38), "mimetype");
    calvoro::testing::writeFile(dir / "a.zip", zip);
    ASSERT_TRUE(calvoro::testing::peerInstalled("unzip"));
    auto r = calvoro::testing::run("unzip -t " + calvoro::testing::shellQuote((dir / "a.zip").string()));
    EXPECT_EQ(r.status, 0) << r.output;
    auto v = calvoro::testing::run("unzip -v " + calvoro::testing::shellQuote((dir / "a.zip").string()));
    EXPECT_NE(v.output.find("Defl:N"), std::string::npos) << v.output;  // container.xml

    auto members = zip::readZIP(zip);
    ASSERT_EQ(members.size(), 4u);
    EXPECT_EQ(members[0].name, "mimetype");
    EXPECT_EQ(members[1].name, "META-INF/container.xml");
    EXPECT_EQ(members[1].data, entries[2].data);
    EXPECT_EQ(members[2].data, entries[3].data);
    EXPECT_EQ(members[3].data, entries[4].data);
}

TEST(ZipWriter, FolderTreeAsPeersSeeIt) {
    TempDir dir;
    fs::path root = dir / "tree";
    makeSampleTree(root);
    calvoro::testing::writeFile(root / ".DS_Store", std::string("junk"));
    calvoro::testing::writeFile(root / "docs" / "._guide.md", std::string("junk"));
    fs::path zip = dir / "out.zip";
    zip::createZIP(root, zip);

    ASSERT_TRUE(calvoro::testing::peerInstalled("unzip"));
    auto tested = calvoro::testing::run("unzip -t " + calvoro::testing::shellQuote(zip.string()));
    EXPECT_EQ(tested.status, 0) << tested.output;
    ASSERT_TRUE(calvoro::testing::peerInstalled("bsdtar"));
    fs::path peer = dir / "peer";
    fs::create_directories(peer);
    auto extracted = calvoro::testing::run("bsdtar -xf " + calvoro::testing::shellQuote(zip.string()) + " -C " +
                                           calvoro::testing::shellQuote(peer.string()));
    ASSERT_EQ(extracted.status, 0) << extracted.output;
    EXPECT_TRUE(fs::is_directory(peer / "empty-folder"));
    auto expected = treeContents(root);
    expected.erase(".DS_Store");
    expected.erase("docs/._guide.md");
    EXPECT_EQ(treeContents(peer), expected);

    // Folder entries come before every file entry.
    auto bytes = calvoro::testing::readFile(zip);
    auto members = zip::readZIP(bytes);
    EXPECT_EQ(members.size(), 6u);
    fs::path back = dir / "back";
    zip::extractZIP(zip, back);
    EXPECT_EQ(treeContents(back).count(".gitignore"), 1u);
    EXPECT_EQ(treeContents(back).count(".DS_Store"), 0u);
    EXPECT_FALSE(fs::exists(back / "empty-folder"));  // folders are not restored by our reader
}

TEST(ZipWriter, FirstStoredEntryComesFirstOnce) {
    TempDir dir;
    fs::path root = dir / "pkg";
    calvoro::testing::writeFile(root / "mimetype", std::string("application/epub+zip"));
    calvoro::testing::writeFile(root / "META-INF" / "container.xml", std::string(500, 'c'));
    calvoro::testing::writeFile(root / "OEBPS" / "a.xhtml", std::string(500, 'd'));
    zip::createZIP(root, dir / "book.epub", "mimetype");
    auto bytes = calvoro::testing::readFile(dir / "book.epub");
    EXPECT_EQ(std::string(bytes.begin() + 30, bytes.begin() + 38), "mimetype");
    EXPECT_EQ(std::string(bytes.begin() + 38, bytes.begin() + 58), "application/epub+zip");
    auto members = zip::readZIP(bytes);
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].name, "mimetype");

    // Without the option the folders lead.
    zip::createZIP(root, dir / "plain.zip");
    auto plain = calvoro::testing::readFile(dir / "plain.zip");
    EXPECT_EQ(std::string(plain.begin() + 30, plain.begin() + 39), "META-INF/");
}

TEST(ZipWriter, EmptyRootAndRangeLimits) {
    TempDir dir;
    fs::create_directories(dir / "empty");
    zip::createZIP(dir / "empty", dir / "e.zip");
    auto e = calvoro::testing::readFile(dir / "e.zip");
    ASSERT_EQ(e.size(), 22u);
    EXPECT_TRUE(zip::readZIP(e).empty());

    std::vector<zip::ZipEntry> many(65535);
    for (size_t i = 0; i < many.size(); ++i) many[i].name = std::to_string(i);
    // 65,535 entries fill the 16-bit count exactly and are no ZIP64 marker.
    EXPECT_EQ(zip::readZIP(zip::writeZIP(many)).size(), 65535u);
    many.push_back({"one-more", {}, zip::ZipMethod::deflate});
    EXPECT_EQ(refusalText([&] { zip::writeZIP(many); }),
              "Archive has too many entries for ZIP (max 65,535) \u2014 try TAR instead");

    std::vector<zip::ZipEntry> longName = {{std::string(65536, 'n'), {}, zip::ZipMethod::store}};
    EXPECT_EQ(refusalText([&] { zip::writeZIP(longName); }),
              "Archive has too many filename bytes for ZIP (max 65,535) \u2014 try TAR instead");
}

TEST(ZipReader, ReadsPeerArchivesWithDataDescriptors) {
    ASSERT_TRUE(calvoro::testing::peerInstalled("zip"));
    TempDir dir;
    // Writing into a pipe makes zip put data descriptors after the data.
    auto r = calvoro::testing::run("cd " + calvoro::testing::shellQuote(dir.path().string()) +
                                   " && seq 1 20000 > -  && printf abc > x.txt && zip -q - ./- x.txt | cat > streamed.zip");
    ASSERT_EQ(r.status, 0) << r.output;
    auto bytes = calvoro::testing::readFile(dir / "streamed.zip");
    EXPECT_TRUE(bytes[6] & 0x08);  // general-purpose flag bit 3
    auto members = zip::readZIP(bytes);
    ASSERT_EQ(members.size(), 2u);
    EXPECT_EQ(members[0].name, "-");
    EXPECT_EQ(members[0].data, bytesOf(calvoro::testing::run("seq 1 20000").output));
    EXPECT_EQ(members[1].data, bytesOf("abc"));
}

TEST(ZipReader, HostileNamesStayInsideTheDestination) {
    TempDir dir;
    auto zip = rawZip({
        {"../../escape.txt", bytesOf("1")},
        {"/abs/x", bytesOf("2")},
        {"dir\\file.txt", bytesOf("3")},
        {"__MACOSX/._x", bytesOf("4")},
        {"ok/", {}},
        {"..", bytesOf("5")},
    });
    calvoro::testing::writeFile(dir / "slip.zip", zip);
    fs::path out = dir / "nest" / "out";
    fs::create_directories(out);
    auto text = corruptText([&] { zip::extractZIP(dir / "slip.zip", out); });
    EXPECT_EQ(text, "File appears corrupt: 1 item(s) couldn't be extracted (..) \u2014 the archive may be damaged or use a "
                    "compression method Calvoro doesn't support.");
    std::map<std::string, std::vector<uint8_t>> expected = {
        {"escape.txt", bytesOf("1")}, {"abs/x", bytesOf("2")}, {"dir/file.txt", bytesOf("3")}};
    EXPECT_EQ(treeContents(out), expected);
    EXPECT_FALSE(fs::exists(dir / "escape.txt"));
    EXPECT_FALSE(fs::exists(dir / "nest" / "escape.txt"));
}

TEST(ZipReader, FailureListForUnsupportedEncryptedAndBrokenEntries) {
    auto zip = rawZip({
        {"a.bz", bytesOf("xx"), 12},
        {"b.bz", bytesOf("xx"), 14},
        {"secret.txt", bytesOf("ciphertext"), 0, 0x0001},
        {"broken.txt", bytesOf("yy"), 0, 0, 0xFFFFFFFEu, 0xFFFFFFFEu, true},
        {"fine.txt", bytesOf("fine")},
    });
    std::vector<zip::ZipMember> got;
    auto text = corruptText([&] { got = zip::readZIP(zip); });
    EXPECT_EQ(text, "File appears corrupt: 4 item(s) couldn't be extracted (a.bz, b.bz, secret.txt and 1 more) \u2014 the archive "
                    "may be damaged or use a compression method Calvoro doesn't support.");

    TempDir dir;
    calvoro::testing::writeFile(dir / "f.zip", zip);
    corruptText([&] { zip::extractZIP(dir / "f.zip", dir / "out"); });
    std::map<std::string, std::vector<uint8_t>> expected = {{"fine.txt", bytesOf("fine")}};
    EXPECT_EQ(treeContents(dir / "out"), expected);  // never the ciphertext
}

TEST(ZipReader, DamagedAndTruncatedArchives) {
    auto good = zip::writeZIP({{"a.txt", bytesOf(std::string(10000, 'a')), zip::ZipMethod::deflate}});
    EXPECT_EQ(corruptText([&] { zip::readZIP(std::vector<uint8_t>(good.begin(), good.begin() + 21)); }),
              "File appears corrupt: Invalid ZIP \u2014 cannot find end of central directory");
    EXPECT_EQ(corruptText([&] { zip::readZIP(randomBytes(100000, 3)); }),
              "File appears corrupt: Invalid ZIP \u2014 cannot find end of central directory");
    EXPECT_EQ(corruptText([&] { zip::readZIP(std::vector<uint8_t>(good.begin(), good.end() - 30)); }),
              "File appears corrupt: Invalid ZIP \u2014 cannot find end of central directory");

    // Damaged deflate data behind intact headers.
    auto damaged = good;
    for (size_t i = 40; i < 60; ++i) damaged[i] ^= 0xFF;
    EXPECT_EQ(corruptText([&] { zip::readZIP(damaged); }), "File appears corrupt: Cannot decompress data");

    // Central directory overwritten.
    auto badCentral = good;
    size_t central = zip::readUInt32(good, good.size() - 6);
    badCentral[central] = 'X';
    EXPECT_EQ(corruptText([&] { zip::readZIP(badCentral); }), "File appears corrupt: Invalid ZIP central directory entry");

    // A cut-off deflate stream (its claimed size intact).
    auto full = rawDeflate(randomBytes(50000, 4));
    auto cut = rawZip({{"cut.bin", std::vector<uint8_t>(full.begin(), full.begin() + full.size() / 2), 8, 0, 0xFFFFFFFEu, 50000}});
    EXPECT_EQ(corruptText([&] { zip::readZIP(cut); }), "File appears corrupt: Cannot decompress data");
}

TEST(ZipReader, Zip64IsRefusedOnlyWhereAFieldIsSaturated) {
    // The ZIP64 records beside complete 32-bit fields change nothing.
    auto located = rawZip({{"a", bytesOf("a")}}, true);
    auto members = zip::readZIP(located);
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].data, bytesOf("a"));
    // The entry count left to the ZIP64 record.
    auto saturated = located;
    const size_t eocd = saturated.size() - 22;
    for (size_t at : {eocd + 8, eocd + 10}) saturated[at] = saturated[at + 1] = 0xFF;
    EXPECT_EQ(corruptText([&] { zip::readZIP(saturated); }), "File appears corrupt: ZIP64 archives are not supported");
    EXPECT_EQ(corruptText([&] { zip::readZIP(rawZip({{"a", bytesOf("a"), 0, 0, 0xFFFFFFFF, 0xFFFFFFFF}})); }),
              "File appears corrupt: ZIP64 archives are not supported");
    ASSERT_TRUE(calvoro::testing::peerInstalled("zip"));
    TempDir dir;
    auto r = calvoro::testing::run("cd " + calvoro::testing::shellQuote(dir.path().string()) +
                                   " && printf data > a.txt && zip -q -fz z64.zip a.txt");
    if (r.status == 0) {
        EXPECT_EQ(corruptText([&] { zip::readZIP(calvoro::testing::readFile(dir / "z64.zip")); }),
                  "File appears corrupt: ZIP64 archives are not supported");
    }
    // Info-ZIP writing from a pipe adds the ZIP64 records without needing them.
    r = calvoro::testing::run("cd " + calvoro::testing::shellQuote(dir.path().string()) + " && echo hello | zip -q piped.zip -");
    ASSERT_EQ(r.status, 0) << r.output;
    zip::extractZIP(dir / "piped.zip", dir / "out");
    EXPECT_EQ(calvoro::testing::readFile(dir / "out" / "-"), bytesOf("hello\n"));
}

TEST(ZipReader, NamesEmptyEntriesAndDuplicates) {
    auto zip = rawZip({
        {"caf\xE9.txt", bytesOf("cp1252")},
        {"empty-deflated", rawDeflate({}), 8, 0, 0xFFFFFFFEu, 0},
        {"no-data", {}, 8},
        {"dup.txt", bytesOf("first")},
        {"dup.txt", bytesOf("second")},
        {"folder\\", {}},
    });
    TempDir dir;
    calvoro::testing::writeFile(dir / "n.zip", zip);
    zip::extractZIP(dir / "n.zip", dir / "out");
    std::map<std::string, std::vector<uint8_t>> expected = {
        {"caf\xC3\xA9.txt", bytesOf("cp1252")}, {"empty-deflated", {}}, {"no-data", {}}, {"dup.txt", bytesOf("second")}, {"folder", {}}};
    EXPECT_EQ(treeContents(dir / "out"), expected);
}

TEST(ZipReader, BombsAreBoundedInMemory) {
    // 10 MB of real data claiming nearly 4 GB: the claim must not be allocated.
    auto payload = randomBytes(10 << 20, 9);
    auto liar = rawZip({{"liar.bin", rawDeflate(payload, 1), 8, 0, 0xFFFFFFFEu, 0xFFFFFFF0u}});
    long long growth = peakMemoryGrowth([&] {
        auto members = zip::readZIP(liar);
        return members.size() == 1 && members[0].data == payload;
    });
    ASSERT_GE(growth, 0);
    EXPECT_LT(growth, 120LL << 20);

    // A real bomb: 300 MB of zeros in a few hundred KB, read under a 10 MB cap.
    auto bomb = rawZip({{"bomb.bin", deflatedZeros(300u << 20), 8, 0, 0xFFFFFFFEu, 300u << 20}});
    std::string message;
    growth = peakMemoryGrowth([&] {
        try {
            zip::readZIP(bomb, 10 * 1000 * 1000);
        } catch (const ConversionError& e) {
            return std::string(e.what()) == "File appears corrupt: Archive expands to more than 10 MB \u2014 refusing to continue.";
        }
        return false;
    });
    ASSERT_GE(growth, 0) << "wrong or no error";
    EXPECT_LT(growth, 60LL << 20);

    // Exactly at the cap is accepted; a stored entry one byte over is refused.
    auto exact = rawZip({{"a", std::vector<uint8_t>(1000, 1)}, {"b", std::vector<uint8_t>(24, 2)}});
    EXPECT_EQ(zip::readZIP(exact, 1024).size(), 2u);
    corruptText([&] { zip::readZIP(exact, 1023); });
}

TEST(ZipWriter, FailureKeepsTheOldFileAndLeavesNoPartial) {
    TempDir dir;
    fs::path root = dir / "root";
    calvoro::testing::writeFile(root / "a.txt", std::string("a"));
    ASSERT_EQ(mkfifo((root / "pipe").c_str(), 0644), 0);
    fs::path out = dir / "out" / "keep.zip";
    calvoro::testing::writeFile(out, std::string("previous"));
    EXPECT_THROW(zip::createZIP(root, out), fs::filesystem_error);
    EXPECT_EQ(calvoro::testing::readText(out), "previous");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "out"), fs::directory_iterator()), 1);

    fs::remove(root / "pipe");
    zip::createZIP(root, out);  // replaces the old file
    EXPECT_EQ(zip::readZIP(calvoro::testing::readFile(out)).size(), 1u);
}

namespace {

// Method of each entry, by name, as the central directory records it.
std::map<std::string, uint16_t> entryMethods(const std::vector<uint8_t>& zip) {
    std::map<std::string, uint16_t> methods;
    const size_t end = zip.size() - 22;
    size_t at = zip::readUInt32(zip, end + 16);
    for (uint16_t i = 0, total = zip::readUInt16(zip, end + 10); i < total; ++i) {
        const uint16_t nameLength = zip::readUInt16(zip, at + 28);
        methods[std::string(zip.begin() + static_cast<std::ptrdiff_t>(at + 46), zip.begin() + static_cast<std::ptrdiff_t>(at + 46 + nameLength))] =
            zip::readUInt16(zip, at + 10);
        at += 46 + nameLength + zip::readUInt16(zip, at + 30) + zip::readUInt16(zip, at + 32);
    }
    return methods;
}

}  // namespace

// Entries too large to hold whole go through in pieces both ways: the same bytes come back,
// compressible ones deflated and the rest stored, while memory stays well below their size.
TEST(ZipStreaming, LargeEntriesRoundTripInPieces) {
    TempDir dir;
    const fs::path root = dir / "tree";
    const size_t limit = zip::kWholeEntryLimit;
    {
        std::string text;
        for (size_t i = 0; text.size() < 3 * limit; ++i) text += "line " + std::to_string(i) + " of the large text entry\n";
        calvoro::testing::writeFile(root / "big.txt", text);
        calvoro::testing::writeFile(root / "noise.bin", randomBytes(limit + 4321, 5));
        calvoro::testing::writeFile(root / "small.txt", std::string("small"));
    }
    const fs::path zip = dir / "out.zip";
    long long growth = peakMemoryGrowth([&] {
        zip::createZIP(root, zip);
        return true;
    });
    ASSERT_GE(growth, 0);
    EXPECT_LT(growth, static_cast<long long>(limit / 2));

    auto bytes = calvoro::testing::readFile(zip);
    EXPECT_EQ(entryMethods(bytes), (std::map<std::string, uint16_t>{{"big.txt", 8}, {"noise.bin", 0}, {"small.txt", 0}}));
    EXPECT_LT(bytes.size(), 3 * limit / 4 + limit);
    ASSERT_TRUE(calvoro::testing::peerInstalled("unzip"));
    auto r = calvoro::testing::run("unzip -t " + calvoro::testing::shellQuote(zip.string()));
    EXPECT_EQ(r.status, 0) << r.output;
    bytes.clear();
    bytes.shrink_to_fit();

    const fs::path back = dir / "back";
    growth = peakMemoryGrowth([&] {
        zip::extractZIP(zip, back);
        return true;
    });
    ASSERT_GE(growth, 0);
    EXPECT_LT(growth, static_cast<long long>(limit / 2));
    EXPECT_EQ(treeContents(back), treeContents(root));
}

TEST(ZipStreaming, DamagedOrCutLargeEntriesAreCorrupt) {
    TempDir dir;
    // Letters from a small alphabet, so that the stream is made of coded blocks rather than stored ones.
    auto data = randomBytes(zip::kWholeEntryLimit + 1000, 6);
    for (auto& b : data) b = static_cast<uint8_t>('a' + b % 6);
    const auto deflated = rawDeflate(data, 1);
    auto damaged = deflated;
    for (size_t i = damaged.size() / 2; i < damaged.size() / 2 + 64; ++i) damaged[i] ^= 0x5A;
    const std::vector<uint8_t> cut(deflated.begin(), deflated.begin() + static_cast<std::ptrdiff_t>(deflated.size() / 2));
    const auto size = static_cast<uint32_t>(data.size());
    for (const auto& payload : {damaged, cut}) {
        calvoro::testing::writeFile(dir / "bad.zip", rawZip({{"bad.bin", payload, 8, 0, 0xFFFFFFFEu, size}}));
        EXPECT_EQ(corruptText([&] { zip::extractZIP(dir / "bad.zip", dir / "out"); }), "File appears corrupt: Cannot decompress data");
    }
}

// Every CRC-32 an entry carries is compared with its content: a changed byte is never passed on
// as good data, whether the central record, the local header or a data descriptor holds the sum.
TEST(ZipChecksums, ADamagedEntryIsRefusedByName) {
    TempDir dir;
    const auto text = bytesOf("a note that must come back exactly\n");
    auto damaged = zip::writeZIP({{"keep.txt", bytesOf("fine"), zip::ZipMethod::store}, {"note.txt", text, zip::ZipMethod::store}});
    auto at = std::search(damaged.begin(), damaged.end(), text.begin(), text.end());
    ASSERT_NE(at, damaged.end());
    at[2] ^= 0x01;
    calvoro::testing::writeFile(dir / "damaged.zip", damaged);
    ASSERT_TRUE(calvoro::testing::peerInstalled("unzip"));
    auto peer = calvoro::testing::run("unzip -t " + calvoro::testing::shellQuote((dir / "damaged.zip").string()));
    EXPECT_NE(peer.status, 0);
    EXPECT_NE(peer.output.find("bad CRC"), std::string::npos) << peer.output;
    EXPECT_EQ(corruptText([&] { zip::readZIP(damaged); }), "File appears corrupt: checksum mismatch in note.txt");
    EXPECT_EQ(corruptText([&] { zip::extractZIP(dir / "damaged.zip", dir / "out"); }),
              "File appears corrupt: checksum mismatch in note.txt");

    const uint32_t right = static_cast<uint32_t>(crc32(0, text.data(), static_cast<uInt>(text.size())));
    // Only the local header's sum is wrong.
    RawEntry localOnly{"note.txt", text};
    auto zip = rawZip({localOnly});
    zip[14] ^= 0xFF;
    EXPECT_EQ(corruptText([&] { zip::readZIP(zip); }), "File appears corrupt: checksum mismatch in note.txt");
    // Sums left to a data descriptor, signed or not: the descriptor's is compared too.
    for (bool signedDescriptor : {true, false}) {
        for (uint32_t descriptorSum : {right, right ^ 1}) {
            RawEntry described{"note.txt", text, 0, 0x0008};
            auto withDescriptor = rawZip({described});
            std::vector<uint8_t> descriptor;
            if (signedDescriptor) put32(descriptor, 0x08074B50);
            put32(descriptor, descriptorSum);
            put32(descriptor, static_cast<uint32_t>(text.size()));
            put32(descriptor, static_cast<uint32_t>(text.size()));
            const size_t dataEnd = 30 + 8 + text.size();
            withDescriptor.insert(withDescriptor.begin() + static_cast<std::ptrdiff_t>(dataEnd), descriptor.begin(), descriptor.end());
            // The central directory and its offset move by the descriptor's length.
            const size_t eocd = withDescriptor.size() - 22;
            const uint32_t central = zip::readUInt32(withDescriptor, eocd + 16) + static_cast<uint32_t>(descriptor.size());
            for (int i = 0; i < 4; ++i) withDescriptor[eocd + 16 + i] = static_cast<uint8_t>(central >> (8 * i));
            if (descriptorSum == right) {
                auto members = zip::readZIP(withDescriptor);
                ASSERT_EQ(members.size(), 1u);
                EXPECT_EQ(members[0].data, text);
            } else {
                EXPECT_EQ(corruptText([&] { zip::readZIP(withDescriptor); }), "File appears corrupt: checksum mismatch in note.txt");
            }
        }
    }

    // An entry too large to hold whole is checked as it streams through.
    auto large = randomBytes(zip::kWholeEntryLimit + 1000, 12);
    RawEntry big{"big.bin", large};
    big.crc = static_cast<uint32_t>(crc32(0, large.data(), static_cast<uInt>(large.size())));
    big.payload[large.size() / 2] ^= 0x40;
    calvoro::testing::writeFile(dir / "big.zip", rawZip({big}));
    EXPECT_EQ(corruptText([&] { zip::extractZIP(dir / "big.zip", dir / "big"); }), "File appears corrupt: checksum mismatch in big.bin");
}

// Links and special files are refused as the tar reader refuses them; the plain files still come out.
TEST(ZipReader, LinkEntriesAreRefusedLikeTheTarReaders) {
    TempDir dir;
    RawEntry link{"l/link", bytesOf("f")};
    link.externalAttributes = 0120777u << 16;
    RawEntry second = link;
    second.name = "l/other";
    // What Info-ZIP read from a pipe carries the pipe's mode: its content is a file's.
    RawEntry piped{"l/piped", bytesOf("piped")};
    piped.externalAttributes = 0010644u << 16;
    RawEntry dosFile{"l/dos.txt", bytesOf("dos")};
    dosFile.externalAttributes = 0x20;  // only the DOS archive bit: a plain file
    auto zip = rawZip({{"l/f", bytesOf("x\n")}, link, piped, second, dosFile});
    calvoro::testing::writeFile(dir / "l.zip", zip);
    const std::string expected =
        "This archive contains 2 symlink(s) or special file(s) (l/link, l/other) that can't be represented "
        "in the target format without corrupting the tree.";
    EXPECT_EQ(refusalText([&] { zip::extractZIP(dir / "l.zip", dir / "out"); }), expected);
    EXPECT_EQ(treeContents(dir / "out"), (std::map<std::string, std::vector<uint8_t>>{
                                             {"l/f", bytesOf("x\n")}, {"l/piped", bytesOf("piped")}, {"l/dos.txt", bytesOf("dos")}}));
    EXPECT_EQ(refusalText([&] { zip::readZIP(zip); }), expected);

    // As Info-ZIP stores a link.
    ASSERT_TRUE(calvoro::testing::peerInstalled("zip"));
    auto r = calvoro::testing::run("cd " + calvoro::testing::shellQuote(dir.path().string()) +
                                   " && mkdir t && echo x > t/f && ln -s f t/link && zip -qry t.zip t");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(refusalText([&] { zip::extractZIP(dir / "t.zip", dir / "t-out"); }),
              "This archive contains 1 symlink(s) or special file(s) (t/link) that can't be represented "
              "in the target format without corrupting the tree.");
}

// The tree an archive unpacks to is gathered in name order with a stack of the walk's own, each
// item named from its folder: a tree as deep as a path holds, and a link by where it points.
TEST(ZipWriter, ATreeAsDeepAsAPathHoldsIsGatheredInNameOrder) {
    TempDir dir;
    const fs::path root = dir / "root";
    const int levels = 900;  // the library makes folders of paths up to about 2,000 bytes
    std::string deep = "b";
    std::vector<std::string> folders{"b"};
    for (int i = 0; i < levels; ++i) folders.push_back(deep += "/d");
    fs::create_directories(root / deep);
    for (const std::string& name : {std::string("a.txt"), std::string("c.txt"), std::string("b/e.txt"), deep + "/f"})
        calvoro::testing::writeFile(root / name, "x");
    calvoro::testing::writeFile(dir / "outside.txt", "o");
    fs::create_symlink(dir / "outside.txt", root / "b" / "link");
    EXPECT_EQ(zip::gatherDirectories(root, root), folders);
    std::vector<std::string> names;
    for (const auto& [name, path] : zip::gatherFiles(root, root)) {
        names.push_back(name);
        EXPECT_TRUE(fs::exists(fs::symlink_status(path))) << name;
    }
    EXPECT_EQ(names, (std::vector<std::string>{"a.txt", deep + "/f", "b/e.txt", "link", "c.txt"}));
}
