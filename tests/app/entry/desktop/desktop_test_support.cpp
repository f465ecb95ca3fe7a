#include "desktop_test_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "platform/media/media_fixtures.h"

namespace calvoro::testing {

bool waitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return done();
}

PrivateBus::PrivateBus(const std::filesystem::path& serviceFolder) {
    std::string config =
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig>\n  <type>session</type>\n  <listen>unix:dir=" + dir_.path().string() + "</listen>\n";
    if (!serviceFolder.empty()) config += "  <servicedir>" + serviceFolder.string() + "</servicedir>\n";
    // The limits of the desktop's session bus, far above the daemon's defaults.
    for (const char* limit : {"max_incoming_bytes", "max_outgoing_bytes", "max_message_size"})
        config += std::string("  <limit name=\"") + limit + "\">1000000000</limit>\n";
    config +=
        "  <policy context=\"default\">\n    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
        "    <allow eavesdrop=\"true\"/>\n    <allow own=\"*\"/>\n  </policy>\n</busconfig>\n";
    writeFile(dir_ / "bus.conf", config);
    auto r = run("dbus-daemon --config-file=" + shellQuote((dir_ / "bus.conf").string()) + " --fork --print-address=1 --print-pid=1");
    std::istringstream lines(r.output);
    std::getline(lines, address_);
    std::string pid;
    std::getline(lines, pid);
    pid_ = std::atoi(pid.c_str());
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_FALSE(address_.empty());
}

PrivateBus::~PrivateBus() {
    if (pid_ <= 0) return;
    resume();
    ::kill(pid_, SIGTERM);
}

void PrivateBus::pause() { ::kill(pid_, SIGSTOP); }

void PrivateBus::resume() { ::kill(pid_, SIGCONT); }

std::string onBus(const PrivateBus& bus, const std::string& command) {
    return "DBUS_SESSION_BUS_ADDRESS=" + shellQuote(bus.address()) + " " + command;
}

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                           const std::filesystem::path& outputFile) {
    std::vector<char*> argv;
    for (const auto& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
        for (const auto& e : environment) ::putenv(const_cast<char*>(e.c_str()));
        const int out = ::open(outputFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(out, 1);
        ::dup2(out, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
}

ChildProcess::~ChildProcess() {
    if (running()) {
        kill(SIGKILL);
        wait();
    }
}

bool ChildProcess::running() {
    if (pid_ <= 0 || status_) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }
    return true;
}

int ChildProcess::wait(std::chrono::seconds limit) {
    waitUntil([&] { return !running(); }, limit);
    return status_.value_or(-1);
}

void ChildProcess::kill(int signal) {
    if (running()) ::kill(pid_, signal);
}

void makePNG(const std::filesystem::path& path, int width, int height) {
    media::ffmpeg("-f lavfi -i testsrc=size=" + std::to_string(width) + "x" + std::to_string(height) + " -frames:v 1 " +
                  shellQuote(path.string()));
}

}  // namespace calvoro::testing
