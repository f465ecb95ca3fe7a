#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "converters/archive/archive_converter.h"
#include "core/bzip2.h"
#include "core/conversion_logger.h"
#include "core/text_util.h"
#include "platform/compression/lzma_codec.h"
#include "platform/compression/stream_codecs.h"
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

// Points the system temporary folder at a private one for the test, so that leftovers show.
class PrivateTemp {
public:
    PrivateTemp() {
        const char* old = std::getenv("TMPDIR");
        if (old) old_ = old;
        had_ = old != nullptr;
        fs::create_directories(dir_.path() / "tmp");
        setenv("TMPDIR", (dir_.path() / "tmp").c_str(), 1);
    }
    ~PrivateTemp() {
        if (had_)
            setenv("TMPDIR", old_.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
    bool empty() const { return fs::is_empty(dir_.path() / "tmp"); }

private:
    TempDir dir_;
    std::string old_;
    bool had_ = false;
};

void makeTree(const fs::path& root) {
    using calvoro::testing::writeFile;
    writeFile(root / "top.txt", std::string("top level\n"));
    writeFile(root / ".gitignore", std::string("*.o\n"));
    writeFile(root / "src" / ".htaccess", std::string("Deny from all\n"));
    writeFile(root / "src" / "lib" / "code.c", std::string(20000, 'c'));
    writeFile(root / "m\xC3\xBCsik" / "\xE6\x97\xA5\xE6\x9C\xAC.txt", std::string("non-ascii"));
    writeFile(root / "data" / "large.bin", randomBytes((1 << 20) + 4321, 42));
    writeFile(root / "data" / "empty", std::string());
    fs::create_directories(root / "empty-dir");
}

struct PeerArchive {
    SupportedFormat format;
    std::string fileName;
    std::string bsdtarFlags;
};

const std::vector<PeerArchive> kPeerSources = {
    {SupportedFormat::zip, "tree.zip", "--format zip"},
    {SupportedFormat::tar, "tree.tar", "--format ustar"},
    {SupportedFormat::gzip, "tree.tar.gz", "--format ustar -z"},
    {SupportedFormat::xz, "tree.tar.xz", "--format ustar -J"},
    {SupportedFormat::bz2, "tree.tar.bz2", "--format ustar -j"},
};

std::string checkCommand(SupportedFormat f, const fs::path& p) {
    std::string q = shellQuote(p.string());
    switch (f) {
        case SupportedFormat::zip: return "unzip -t " + q;
        case SupportedFormat::tar: return "tar -tf " + q;
        case SupportedFormat::gzip: return "gzip -t " + q + " && tar -tzf " + q;
        case SupportedFormat::xz: return "xz -t " + q + " && tar -tJf " + q;
        case SupportedFormat::bz2: return "bzip2 -t " + q + " && tar -tjf " + q;
        default: return "false";
    }
}

// Python's tarfile reads the archive (any compression) and compares every member with the tree.
bool pythonReadsBack(const fs::path& archive, const fs::path& tree, const fs::path& scratch) {
    calvoro::testing::writeFile(scratch / "read.py", std::string(R"(import os, sys, tarfile
seen = 0
with tarfile.open(sys.argv[1]) as archive:
    for member in archive:
        if member.isfile():
            with open(os.path.join(sys.argv[2], member.name), 'rb') as original:
                assert archive.extractfile(member).read() == original.read(), member.name
            seen += 1
assert seen == sum(len(files) for _, _, files in os.walk(sys.argv[2])), seen
)"));
    auto result = run("python3 " + shellQuote((scratch / "read.py").string()) + " " + shellQuote(archive.string()) + " " +
                      shellQuote(tree.string()));
    EXPECT_EQ(result.status, 0) << result.output;
    return result.status == 0;
}

bool logged(const std::string& message) {
    for (const auto& e : ConversionLogger::shared().entries())
        if (e.category == "Archive" && e.message == message) return true;
    return false;
}

}  // namespace

TEST(ArchivePipeline, EveryOfferedPairRoundTripsThroughPeers) {
    for (const char* tool : {"bsdtar", "unzip", "gzip", "xz", "bzip2", "tar"})
        ASSERT_TRUE(peerInstalled(tool));
    TempDir dir;
    PrivateTemp temp;
    fs::path tree = dir / "tree";
    makeTree(tree);
    auto expected = treeContents(tree);

    for (const auto& source : kPeerSources) {
        fs::path src = dir / source.fileName;
        auto made = run("bsdtar " + source.bsdtarFlags + " -cf " + shellQuote(src.string()) + " -C " + shellQuote(tree.string()) + " .");
        ASSERT_EQ(made.status, 0) << made.output;
        auto targets = source.format.possibleConversions();
        EXPECT_EQ(targets.size(), BZip2::isAvailable() ? 4u : (source.format == SupportedFormat::bz2 ? 4u : 3u));
        for (SupportedFormat target : targets) {
            SCOPED_TRACE(source.fileName + " -> " + target.rawValue());
            fs::path outDir = dir / ("out-" + source.format.rawValue() + "-" + target.rawValue());
            fs::create_directories(outDir);
            fs::path out = AC::convert(src, source.format, target, outDir);
            EXPECT_EQ(out.filename().string(), deletingPathExtension(source.fileName) + "." + target.fileExtension());
            auto check = run(checkCommand(target, out));
            EXPECT_EQ(check.status, 0) << check.output;
            fs::path unpacked = outDir / "unpacked";
            fs::create_directories(unpacked);
            auto x = run("bsdtar -xf " + shellQuote(out.string()) + " -C " + shellQuote(unpacked.string()));
            ASSERT_EQ(x.status, 0) << x.output;
            EXPECT_EQ(treeContents(unpacked), expected);
        }
    }
    EXPECT_TRUE(logged("Archive: ZIP \u2192 TAR"));
    EXPECT_TRUE(temp.empty());
}

TEST(ArchivePipeline, SingleFilePayloadsAndNames) {
    ASSERT_TRUE(peerInstalled("gzip"));
    ASSERT_TRUE(peerInstalled("xz"));
    TempDir dir;
    calvoro::testing::writeFile(dir / "notes.txt", std::string("just some notes\n"));
    ASSERT_EQ(run("cd " + shellQuote(dir.path().string()) + " && gzip -k notes.txt && xz -k notes.txt").status, 0);
    fs::path out = AC::convert(dir / "notes.txt.gz", SupportedFormat::gzip, SupportedFormat::zip, dir.path());
    EXPECT_EQ(out.filename(), "notes.txt.zip");
    auto members = zip::readZIP(calvoro::testing::readFile(out));
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].name, "notes.txt");
    EXPECT_EQ(members[0].data, bytesOf("just some notes\n"));

    // A plain .xz becomes a tar holding the one file; a second run picks the next free name.
    fs::path tar1 = AC::convert(dir / "notes.txt.xz", SupportedFormat::xz, SupportedFormat::tar, dir.path());
    fs::path tar2 = AC::convert(dir / "notes.txt.xz", SupportedFormat::xz, SupportedFormat::tar, dir.path());
    EXPECT_EQ(tar1.filename(), "notes.txt.tar");
    EXPECT_EQ(tar2.filename(), "notes.txt (1).tar");
    auto listing = run("tar -tf " + shellQuote(tar1.string()));
    EXPECT_EQ(listing.output, "notes.txt\n");

    // Two bzip2 streams one after the other are one payload, not just the first.
    if (BZip2::isAvailable()) {
        ASSERT_TRUE(peerInstalled("bzip2"));
        ASSERT_EQ(run("cd " + shellQuote(dir.path().string()) +
                      " && printf 'first part\n' | bzip2 > log.bz2 && printf 'second part\n' | bzip2 >> log.bz2").status, 0);
        fs::path zip = AC::convert(dir / "log.bz2", SupportedFormat::bz2, SupportedFormat::zip, dir.path());
        auto parts = zip::readZIP(calvoro::testing::readFile(zip));
        ASSERT_EQ(parts.size(), 1u);
        EXPECT_EQ(parts[0].name, "log");
        EXPECT_EQ(parts[0].data, bytesOf("first part\nsecond part\n"));
    }
}

TEST(ArchivePipeline, FailuresLeaveNothingBehind) {
    TempDir dir;
    PrivateTemp temp;
    fs::path outDir = dir / "out";
    fs::create_directories(outDir);

    // Only folders: nothing comes out of the reader.
    fs::create_directories(dir / "dirs" / "a" / "b");
    calvoro::testing::writeFile(dir / "dirs.tar", AC::createTARData(dir / "dirs"));
    errorText([&] { AC::convert(dir / "dirs.tar", SupportedFormat::tar, SupportedFormat::zip, outDir); },
              ConversionError::Kind::emptyOutput);
    EXPECT_TRUE(logged("Extraction produced no files"));

    // A symbolic link is refused after the other files were unpacked.
    ASSERT_TRUE(peerInstalled("tar"));
    ASSERT_EQ(run("cd " + shellQuote(dir.path().string()) + " && mkdir l && echo x > l/f && ln -s f l/link && tar -cf l.tar l").status, 0);
    auto text = refusalText([&] { AC::convert(dir / "l.tar", SupportedFormat::tar, SupportedFormat::zip, outDir); });
    EXPECT_NE(text.find("1 symlink(s) or special file(s) (l/link)"), std::string::npos) << text;

    // A path the tar writer cannot hold fails before anything is written.
    std::string longPath = std::string(200, 'p') + "/" + std::string(60, 'n');
    auto zip = zip::writeZIP({{longPath, bytesOf("deep"), zip::ZipMethod::deflate}});
    calvoro::testing::writeFile(dir / "long.zip", zip);
    refusalText([&] { AC::convert(dir / "long.zip", SupportedFormat::zip, SupportedFormat::gzip, outDir); });

    // A target outside the archive formats is refused after unpacking.
    calvoro::testing::writeFile(dir / "ok.zip", zip::writeZIP({{"a.txt", bytesOf("a"), zip::ZipMethod::deflate}}));
    EXPECT_EQ(errorText([&] { AC::convert(dir / "ok.zip", SupportedFormat::zip, SupportedFormat::png, outDir); },
                        ConversionError::Kind::unsupportedConversion),
              "Converting extracted \u2192 PNG is not supported.");
    EXPECT_EQ(errorText([&] { AC::convert(dir / "ok.zip", SupportedFormat::png, SupportedFormat::zip, outDir); },
                        ConversionError::Kind::unsupportedConversion),
              "Converting PNG \u2192 extracted is not supported.");

    // Garbage and truncated sources.
    calvoro::testing::writeFile(dir / "junk.tar.gz", randomBytes(5000, 11));
    EXPECT_EQ(errorText([&] { AC::convert(dir / "junk.tar.gz", SupportedFormat::gzip, SupportedFormat::zip, outDir); },
                        ConversionError::Kind::corruptFile),
              "File appears corrupt: Not a valid GZIP file");
    auto good = calvoro::testing::readFile(dir / "ok.zip");
    calvoro::testing::writeFile(dir / "cut.zip", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2));
    errorText([&] { AC::convert(dir / "cut.zip", SupportedFormat::zip, SupportedFormat::tar, outDir); }, ConversionError::Kind::corruptFile);

    // Missing source.
    EXPECT_EQ(errorText([&] { AC::convert(dir / "missing.zip", SupportedFormat::zip, SupportedFormat::tar, outDir); },
                        ConversionError::Kind::fileAccessDenied),
              "Cannot access file at missing.zip. Try re-adding the file.");
    EXPECT_TRUE(logged("File not readable"));

    EXPECT_TRUE(fs::is_empty(outDir));
    EXPECT_TRUE(temp.empty());
}

TEST(ArchivePipeline, SourceSizeLimit) {
    TempDir dir;
    fs::path big = dir / "big.tar";
    {
        // A sparse file: one byte over the limit costs no disk space.
        calvoro::testing::writeFile(big, std::string());
        ASSERT_EQ(truncate(big.c_str(), AC::archiveSizeLimit + 1), 0);
    }
    EXPECT_EQ(errorText([&] { AC::convert(big, SupportedFormat::tar, SupportedFormat::zip, dir.path()); },
                        ConversionError::Kind::corruptFile),
              "File appears corrupt: Archive is too large to process (max 2 GB)");
    EXPECT_TRUE(logged("Archive too large (2.15 GB)"));
}

TEST(ArchivePipeline, ThreadedBodiesReadBackThroughEveryReader) {
    for (const char* tool : {"bsdtar", "xz", "bzip2", "python3"})
        ASSERT_TRUE(peerInstalled(tool));
    TempDir dir;
    fs::path tree = dir / "tree";
    // Over one xz block and many bzip2 blocks, with long runs and noise among the text.
    std::string text;
    for (int i = 0; text.size() < 800'000; ++i) text += "entry " + std::to_string(i * 7919 % 100003) + " of the text files\n";
    for (int i = 0; i < 8; ++i) calvoro::testing::writeFile(tree / "text" / ("part-" + std::to_string(i) + ".txt"), std::to_string(i) + text);
    calvoro::testing::writeFile(tree / "bin" / "noise.bin", randomBytes(1'500'000, 8));
    calvoro::testing::writeFile(tree / "bin" / "zeros", std::string(3'000'000, '\0'));
    calvoro::testing::writeFile(tree / "empty", std::string());
    calvoro::testing::writeFile(dir / "tree.tar", AC::createTARData(tree));
    ASSERT_GT(fs::file_size(dir / "tree.tar"), calvoro::compression::LzmaCodec::encoderBlockSize);
    const auto expected = treeContents(tree);

    std::vector<SupportedFormat> targets = {SupportedFormat::xz};
    if (BZip2::isAvailable()) targets.push_back(SupportedFormat::bz2);
    for (SupportedFormat target : targets) {
        SCOPED_TRACE(target.displayName());
        fs::path outDir = dir / ("out-" + target.rawValue());
        fs::create_directories(outDir / "unpacked");
        fs::path out = AC::convert(dir / "tree.tar", SupportedFormat::tar, target, outDir);
        auto check = run(checkCommand(target, out));
        EXPECT_EQ(check.status, 0) << check.output;
        auto x = run("bsdtar -xf " + shellQuote(out.string()) + " -C " + shellQuote((outDir / "unpacked").string()));
        ASSERT_EQ(x.status, 0) << x.output;
        EXPECT_EQ(treeContents(outDir / "unpacked"), expected);
        pythonReadsBack(out, tree, outDir);
    }
}

namespace {

// Asks to stop when the encoder first gives anything out: the writer has then passed the one
// entry's header, and only a look at the token inside its body can stop it.
class StopOnFirstOutput final : public ByteSink {
public:
    explicit StopOnFirstOutput(std::stop_source& stop) : stop_(stop) {}
    void write(std::span<const uint8_t> bytes) override {
        received += bytes.size();
        stop_.request_stop();
    }
    size_t received = 0;

private:
    std::stop_source& stop_;
};

}  // namespace

TEST(ArchivePipeline, CancellingMidBodyLeavesNothing) {
    TempDir dir;
    PrivateTemp temp;
    // One entry of several blocks on every thread: before, nothing looked at the token inside it.
    calvoro::testing::writeFile(dir / "tree" / "one.bin", randomBytes(64 << 20, 21));
    calvoro::testing::writeFile(dir / "one.tar", AC::createTARData(dir / "tree"));

    std::vector<SupportedFormat> targets = {SupportedFormat::xz};
    if (BZip2::isAvailable()) targets.push_back(SupportedFormat::bz2);
    for (SupportedFormat target : targets) {
        SCOPED_TRACE(target.displayName());
        {
            // The packing convert does, stopped from inside the entry.
            std::stop_source stop;
            const CancellationToken token(stop.get_token());
            StopOnFirstOutput sink(stop);
            auto encoder = target == SupportedFormat::xz ? compression::xzEncoder(sink, token) : BZip2::encoder(sink, 9, token);
            EXPECT_THROW(AC::writeTAR(dir / "tree", *encoder, token), CancellationError);
            EXPECT_TRUE(stop.stop_requested());
            EXPECT_LT(sink.received, size_t{64} << 20) << "the whole entry was compressed";
        }
        // A stop once the output is open leaves neither it nor the unpacked files.
        fs::path outDir = dir / ("out-" + target.rawValue());
        fs::create_directories(outDir);
        std::stop_source stop;
        std::atomic<bool> returned{false};
        std::thread canceller([&] {
            while (!returned && fs::is_empty(outDir)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
            stop.request_stop();
        });
        EXPECT_THROW(AC::convert(dir / "one.tar", SupportedFormat::tar, target, outDir, CancellationToken(stop.get_token())),
                     CancellationError);
        returned = true;
        canceller.join();
        EXPECT_TRUE(fs::is_empty(outDir));
    }
    EXPECT_TRUE(temp.empty());
}

// Damage found by a peer's own check is never repackaged under fresh checksums: a gzip trailer
// whose CRC-32 or length disagrees, and a damaged check at the end of an xz or bzip2 stream
// past the tar's last entry.
TEST(ArchivePipeline, DamagedChecksumsAreRefusedNotRepackaged) {
    for (const char* tool : {"gzip", "xz", "bzip2", "tar"})
        ASSERT_TRUE(peerInstalled(tool));
    TempDir dir;
    PrivateTemp temp;
    fs::path outDir = dir / "out";
    fs::create_directories(outDir);
    makeTree(dir / "tree");
    calvoro::testing::writeFile(dir / "note.txt", std::string("just some notes\n"));
    const std::string d = shellQuote(dir.path().string());
    ASSERT_EQ(run("cd " + d + " && tar -czf photos.tar.gz -C tree . && tar -cJf photos.tar.xz -C tree . && "
                  "tar -cjf photos.tar.bz2 -C tree . && gzip -k note.txt").status, 0);

    struct Damage {
        std::string file;
        SupportedFormat format;
        size_t fromEnd;  // the byte changed, counted from the end
        std::string check;
        std::string expected;
    };
    const std::vector<Damage> damages = {
        {"photos.tar.gz", SupportedFormat::gzip, 8, "gzip -t", "File appears corrupt: checksum mismatch in photos.tar"},
        {"photos.tar.gz", SupportedFormat::gzip, 4, "gzip -t", "File appears corrupt: length mismatch in photos.tar"},
        {"note.txt.gz", SupportedFormat::gzip, 7, "gzip -t", "File appears corrupt: checksum mismatch in note.txt"},
        {"photos.tar.xz", SupportedFormat::xz, 12, "xz -t", "File appears corrupt: xz decompression failed (code 9)"},
        {"photos.tar.bz2", SupportedFormat::bz2, 2, "bzip2 -t", "File appears corrupt: bzip2 decompression failed (code -4)"},
    };
    for (const auto& damage : damages) {
        SCOPED_TRACE(damage.file + " at " + std::to_string(damage.fromEnd));
        if (damage.format == SupportedFormat::bz2 && !BZip2::isAvailable()) continue;
        auto bytes = calvoro::testing::readFile(dir / damage.file);
        bytes[bytes.size() - damage.fromEnd] ^= 0x01;
        const fs::path bad = dir / "bad" / damage.file;
        calvoro::testing::writeFile(bad, bytes);
        EXPECT_NE(run(damage.check + " " + shellQuote(bad.string())).status, 0) << "the peer finds no damage";
        for (SupportedFormat target : {SupportedFormat::zip, SupportedFormat::tar}) {
            EXPECT_EQ(errorText([&] { AC::convert(bad, damage.format, target, outDir); }), damage.expected);
        }
    }
    EXPECT_TRUE(fs::is_empty(outDir));
    EXPECT_TRUE(temp.empty());
}

// gzip, xz or bzip2 holding one plain file, to another of the three: the file's own bytes, never
// a tar of it; to zip and tar it is one entry.
TEST(ArchivePipeline, ASingleCompressedFileStaysThatFile) {
    for (const char* tool : {"gzip", "xz", "bzip2"})
        ASSERT_TRUE(peerInstalled(tool));
    TempDir dir;
    std::string text;
    for (int i = 0; text.size() < 300'000; ++i) text += "change " + std::to_string(i) + ": fixed a thing\n";
    calvoro::testing::writeFile(dir / "note.txt", text);
    ASSERT_EQ(run("cd " + shellQuote(dir.path().string()) + " && gzip -k note.txt && xz -k note.txt && bzip2 -k note.txt").status, 0);
    const std::vector<std::pair<SupportedFormat, std::string>> unpack = {
        {SupportedFormat::gzip, "gzip -dc "}, {SupportedFormat::xz, "xz -dc "}, {SupportedFormat::bz2, "bzip2 -dc "}};
    for (const auto& [source, ignored] : unpack) {
        if (source == SupportedFormat::bz2 && !BZip2::isAvailable()) continue;
        const fs::path file = dir / ("note.txt." + source.fileExtension());
        for (const auto& [target, command] : unpack) {
            if (target == source || (target == SupportedFormat::bz2 && !BZip2::isAvailable())) continue;
            SCOPED_TRACE(source.displayName() + " -> " + target.displayName());
            const fs::path outDir = dir / ("out-" + source.rawValue() + "-" + target.rawValue());
            fs::create_directories(outDir);
            const fs::path out = AC::convert(file, source, target, outDir);
            EXPECT_EQ(out.filename().string(), "note.txt." + target.fileExtension());
            auto back = run(command + shellQuote(out.string()));
            EXPECT_EQ(back.status, 0);
            EXPECT_TRUE(back.output == text) << back.output.substr(0, 40);
        }
    }
    // A tar inside still goes over as a tar.
    makeTree(dir / "tree");
    ASSERT_EQ(run("cd " + shellQuote(dir.path().string()) + " && tar -czf tree.tar.gz -C tree .").status, 0);
    fs::create_directories(dir / "tar-out");
    const fs::path xz = AC::convert(dir / "tree.tar.gz", SupportedFormat::gzip, SupportedFormat::xz, dir / "tar-out");
    auto listing = run("tar -xJOf " + shellQuote(xz.string()) + " top.txt");
    EXPECT_EQ(listing.status, 0);
    EXPECT_EQ(listing.output, "top level\n");
}

TEST(ArchivePipeline, AZipLinkIsRefusedAndNothingWritten) {
    TempDir dir;
    PrivateTemp temp;
    fs::path outDir = dir / "out";
    fs::create_directories(outDir);
    RawEntry link{"l/link", bytesOf("f")};
    link.externalAttributes = 0120777u << 16;
    calvoro::testing::writeFile(dir / "l.zip", rawZip({{"l/f", bytesOf("x\n")}, link}));
    for (SupportedFormat target : {SupportedFormat::tar, SupportedFormat::gzip}) {
        EXPECT_EQ(refusalText([&] { AC::convert(dir / "l.zip", SupportedFormat::zip, target, outDir); }),
                  "This archive contains 1 symlink(s) or special file(s) (l/link) that can't be represented "
                  "in the target format without corrupting the tree.");
    }
    EXPECT_TRUE(fs::is_empty(outDir));
    EXPECT_TRUE(temp.empty());
}
