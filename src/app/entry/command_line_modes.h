#pragma once

#include <string>
#include <vector>

#include "app/entry/convert_mode.h"

namespace calvoro::CalvoroApp {

// Each mode reads its operands from the arguments, runs its work on a worker thread under
// the Qt event loop and returns the process exit status: 0 success, 1 failure, 2 bad usage.
int estimateAndExit(const std::vector<std::string>& arguments);
int compressAndExit(const std::vector<std::string>& arguments);
int runTestsAndExit(const std::vector<std::string>& arguments);

}  // namespace calvoro::CalvoroApp
