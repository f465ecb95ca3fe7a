#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "core/cancellation.h"

namespace calvoro {

// A Model Context Protocol server over standard input and output: newline-delimited
// JSON-RPC 2.0, one frame per line, every frame answered on its own.
class MCPServer {
public:
    using Json = nlohmann::ordered_json;

    // Reads standard input until it closes, then stops the tool calls still running, lets each
    // answer, and ends the process with status 0.
    static int run();

    // Answers, dispatches or drops one frame (the bytes between two line feeds).
    static void handleLine(std::string_view frame);
    // Cuts complete frames off the front of buffer and handles each; keeps the rest.
    static void consume(std::string& buffer);
    // Stops every running tool call and returns once each has ended; no call starts after it.
    static void stopRunningCalls();

    static void send(const Json& message);
    static void reply(const std::optional<Json>& id, Json result);
    static void replyError(const std::optional<Json>& id, int code, const std::string& message);
    static void log(const std::string& message);
    static std::string appVersion();

    // Tools.
    static Json toolDefinitions();
    // A call stops when cancellation is requested; what it made is removed.
    static Json callTool(const std::string& name, const Json& args, const CancellationToken& cancellation = {});
    static Json toolText(const std::string& text, std::optional<Json> structured = std::nullopt);
    static Json toolError(const std::string& text);
    static Json listConversions(const Json& args);
    static Json convertFile(const Json& args, const CancellationToken& cancellation = {});
    static Json estimateCompression(const Json& args, const CancellationToken& cancellation = {});
    static Json compressFile(const Json& args, const CancellationToken& cancellation = {});

    // Tests: where frames are written (standard output by default), and how tool calls
    // are started (a detached thread by default).
    using Writer = std::function<void(const std::string& line)>;
    static void setWriterForTesting(Writer writer);
    using Spawner = std::function<void(std::function<void()> work)>;
    static void setSpawnerForTesting(Spawner spawner);

    static constexpr size_t maxFrameBytes = 16 * 1024 * 1024;
    // Tool calls started and not yet answered. Past this the reader waits for one to end: a
    // client that stops reading replies stops the server reading its requests.
    static constexpr size_t maxCallsInFlight = 128;
    static constexpr int maxNestingDepth = 256;
};

}  // namespace calvoro
