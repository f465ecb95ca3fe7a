// The program but its plain conversions: every mode, chosen by launch flags, under Qt. A module
// the executable (main.cpp) loads when the run needs more than the plain rooms.
#include <QCoreApplication>

#include <cstdio>

#include <string>
#include <vector>

#include "app/entry/command_line_modes.h"
#include "app/entry/launch.h"
#include "app/entry/mcp_server.h"
#include "app/entry/termination_signals.h"
#include "core/conversion_error.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/media/capabilities.h"
#include "modules/module_loader.h"

namespace {

// Standard output and error belong to the modes' results and the log; Qt's chatter
// (missing runtime folders on headless machines and the like) stays out of them.
void quietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

// Without a mode flag the program is the window, which lives in a module of its own so that the
// command-line modes never load Qt Widgets; the screenshot mode draws the window through it too.
int openWindow(int argc, char** argv, const char* entryName) {
    try {
        using WindowMain = int (*)(int, char**);
        auto entry = reinterpret_cast<WindowMain>(
            calvoro::modules::entryPoint("libcalvoro_window.so", entryName, "window"));
        return entry(argc, argv);
    } catch (const calvoro::ConversionError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int calvoro_program_main(int argc, char** argv) {
    using namespace calvoro;
    std::vector<std::string> arguments(argv, argv + argc);
    auto mode = launchModeFor(arguments);

    qInstallMessageHandler(quietQtMessages);
    prepareQtEnvironment();
    imaging::registerCapabilities();
    media::registerCapabilities();
    if (!mode) exitProcessNow(openWindow(argc, argv, "calvoro_window_main"));
    if (mode == LaunchMode::renderScreenshots) exitProcessNow(openWindow(argc, argv, "calvoro_screenshots_main"));
    const auto app = createApplication(*mode, arguments, argc, argv);
    QCoreApplication::setApplicationName("Calvoro");

    int status = 2;
    switch (*mode) {
        case LaunchMode::convert: status = CalvoroApp::convertAndExit(arguments, runOnWorkerUnderEventLoop); break;
        case LaunchMode::estimate: status = CalvoroApp::estimateAndExit(arguments); break;
        case LaunchMode::compress: status = CalvoroApp::compressAndExit(arguments); break;
        case LaunchMode::mcp: status = MCPServer::run(); break;
        case LaunchMode::test: status = CalvoroApp::runTestsAndExit(arguments); break;
        case LaunchMode::renderScreenshots: break;
    }
    // A mode stopped by a signal has cleared its work; the process ends as that signal ends it.
    termination::endIfSignalled();
    exitProcessNow(status);
}
