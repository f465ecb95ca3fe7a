#include "app/entry/launch.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <fcntl.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>
#include <unistd.h>

#include "app/entry/command_line_modes.h"
#include "documents_module/documents_module.h"

namespace calvoro {

namespace {

std::vector<std::string>& argumentStore() {
    static std::vector<std::string> arguments;
    return arguments;
}

}  // namespace

std::optional<LaunchMode> launchModeFor(const std::vector<std::string>& arguments) {
    auto has = [&](const char* flag) { return std::find(arguments.begin(), arguments.end(), flag) != arguments.end(); };
    if (has("--test")) return LaunchMode::test;
    if (has("--render-screenshots")) return LaunchMode::renderScreenshots;
    if (has("--convert")) return LaunchMode::convert;
    if (has("--estimate")) return LaunchMode::estimate;
    if (has("--compress")) return LaunchMode::compress;
    if (has("--mcp")) return LaunchMode::mcp;
    return std::nullopt;
}

const std::vector<std::string>& processArguments() { return argumentStore(); }

void setProcessArguments(std::vector<std::string> arguments) { argumentStore() = std::move(arguments); }

void prepareQtEnvironment() {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
}

std::unique_ptr<QCoreApplication> createApplication(LaunchMode mode, const std::vector<std::string>& arguments,
                                                    int& argc, char** argv) {
    bool draws = true;
    switch (mode) {
        case LaunchMode::estimate:
        case LaunchMode::compress: draws = false; break;
        case LaunchMode::convert: draws = CalvoroApp::convertNeedsDocuments(arguments); break;
        case LaunchMode::test:
        case LaunchMode::mcp:
        case LaunchMode::renderScreenshots: break;
    }
    if (draws) {
        try {
            return documents::createApplication(argc, argv);
        } catch (const std::exception&) {
            // Without the module only the document routes fail, each with its own message.
        }
    }
    return std::make_unique<QCoreApplication>(argc, argv);
}

int runOnWorkerUnderEventLoop(const std::function<int()>& work) {
    int status = 0;
    std::thread worker([&] {
        status = work();
        QMetaObject::invokeMethod(QCoreApplication::instance(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    QCoreApplication::exec();
    worker.join();
    return status;
}

namespace {

// Where the signal handler says which signal came; the watcher thread turns it into a stop.
std::atomic<int> caughtSignal{0};
int signalPipe[2] = {-1, -1};

extern "C" void onStopSignal(int signal) {
    caughtSignal.store(signal);
    std::signal(signal, SIG_DFL);
    const char byte = 's';
    (void)!::write(signalPipe[1], &byte, 1);
}

// Catches SIGINT and SIGTERM while it lives, and requests a stop of its token when one comes.
class StopSignals {
public:
    StopSignals() {
        if (::pipe2(signalPipe, O_CLOEXEC) != 0) return;
        for (int signal : {SIGINT, SIGTERM}) {
            struct sigaction old {};
            ::sigaction(signal, nullptr, &old);
            if (old.sa_handler == SIG_IGN) continue;
            struct sigaction action {};
            action.sa_handler = onStopSignal;
            ::sigemptyset(&action.sa_mask);
            ::sigaction(signal, &action, nullptr);
            caught_.push_back(signal);
        }
        watcher_ = std::thread([this] {
            char byte = 0;
            while (::read(signalPipe[0], &byte, 1) < 0 && errno == EINTR) {
            }
            if (byte == 's') stop_.request_stop();
        });
    }
    ~StopSignals() {
        if (!watcher_.joinable()) return;
        for (int signal : caught_) std::signal(signal, SIG_DFL);
        const char byte = 'q';
        (void)!::write(signalPipe[1], &byte, 1);
        watcher_.join();
        for (int& fd : signalPipe) ::close(std::exchange(fd, -1));
    }
    CancellationToken token() const { return CancellationToken(stop_.get_token()); }
    std::optional<int> signal() const {
        if (!stop_.stop_requested()) return std::nullopt;
        return caughtSignal.load();
    }

private:
    std::stop_source stop_;
    std::vector<int> caught_;
    std::thread watcher_;
};

}  // namespace

int runStoppableOnWorkerUnderEventLoop(const std::function<int(const CancellationToken&)>& work) {
    StopSignals stopSignals;
    const int status = runOnWorkerUnderEventLoop([&] { return work(stopSignals.token()); });
    if (auto signal = stopSignals.signal()) return 128 + *signal;
    return status;
}

void exitProcessNow(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

}  // namespace calvoro
