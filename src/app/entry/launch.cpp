#include "app/entry/launch.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cstdlib>
#include <thread>

#include "app/entry/command_line_modes.h"
#include "modules/documents_module.h"

namespace calvoro {

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

}  // namespace calvoro
