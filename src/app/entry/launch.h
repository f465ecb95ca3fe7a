#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCoreApplication;

namespace calvoro {

// The modes one executable can start in, in the order their flags are tested.
enum class LaunchMode { test, renderScreenshots, convert, estimate, compress, mcp };

// The first mode whose flag is one of the arguments (whole-argument, case-sensitive).
std::optional<LaunchMode> launchModeFor(const std::vector<std::string>& arguments);

// Prepares the environment for Qt (offscreen platform without a display) before the
// application object exists.
void prepareQtEnvironment();

// The application object for a mode. Modes that may draw (the server, the self-test, a
// conversion through the document layers) get a QApplication from the documents module, which
// loads Qt Gui and the web engine; the others a QCoreApplication, so their start-up loads
// neither. argc must outlive the object.
std::unique_ptr<QCoreApplication> createApplication(LaunchMode mode, const std::vector<std::string>& arguments,
                                                    int& argc, char** argv);

// Runs work on one worker thread while the main thread runs the Qt event loop; returns
// work's status once it has finished and the loop has stopped. An application object must exist.
int runOnWorkerUnderEventLoop(const std::function<int()>& work);

// Ends the process at once from any thread, after flushing standard output and error.
[[noreturn]] void exitProcessNow(int status);

}  // namespace calvoro
