#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "app/entry/mcp_frame_scanner.h"
#include "app/entry/mcp_server.h"
#include "core/json_codec.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

// The scanner that reads frames too large to hold finds the id a whole frame's reader finds,
// however the frame is cut into reads. (It may find one where that reader refuses a number
// out of range: such a frame is answered with an error either way.)
void checkScanner(std::string_view frame) {
    using Json = nlohmann::ordered_json;
    std::optional<Json> expected;
    if (auto request = calvoro::parseJSON(frame); request && request->is_object() && !request->contains("result") &&
                                                   !request->contains("error")) {
        auto method = request->find("method");
        auto id = request->find("id");
        if (method != request->end() && method->is_string() && id != request->end() &&
            (id->is_string() || id->is_number() || id->is_null()))
            expected = *id;
    }
    calvoro::FrameScanner whole;
    whole.feed(frame);
    calvoro::FrameScanner cut;
    const size_t at = frame.empty() ? 0 : static_cast<unsigned char>(frame[0]) % frame.size();
    cut.feed(frame.substr(0, at));
    cut.feed(frame.substr(at));
    if (whole.requestId() != cut.requestId()) fail("the scanner's id depends on where the frame is cut");
    if (expected && whole.requestId() != expected && frame.substr(0, 3) != "\xEF\xBB\xBF")
        fail("the scanner misses a request's id");
}

}  // namespace

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
    checkScanner(std::string_view(reinterpret_cast<const char*>(data), size));
    std::string buffer(reinterpret_cast<const char*>(data), size);
    calvoro::MCPServer::consume(buffer);
    if (!buffer.empty()) calvoro::MCPServer::handleLine(buffer);
    return 0;
}
