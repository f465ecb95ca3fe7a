#include <gtest/gtest.h>

#include <cstring>

#include "converters/archive/tar_archive.h"
#include "core/conversion_error.h"
#include "support/archive_test_util.h"

using namespace calvoro;
using namespace calvoro::archive_testing;
using calvoro::testing::TempDir;
namespace fs = std::filesystem;
namespace AC = calvoro::ArchiveConverter;

namespace {

void addEntry(std::vector<uint8_t>& tar, const std::string& name, char type, const std::string& content, const std::string& prefix = {}) {
    auto h = tarHeader(name, type, octal(content.size()), prefix);
    tar.insert(tar.end(), h.begin(), h.end());
    tar.insert(tar.end(), content.begin(), content.end());
    tar.resize(tar.size() + (512 - content.size() % 512) % 512, 0);
}

// One pax record: its length counts itself.
std::string paxRecord(const std::string& key, const std::string& value) {
    const size_t body = 1 + key.size() + 1 + value.size() + 1;
    size_t length = body + 1;
    while (std::to_string(length).size() + body != length) ++length;
    return std::to_string(length) + " " + key + "=" + value + "\n";
}

std::string corruptText(const std::function<void()>& body) {
    try {
        body();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::corruptFile);
        return e.what();
    }
    ADD_FAILURE() << "no error thrown";
    return {};
}

}  // namespace

TEST(TarWriter, LayoutOfFoldersFilesAndPadding) {
    TempDir dir;
    fs::create_directories(dir / "empty");
    EXPECT_EQ(AC::createTARData(dir / "empty"), std::vector<uint8_t>(1024, 0));

    fs::create_directories(dir / "one" / "docs");
    auto one = AC::createTARData(dir / "one");
    ASSERT_EQ(one.size(), 1536u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(one.data())), "docs/");
    EXPECT_EQ(one[156], '5');
    EXPECT_EQ(std::string(reinterpret_cast<char*>(one.data() + 100)), "0000755");

    fs::create_directories(dir / "a" / "a");
    auto a = AC::createTARData(dir / "a");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(a.data() + 148), 8), std::string("006165\0 ", 8));

    fs::path sizes = dir / "sizes";
    calvoro::testing::writeFile(sizes / "e0", std::string());
    calvoro::testing::writeFile(sizes / "e512", std::string(512, 'x'));
    calvoro::testing::writeFile(sizes / "e513", std::string(513, 'y'));
    auto s = AC::createTARData(sizes);
    // headers 3 x 512, data 0 + 512 + 1024, end marker 1024
    EXPECT_EQ(s.size(), 3 * 512u + 512 + 1024 + 1024);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.data() + 100)), "0000644");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s.data() + 108)), "0000000");
}

TEST(TarWriter, LongPathsSplitOrFail) {
    TempDir dir;
    fs::path root = dir / "long";
    std::string hundred = std::string(96, 'd') + "/abc";  // exactly 100 bytes
    calvoro::testing::writeFile(root / hundred, std::string("x"));
    std::string deep = std::string(120, 'p') + "/" + std::string(20, 'q') + "/" + std::string(90, 'n');
    calvoro::testing::writeFile(root / deep, std::string("y"));
    auto tar = AC::createTARData(root);

    TempDir out;
    AC::extractTAR(tar, out.path());
    auto contents = treeContents(out.path());
    EXPECT_EQ(contents[hundred], bytesOf("x"));
    EXPECT_EQ(contents[deep], bytesOf("y"));
    ASSERT_TRUE(calvoro::testing::peerInstalled("tar"));
    calvoro::testing::writeFile(dir / "l.tar", tar);
    auto r = calvoro::testing::run("tar -tf " + calvoro::testing::shellQuote((dir / "l.tar").string()));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(deep + "\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(hundred + "\n"), std::string::npos) << r.output;

    fs::path emptyLong = dir / "emptylong";
    fs::create_directories(emptyLong / std::string(120, 'e'));
    EXPECT_EQ(refusalText([&] { AC::createTARData(emptyLong); }), "The name " + std::string(120, 'e') + "/ is too long for TAR (at most 255 bytes, split at a folder) \u2014 try ZIP instead.");

    fs::path bad = dir / "bad";
    std::string unsplittable = std::string(200, 'p') + "/" + std::string(50, 'n');
    calvoro::testing::writeFile(bad / unsplittable, std::string("z"));
    EXPECT_EQ(refusalText([&] { AC::createTARData(bad); }), "The name " + unsplittable + " is too long for TAR (at most 255 bytes, split at a folder) \u2014 try ZIP instead.");
}

TEST(TarReader, ReadsPeerArchives) {
    ASSERT_TRUE(calvoro::testing::peerInstalled("tar"));
    TempDir dir;
    calvoro::testing::writeFile(dir / "src" / "a.txt", std::string("alpha"));
    calvoro::testing::writeFile(dir / "src" / "sub" / "\xC3\xA9t\xC3\xA9.txt", std::string(3000, 'b'));
    calvoro::testing::writeFile(dir / "src" / ".hidden", std::string("h"));
    for (const char* format : {"ustar", "posix", "gnu"}) {
        auto r = calvoro::testing::run("tar --format=" + std::string(format) + " -C " +
                                       calvoro::testing::shellQuote((dir / "src").string()) + " -cf " +
                                       calvoro::testing::shellQuote((dir / "p.tar").string()) + " .");
        ASSERT_EQ(r.status, 0) << r.output;
        TempDir out;
        AC::extractTAR(calvoro::testing::readFile(dir / "p.tar"), out.path());
        EXPECT_EQ(treeContents(out.path()), treeContents(dir / "src")) << format;
    }
}

TEST(TarReader, EntriesNamesAndEnd) {
    std::vector<uint8_t> tar;
    addEntry(tar, "../../x.txt", '0', "up");
    addEntry(tar, "/etc/hosts", '0', "abs");
    addEntry(tar, "a.txt", '0', "prefixed", "docs");
    addEntry(tar, "dup", '0', "first");
    addEntry(tar, "dup", '0', "second");
    addEntry(tar, "folder/", '5', "");
    addEntry(tar, "PaxHeaders/long", 'x', "28 path=from/pax/header.txt\n");
    addEntry(tar, "short.txt", '0', "fifteen bytes!!");
    // A pax size stands for the header's own.
    addEntry(tar, "PaxHeaders/sized", 'x', paxRecord("size", "5"));
    auto sized = tarHeader("sized.txt", '0', octal(0));
    tar.insert(tar.end(), sized.begin(), sized.end());
    for (char c : std::string("12345")) tar.push_back(static_cast<uint8_t>(c));
    tar.resize(tar.size() + 507, 0);
    tar.resize(tar.size() + 1024, 0);
    addEntry(tar, "after-end.txt", '0', "never read");

    TempDir out;
    AC::extractTAR(tar, out.path());
    std::map<std::string, std::vector<uint8_t>> expected = {
        {"x.txt", bytesOf("up")},           {"etc/hosts", bytesOf("abs")},
        {"docs/a.txt", bytesOf("prefixed")}, {"dup", bytesOf("second")},
        {"from/pax/header.txt", bytesOf("fifteen bytes!!")}, {"sized.txt", bytesOf("12345")},
    };
    EXPECT_EQ(treeContents(out.path()), expected);
    EXPECT_FALSE(fs::exists(out.path() / "folder"));

    TempDir none;
    AC::extractTAR({}, none.path());
    AC::extractTAR(std::vector<uint8_t>(1024, 0), none.path());
    EXPECT_TRUE(fs::is_empty(none.path()));
}

TEST(TarReader, SizeFieldForms) {
    std::vector<uint8_t> tar;
    auto h = tarHeader("ten", '0', std::string("00000000012 ", 12));
    tar.insert(tar.end(), h.begin(), h.end());
    std::string ten = "0123456789";
    tar.insert(tar.end(), ten.begin(), ten.end());
    tar.resize(1024, 0);
    auto z = tarHeader("zero", '0', std::string(12, '\0'));
    tar.insert(tar.end(), z.begin(), z.end());
    tar.resize(tar.size() + 1024, 0);
    TempDir out;
    AC::extractTAR(tar, out.path());
    EXPECT_EQ(calvoro::testing::readText(out.path() / "ten"), ten);
    EXPECT_EQ(fs::file_size(out.path() / "zero"), 0u);

    for (const std::string& field : {std::string("-0000000012"), std::string("00000009999"), std::string("\x80\0\0\0\0\0\0\0\0\0\0\x0A", 12)}) {
        std::vector<uint8_t> bad = tarHeader("bad.bin", '0', field);
        bad.resize(bad.size() + 1536, 0);
        TempDir o;
        EXPECT_EQ(corruptText([&] { AC::extractTAR(bad, o.path()); }), "File appears corrupt: TAR entry 'bad.bin' has an invalid size");
    }
}

TEST(TarReader, TruncatedAndRefusedEntries) {
    std::vector<uint8_t> tar;
    addEntry(tar, "ok.txt", '0', "ok");
    addEntry(tar, "big.bin", '0', std::string(4000, 'b'));
    tar.resize(tar.size() - 2048);
    TempDir out;
    EXPECT_EQ(corruptText([&] { AC::extractTAR(tar, out.path()); }), "File appears corrupt: TAR entry 'big.bin' exceeds archive bounds");
    EXPECT_TRUE(fs::exists(out.path() / "ok.txt"));

    std::vector<uint8_t> links;
    for (const char* n : {"f1", "f2", "f3", "f4", "f5"}) addEntry(links, n, '0', "data");
    addEntry(links, "link", '2', "");
    links.resize(links.size() + 1024, 0);
    TempDir o1;
    EXPECT_EQ(refusalText([&] { AC::extractTAR(links, o1.path()); }),
              "This archive contains 1 symlink(s) or special file(s) (link) that can't be represented in "
              "the target format without corrupting the tree.");
    EXPECT_EQ(treeContents(o1.path()).size(), 5u);

    std::vector<uint8_t> many;
    for (const char* n : {"a", "b", "c", "d", "e"}) addEntry(many, n, '1', "");
    TempDir o2;
    EXPECT_NE(refusalText([&] { AC::extractTAR(many, o2.path()); }).find("contains 5 symlink(s) or special file(s) (a, b, c and 2 more)"),
              std::string::npos);
}

namespace {

// A pax 0.1 sparse member: the map in a record, the stored pieces as its data.
void addSparse(std::vector<uint8_t>& tar, const std::string& name, uint64_t realSize, const std::string& map, const std::string& data) {
    addEntry(tar, "PaxHeaders/" + name, 'x',
             paxRecord("GNU.sparse.size", std::to_string(realSize)) + paxRecord("GNU.sparse.name", name) + paxRecord("GNU.sparse.map", map));
    addEntry(tar, "GNUSparseFile.1/" + name, '0', data);
}

}  // namespace

// What a member may not do is refused naming it: a sparse map that does not fit its data, a
// sparse file past the unpacking limit, a name longer than the system takes; and a target that
// holds fewer entries stops the unpacking before the first one too many is written.
TEST(TarReader, SparseMapsNamesAndCountsBeyondTheBoundsAreRefusedByName) {
    {
        std::vector<uint8_t> tar;
        addSparse(tar, "ok.bin", 3000, "1000,4,2996,4", "headtail");
        addSparse(tar, "overlap.bin", 3000, "1000,4,1002,4", "headtail");
        TempDir out;
        EXPECT_EQ(corruptText([&] { AC::extractTAR(tar, out.path()); }),
                  "File appears corrupt: TAR entry 'overlap.bin' is a sparse file whose map is damaged");
        std::string expected(3000, '\0');
        expected.replace(1000, 4, "head").replace(2996, 4, "tail");
        EXPECT_EQ(calvoro::testing::readText(out.path() / "ok.bin"), expected);
    }
    {
        std::vector<uint8_t> tar;
        addSparse(tar, "huge.bin", 3ULL << 30, "0,4", "head");
        TempDir out;
        EXPECT_NE(corruptText([&] { AC::extractTAR(tar, out.path()); }).find("TAR entry 'huge.bin' expands past the"), std::string::npos);
        EXPECT_FALSE(fs::exists(out.path() / "huge.bin"));
    }
    for (size_t length : {300u, 70000u}) {
        std::vector<uint8_t> tar;
        addEntry(tar, "././@LongLink", 'L', std::string(length, 'n') + '\0');
        addEntry(tar, "cut", '0', "data");
        TempDir out;
        EXPECT_EQ(refusalText([&] { AC::extractTAR(tar, out.path()); }),
                  "The name '" + std::string(80, 'n') + "\u2026' is too long for a file on this system.")
            << length;
    }
    {
        std::vector<uint8_t> tar;
        for (const char* name : {"a/b", "a/c", "a/b", "d", "e"}) addEntry(tar, name, '0', name);
        AC::TarLimits limits;
        std::vector<size_t> counts;
        limits.entryCountCheck = [&](size_t count) {
            counts.push_back(count);
            if (count > 4) throw ConversionError::unrepresentableEntries("too many");
        };
        TempDir out;
        EXPECT_EQ(refusalText([&] { AC::extractTAR(tar, out.path(), {}, limits); }), "too many");
        EXPECT_EQ(counts, (std::vector<size_t>{2, 3, 4, 5}));  // a and a/b, a/c, d, e; a/b again adds nothing
        EXPECT_TRUE(fs::exists(out.path() / "d"));
        EXPECT_FALSE(fs::exists(out.path() / "e"));
    }
}
