#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/entry/launch_mode.h"

class QCoreApplication;

namespace calvoro {

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

}  // namespace calvoro
