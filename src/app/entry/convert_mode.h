#pragma once

// The --convert mode, which needs neither Qt nor a codec library of its own: the program runs a
// conversion of tables, subtitles or text pages with the plain rooms alone, and every other one
// under the Qt event loop of its full start.

#include <functional>
#include <string>
#include <vector>

namespace calvoro::CalvoroApp {

// Runs a mode's work and returns its status: on the calling thread, or on a worker under the Qt
// event loop (runOnWorkerUnderEventLoop).
using Runner = std::function<int(const std::function<int()>& work)>;

// Reads the operands, converts with the work run by run, and returns the process exit status:
// 0 success, 1 failure, 2 bad usage.
int convertAndExit(const std::vector<std::string>& arguments, const Runner& run);

// Runs work on the calling thread.
int runHere(const std::function<int()>& work);

// Whether the --convert operands name a conversion that reaches the document layers (a document
// route, PDF pages or a split, or a PDF output, whose check renders it). False for operands the
// mode will refuse.
bool convertNeedsDocuments(const std::vector<std::string>& arguments);

// Whether the --convert operands name a conversion the plain rooms do alone: a table, subtitle
// or text page route to anything but PDF, or a file missing under such a name. False for
// operands of the wrong form.
bool convertRunsPlain(const std::vector<std::string>& arguments);

}  // namespace calvoro::CalvoroApp
