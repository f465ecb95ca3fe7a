// A client that stops reading replies: the server stops reading requests instead of starting
// more work, a thread or a write that fails ends nothing, and every request is answered once
// the client reads again.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include "app/entry/mcp_server.h"
#include "support/test_support.h"

using calvoro::MCPServer;
using Json = MCPServer::Json;
using namespace calvoro::testing;

namespace {

// The server as a child process, flooded with tool calls by a client that reads nothing until
// the server has stopped reading: its reader thread waits, with every call it may run blocked on
// its reply. A server that goes on starting calls past that bound has failed. Then the client
// reads every reply while it writes the rest, and pings the server to see it alive.
std::string floodingClient(int requests) {
    return "N, BOUND = " + std::to_string(requests) + ", " + std::to_string(MCPServer::maxCallsInFlight) + R"py(
import array, fcntl, os, select, subprocess, sys, termios
server = subprocess.Popen([sys.argv[1], "--mcp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
tasks = "/proc/%d/task" % server.pid
def reader():
    for tid in os.listdir(tasks):
        try:
            if open("%s/%s/comm" % (tasks, tid)).read().strip() == "mcp.stdin":
                return tid
        except OSError:
            pass
tid = None
while tid is None and server.poll() is None:
    tid = reader()
idle_threads = len(os.listdir(tasks))
def reader_waits():
    try:
        state = open("%s/%s/stat" % (tasks, tid)).read().rsplit(")", 1)[1].split()[0]
        wchan = open("%s/%s/wchan" % (tasks, tid)).read()
    except OSError:
        return False
    # Where the kernel does not say what a thread waits on, that it sleeps must do.
    return state == "S" and (wchan.startswith("futex") or wchan in ("", "0"))
def settled():
    # A call thread that has written its reply may still be on its way out: the count waits
    # until every thread of the server sleeps.
    try:
        return all(open("%s/%s/stat" % (tasks, t)).read().rsplit(")", 1)[1].split()[0] == "S"
                   for t in os.listdir(tasks))
    except OSError:
        return False
def queued(fd):
    count = array.array("i", [0])
    fcntl.ioctl(fd, termios.FIONREAD, count)
    return count[0]
def frame(i):
    return b'{"jsonrpc":"2.0","id":%d,"method":"tools/call","params":{"name":"nope","arguments":{}}}\n' % i
fd_in, fd_out = server.stdin.fileno(), server.stdout.fileno()
pipe_size = fcntl.fcntl(fd_out, 1032)  # F_GETPIPE_SZ
os.set_blocking(fd_in, False)
written, stopped, overran = 0, False, False
while written < N and not stopped and not overran:
    try:
        os.write(fd_in, frame(written))  # shorter than PIPE_BUF: written whole or not at all
        written += 1
    except BlockingIOError:
        # Counted only once the server is held: its reader waits, no reply can be written and
        # no thread is on its way out.
        if queued(fd_out) > pipe_size - 4096 and reader_waits() and settled():
            threads = len(os.listdir(tasks)) - idle_threads
            overran = threads > BOUND + 32
            stopped = threads >= BOUND
    except (BrokenPipeError, FileNotFoundError):
        overran = True
ids, pending, ended = set(), b"", False
while len(ids) < N and not ended:
    want_write = [fd_in] if written < N else []
    readable, writable, _ = select.select([fd_out], want_write, [])
    if writable:
        try:
            os.write(fd_in, frame(written))
            written += 1
        except BlockingIOError:
            pass
        except BrokenPipeError:
            ended = True
    if readable:
        chunk = os.read(fd_out, 1 << 16)
        ended = ended or not chunk
        pending += chunk
        *lines, pending = pending.split(b"\n")
        ids.update(int(line.split(b'"id":')[1].split(b",")[0]) for line in lines if line)
alive = False
if not ended:
    os.set_blocking(fd_in, True)
    os.write(fd_in, b'{"jsonrpc":"2.0","id":"alive","method":"ping"}\n')
    rest = pending
    while b'"id":"alive"' not in rest:
        chunk = os.read(fd_out, 1 << 16)
        if not chunk:
            break
        rest += chunk
    alive = b'"id":"alive"' in rest
server.stdin.close()
status = server.wait()
print(int(stopped), int(overran), len(ids), int(alive), status)
)py";
}

}  // namespace

TEST(MCPBackPressure, AClientThatStopsReadingHoldsTheServerAndIsAnsweredOnceItReads) {
    std::istringstream printed(pythonOutput(floodingClient(40000), CALVORO_BINARY));
    int stopped = 0, overran = 0, answered = 0, alive = 0, status = -1;
    printed >> stopped >> overran >> answered >> alive >> status;
    EXPECT_EQ(overran, 0) << "the server went on starting calls while no reply could be written";
    EXPECT_EQ(stopped, 1);
    EXPECT_EQ(answered, 40000);
    EXPECT_EQ(alive, 1);
    EXPECT_EQ(status, 0);
}

// A client that has gone makes the next write fail: the reply is dropped, the server goes on
// until its input ends.
TEST(MCPBackPressure, AReplyToAClientThatHasGoneEndsNothing) {
    const std::string script = R"(
import os, subprocess, sys
server = subprocess.Popen([sys.argv[1], "--mcp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.DEVNULL, env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
server.stdout.close()
server.stdin.write(b'{"jsonrpc":"2.0","id":1,"method":"ping"}\n{"jsonrpc":"2.0","id":2,"method":"tools/call","params":{"name":"nope"}}\n')
server.stdin.close()
print(server.wait())
)";
    EXPECT_EQ(pythonOutput(script, CALVORO_BINARY), "0\n");
}

namespace {

// Stands in for standard output and for the system's threads: writes block while the client
// does not read, and meanwhile no more than threadLimit call threads can run at once (none at
// all for a limit of 0).
class Seams {
public:
    explicit Seams(size_t threadLimit) : threadLimit_(threadLimit) {
        MCPServer::setWriterForTesting([this](const std::string& line) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return reading_; });
            lines_.push_back(line);
            changed_.notify_all();
        });
        MCPServer::setSpawnerForTesting([this](std::function<void()> work) {
            std::lock_guard lock(mutex_);
            if (threadLimit_ == 0 || (!reading_ && live_ >= threadLimit_)) {
                ++refused_;
                changed_.notify_all();
                throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
            }
            ++live_;
            threads_.emplace_back([this, work = std::move(work)] {
                work();
                std::lock_guard lock(mutex_);
                --live_;
            });
        });
    }
    ~Seams() {
        for (auto& thread : threads_) thread.join();
        MCPServer::setWriterForTesting(nullptr);
        MCPServer::setSpawnerForTesting(nullptr);
    }
    // Blocks until the predicate holds; each change of state wakes it.
    void waitFor(const std::function<bool()>& holds) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, holds);
    }
    void startReading() {
        std::lock_guard lock(mutex_);
        reading_ = true;
        changed_.notify_all();
    }
    size_t refused() const { return refused_; }
    size_t lineCount() const { return lines_.size(); }
    std::vector<Json> replies() {
        std::lock_guard lock(mutex_);
        std::vector<Json> out;
        for (const auto& line : lines_) out.push_back(Json::parse(line));
        return out;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool reading_ = false;
    size_t threadLimit_, live_ = 0, refused_ = 0;
    std::vector<std::string> lines_;
    std::vector<std::thread> threads_;
};

std::string toolCalls(int count) {
    std::string frames;
    for (int i = 0; i < count; ++i)
        frames += R"({"jsonrpc":"2.0","id":)" + std::to_string(i) + R"(,"method":"tools/call","params":{"name":"nope"}})" "\n";
    return frames;
}

}  // namespace

// The system refuses a thread while calls run blocked on their replies: the call waits for one
// of them to end and then runs; with no thread to be had at all, it is answered as failed.
TEST(MCPBackPressure, AThreadThatCannotStartEndsNothing) {
    {
        Seams seams(8);
        std::string frames = toolCalls(24);
        std::thread reader([&] { MCPServer::consume(frames); });
        seams.waitFor([&] { return seams.refused() >= 1; });
        seams.startReading();
        reader.join();
        seams.waitFor([&] { return seams.lineCount() == 24; });
        std::set<Json> ids;
        for (const auto& reply : seams.replies()) {
            ids.insert(reply["id"]);
            EXPECT_EQ(reply["result"]["content"][0]["text"].get<std::string>().rfind("Unknown tool 'nope'.", 0), 0u) << reply;
        }
        EXPECT_EQ(ids.size(), 24u);
    }
    Seams seams(0);
    seams.startReading();
    std::string frames = toolCalls(2);
    MCPServer::consume(frames);
    const auto replies = seams.replies();
    ASSERT_EQ(replies.size(), 2u);
    for (const auto& reply : replies) {
        EXPECT_EQ(reply["result"]["isError"], true);
        EXPECT_EQ(reply["result"]["content"][0]["text"], "Could not start the call: the system has no thread to spare.");
    }
}
