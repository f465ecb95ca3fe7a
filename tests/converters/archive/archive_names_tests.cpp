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

}  // namespace

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
