#include "app/entry/mcp_server.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include <QCoreApplication>

#include "app/entry/launch.h"
#include "app/entry/mcp_frame_start.h"
#include "app/entry/termination_signals.h"
#include "core/conversion_logger.h"
#include "core/path_text.h"

namespace calvoro {

namespace {

std::mutex& writeLock() {
    static std::mutex lock;
    return lock;
}

std::mutex& seamLock() {
    static std::mutex lock;
    return lock;
}

MCPServer::Writer& writer() {
    static MCPServer::Writer w;
    return w;
}

MCPServer::Spawner& spawner() {
    static MCPServer::Spawner s;
    return s;
}

void writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// Deeper nesting than a client ever sends is refused before the parser recurses into it.
bool nestedTooDeeply(std::string_view text) {
    int depth = 0;
    bool inString = false, escaped = false;
    for (char c : text) {
        if (inString) {
            if (escaped) escaped = false;
            else if (c == '\\') escaped = true;
            else if (c == '"') inString = false;
            continue;
        }
        if (c == '"') inString = true;
        else if (c == '{' || c == '[') {
            if (++depth > MCPServer::maxNestingDepth) return true;
        } else if (c == '}' || c == ']') --depth;
    }
    return false;
}

// The tool calls started and not yet answered: standard input closing waits for them.
struct Running {
    std::mutex lock;
    std::condition_variable idle;
    int count = 0;
};

Running& running() {
    static Running state;
    return state;
}

void startTask(std::function<void()> task) {
    {
        std::lock_guard lock(running().lock);
        ++running().count;
    }
    auto work = [task = std::move(task)] {
        struct Done {
            ~Done() {
                std::lock_guard lock(running().lock);
                if (--running().count == 0) running().idle.notify_all();
            }
        } done;
        task();
    };
    MCPServer::Spawner s;
    {
        std::lock_guard lock(seamLock());
        s = spawner();
    }
    if (s) {
        s(std::move(work));
        return;
    }
    std::thread(std::move(work)).detach();
}

// A request too large to read is still answered, so that its client does not wait for ever.
// Only its start is read, whether or not more of it is at hand.
void refuseOversizedRequest(std::string_view frame) {
    constexpr size_t startBytes = 64 * 1024;
    if (auto id = requestIdAtFrameStart(frame.substr(0, startBytes)))
        MCPServer::replyError(id, -32600, "request too large: at most " + std::to_string(MCPServer::maxFrameBytes) +
                                              " bytes fit in one frame");
}

}  // namespace

void MCPServer::setWriterForTesting(Writer w) {
    std::lock_guard lock(seamLock());
    writer() = std::move(w);
}

void MCPServer::setSpawnerForTesting(Spawner s) {
    std::lock_guard lock(seamLock());
    spawner() = std::move(s);
}

std::string MCPServer::appVersion() {
#ifdef CALVORO_VERSION
    return CALVORO_VERSION;
#else
    return "1.1";
#endif
}

void MCPServer::log(const std::string& message) { writeAll(STDERR_FILENO, "[calvoro-mcp] " + message + "\n"); }

void MCPServer::send(const Json& message) {
    // A file name that is not UTF-8 goes out with its bytes as lone-surrogate escapes.
    std::string line = dumpJSON(message);
    line += '\n';
    Writer w;
    {
        std::lock_guard lock(seamLock());
        w = writer();
    }
    std::lock_guard lock(writeLock());
    if (w) w(line);
    else writeAll(STDOUT_FILENO, line);
}

void MCPServer::reply(const std::optional<Json>& id, Json result) {
    if (!id) return;
    Json message = Json::object();
    message["jsonrpc"] = "2.0";
    message["id"] = *id;
    message["result"] = std::move(result);
    send(message);
}

void MCPServer::replyError(const std::optional<Json>& id, int code, const std::string& text) {
    if (!id) return;
    Json message = Json::object();
    message["jsonrpc"] = "2.0";
    message["id"] = *id;
    message["error"] = {{"code", code}, {"message", text}};
    send(message);
}

void MCPServer::handleLine(std::string_view frame) {
    auto unparseable = [&] { log("unparseable frame (" + std::to_string(frame.size()) + " bytes)"); };
    if (frame.size() > maxFrameBytes) {
        refuseOversizedRequest(frame);
        return unparseable();
    }
    if (nestedTooDeeply(frame)) return unparseable();
    // Lone-surrogate escapes name the bytes of file names that are not UTF-8.
    auto parsed = parseJSON(frame);
    if (!parsed || !parsed->is_object() || parsed->empty()) return unparseable();
    Json request = std::move(*parsed);
    auto method = request.find("method");
    if (method == request.end() || !method->is_string()) return unparseable();
    const std::string name = method->get<std::string>();

    std::optional<Json> id;
    if (auto it = request.find("id"); it != request.end()) id = *it;
    Json params = Json::object();
    if (auto it = request.find("params"); it != request.end() && it->is_object()) params = *it;

    if (name == "initialize") {
        Json result = Json::object();
        auto version = params.find("protocolVersion");
        result["protocolVersion"] = (version != params.end() && version->is_string()) ? *version : Json("2025-06-18");
        result["capabilities"] = {{"tools", Json::object()}};
        result["serverInfo"] = {{"name", "calvoro"}, {"title", "Calvoro File Converter"}, {"version", appVersion()}};
        reply(id, std::move(result));
    } else if (name == "notifications/initialized" || name == "notifications/cancelled") {
        return;
    } else if (name == "ping") {
        reply(id, Json::object());
    } else if (name == "tools/list") {
        reply(id, {{"tools", toolDefinitions()}});
    } else if (name == "tools/call") {
        auto tool = params.find("name");
        if (tool == params.end() || !tool->is_string()) {
            replyError(id, -32602, "tools/call requires a 'name'");
            return;
        }
        Json args = Json::object();
        if (auto it = params.find("arguments"); it != params.end() && it->is_object()) args = *it;
        startTask([id, toolName = tool->get<std::string>(), args = std::move(args)] {
            Json result;
            try {
                result = callTool(toolName, args);
            } catch (const std::exception& e) {
                result = toolError(e.what());
            }
            reply(id, std::move(result));
        });
    } else {
        replyError(id, -32601, "method not found: " + name);
    }
}

void MCPServer::waitForRunningCalls() {
    std::unique_lock lock(running().lock);
    running().idle.wait(lock, [] { return running().count == 0; });
}

void MCPServer::finish(std::string& buffer) {
    consume(buffer);
    // The last request may end without a line feed; it was read all the same.
    if (!buffer.empty()) handleLine(buffer);
    buffer.clear();
    waitForRunningCalls();
}

void MCPServer::consume(std::string& buffer) {
    size_t start = 0;
    for (;;) {
        size_t newline = buffer.find('\n', start);
        if (newline == std::string::npos) break;
        if (newline > start) handleLine(std::string_view(buffer).substr(start, newline - start));
        start = newline + 1;
    }
    buffer.erase(0, start);
}

int MCPServer::run() {
    ConversionLogger::shared().setOutputStream(stderr);
    log("Calvoro MCP server starting");
    // Stopped by a signal, the tool calls are cancelled, clear their work and are answered.
    termination::install([](int signal) {
        waitForRunningCalls();
        termination::endBy(signal);
    });
    std::thread reader([] {
        pthread_setname_np(pthread_self(), "mcp.stdin");
        std::string buffer;
        bool discarding = false;  // inside a frame already known to be too long
        size_t discarded = 0;
        char chunk[65536];
        for (;;) {
            ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                // Every request already read is answered before the process ends.
                if (!discarding) finish(buffer);
                log("stdin closed; exiting");
                exitProcessNow(0);
            }
            buffer.append(chunk, static_cast<size_t>(n));
            if (discarding) {
                size_t newline = buffer.find('\n');
                if (newline == std::string::npos) {
                    discarded += buffer.size();
                    buffer.clear();
                    continue;
                }
                log("unparseable frame (" + std::to_string(discarded + newline) + " bytes)");
                buffer.erase(0, newline + 1);
                discarding = false;
            }
            consume(buffer);
            // A frame that outgrows the cap is dropped as it streams in, never held whole.
            if (buffer.size() > maxFrameBytes) {
                refuseOversizedRequest(buffer);
                discarding = true;
                discarded = buffer.size();
                buffer.clear();
            }
        }
    });
    reader.detach();
    QCoreApplication::exec();
    return 0;
}

}  // namespace calvoro
