// The real program killed part-way, run twice at once, and asked to stop: outputs are whole or
// absent, and what a killed run left is cleared by the next start.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include <nlohmann/json.hpp>

#include "platform/media/media_fixtures.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace calvoro::testing;
using calvoro::testing::media::ffmpeg;
using calvoro::testing::media::makeVideo;

namespace {

bool isWorkFolder(const fs::path& path) { return path.filename().string().rfind(".calvoro-work-", 0) == 0; }

std::vector<std::string> visibleNames(const fs::path& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.path().filename().string()[0] != '.') out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

int workFolderCount(const fs::path& folder) {
    int count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) count += isWorkFolder(entry.path());
    return count;
}

// Whether a work folder in folder holds a file with bytes in it: the conversion is writing.
bool writingInto(const fs::path& folder) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (!isWorkFolder(entry.path())) continue;
        for (const auto& item : fs::recursive_directory_iterator(entry.path(), ec))
            if (item.is_regular_file(ec) && item.file_size(ec) > 0) return true;
    }
    return false;
}

// calvoro with the arguments, its temporary folder set, output thrown away; standard input
// from input when given.
pid_t start(const std::vector<std::string>& arguments, const fs::path& temporary, int input = -1) {
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    if (input >= 0) ::dup2(input, STDIN_FILENO);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("TMPDIR", temporary.c_str(), 1);
    // A signal this process ignores would stay ignored in the program.
    for (int signal : {SIGINT, SIGTERM}) std::signal(signal, SIG_DFL);
    if (FILE* null = std::freopen("/dev/null", "w", stdout)) (void)null;
    ::dup2(STDOUT_FILENO, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(CALVORO_BINARY)};
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(CALVORO_BINARY, argv.data());
    ::_exit(127);
}

// Waits until the condition holds while the process runs; false when it ended first.
template <typename Condition>
bool whileRunning(pid_t pid, Condition condition) {
    for (;;) {
        if (condition()) return true;
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// A run to stop: its temporary folder, an output folder, and a clip whose 4:4:4 pictures are
// encoded again, not copied, so that a job on it lasts long enough.
struct LongJob {
    TempDir dir;
    fs::path temporary = dir / "tmp";
    fs::path out = dir / "out";
    fs::path clip;
    LongJob() {
        fs::create_directories(temporary);
        fs::create_directories(out);
        clip = makeVideo(dir / "clip.mp4", {.width = 480, .height = 360, .seconds = 40, .audio = true,
                                            .videoCodec = "-c:v libx264 -preset ultrafast -pix_fmt yuv444p"});
    }
};

struct Conversion {
    std::string name;
    fs::path source;
    std::string target;
    int stopSignal;
};

// Stopped by a signal, the program clears its work itself and ends by that signal.
void expectEndedBy(pid_t pid, int signal) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signal);
}

}  // namespace

TEST(KilledConversion, LeavesNothingUnderAnOutputNameAndTheNextStartClearsItsWork) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const fs::path temporary = dir / "tmp";
    fs::create_directories(temporary);
    // 4:4:4 pictures are encoded again, not copied, so the export lasts long enough to kill.
    const auto clip = makeVideo(dir / "clip.mp4", {.width = 480, .height = 360, .seconds = 40, .audio = true,
                                                   .videoCodec = "-c:v libx264 -preset ultrafast -pix_fmt yuv444p"});
    ffmpeg("-f lavfi -i testsrc=size=320x240:rate=15:duration=30 " + shellQuote((dir / "anim.gif").string()));
    writeFile(dir / "t.csv", std::string("a,b\n1,2\n"));
    // Tables are converted without Qt, on the program's main thread: long enough with many rows.
    std::string rows = "a,b\n";
    for (int i = 0; i < 3000000; ++i) rows += "1,2\n";
    writeFile(dir / "rows.csv", rows);
    const std::vector<Conversion> conversions = {
        {"CSV to JSON", dir / "rows.csv", "json", SIGTERM},
        {"MP4 to MOV", clip, "mov", SIGTERM},
        {"MP4 to GIF", clip, "gif", SIGINT},
        {"GIF to MP4", dir / "anim.gif", "mp4", SIGHUP},
    };
    for (const auto& conversion : conversions) {
        for (int signal : {SIGKILL, conversion.stopSignal}) {
            SCOPED_TRACE(conversion.name + " killed by " + ::strsignal(signal));
            const fs::path out = dir / "out";
            fs::remove_all(out);
            fs::create_directories(out);
            const pid_t pid = start({"--convert", conversion.source.string(), conversion.target, out.string()}, temporary);
            ASSERT_TRUE(whileRunning(pid, [&] { return writingInto(out); })) << "finished before it could be killed";
            ::kill(pid, signal);
            expectEndedBy(pid, signal);
            EXPECT_EQ(visibleNames(out), std::vector<std::string>{});
            if (signal != SIGKILL) {
                EXPECT_EQ(workFolderCount(out), 0);
                EXPECT_EQ(workFolderCount(temporary), 0);
            }

            // The next start into the same folder clears what the killed run left there.
            const auto r = run("QT_QPA_PLATFORM=offscreen " + shellQuote(CALVORO_BINARY) + " --convert " +
                               shellQuote((dir / "t.csv").string()) + " tsv " + shellQuote(out.string()));
            EXPECT_EQ(r.status, 0) << r.output;
            EXPECT_EQ(visibleNames(out), std::vector<std::string>{"t.tsv"});
            EXPECT_EQ(workFolderCount(out), 0);
        }
    }
}

TEST(KilledConversion, CompressEstimateAndTheServerStoppedBySignalsClearTheirWorkAndEndByThem) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const fs::path temporary = dir / "tmp";
    const fs::path out = dir / "out";
    fs::create_directories(temporary);
    fs::create_directories(out);
    const auto clip = makeVideo(dir / "clip.mp4", {.width = 480, .height = 360, .seconds = 40, .audio = true,
                                                   .videoCodec = "-c:v libx264 -preset ultrafast -pix_fmt yuv444p"});

    pid_t pid = start({"--compress", clip.string(), "small", out.string()}, temporary);
    ASSERT_TRUE(whileRunning(pid, [&] { return writingInto(out); })) << "finished before it could be stopped";
    ::kill(pid, SIGTERM);
    expectEndedBy(pid, SIGTERM);
    EXPECT_EQ(workFolderCount(out), 0);
    EXPECT_EQ(visibleNames(out), std::vector<std::string>{});

    // The trial encodes of an estimate are made in the temporary folder.
    pid = start({"--estimate", clip.string()}, temporary);
    ASSERT_TRUE(whileRunning(pid, [&] { return writingInto(temporary); })) << "finished before it could be stopped";
    ::kill(pid, SIGINT);
    expectEndedBy(pid, SIGINT);
    EXPECT_EQ(workFolderCount(temporary), 0);

    // The server's input stays open: only the signal ends it.
    int input[2];
    ASSERT_EQ(::pipe(input), 0);
    pid = start({"--mcp"}, temporary, input[0]);
    ::close(input[0]);
    const std::string frame = R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"convert_file","arguments":{"source_path":")" +
                              clip.string() + R"(","target_format":"mov","output_dir":")" + out.string() + "\"}}}\n";
    ASSERT_EQ(::write(input[1], frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    ASSERT_TRUE(whileRunning(pid, [&] { return writingInto(out); })) << "finished before it could be stopped";
    ::kill(pid, SIGTERM);
    expectEndedBy(pid, SIGTERM);
    ::close(input[1]);
    EXPECT_EQ(workFolderCount(out), 0);
    EXPECT_EQ(visibleNames(out), std::vector<std::string>{});
}

TEST(KilledConversion, AnArchiveWorkFolderInTheTemporaryFolderGoesAtTheNextStart) {
    ASSERT_TRUE(peerInstalled("zip"));
    TempDir dir;
    const fs::path temporary = dir / "tmp";
    fs::create_directories(temporary);
    for (int i = 0; i < 400; ++i) writeFile(dir / "tree" / ("f" + std::to_string(i) + ".txt"), std::string(200, 'a' + i % 26));
    ASSERT_EQ(run("head -c 40000000 /dev/urandom > " + shellQuote((dir / "tree" / "noise.bin").string())).status, 0);
    ASSERT_EQ(run("cd " + shellQuote((dir / "tree").string()) + " && zip -q -0 -r ../bundle.zip .").status, 0);
    const fs::path out = dir / "out";
    const pid_t pid = start({"--convert", (dir / "bundle.zip").string(), "xz", out.string()}, temporary);
    ASSERT_TRUE(whileRunning(pid, [&] { return writingInto(temporary); })) << "finished before it could be killed";
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(workFolderCount(temporary), 1) << "the killed run's unpacked files";
    EXPECT_EQ(visibleNames(out), std::vector<std::string>{});

    const pid_t next = start({"--estimate", (dir / "bundle.zip").string()}, temporary);
    ::waitpid(next, nullptr, 0);
    EXPECT_EQ(workFolderCount(temporary), 0);
}

TEST(KilledConversion, AWebPageBeingRenderedLeavesItsFileOnlyInAWorkFolderTheNextStartClears) {
    TempDir dir;
    const fs::path temporary = dir / "tmp";
    fs::create_directories(temporary);
    std::string page = "<!doctype html><html><body>";
    for (int i = 0; i < 3000; ++i) page += "<p>Paragraph " + std::to_string(i) + " of a long page to print</p>";
    writeFile(dir / "long.html", page + "</body></html>");
    const fs::path out = dir / "out";
    const pid_t pid = start({"--convert", (dir / "long.html").string(), "pdf", out.string()}, temporary);
    ASSERT_TRUE(whileRunning(pid, [&] { return writingInto(temporary); })) << "finished before it could be killed";
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    EXPECT_EQ(visibleNames(temporary), std::vector<std::string>{}) << "nothing outside a work folder";
    EXPECT_EQ(workFolderCount(temporary), 1) << "the killed run's page";
    EXPECT_EQ(visibleNames(out), std::vector<std::string>{});

    const pid_t next = start({"--estimate", (dir / "long.html").string()}, temporary);
    ::waitpid(next, nullptr, 0);
    EXPECT_EQ(workFolderCount(temporary), 0);
}

TEST(KilledConversion, TwoProgramsConvertingTheSameFileIntoOneFolderKeepBothOutputs) {
    REQUIRE_FFMPEG();
    TempDir dir;
    const auto clip = makeVideo(dir / "clip.mp4", {.width = 320, .height = 240, .seconds = 4});
    const fs::path out = dir / "out";
    fs::create_directories(out);
    const std::string command = "QT_QPA_PLATFORM=offscreen " + shellQuote(CALVORO_BINARY) + " --convert " +
                                shellQuote(clip.string()) + " mov " + shellQuote(out.string());
    const auto r = run("(" + command + " > " + shellQuote((dir / "a.txt").string()) + " 2>&1; echo $? >> " +
                       shellQuote((dir / "a.txt").string()) + ") & (" + command + " > " + shellQuote((dir / "b.txt").string()) +
                       " 2>&1; echo $? >> " + shellQuote((dir / "b.txt").string()) + ") & wait");
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(readText(dir / "a.txt").substr(readText(dir / "a.txt").size() - 2), "0\n") << readText(dir / "a.txt");
    EXPECT_EQ(readText(dir / "b.txt").substr(readText(dir / "b.txt").size() - 2), "0\n") << readText(dir / "b.txt");
    EXPECT_EQ(visibleNames(out), (std::vector<std::string>{"clip (1).mov", "clip.mov"}));
    for (const char* name : {"clip.mov", "clip (1).mov"})
        EXPECT_GT(calvoro::testing::media::probe(out / name).duration(), 3.5) << name;
}

namespace {

// calvoro --mcp with pipes to its standard input and from its standard output.
class MCPSession {
public:
    explicit MCPSession(const fs::path& temporary) {
        int in[2], out[2];
        if (::pipe(in) != 0 || ::pipe(out) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("TMPDIR", temporary.c_str(), 1);
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            if (FILE* null = std::freopen("/dev/null", "w", stderr)) (void)null;
            for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
            ::execl(CALVORO_BINARY, CALVORO_BINARY, "--mcp", nullptr);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        input_ = in[1];
        output_ = out[0];
        ::fcntl(output_, F_SETFL, O_NONBLOCK);
    }
    ~MCPSession() {
        closeInput();
        if (pid_ > 0 && !ended_) ::waitpid(pid_, nullptr, 0);
        if (output_ >= 0) ::close(output_);
    }
    bool started() const { return pid_ > 0; }
    void send(const std::string& text) {
        for (size_t done = 0; done < text.size();) {
            const ssize_t n = ::write(input_, text.data() + done, text.size() - done);
            if (n <= 0) return;
            done += static_cast<size_t>(n);
        }
    }
    void closeInput() {
        if (input_ >= 0) ::close(input_);
        input_ = -1;
    }
    // Waits until the condition holds while the server runs; false when it ended first.
    template <typename Condition>
    bool whileServing(Condition condition) {
        for (;;) {
            readReplies();
            if (condition()) return true;
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                ended_ = true;
                readReplies();
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    // Once input has closed: waits for the server to end, reads the rest, gives its status.
    int end() {
        int status = 0;
        ::waitpid(pid_, &status, 0);
        ended_ = true;
        ::fcntl(output_, F_SETFL, 0);
        readReplies();
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const nlohmann::json* reply(const nlohmann::json& id) const {
        for (const auto& r : replies_)
            if (r.value("id", nlohmann::json()) == id) return &r;
        return nullptr;
    }

private:
    void readReplies() {
        char chunk[65536];
        ssize_t n;
        while ((n = ::read(output_, chunk, sizeof chunk)) > 0) pending_.append(chunk, static_cast<size_t>(n));
        for (size_t newline; (newline = pending_.find('\n')) != std::string::npos; pending_.erase(0, newline + 1))
            replies_.push_back(nlohmann::json::parse(pending_.substr(0, newline)));
    }

    pid_t pid_ = -1;
    int input_ = -1, output_ = -1;
    bool ended_ = false;
    std::string pending_;
    std::vector<nlohmann::json> replies_;
};

std::string toolCall(int id, const std::string& tool, const nlohmann::json& arguments) {
    return nlohmann::json{{"jsonrpc", "2.0"}, {"id", id}, {"method", "tools/call"}, {"params", {{"name", tool}, {"arguments", arguments}}}}
               .dump() +
           "\n";
}

std::string cancellation(int id) {
    return nlohmann::json{{"jsonrpc", "2.0"}, {"method", "notifications/cancelled"}, {"params", {{"requestId", id}, {"reason", "user"}}}}
               .dump() +
           "\n";
}

}  // namespace

// Work a client cancels stops unanswered, and work still running when the input closes stops
// with an error; neither leaves anything behind, and the server goes on answering meanwhile.
TEST(MCPCancellation, CancelledOrCutOffToolCallsStopAndLeaveNothing) {
    REQUIRE_FFMPEG();
    const LongJob job;
    MCPSession server(job.temporary);
    ASSERT_TRUE(server.started());

    server.send(toolCall(2, "compress_file", {{"source_path", job.clip.string()}, {"level", "small"}, {"output_dir", job.out.string()}}));
    ASSERT_TRUE(server.whileServing([&] { return writingInto(job.out) || server.reply(2); })) << "the server ended";
    ASSERT_FALSE(server.reply(2)) << "finished before it could be stopped";
    server.send(cancellation(2));
    server.send(R"({"jsonrpc":"2.0","id":3,"method":"ping"})" "\n");
    ASSERT_TRUE(server.whileServing([&] { return workFolderCount(job.out) == 0 || server.reply(2); }));
    ASSERT_TRUE(server.whileServing([&] { return server.reply(3) != nullptr; }));
    EXPECT_FALSE(server.reply(2)) << server.reply(2)->dump();
    EXPECT_EQ(visibleNames(job.out), std::vector<std::string>{});

    server.send(toolCall(4, "estimate_compression", {{"source_path", job.clip.string()}}));
    ASSERT_TRUE(server.whileServing([&] { return writingInto(job.temporary) || server.reply(4); })) << "the server ended";
    ASSERT_FALSE(server.reply(4)) << "finished before it could be stopped";
    server.send(cancellation(4));
    ASSERT_TRUE(server.whileServing([&] { return workFolderCount(job.temporary) == 0 || server.reply(4); }));
    EXPECT_FALSE(server.reply(4)) << server.reply(4)->dump();

    server.send(toolCall(5, "convert_file", {{"source_path", job.clip.string()}, {"target_format", "mov"}, {"output_dir", job.out.string()}}));
    ASSERT_TRUE(server.whileServing([&] { return writingInto(job.out) || server.reply(5); })) << "the server ended";
    ASSERT_FALSE(server.reply(5)) << "finished before it could be stopped";
    server.send(R"({"jsonrpc":"2.0","id":6,"method":"ping"})");  // the last frame ends without a line feed
    server.closeInput();
    EXPECT_EQ(server.end(), 0);
    ASSERT_TRUE(server.reply(5));
    EXPECT_EQ((*server.reply(5))["result"]["isError"], true) << server.reply(5)->dump();
    EXPECT_EQ((*server.reply(5))["result"]["content"][0]["text"], "Conversion failed: The operation was cancelled.");
    EXPECT_TRUE(server.reply(6));
    EXPECT_EQ(visibleNames(job.out), std::vector<std::string>{});
    EXPECT_EQ(workFolderCount(job.out), 0);
    EXPECT_EQ(workFolderCount(job.temporary), 0);
}
