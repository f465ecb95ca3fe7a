#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>

#include "converters/archive/archive_converter.h"
#include "core/conversion_error.h"
#include "support/archive_test_util.h"

using namespace calvoro;
using namespace calvoro::archive_testing;
using calvoro::testing::peerInstalled;
using calvoro::testing::run;
using calvoro::testing::shellQuote;
using calvoro::testing::TempDir;
namespace fs = std::filesystem;
namespace AC = calvoro::ArchiveConverter;

namespace {

// Every file of a ZIP as Python's zipfile reads it: name, size and CRC-32 of what it inflates
// to, a line each in name order. Names without the UTF-8 flag are the bytes our writer stored.
const char* const kZipListing = R"(
import sys, zipfile, zlib
z = zipfile.ZipFile(sys.argv[1])
assert z.testzip() is None
rows = []
for i in z.infolist():
    if i.is_dir(): continue
    name = i.filename if i.flag_bits & 0x800 else i.filename.encode('cp437').decode('utf-8')
    d = z.read(i)
    rows.append('%s\t%d\t%08x' % (name, len(d), zlib.crc32(d)))
print('\n'.join(sorted(rows)))
)";

// The same listing of a folder tree.
std::string treeListing(const fs::path& root) {
    std::vector<std::string> rows;
    for (const auto& [name, data] : treeContents(root)) {
        char crc[9];
        std::snprintf(crc, sizeof crc, "%08lx", crc32(0, data.data(), static_cast<uInt>(data.size())));
        rows.push_back(name + "\t" + std::to_string(data.size()) + "\t" + crc);
    }
    std::string out;
    for (const auto& row : rows) out += row + "\n";
    return out;
}

// Two files whose long names share their first 100 bytes and more, a sparse file of 10 MiB
// with a tail, and a plain file.
void makeLongNamedTree(const fs::path& src) {
    const std::string folder(120, 'a'), stem(150, 'x');
    calvoro::testing::writeFile(src / folder / (stem + "_one.txt"), std::string("one\n"));
    calvoro::testing::writeFile(src / folder / (stem + "_two.txt"), std::string("two\n"));
    calvoro::testing::writeFile(src / "plain.txt", std::string("plain\n"));
    calvoro::testing::writeFile(src / "sp", std::string());
    fs::resize_file(src / "sp", 10 << 20);
    std::ofstream(src / "sp", std::ios::app) << "tail\n";
}

struct PeerTar {
    const char* label;
    const char* create;  // the archiver and its options, before -cf
    bool sparse;         // whether it writes the sparse file as a sparse member
};

class TarFromPeers : public ::testing::TestWithParam<PeerTar> {};

}  // namespace

// Long names (pax records, GNU long-name members), sparse members of every form, and a volume
// label: the ZIP holds each file once, whole, under its own name, as Python reads it back.
TEST_P(TarFromPeers, EveryMemberKeepsItsNameAndSize) {
    ASSERT_TRUE(peerInstalled("tar"));
    ASSERT_TRUE(peerInstalled("bsdtar"));
    TempDir dir;
    makeLongNamedTree(dir / "src");
    auto made = run("cd " + shellQuote((dir / "src").string()) + " && " + GetParam().create + " -cf ../a.tar .");
    ASSERT_EQ(made.status, 0) << made.output;
    if (GetParam().sparse) {
        ASSERT_LT(fs::file_size(dir / "a.tar"), 1u << 20) << "no sparse member was written";
    }

    fs::create_directories(dir / "out");
    const fs::path zip = AC::convert(dir / "a.tar", SupportedFormat::tar, SupportedFormat::zip, dir / "out");
    EXPECT_EQ(calvoro::testing::pythonOutput(kZipListing, zip), treeListing(dir / "src"));

    // The program's own TAR writer holds names of up to 255 bytes: it says so, not that the source is damaged.
    const std::string refusal = refusalText([&] { AC::convert(dir / "a.tar", SupportedFormat::tar, SupportedFormat::tar, dir / "out"); });
    EXPECT_NE(refusal.find("is too long for TAR"), std::string::npos) << refusal;
}

INSTANTIATE_TEST_SUITE_P(
    Archivers, TarFromPeers,
    ::testing::Values(PeerTar{"gnu", "tar --format=gnu --sparse -V label", true},
                      PeerTar{"posix_sparse_0_0", "tar --format=posix --sparse --sparse-version=0.0 -V label", true},
                      PeerTar{"posix_sparse_0_1", "tar --format=posix --sparse --sparse-version=0.1 -V label", true},
                      PeerTar{"posix_sparse_1_0", "tar --format=posix --sparse --sparse-version=1.0 -V label", true},
                      PeerTar{"bsdtar", "bsdtar", true}, PeerTar{"bsdtar_pax", "bsdtar --format pax", true},
                      PeerTar{"bsdtar_gnutar", "bsdtar --format gnutar", false}),
    [](const auto& info) { return std::string(info.param.label); });

namespace {

std::vector<uint8_t> unicodePathField(uint8_t version, const std::string& storedName, const std::string& utf8Name) {
    std::vector<uint8_t> field;
    put16(field, 0x7075);
    put16(field, static_cast<uint16_t>(5 + utf8Name.size()));
    field.push_back(version);
    put32(field, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(storedName.data()), static_cast<uInt>(storedName.size()))));
    field.insert(field.end(), utf8Name.begin(), utf8Name.end());
    return field;
}

struct UnicodePathCase {
    const char* label;
    uint8_t version;
    std::string checkedName;  // the stored name the field's CRC-32 was taken of
    std::string expected;
};

class ZipUnicodePath : public ::testing::TestWithParam<UnicodePathCase> {};

}  // namespace

// The Info-ZIP Unicode Path field names the member when it was written for the stored name.
TEST_P(ZipUnicodePath, NamesTheMemberOnlyWhenItsChecksumMatches) {
    const std::string stored = "Gr??e.txt";
    TempDir dir;
    RawEntry entry{stored, bytesOf("gruss")};
    // Another field before it, as zip tools write the extended timestamp first.
    entry.extra = {0x55, 0x54, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00};
    auto unicode = unicodePathField(GetParam().version, GetParam().checkedName, "Gr\xC3\xBC\xC3\x9F" "e.txt");
    entry.extra.insert(entry.extra.end(), unicode.begin(), unicode.end());
    calvoro::testing::writeFile(dir / "u.zip", rawZip({entry}));
    fs::create_directories(dir / "out");
    const fs::path zip = AC::convert(dir / "u.zip", SupportedFormat::zip, SupportedFormat::zip, dir / "out");
    EXPECT_EQ(calvoro::testing::pythonOutput(kZipListing, zip), GetParam().expected + "\t5\tb322945f\n");
}

INSTANTIATE_TEST_SUITE_P(Fields, ZipUnicodePath,
                         ::testing::Values(UnicodePathCase{"matching", 1, "Gr??e.txt", "Gr\xC3\xBC\xC3\x9F" "e.txt"},
                                           UnicodePathCase{"stale", 1, "Gross.txt", "Gr??e.txt"},
                                           UnicodePathCase{"unknown_version", 2, "Gr??e.txt", "Gr??e.txt"}),
                         [](const auto& info) { return std::string(info.param.label); });

namespace {

struct ClashCase {
    const char* label;
    SupportedFormat format;
    const char* file;
    bool fileFirst;
};

class MemberClash : public ::testing::TestWithParam<ClashCase> {};

}  // namespace

// A file "def" and a member "def/abc": refused naming both, in the program's words, whatever
// the order and the target, with nothing left behind.
TEST_P(MemberClash, IsRefusedNamingBothMembers) {
    TempDir dir;
    const ClashCase& c = GetParam();
    const fs::path source = dir / c.file;
    const std::string script = std::string(R"(
import io, sys, tarfile, zipfile
members = [('def', b'file'), ('def/abc', b'inner')]
if sys.argv[2] == '0': members.reverse()
if sys.argv[1].endswith('.zip'):
    with zipfile.ZipFile(sys.argv[1], 'w') as z:
        for name, data in members: z.writestr(name, data)
else:
    with tarfile.open(sys.argv[1], 'w', format=tarfile.GNU_FORMAT) as t:
        for name, data in members:
            info = tarfile.TarInfo(name); info.size = len(data); t.addfile(info, io.BytesIO(data))
)");
    calvoro::testing::writeFile(dir / "make.py", script);
    auto made = run("python3 " + shellQuote((dir / "make.py").string()) + " " + shellQuote(source.string()) + (c.fileFirst ? " 1" : " 0"));
    ASSERT_EQ(made.status, 0) << made.output;
    fs::create_directories(dir / "out");
    for (SupportedFormat target : {SupportedFormat::zip, SupportedFormat::tar}) {
        EXPECT_EQ(refusalText([&] { AC::convert(source, c.format, target, dir / "out"); }),
                  "The archive holds a file 'def' and also 'def/abc', which needs a folder of that name: a file and a folder "
                  "can't share a name.");
    }
    EXPECT_TRUE(fs::is_empty(dir / "out"));
}

INSTANTIATE_TEST_SUITE_P(Orders, MemberClash,
                         ::testing::Values(ClashCase{"zip_file_first", SupportedFormat::zip, "c.zip", true},
                                           ClashCase{"zip_folder_first", SupportedFormat::zip, "c.zip", false},
                                           ClashCase{"tar_file_first", SupportedFormat::tar, "c.tar", true},
                                           ClashCase{"tar_folder_first", SupportedFormat::tar, "c.tar", false}),
                         [](const auto& info) { return std::string(info.param.label); });

// The legacy .lzma format that xz --format=lzma and tar --lzma write reads as xz does, under
// the same memory bound.
TEST(ArchivePipeline, LegacyLzmaFilesAndTars) {
    ASSERT_TRUE(peerInstalled("xz"));
    TempDir dir;
    calvoro::testing::writeFile(dir / "t.txt", std::string("hello\n"));
    calvoro::testing::writeFile(dir / "tree" / "sub" / "b.txt", std::string(5000, 'b'));
    auto made = run("cd " + shellQuote(dir.path().string()) + " && xz --format=lzma -k t.txt && tar --lzma -cf tree.tar.lzma -C tree .");
    ASSERT_EQ(made.status, 0) << made.output;
    fs::create_directories(dir / "out");

    const fs::path single = AC::convert(dir / "t.txt.lzma", SupportedFormat::xz, SupportedFormat::zip, dir / "out");
    EXPECT_EQ(calvoro::testing::pythonOutput(kZipListing, single), "t.txt\t6\t363a3020\n");
    const fs::path tree = AC::convert(dir / "tree.tar.lzma", SupportedFormat::xz, SupportedFormat::zip, dir / "out");
    EXPECT_EQ(calvoro::testing::pythonOutput(kZipListing, tree), treeListing(dir / "tree"));

    // A header asking for a 2 GiB dictionary: past the xz reader's memory bound.
    std::vector<uint8_t> greedy = {0x5D, 0x00, 0x00, 0x00, 0x80};
    greedy.insert(greedy.end(), 8, 0xFF);
    greedy.resize(greedy.size() + 64, 0);
    calvoro::testing::writeFile(dir / "greedy.lzma", greedy);
    const std::string text = errorText([&] { AC::convert(dir / "greedy.lzma", SupportedFormat::xz, SupportedFormat::zip, dir / "out"); });
    EXPECT_NE(text.find("needs more than"), std::string::npos) << text;
    calvoro::testing::writeFile(dir / "junk.lzma", randomBytes(100, 3));
    EXPECT_EQ(errorText([&] { AC::convert(dir / "junk.lzma", SupportedFormat::xz, SupportedFormat::zip, dir / "out"); }),
              "File appears corrupt: Not an xz stream (bad magic)");
}
