#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "app/entry/mcp_server.h"

// The input is what a client writes to standard input: frames separated by line feeds.
// Tool calls run at once on this thread; every line the server answers must be one JSON object.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = [] {
        calvoro::MCPServer::setSpawnerForTesting([](std::function<void()> work) { work(); });
        calvoro::MCPServer::setWriterForTesting([](const std::string& line) {
            if (line.empty() || line.back() != '\n' || line.find('\n') != line.size() - 1) {
                std::fprintf(stderr, "answer is not one line\n");
                std::abort();
            }
            auto answer = nlohmann::json::parse(line, nullptr, false);
            if (answer.is_discarded() || !answer.is_object()) {
                std::fprintf(stderr, "answer is not a JSON object: %s", line.c_str());
                std::abort();
            }
        });
        return true;
    }();
    (void)ready;
    std::string buffer(reinterpret_cast<const char*>(data), size);
    calvoro::MCPServer::consume(buffer);
    if (!buffer.empty()) calvoro::MCPServer::handleLine(buffer);
    return 0;
}
