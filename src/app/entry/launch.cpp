#include "app/entry/launch.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unistd.h>

#include "app/entry/command_line_modes.h"
#include "modules/documents_module.h"

namespace calvoro {

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
            return documents::module().createApplication(argc, argv);
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

void exitProcessNow(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

}  // namespace calvoro
