#include "app/entry/launch.h"

#include <QApplication>
#include <QMetaObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "platform/web/web_engine.h"

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
    // Only environment switches: the web engine itself starts when a page is first made.
    web::prepareWebEngine();
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

void exitProcessNow(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

}  // namespace calvoro
