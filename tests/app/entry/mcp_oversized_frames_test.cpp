// Requests larger than one frame may be: answered by their id when their start names one,
// never held whole, and never answered when they are responses or malformed.
#include <gtest/gtest.h>

#include <mutex>
#include <sstream>
#include <vector>

#include "app/entry/mcp_frame_start.h"
#include "app/entry/mcp_server.h"
#include "support/test_support.h"

using calvoro::MCPServer;
using calvoro::requestIdAtFrameStart;
using Json = MCPServer::Json;
using namespace calvoro::testing;

namespace {

const std::string kLimitMessage = "request too large: at most 16777216 bytes fit in one frame";

// A request whose "params" carry enough text to pass the frame limit.
std::string oversized(const std::string& head, const std::string& tail = "") {
    return head + R"("params":{"pad":")" + std::string(MCPServer::maxFrameBytes + 1000, 'x') + "\"}" + tail + "}";
}

}  // namespace

TEST(MCPFrameStart, ReadsTheIdOfARequestFromItsLeadingMembers) {
    EXPECT_EQ(requestIdAtFrameStart(R"({"jsonrpc":"2.0","id":7,"method":"ping","params":{"pad":"xx)"), Json(7));
    EXPECT_EQ(requestIdAtFrameStart(R"( { "method" : "tools/call" , "params":{"a":[1,{"b":"}]"}]}, "id" : "a\"b", "x)"),
              Json("a\"b"));
    EXPECT_EQ(requestIdAtFrameStart(R"({"id":null,"method":"ping","params":{)"), Json(nullptr));
    // What cannot be known from the start gives nothing.
    for (const char* start : {
             R"({"jsonrpc":"2.0","method":"ping","params":{"pad":"xxxx)",  // the id would come later
             R"({"jsonrpc":"2.0","id":7,"params":{"pad":"xxxx)",           // so would the method
             R"({"method":"ping","id":12)",                                 // the number may go on
             R"({"id":1,"method":"pi)",
             R"({"id":1,"method":7,"params":{)",
             R"({"id":{"a":1},"method":"ping","params":{)",
             R"({"jsonrpc":"2.0","id":3,"result":{"pad":"xxx)",            // a client's response
             R"({"id":3,"error":{"code":1},"method":"ping","params":{)",
             R"([{"id":1,"method":"ping"},)",
             R"(not json)",
             "",
         })
        EXPECT_FALSE(requestIdAtFrameStart(start)) << start;
}

TEST(MCPFrameStart, AFrameOverTheLimitIsAnsweredByItsIdOnly) {
    std::mutex mutex;
    std::vector<std::string> lines;
    MCPServer::setWriterForTesting([&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    });
    MCPServer::handleLine(oversized(R"({"jsonrpc":"2.0","id":5,"method":"ping",)"));
    MCPServer::handleLine(oversized(R"({"jsonrpc":"2.0","method":"ping",)", R"(,"id":6)"));
    MCPServer::handleLine(oversized(R"({"jsonrpc":"2.0","id":8,"result":{},)"));
    MCPServer::setWriterForTesting(nullptr);
    ASSERT_EQ(lines.size(), 1u);
    const Json reply = Json::parse(lines[0]);
    EXPECT_EQ(reply["id"], 5);
    EXPECT_EQ(reply["error"]["code"], -32600);
    EXPECT_EQ(reply["error"]["message"], kLimitMessage);
}

TEST(MCPFrameStart, TheServerAnswersAStreamedOversizedRequestAndGoesOn) {
    TempDir dir;
    std::string frames = oversized(R"({"jsonrpc":"2.0","id":"big","method":"ping",)");
    frames += std::string(14 * 1024 * 1024, ' ') + "\n";  // some 30 MB in all
    frames += R"({"jsonrpc":"2.0","id":2,"method":"ping"})" "\n";
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
    ASSERT_EQ(replies.size(), 2u) << output;
    EXPECT_EQ(replies[0]["id"], "big");
    EXPECT_EQ(replies[0]["error"]["message"], kLimitMessage);
    EXPECT_EQ(replies[1]["id"], 2);
    EXPECT_EQ(replies[1]["result"], Json::object());
    EXPECT_NE(readText(dir / "log").find("unparseable frame (" + std::to_string(frames.find('\n')) + " bytes)"), std::string::npos)
        << readText(dir / "log");
}
