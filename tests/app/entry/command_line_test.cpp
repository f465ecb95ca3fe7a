#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "app/entry/launch.h"
#include "support/test_support.h"

using namespace calvoro::testing;
using calvoro::LaunchMode;

namespace {

CommandResult runCalvoro(const std::string& arguments) {
    return run("QT_QPA_PLATFORM=offscreen " + shellQuote(CALVORO_BINARY) + " " + arguments);
}

}  // namespace

TEST(CommandLine, UsageErrorsExitWithTwo) {
    auto r = runCalvoro("--convert a.png jpeg");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("usage: --convert <input> <target-format> <output-dir>"), std::string::npos);
    EXPECT_EQ(runCalvoro("a b --convert").status, 2);
    r = runCalvoro("--estimate");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("usage: --estimate <file>"), std::string::npos);
    for (const char* level : {"huge", "Balanced"}) {
        r = runCalvoro(std::string("--compress a.png ") + level + " /tmp");
        EXPECT_EQ(r.status, 2);
        EXPECT_NE(r.output.find("usage: --compress <file> <maximum|high|balanced|small|tiny> <outdir>"), std::string::npos);
    }
}

TEST(CommandLine, UnknownTargetListsEveryIdentifier) {
    auto r = runCalvoro("--convert a.png JPEG /tmp");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("unknown format 'JPEG'. valid: png jpeg jpg tiff bmp gif heic heif webp ico pdf_image avif svg "
                            "psd tga jp2 jxl icns raw mp4 mov m4v avi webm mp3 aac m4a wav aiff alac flac pdf rtf txt "
                            "html markdown docx epub zip tar gzip xz bz2 ttf otf woff woff2 csv tsv json srt vtt "
                            "pdfPagePng pdfPageJpeg pdfSplit extractAudio\n"),
              std::string::npos);
}

TEST(CommandLine, ConvertCreatesNestedFoldersAndPrintsThePath) {
    TempDir dir;
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    auto out = dir / "x" / "y";
    auto r = runCalvoro("--strip-metadata --convert " + shellQuote((dir / "t.csv").string()) + " tsv " + shellQuote(out.string()));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find((out / "t.tsv").string() + "\n"), std::string::npos);
    EXPECT_EQ(readText(out / "t.tsv"), "a\tb\n1\t2\n");
}

TEST(CommandLine, TheEarlierModeInTheLaunchOrderWinsWhereverItsFlagStands) {
    const std::vector<std::pair<std::string, LaunchMode>> order{
        {"--test", LaunchMode::test},         {"--render-screenshots", LaunchMode::renderScreenshots},
        {"--convert", LaunchMode::convert},   {"--estimate", LaunchMode::estimate},
        {"--compress", LaunchMode::compress}, {"--mcp", LaunchMode::mcp},
    };
    for (size_t earlier = 0; earlier < order.size(); ++earlier)
        for (size_t later = earlier; later < order.size(); ++later) {
            const auto& [first, mode] = order[earlier];
            const std::string& second = order[later].first;
            EXPECT_EQ(calvoro::launchModeFor({"calvoro", second, "x", first}), mode) << second << " " << first;
            EXPECT_EQ(calvoro::launchModeFor({"calvoro", first, second}), mode) << first << " " << second;
        }
    // Whole arguments, letter case as written.
    EXPECT_EQ(calvoro::launchModeFor({"calvoro", "--Convert", "--convert=a", "convert", "--seed-files", "a.png"}), std::nullopt);

    // The real program: --mcp before --convert runs the conversion, not the server.
    TempDir dir;
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    auto r = runCalvoro("--mcp --convert " + shellQuote((dir / "t.csv").string()) + " json " + shellQuote(dir.path().string()) +
                        " </dev/null");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find((dir / "t.json").string() + "\n"), std::string::npos) << r.output;
    EXPECT_TRUE(std::filesystem::is_regular_file(dir / "t.json"));
    EXPECT_EQ(r.output.find("jsonrpc"), std::string::npos) << r.output;
}

TEST(CommandLine, ConvertFailuresExitWithOne) {
    TempDir dir;
    writeFile(dir / "x.unknownext", "x");
    auto r = runCalvoro("--convert " + shellQuote((dir / "x.unknownext").string()) + " png " + shellQuote(dir.path().string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("convert failed: This file format is not supported for conversion."), std::string::npos);
    writeFile(dir / "file", "x");
    r = runCalvoro("--convert " + shellQuote((dir / "x.unknownext").string()) + " png " + shellQuote((dir / "file" / "sub").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("convert failed: "), std::string::npos);

    // A missing source is said to be missing, with or without an extension, and no folder is made for it.
    for (const char* name : {"missing", "missing.png"}) {
        r = runCalvoro("--convert " + shellQuote((dir / name).string()) + " png " + shellQuote((dir / "out").string()));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("convert failed: No file at " + (dir / name).string() + "\n"), std::string::npos) << r.output;
        EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    }

    // A FIFO would wait for a writer and a device never ends: both are refused before any work.
    ASSERT_EQ(::mkfifo((dir / "pipe.csv").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.csv");
    std::filesystem::create_symlink("/dev/urandom", dir / "noise.csv");
    for (const char* name : {"pipe.csv", "zero.csv", "noise.csv"}) {
        r = runCalvoro("--convert " + shellQuote((dir / name).string()) + " json " + shellQuote((dir / "out").string()));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("convert failed: " + std::string(name) + " is not a regular file.\n"), std::string::npos) << r.output;
        EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    }

    // JSON a million levels deep is refused by name, and its work folder goes with it.
    std::string arrays(1'000'000, '['), objects;
    arrays += std::string(1'000'000, ']');
    for (int i = 0; i < 1'000'000; ++i) objects += "{\"a\":";
    objects += "1" + std::string(1'000'000, '}');
    writeFile(dir / "arrays.json", arrays);
    writeFile(dir / "objects.json", objects);
    for (const char* target : {"csv", "html"})
        for (const char* name : {"arrays.json", "objects.json"}) {
            r = runCalvoro("--convert " + shellQuote((dir / name).string()) + " " + target + " " + shellQuote((dir / "out").string()));
            EXPECT_EQ(r.status, 1) << name << " " << target;
            EXPECT_NE(r.output.find("convert failed: File appears corrupt: The JSON document nests too deeply\n"), std::string::npos)
                << r.output;
            EXPECT_TRUE(!std::filesystem::exists(dir / "out") || std::filesystem::is_empty(dir / "out")) << name << " " << target;
        }
}

TEST(CommandLine, EstimateAndCompressOnFilesTheyCannotUse) {
    TempDir dir;
    writeFile(dir / "notes.txt", "hello");
    auto r = runCalvoro("--estimate " + shellQuote((dir / "notes.txt").string()));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("source: TXT  5 bytes  -> compresses as n/a\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("LEVEL                   SIZE   SAVED  QUALITY\n"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("measured in "), std::string::npos);
    r = runCalvoro("--estimate " + shellQuote((dir / "x.unknownext").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("unrecognised file"), std::string::npos);
    EXPECT_EQ(runCalvoro("--estimate " + shellQuote((dir / "missing.png").string())).status, 1);
    // A file that cannot be measured is a failure, not a file with nothing to gain.
    writeFile(dir / "junk.png", std::string(3000, 'j'));
    r = runCalvoro("--estimate " + shellQuote((dir / "junk.png").string()));
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("estimate failed: Could not read the source file."), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("LEVEL"), std::string::npos) << r.output;
    r = runCalvoro("--compress " + shellQuote((dir / "x.unknownext").string()) + " tiny " + shellQuote(dir.path().string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("unrecognised file"), std::string::npos);

    // A picture cut short is refused as a conversion refuses it, never measured or compressed
    // as if whole (its decoder fills what is missing).
    ASSERT_TRUE(peerInstalled("convert"));
    const auto made = run("cd " + shellQuote(dir.path().string()) + " && convert -seed 7 -size 300x300 plasma:fractal p.png && "
                          "convert p.png -quality 95 j.jpg && head -c 3000 p.png > cut.png && head -c 5000 j.jpg > cut.jpg");
    ASSERT_EQ(made.status, 0) << made.output;
    for (const char* name : {"cut.png", "cut.jpg"}) {
        const std::string truncated = std::string(name) + " is truncated \u2014 the file is missing its ending";
        r = runCalvoro("--estimate " + shellQuote((dir / name).string()));
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("estimate failed: File appears corrupt: " + truncated), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("Balanced"), std::string::npos) << r.output;
        r = runCalvoro("--compress " + shellQuote((dir / name).string()) + " balanced " + shellQuote((dir / "cuts").string()));
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_NE(r.output.find("compress failed: File appears corrupt: " + truncated), std::string::npos) << r.output;
        EXPECT_TRUE(std::filesystem::is_empty(dir / "cuts"));
    }

    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.wav");
    for (const char* name : {"pipe.wav", "zero.wav"}) {
        r = runCalvoro("--compress " + shellQuote((dir / name).string()) + " tiny " + shellQuote((dir / "out").string()));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("compress failed: " + std::string(name) + " is not a regular file.\n"), std::string::npos) << r.output;
        EXPECT_FALSE(std::filesystem::exists(dir / "out"));
        r = runCalvoro("--estimate " + shellQuote((dir / name).string()));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("No readable file at " + (dir / name).string()), std::string::npos) << r.output;
    }
}

TEST(CommandLine, ABadOutputFolderIsExplainedInTheProgramsOwnWords) {
    TempDir dir;
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    writeFile(dir / "f.txt", "x");
    std::filesystem::create_symlink(dir / "nowhere", dir / "dangl");
    const std::string source = shellQuote((dir / "t.csv").string());
    const std::pair<std::string, std::string> cases[] = {
        {(dir / "dangl").string(), "The output folder \u201C" + (dir / "dangl").string() + "\u201D is a link to something that is no longer there."},
        {"", "No output folder was given."},
        {(dir / "f.txt").string(), "The output folder \u201C" + (dir / "f.txt").string() + "\u201D is a file, not a folder."},
    };
    for (const auto& [folder, message] : cases) {
        auto r = runCalvoro("--convert " + source + " tsv " + shellQuote(folder));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find("convert failed: " + message + "\n"), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("filesystem error"), std::string::npos) << r.output;
    }
    writeFile(dir / "p.png", "the folder is checked before the picture is read");
    auto r = runCalvoro("--compress " + shellQuote((dir / "p.png").string()) + " tiny " + shellQuote((dir / "dangl").string()));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("compress failed: " + cases[0].second + "\n"), std::string::npos) << r.output;
}

TEST(CommandLine, ALatin1NameAsLongAsTheFileSystemAllowsConverts) {
    TempDir dir;
    const std::string name = std::string(246, 'n') + "caf\xE9.csv";  // 254 bytes
    writeFile(dir / name, "a,b\n1,2\n");
    auto r = runCalvoro("--convert " + shellQuote((dir / name).string()) + " json " + shellQuote((dir / "out").string()));
    EXPECT_EQ(r.status, 0) << r.output;
    const auto written = dir / "out" / (std::string(246, 'n') + "caf\xE9.json");
    EXPECT_NE(r.output.find(written.string() + "\n"), std::string::npos) << r.output;
    const auto read = run("python3 -c 'import json,sys; print(json.load(open(sys.argv[1])))' " + shellQuote(written.string()));
    EXPECT_EQ(read.output, "[{'a': 1, 'b': 2}]\n");
}
