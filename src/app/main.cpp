// Program entry: one executable, several modes chosen by launch flags.
#include <QCoreApplication>

#include <cstdio>

#include <string>
#include <vector>

#include "app/entry/command_line_modes.h"
#include "app/entry/launch.h"
#include "app/entry/mcp_server.h"
#include "core/work_folder.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/media/capabilities.h"

namespace {

// Standard output and error belong to the modes' results and the log; Qt's chatter
// (missing runtime folders on headless machines and the like) stays out of them.
void quietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

int main(int argc, char** argv) {
    using namespace calvoro;
    std::vector<std::string> arguments(argv, argv + argc);
    setProcessArguments(arguments);
    auto mode = launchModeFor(arguments);
    if (!mode || *mode == LaunchMode::renderScreenshots) exitProcessNow(CalvoroApp::printModesUsage());

    // Work folders of runs that were killed go now, not at some later conversion.
    WorkFolder::removeAbandoned(WorkFolder::temporaryDirectory());
    qInstallMessageHandler(quietQtMessages);
    prepareQtEnvironment();
    imaging::registerCapabilities();
    media::registerCapabilities();
    const auto app = createApplication(*mode, arguments, argc, argv);
    QCoreApplication::setApplicationName("Calvoro");

    int status = 2;
    switch (*mode) {
        case LaunchMode::convert: status = CalvoroApp::convertAndExit(arguments); break;
        case LaunchMode::estimate: status = CalvoroApp::estimateAndExit(arguments); break;
        case LaunchMode::compress: status = CalvoroApp::compressAndExit(arguments); break;
        case LaunchMode::mcp: status = MCPServer::run(); break;
        case LaunchMode::test: status = CalvoroApp::runTestsAndExit(arguments); break;
        case LaunchMode::renderScreenshots: break;
    }
    exitProcessNow(status);
}
