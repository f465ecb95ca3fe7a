// Requests larger than one frame may be: answered by their id wherever it stands, never held
// whole, and never answered when they are responses or malformed.
#include <gtest/gtest.h>

#include <mutex>
#include <sstream>
#include <vector>

#include "app/entry/mcp_frame_scanner.h"
#include "app/entry/mcp_server.h"
#include "support/archive_test_util.h"
#include "support/test_support.h"

using calvoro::MCPServer;
using calvoro::FrameScanner;
using Json = MCPServer::Json;
using namespace calvoro::testing;

namespace {

const std::string kLimitMessage = "request too large: at most 16777216 bytes fit in one frame";

// A request whose "params" carry enough text to pass the frame limit.
std::string oversized(const std::string& head, const std::string& tail = "") {
    return head + R"("params":{"pad":")" + std::string(MCPServer::maxFrameBytes + 1000, 'x') + "\"}" + tail + "}";
}

// The id the scanner finds in a frame fed whole, and checks that it finds the same fed a byte
// at a time: a frame arrives in reads cut anywhere.
std::optional<Json> scannedId(std::string_view frame) {
    FrameScanner whole;
    whole.feed(frame);
    FrameScanner bytes;
    for (char c : frame) bytes.feed(std::string_view(&c, 1));
    EXPECT_EQ(whole.requestId(), bytes.requestId()) << frame;
    return whole.requestId();
}

}  // namespace

TEST(MCPFrameScanner, ReadsTheIdOfARequestWhereverItStands) {
    EXPECT_EQ(scannedId(R"({"jsonrpc":"2.0","id":7,"method":"ping","params":{"pad":"xx"}})"), Json(7));
    // The official client's order: the id comes last, after the arguments.
    EXPECT_EQ(scannedId(R"({"method":"tools/call","params":{"name":"x","arguments":{"a":[1,{"b":"}]\"id\":1"}],"id":3}},)"
                        R"("jsonrpc":"2.0","id":42})"),
              Json(42));
    EXPECT_EQ(scannedId(R"( { "id" : "a\"b\u00e9" , "pad" : "\ud83d\ude00 café \udce9" , "method" : "ping" } )" "\r"),
              Json("a\"b\u00e9"));
    EXPECT_EQ(scannedId(R"({"\u0069d":null,"n":[-0.5e+3,0,true,false,null,{}],"method":"m"})"), Json(nullptr));
    EXPECT_EQ(scannedId(R"({"id":1,"method":"m","id":-2.5E-1})"), Json(-0.25));
    // An escape that names no character leaves the frame JSON by its grammar, its id readable.
    for (const char* frame : {R"({"id":1,"method":"ping","p":"\ud800"})", R"({"id":1,"method":"ping","p":"\udc10"})",
                              R"({"id":1,"method":"ping","p":"\ud800\u0041\ud800"})", R"({"p":"a\udbff\n","id":1,"method":"ping"})"}) {
        EXPECT_EQ(scannedId(frame), Json(1)) << frame;
        FrameScanner scanner;
        scanner.feed(frame);
        EXPECT_TRUE(scanner.namesNoCharacter()) << frame;
    }
    for (const char* frame : {R"({"id":1,"method":"ping","p":"\ud83d\ude00 \udce9"})", R"({"id":1,"method":"ping"})"}) {
        FrameScanner scanner;
        scanner.feed(frame);
        EXPECT_FALSE(scanner.namesNoCharacter()) << frame;
    }
    // What is not one well-formed request gives nothing.
    for (const char* frame : {
             R"({"jsonrpc":"2.0","method":"ping","params":{"id":5}})",  // only a nested id
             R"({"jsonrpc":"2.0","id":7,"params":{}})",
             R"({"id":1,"method":7})",
             R"({"id":{"a":1},"method":"ping"})",
             R"({"id":true,"method":"ping"})",
             R"({"jsonrpc":"2.0","id":3,"result":{}})",  // a client's response
             R"({"id":3,"error":{"code":1},"method":"ping"})",
             R"({"id":1,"method":"ping")",  // cut off
             R"({"id":1,"method":"ping"} x)",
             R"({"id":1,"method":"ping",})",
             R"({"id":01,"method":"ping"})",
             R"({"id":1.,"method":"ping"})",
             R"({"id":1,"method":"ping","p":"\x"})",
             R"({"id":1,"method":"ping","p":"\ud800\x"})",
             "{\"id\":1,\"method\":\"ping\",\"p\":\"\xff\"}",
             "{\"id\":1,\"method\":\"ping\",\"p\":\"a\tb\"}",
             R"({"id":1,"method":"ping","p":tru})",
             R"([{"id":1,"method":"ping"}])",
             R"(not json)",
             "",
         })
        EXPECT_FALSE(scannedId(frame)) << frame;
    for (size_t levels : {FrameScanner::maxDepth, size_t{1'000'000}}) {
        std::string deep = R"({"id":1,"method":"ping","p":)";
        deep += std::string(levels, '[') + std::string(levels, ']') + "}";
        EXPECT_FALSE(scannedId(deep)) << levels;
    }
    EXPECT_FALSE(scannedId(R"({"id":")" + std::string(FrameScanner::maxIdBytes, 'i') + R"(","method":"ping"})"));
}

TEST(MCPFrameScanner, AFrameOverTheLimitIsAnsweredByItsIdOnly) {
    std::mutex mutex;
    std::vector<std::string> lines;
    MCPServer::setWriterForTesting([&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    });
    MCPServer::handleLine(oversized(R"({"jsonrpc":"2.0","id":5,"method":"ping",)"));
    MCPServer::handleLine(oversized(R"({"jsonrpc":"2.0","method":"ping",)", R"(,"id":6)"));
    MCPServer::handleLine(oversized(R"({"jsonrpc":"2.0","id":8,"result":{},)"));
    MCPServer::handleLine(oversized(R"({"jsonrpc":"2.0","id":9,"method":"ping",)", R"(,"x":)"));
    MCPServer::setWriterForTesting(nullptr);
    ASSERT_EQ(lines.size(), 2u);
    for (size_t i = 0; i < lines.size(); ++i) {
        const Json reply = Json::parse(lines[i]);
        EXPECT_EQ(reply["id"], i == 0 ? 5 : 6);
        EXPECT_EQ(reply["error"]["code"], -32600);
        EXPECT_EQ(reply["error"]["message"], kLimitMessage);
    }
}

TEST(MCPFrameScanner, TheServerAnswersStreamedOversizedRequestsAndGoesOn) {
    TempDir dir;
    const std::string pad(MCPServer::maxFrameBytes + 1000, 'x');
    std::string frames = oversized(R"({"jsonrpc":"2.0","id":"big","method":"ping",)");
    frames += std::string(14 * 1024 * 1024, ' ') + "\n";  // some 30 MB in all
    const size_t firstFrame = frames.size() - 1;
    // The official client writes the id last, after arguments of any size.
    frames += R"({"method":"tools/call","params":{"name":"convert_file","arguments":{"source_path":")" + pad +
              R"("}},"jsonrpc":"2.0","id":"sdk"})" "\n";
    frames += R"({"jsonrpc":"2.0","id":2,"method":"ping"})" "\n";
    frames += R"({"id":42,"pad":")" + pad + R"(","method":"ping"})";  // the last frame ends without a line feed
    writeFile(dir / "frames", frames);
    // Each stream to its own file: what the server logs never lands among the frames.
    const auto r = run("(QT_QPA_PLATFORM=offscreen " + shellQuote(CALVORO_BINARY) + " --mcp < " + shellQuote((dir / "frames").string()) +
                       " > " + shellQuote((dir / "out").string()) + " 2>" + shellQuote((dir / "log").string()) + ")");
    EXPECT_EQ(r.status, 0) << r.output;
    // Standard output carries frames only.
    const std::string output = readText(dir / "out");
    std::istringstream out(output);
    std::vector<Json> replies;
    for (std::string line; std::getline(out, line);) {
        Json frame = Json::parse(line, nullptr, false);
        ASSERT_FALSE(frame.is_discarded()) << line;
        replies.push_back(frame);
    }
    ASSERT_EQ(replies.size(), 4u) << output;
    for (size_t i : {0, 1, 3}) {
        EXPECT_EQ(replies[i]["id"], (std::vector<Json>{"big", "sdk", 2, 42}[i]));
        EXPECT_EQ(replies[i]["error"]["code"], -32600);
        EXPECT_EQ(replies[i]["error"]["message"], kLimitMessage);
    }
    EXPECT_EQ(replies[2]["id"], 2);
    EXPECT_EQ(replies[2]["result"], Json::object());
    EXPECT_NE(readText(dir / "log").find("unparseable frame (" + std::to_string(firstFrame) + " bytes)"), std::string::npos)
        << readText(dir / "log");
}

// However long a frame, the server holds at most one frame's worth of it: a long string is read
// past, not kept (peak memory measured, never time).
TEST(MCPFrameScanner, AnOversizedFrameIsReadInBoundedMemory) {
    if (calvoro::archive_testing::underAddressSanitizer) GTEST_SKIP() << "resident memory is the sanitizer's";
    auto peakMiB = [](int padMiB) {
        const std::string script = R"(
import os, resource, subprocess, sys
server = subprocess.Popen([sys.argv[1], "--mcp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
server.stdin.write(b'{"method":"tools/call","params":{"name":"convert_file","arguments":{"source_path":"')
chunk = b"x" * (1 << 20)
for _ in range()" + std::to_string(padMiB) + R"():
    server.stdin.write(chunk)
server.stdin.write(b'"}},"jsonrpc":"2.0","id":"sdk"}\n')
server.stdin.close()
reply = server.stdout.read()
server.wait()
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss // 1024, reply.count(b'"id":"sdk"'))
)";
        std::istringstream printed(pythonOutput(script, CALVORO_BINARY));
        int peak = 0, replies = 0;
        printed >> peak >> replies;
        EXPECT_EQ(replies, 1);
        return peak;
    };
    const int small = peakMiB(1);
    const int large = peakMiB(256);
    EXPECT_LT(large - small, 48) << small << " MiB for a 1 MiB frame, " << large << " MiB for a 256 MiB one";
}
