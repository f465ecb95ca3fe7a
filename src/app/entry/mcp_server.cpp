#include "app/entry/mcp_server.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <system_error>
#include <thread>
#include <utility>

#include <QCoreApplication>

#include "app/entry/launch.h"
#include "app/entry/mcp_frame_scanner.h"
#include "app/entry/termination_signals.h"
#include "core/conversion_logger.h"
#include "core/json_codec.h"

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

// The tool calls started and not yet ended, each with what stops it. A call its client has
// cancelled is not answered: the client no longer waits for it.
struct RunningCall {
    std::optional<MCPServer::Json> id;
    std::stop_source stop;
    bool answered = true;
};

struct Running {
    std::mutex lock;
    std::condition_variable ended;  // a call has ended
    std::list<RunningCall> calls;
    bool ending = false;  // the process is ending: no call starts any more
};

Running& running() {
    static Running state;
    return state;
}

// A call's thread is detached from its start. Detaching it afterwards races with its end: a thread
// that ends first may hand its stack back while the detach still reads it (the process died so
// under thousands of calls).
void startDetached(std::function<void()> work) {
    auto task = std::make_unique<std::function<void()>>(std::move(work));
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int error = pthread_create(
        &thread, &attributes,
        [](void* started) -> void* {
            const std::unique_ptr<std::function<void()>> run(static_cast<std::function<void()>*>(started));
            (*run)();
            return nullptr;
        },
        task.get());
    pthread_attr_destroy(&attributes);
    if (error != 0) throw std::system_error(error, std::generic_category(), "starting a call's thread");
    // The thread owns it now.
    static_cast<void>(task.release());
}

void spawn(std::function<void()> work) {
    MCPServer::Spawner s;
    {
        std::lock_guard lock(seamLock());
        s = spawner();
    }
    if (s) {
        s(std::move(work));
        return;
    }
    startDetached(std::move(work));
}

// A thread the system cannot start leaves the call to be tried again, never ends the process.
bool trySpawn(const std::function<void()>& work) {
    try {
        spawn(work);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

std::function<void()> callWork(std::list<RunningCall>::iterator call, std::string tool, MCPServer::Json args) {
    const CancellationToken cancellation(call->stop.get_token());
    auto request = std::make_shared<const std::pair<std::string, MCPServer::Json>>(std::move(tool), std::move(args));
    return [call, cancellation, request] {
        struct Ended {
            std::list<RunningCall>::iterator call;
            ~Ended() {
                std::lock_guard lock(running().lock);
                running().calls.erase(call);
                running().ended.notify_all();
            }
        } ended{call};
        MCPServer::Json result;
        try {
            result = MCPServer::callTool(request->first, request->second, cancellation);
        } catch (const std::exception& e) {
            result = MCPServer::toolError(e.what());
        }
        std::optional<MCPServer::Json> answerTo;
        {
            std::lock_guard lock(running().lock);
            if (call->answered) answerTo = call->id;
        }
        MCPServer::reply(answerTo, std::move(result));
    };
}

void startCall(std::optional<MCPServer::Json> id, std::string tool, MCPServer::Json args) {
    auto& state = running();
    std::list<RunningCall>::iterator call;
    {
        // A call whose reply cannot be written stays running, so a client that does not read
        // holds the reader here, and what it writes waits unread in the pipe.
        std::unique_lock lock(state.lock);
        state.ended.wait(lock, [&] { return state.ending || state.calls.size() < MCPServer::maxCallsInFlight; });
        if (state.ending) return;
        call = state.calls.insert(state.calls.end(), RunningCall{std::move(id), {}, true});
    }
    const auto work = callWork(call, std::move(tool), std::move(args));
    while (!trySpawn(work)) {
        // Once another call ends its thread is free; with none left to end, the call fails.
        std::unique_lock lock(state.lock);
        const size_t before = state.calls.size();
        if (before <= 1) {
            const auto answerTo = call->id;
            state.calls.erase(call);
            state.ended.notify_all();
            lock.unlock();
            MCPServer::reply(answerTo, MCPServer::toolError("Could not start the call: the system has no thread to spare."));
            return;
        }
        state.ended.wait(lock, [&] { return state.calls.size() < before; });
    }
}

void cancelCall(const MCPServer::Json& requestId) {
    std::lock_guard lock(running().lock);
    for (auto& call : running().calls) {
        if (!call.id || *call.id != requestId) continue;
        call.answered = false;
        call.stop.request_stop();
    }
}

// A request too large to read is still answered, so that its client does not wait for ever.
void refuseOversizedRequest(const FrameScanner& frame, size_t bytes) {
    if (auto id = frame.requestId())
        MCPServer::replyError(id, -32600, "request too large: at most " + std::to_string(MCPServer::maxFrameBytes) +
                                              " bytes fit in one frame");
    MCPServer::log("unparseable frame (" + std::to_string(bytes) + " bytes)");
}

// A request that is JSON by its grammar but whose text names no character cannot be read; its
// id can, so that its client is told rather than left waiting.
void refuseStrayEscape(std::string_view frame) {
    FrameScanner scanner;
    scanner.feed(frame);
    if (!scanner.namesNoCharacter()) return;
    if (auto id = scanner.requestId())
        MCPServer::replyError(id, -32600, "invalid request: a \\u escape names no character (a lone surrogate)");
}

// Standard input cut into frames. A frame that outgrows the cap is scanned as it streams past
// and never held whole.
class InputFrames {
public:
    void read(std::string_view chunk) {
        if (oversized_) {
            const size_t newline = chunk.find('\n');
            oversized_->feed(chunk.substr(0, newline));
            if (newline == std::string_view::npos) {
                oversizedBytes_ += chunk.size();
                return;
            }
            refuseOversizedRequest(*oversized_, oversizedBytes_ + newline);
            oversized_.reset();
            chunk.remove_prefix(newline + 1);
        }
        const bool endsFrames = chunk.find('\n') != std::string_view::npos;
        buffer_.append(chunk);
        if (endsFrames) MCPServer::consume(buffer_);
        if (buffer_.size() > MCPServer::maxFrameBytes) {
            oversized_.emplace();
            oversized_->feed(buffer_);
            oversizedBytes_ = buffer_.size();
            buffer_.clear();
        }
    }
    // The last frame may end without a line feed; it was read all the same.
    void end() {
        if (oversized_) {
            refuseOversizedRequest(*oversized_, oversizedBytes_);
            oversized_.reset();
            return;
        }
        MCPServer::consume(buffer_);
        if (!buffer_.empty()) MCPServer::handleLine(buffer_);
        buffer_.clear();
    }

private:
    std::string buffer_;
    std::optional<FrameScanner> oversized_;
    size_t oversizedBytes_ = 0;
};

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
    // Every string goes out as valid Unicode, a byte that is not UTF-8 as U+FFFD: the tools
    // give such a file's exact name as a file URL beside it.
    std::string line = message.dump(-1, ' ', false, Json::error_handler_t::replace);
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
        FrameScanner scanner;
        scanner.feed(frame);
        return refuseOversizedRequest(scanner, frame.size());
    }
    if (nestedTooDeeply(frame)) return unparseable();
    // Lone-surrogate escapes name the bytes of file names that are not UTF-8.
    auto parsed = parseJSON(frame);
    if (!parsed) {
        refuseStrayEscape(frame);
        return unparseable();
    }
    if (!parsed->is_object() || parsed->empty()) return unparseable();
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
    } else if (name == "notifications/initialized") {
        return;
    } else if (name == "notifications/cancelled") {
        if (auto request = params.find("requestId"); request != params.end()) cancelCall(*request);
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
        startCall(id, tool->get<std::string>(), std::move(args));
    } else {
        replyError(id, -32601, "method not found: " + name);
    }
}

void MCPServer::stopRunningCalls() {
    std::unique_lock lock(running().lock);
    // A request still waiting for a place would start once one is free, and keep this waiting.
    running().ending = true;
    running().ended.notify_all();
    for (auto& call : running().calls) call.stop.request_stop();
    running().ended.wait(lock, [] { return running().calls.empty(); });
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
    // A client that has gone makes a write fail, which drops that reply and nothing more.
    ::signal(SIGPIPE, SIG_IGN);
    // Stopped by a signal, the tool calls are cancelled, clear their work and are answered.
    termination::install([](int signal) {
        stopRunningCalls();
        termination::endBy(signal);
    });
    std::thread reader([] {
        pthread_setname_np(pthread_self(), "mcp.stdin");
        InputFrames frames;
        char chunk[65536];
        for (;;) {
            ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            frames.read(std::string_view(chunk, static_cast<size_t>(n)));
        }
        // No client is left to ask for the work still running: it stops, leaving nothing
        // behind, and every request read is answered.
        frames.end();
        stopRunningCalls();
        log("stdin closed; exiting");
        exitProcessNow(0);
    });
    reader.detach();
    QCoreApplication::exec();
    return 0;
}

}  // namespace calvoro
