#include <gtest/gtest.h>

#include <sys/stat.h>

#include <mutex>
#include <vector>

#include "app/entry/mcp_server.h"
#include "core/conversion_logger.h"
#include "core/format_capabilities.h"
#include "core/file_url.h"
#include "core/json_codec.h"
#include "platform/imaging/type_identifiers.h"
#include "support/test_support.h"

using calvoro::MCPServer;
using Json = MCPServer::Json;
using namespace calvoro::testing;

namespace {

// Frames go to a list and tool calls run at once, so every reply is there when handleLine returns.
class MCPFrames : public ::testing::Test {
protected:
    void SetUp() override {
        MCPServer::setWriterForTesting([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
        MCPServer::setSpawnerForTesting([](std::function<void()> work) { work(); });
        calvoro::ConversionLogger::shared().setOutputStream(stderr);
        calvoro::imaging::registerCapabilities();
        calvoro::FormatCapabilities::resetForTesting();
    }
    void TearDown() override {
        MCPServer::setWriterForTesting(nullptr);
        MCPServer::setSpawnerForTesting(nullptr);
        calvoro::ConversionLogger::shared().setOutputStream(stdout);
    }
    std::vector<Json> replies() {
        std::lock_guard lock(mutex_);
        std::vector<Json> out;
        for (auto& line : lines_) {
            EXPECT_EQ(line.back(), '\n');
            EXPECT_EQ(line.find('\n'), line.size() - 1) << "one line per frame";
            auto parsed = calvoro::parseJSON(line);
            EXPECT_TRUE(parsed) << line;
            out.push_back(parsed.value_or(Json()));
        }
        return out;
    }
    Json call(const std::string& tool, const Json& args) {
        lines_.clear();
        Json request = {{"jsonrpc", "2.0"}, {"id", 9}, {"method", "tools/call"}, {"params", {{"name", tool}, {"arguments", args}}}};
        MCPServer::handleLine(request.dump());
        auto r = replies();
        EXPECT_EQ(r.size(), 1u);
        return r.empty() ? Json() : r[0]["result"];
    }
    static std::string text(const Json& result) { return result["content"][0]["text"].get<std::string>(); }

    std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace

TEST_F(MCPFrames, FramesAreCutAtLineFeedsAndSplitFramesWaitForTheirEnd) {
    std::string buffer = "{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\"}\n\n{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"ping\"}\n{\"jsonrpc\":";
    MCPServer::consume(buffer);
    EXPECT_EQ(replies().size(), 2u);
    EXPECT_EQ(buffer, "{\"jsonrpc\":");
    buffer += "\"2.0\",\"id\":3,\"method\":\"ping\"}\r\n";
    MCPServer::consume(buffer);
    auto r = replies();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[2]["id"], 3);
    EXPECT_EQ(r[2]["result"], Json::object());
    EXPECT_TRUE(buffer.empty());
}

TEST_F(MCPFrames, IdsAreEchoedAndAbsentIdsGetNoAnswer) {
    MCPServer::handleLine(R"({"jsonrpc":"2.0","id":null,"method":"ping"})");
    MCPServer::handleLine(R"({"jsonrpc":"2.0","method":"ping"})");
    MCPServer::handleLine(R"({"jsonrpc":"2.0","method":"resources/list"})");
    MCPServer::handleLine(R"({"jsonrpc":"2.0","id":"abc","method":"resources/list"})");
    MCPServer::handleLine(R"({"jsonrpc":"2.0","id":4,"method":"notifications/initialized"})");
    auto r = replies();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_TRUE(r[0]["id"].is_null());
    EXPECT_EQ(r[1]["id"], "abc");
    EXPECT_EQ(r[1]["error"]["code"], -32601);
    EXPECT_EQ(r[1]["error"]["message"], "method not found: resources/list");
}

TEST_F(MCPFrames, MalformedFramesAreDroppedWithoutAnswer) {
    for (const char* frame : {"[1,2]", "{}", "not json", R"({"id":1})", R"({"id":1,"method":7})",
                              R"({"jsonrpc":"2.0","id":1,"result":{}})"})
        MCPServer::handleLine(frame);
    // A million levels, closed or not, whole or as read from the stream.
    const std::string deep(1'000'000, '[');
    MCPServer::handleLine("{\"id\":1,\"method\":\"ping\",\"x\":" + deep);
    MCPServer::handleLine("{\"id\":1,\"method\":\"ping\",\"x\":" + deep + std::string(1'000'000, ']') + "}");
    std::string stream = "{\"id\":1,\"method\":\"ping\",\"x\":" + deep + std::string(1'000'000, ']') + "}\n";
    MCPServer::consume(stream);
    EXPECT_TRUE(stream.empty());
    EXPECT_TRUE(replies().empty());
}

// Valid JSON grammar, yet no text: the request cannot be read, but its id can, and its client
// must not wait for ever.
TEST_F(MCPFrames, ARequestWhoseEscapeNamesNoCharacterIsAnsweredByItsId) {
    MCPServer::handleLine(R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"convert_file",)"
                          R"("arguments":{"source_path":"\ud800","target_format":"png"}}})");
    MCPServer::handleLine(R"({"jsonrpc":"2.0","method":"ping\udc10","id":"six"})");
    MCPServer::handleLine(R"({"jsonrpc":"2.0","id":"\ud800","method":"ping"})");  // no id to answer
    MCPServer::handleLine(R"({"jsonrpc":"2.0","method":"ping","p":"\ud800"})");
    MCPServer::handleLine(R"({"jsonrpc":"2.0","id":7,"method":"ping","p":"\ud800)");  // not JSON
    auto r = replies();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0]["id"], 5);
    EXPECT_EQ(r[1]["id"], "six");
    for (const auto& reply : r) {
        EXPECT_EQ(reply["error"]["code"], -32600);
        EXPECT_EQ(reply["error"]["message"], "invalid request: a \\u escape names no character (a lone surrogate)");
    }
}

TEST_F(MCPFrames, InitializeEchoesTheProtocolVersion) {
    MCPServer::handleLine(R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2024-11-05"}})");
    MCPServer::handleLine(R"({"jsonrpc":"2.0","id":2,"method":"initialize","params":{"protocolVersion":5}})");
    MCPServer::handleLine(R"({"jsonrpc":"2.0","id":3,"method":"initialize"})");
    auto r = replies();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0]["result"]["protocolVersion"], "2024-11-05");
    EXPECT_EQ(r[1]["result"]["protocolVersion"], "2025-06-18");
    EXPECT_EQ(r[2]["result"]["protocolVersion"], "2025-06-18");
    EXPECT_EQ(r[2]["result"]["serverInfo"]["name"], "calvoro");
    // The window's About panel and settings footer give the same version.
    EXPECT_EQ(r[2]["result"]["serverInfo"]["version"], "1.1");
    EXPECT_EQ(r[2]["result"]["capabilities"], Json({{"tools", Json::object()}}));
}

TEST_F(MCPFrames, ToolsCallNeedsAStringName) {
    MCPServer::handleLine(R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":3}})");
    MCPServer::handleLine(R"({"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"convert_file","arguments":[1]}})");
    auto r = replies();
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0]["error"]["code"], -32602);
    EXPECT_EQ(r[0]["error"]["message"], "tools/call requires a 'name'");
    EXPECT_EQ(r[1]["result"]["isError"], true);
    EXPECT_EQ(text(r[1]["result"]), "source_path is required");
}

TEST_F(MCPFrames, FileNamesThatAreNotUTF8AreAnsweredAsValidTextAndExactlyAsURLs) {
    TempDir dir;
    writeFile(dir / "caf\xE9.csv", "a,b\n1,2\n");
    const std::string folder = dir.path().string();
    auto frame = [&](int id, const std::string& source, const std::string& output) {
        return R"({"jsonrpc":"2.0","id":)" + std::to_string(id) +
               R"(,"method":"tools/call","params":{"name":"convert_file","arguments":{"source_path":")" + source +
               R"(","target_format":"json","output_dir":")" + output + R"("}}})";
    };
    // JSON names such a file by a lone-surrogate escape per byte, or by its file URL.
    MCPServer::handleLine(frame(1, folder + R"(/caf\udce9.csv)", folder + "/out"));
    MCPServer::handleLine(frame(2, folder + R"(/gone\udcff.csv)", folder + "/out"));
    MCPServer::handleLine(frame(3, calvoro::fileURL(dir / "caf\xE9.csv"), calvoro::fileURL(dir / "out\xFF")));
    std::string lines;
    {
        std::lock_guard lock(mutex_);
        for (const auto& line : lines_) lines += line;
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "caf\xE9.json"));
    EXPECT_TRUE(std::filesystem::exists(dir / "out\xFF" / "caf\xE9.json"));
    // A strict reader takes every reply, every string of it Unicode; each URL gives the bytes.
    writeFile(dir / "replies", lines);
    const auto read = pythonOutput(R"(
import json, sys, urllib.parse
def strings(v):
    if isinstance(v, str): yield v
    elif isinstance(v, dict):
        for k, x in v.items(): yield k; yield from strings(x)
    elif isinstance(v, list):
        for x in v: yield from strings(x)
out = sys.stdout.buffer
for raw in open(sys.argv[1], 'rb'):
    reply = json.loads(raw.decode('utf-8'))
    for s in strings(reply): s.encode('utf-8')
    result = reply['result']
    url = result.get('structuredContent', {}).get('output_url')
    if url:
        out.write(urllib.parse.unquote_to_bytes(urllib.parse.urlparse(url).path) + b'\n')
    out.write(result['content'][0]['text'].encode('utf-8') + b'\n')
)",
                                    dir / "replies");
    const std::string shown = folder + "/out/caf\uFFFD.json";
    EXPECT_EQ(read, (dir / "out" / "caf\xE9.json").string() + "\n" + "Converted caf\uFFFD.csv \u2192 " + shown + " (" +
                        calvoro::fileURL(dir / "out" / "caf\xE9.json") + ") (35 bytes)\n" + "No file at " + folder +
                        "/gone\uFFFD.csv (" + calvoro::fileURL(dir / "gone\xFF.csv") + ")\n" +
                        (dir / "out\xFF" / "caf\xE9.json").string() + "\n" + "Converted caf\uFFFD.csv \u2192 " + folder +
                        "/out\uFFFD/caf\uFFFD.json (" + calvoro::fileURL(dir / "out\xFF" / "caf\xE9.json") + ") (35 bytes)\n");
}

TEST_F(MCPFrames, PathArgumentsHoldingNULOrNoFileURLAreRefused) {
    TempDir dir;
    writeFile(dir / "secret.txt", "not a table");
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    const std::string folder = dir.path().string();
    const std::string nul("\0", 1);
    const std::string sourceNUL = "source_path contains a NUL character, which no path can hold";
    EXPECT_EQ(text(call("convert_file", {{"source_path", folder + "/secret.txt" + nul + ".csv"}, {"target_format", "json"}})),
              sourceNUL);
    EXPECT_EQ(text(call("convert_file", {{"source_path", folder + "/t.csv"}, {"target_format", "json"},
                                         {"output_dir", folder + "/a" + nul + "b"}})),
              "output_dir contains a NUL character, which no path can hold");
    EXPECT_EQ(text(call("convert_file", {{"source_path", "file://" + folder + "/t%00.csv"}, {"target_format", "json"}})),
              sourceNUL);
    EXPECT_EQ(text(call("estimate_compression", {{"source_path", folder + "/secret.txt" + nul + ".png"}})), sourceNUL);
    EXPECT_EQ(text(call("compress_file", {{"source_path", folder + "/secret.txt" + nul + ".png"}})), sourceNUL);
    EXPECT_EQ(text(call("compress_file", {{"source_path", folder + "/t.csv"}, {"output_dir", folder + "/a" + nul}})),
              "output_dir contains a NUL character, which no path can hold");
    for (const std::string& url : {"file://server" + folder + "/t.csv", "file://" + folder + "/t.csv?x", "file://" + folder + "/t%G0.csv"})
        EXPECT_EQ(text(call("convert_file", {{"source_path", url}, {"target_format", "json"}})),
                  "source_path is not a file URL of this computer")
            << url;
    EXPECT_FALSE(std::filesystem::exists(dir / "a"));
    EXPECT_FALSE(std::filesystem::exists(dir / "secret.json"));
    // A file URL with the host this computer, in any letter case, is a path.
    const auto ok = call("convert_file", {{"source_path", "FILE://LocalHost" + folder + "/t.csv"}, {"target_format", "json"}});
    ASSERT_FALSE(ok.contains("isError")) << ok.dump();
    EXPECT_EQ(ok["structuredContent"]["output_path"], folder + "/t.json");
}

TEST_F(MCPFrames, AnOutputFolderThatCannotBeMadeIsNamed) {
    TempDir dir;
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    writeFile(dir / "f.txt", "x");
    const auto result = call("convert_file", {{"source_path", (dir / "t.csv").string()}, {"target_format", "json"},
                                              {"output_dir", (dir / "f.txt").string()}});
    EXPECT_EQ(result["isError"], true);
    EXPECT_EQ(text(result), "Conversion failed: The output folder \u201C" + (dir / "f.txt").string() + "\u201D is a file, not a folder.");
}

TEST_F(MCPFrames, ToolListHasFourToolsInOrder) {
    auto tools = MCPServer::toolDefinitions();
    ASSERT_EQ(tools.size(), 4u);
    EXPECT_EQ(tools[0]["name"], "list_supported_conversions");
    EXPECT_FALSE(tools[0]["inputSchema"].contains("required"));
    EXPECT_EQ(tools[1]["inputSchema"]["required"], Json::array({"source_path", "target_format"}));
    EXPECT_EQ(tools[3]["inputSchema"]["properties"]["level"]["enum"].size(), 5u);
    EXPECT_EQ(tools[3]["annotations"]["destructiveHint"], false);
}

TEST_F(MCPFrames, ListingFindsExtensionsWithDotsAndCapitals) {
    auto heic = call("list_supported_conversions", {{"file_extension", ".HEIC "}});
    EXPECT_EQ(text(heic).rfind(".heic (HEIC, Image)\nconvert_file targets: png, jpeg", 0), 0u) << text(heic);
    EXPECT_FALSE(heic.contains("structuredContent"));
    auto pdf = text(call("list_supported_conversions", {{"file_extension", "pdf"}}));
    EXPECT_EQ(pdf.find("pdfPage"), std::string::npos);
    EXPECT_NE(pdf.find("compress_file: not supported"), std::string::npos);
    EXPECT_NE(text(call("list_supported_conversions", {{"file_extension", "mov"}})).find("extractAudio"), std::string::npos);
    auto unknown = call("list_supported_conversions", {{"file_extension", " .XYZ"}});
    EXPECT_EQ(text(unknown), "Calvoro doesn't recognise '.xyz' as a convertible format. Call list_supported_conversions "
                             "with no argument to see everything supported.");
    auto all = text(call("list_supported_conversions", {{"file_extension", 5}}));
    EXPECT_EQ(all.rfind("Image: png, jpeg, jpg", 0), 0u);
    EXPECT_NE(all.find("\nFont: ttf, otf, woff, woff2\n\nPass file_extension for the exact targets of one input type."),
              std::string::npos);
}

TEST_F(MCPFrames, ConvertFileChecksInOrderThenConverts) {
    TempDir dir;
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    writeFile(dir / "x.unknownext", "x");
    EXPECT_EQ(text(call("convert_file", {{"target_format", "json"}})), "source_path is required");
    EXPECT_EQ(text(call("convert_file", {{"source_path", "/nope.csv"}, {"target_format", "bogus"}})),
              "target_format missing or unknown. Use list_supported_conversions to see valid ids.");
    EXPECT_EQ(text(call("convert_file", {{"source_path", (dir / "gone.csv").string()}, {"target_format", "json"}})),
              "No file at " + (dir / "gone.csv").string());
    EXPECT_EQ(text(call("convert_file", {{"source_path", (dir / "x.unknownext").string()}, {"target_format", "json"}})),
              "x.unknownext is not a format Calvoro can read.");
    EXPECT_EQ(text(call("convert_file", {{"source_path", (dir / "t.csv").string()}, {"target_format", "mp4"}})),
              "CSV can't convert to mp4. Valid targets: tsv, json, html, markdown, pdf");
    ASSERT_EQ(::mkfifo((dir / "pipe.csv").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.csv");
    for (const char* name : {"pipe.csv", "zero.csv"})
        EXPECT_EQ(text(call("convert_file", {{"source_path", (dir / name).string()}, {"target_format", "json"}})),
                  "Conversion failed: " + std::string(name) + " is not a regular file.");
    auto ok = call("convert_file", {{"source_path", (dir / "t.csv").string()}, {"target_format", "JSON"},
                                    {"output_dir", (dir / "out").string()}});
    ASSERT_FALSE(ok.contains("isError")) << ok.dump();
    EXPECT_EQ(ok["structuredContent"]["output_path"], (dir / "out" / "t.json").string());
    EXPECT_EQ(ok["structuredContent"]["output_bytes"], std::filesystem::file_size(dir / "out" / "t.json"));
    EXPECT_EQ(text(ok).rfind("Converted t.csv \u2192 ", 0), 0u);
}

TEST_F(MCPFrames, DeepJSONIsAnErrorReplyToItsCallAndTheServerGoesOn) {
    TempDir dir;
    std::string deep(1'000'000, '[');
    deep += std::string(1'000'000, ']');
    writeFile(dir / "d.json", deep);
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    lines_.clear();
    MCPServer::handleLine(Json({{"jsonrpc", "2.0"}, {"id", "deep"}, {"method", "tools/call"},
                                {"params", {{"name", "convert_file"}, {"arguments", {{"source_path", (dir / "d.json").string()}, {"target_format", "csv"}}}}}})
                              .dump());
    auto r = replies();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0]["id"], "deep");
    EXPECT_EQ(r[0]["result"]["isError"], true);
    EXPECT_EQ(text(r[0]["result"]), "Conversion failed: File appears corrupt: The JSON document nests too deeply");
    EXPECT_EQ(std::vector<std::filesystem::path>(std::filesystem::directory_iterator(dir.path()), {}).size(), 2u);
    const auto next = call("convert_file", {{"source_path", (dir / "t.csv").string()}, {"target_format", "json"}});
    EXPECT_FALSE(next.contains("isError")) << next.dump();
}

TEST_F(MCPFrames, CompressionToolsRefuseWhatTheyCannotUse) {
    TempDir dir;
    writeFile(dir / "notes.txt", "hello");
    EXPECT_EQ(text(call("estimate_compression", {{"source_path", (dir / "notes.txt").string()}})),
              "TXT files can't be compressed (only images, video, and audio can).");
    EXPECT_EQ(text(call("estimate_compression", {{"source_path", (dir / "missing.png").string()}})),
              "No readable file at " + (dir / "missing.png").string());
    writeFile(dir / "junk.png", std::string(3000, 'j'));
    const auto failed = call("estimate_compression", {{"source_path", (dir / "junk.png").string()}});
    EXPECT_EQ(failed.value("isError", false), true) << failed.dump();
    EXPECT_EQ(text(failed).rfind("Estimate failed: Could not read the source file.", 0), 0u) << text(failed);
    EXPECT_EQ(text(call("compress_file", {{"source_path", (dir / "notes.txt").string()}, {"level", "Tiny"}})),
              "Unknown level 'Tiny'. Valid: maximum, high, balanced, small, tiny.");
    EXPECT_EQ(text(call("compress_file", {{"source_path", (dir / "notes.txt").string()}})),
              "TXT files can't be compressed (only images, video, and audio can).");
    // A picture cut short is refused as a conversion refuses it, never "already well compressed".
    ASSERT_TRUE(peerInstalled("convert"));
    const auto made = run("cd " + shellQuote(dir.path().string()) + " && convert -seed 7 -size 300x300 plasma:fractal p.png && "
                          "convert p.png -quality 95 j.jpg && head -c 3000 p.png > cut.png && head -c 1000 j.jpg > cut.jpg");
    ASSERT_EQ(made.status, 0) << made.output;
    for (const char* name : {"cut.png", "cut.jpg"}) {
        const std::string truncated = "File appears corrupt: " + std::string(name) +
                                      " is truncated \u2014 the file is missing its ending, so only part of the image is present.";
        const auto estimate = call("estimate_compression", {{"source_path", (dir / name).string()}});
        EXPECT_EQ(estimate.value("isError", false), true) << estimate.dump();
        EXPECT_EQ(text(estimate), "Estimate failed: " + truncated);
        const auto compressed = call("compress_file", {{"source_path", (dir / name).string()}, {"level", "tiny"}});
        EXPECT_EQ(text(compressed), "Compression failed: " + truncated);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "cut (compressed).heic"));
    EXPECT_FALSE(std::filesystem::exists(dir / "cut (compressed).jpg"));

    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero.wav");
    for (const char* name : {"pipe.wav", "zero.wav"}) {
        EXPECT_EQ(text(call("compress_file", {{"source_path", (dir / name).string()}})),
                  "Compression failed: " + std::string(name) + " is not a regular file.");
        EXPECT_EQ(text(call("estimate_compression", {{"source_path", (dir / name).string()}})),
                  "No readable file at " + (dir / name).string());
    }
    EXPECT_EQ(text(call("nope", Json::object())),
              "Unknown tool 'nope'. Available: list_supported_conversions, convert_file, estimate_compression, compress_file.");
}
