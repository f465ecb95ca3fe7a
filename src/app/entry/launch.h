#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace calvoro {

// The modes one executable can start in, in the order their flags are tested.
enum class LaunchMode { test, renderScreenshots, convert, estimate, compress, mcp };

// The first mode whose flag is one of the arguments (whole-argument, case-sensitive).
std::optional<LaunchMode> launchModeFor(const std::vector<std::string>& arguments);

// The process arguments as the modes read them (argument 0 is the program path).
const std::vector<std::string>& processArguments();
void setProcessArguments(std::vector<std::string> arguments);

// Prepares the environment for Qt (offscreen platform without a display, the web
// engine's switches) before the application object exists.
void prepareQtEnvironment();

// Runs work on one worker thread while the main thread runs the Qt event loop; returns
// work's status once it has finished and the loop has stopped. A QApplication must exist.
int runOnWorkerUnderEventLoop(const std::function<int()>& work);

// Ends the process at once from any thread, after flushing standard output and error.
[[noreturn]] void exitProcessNow(int status);

}  // namespace calvoro
