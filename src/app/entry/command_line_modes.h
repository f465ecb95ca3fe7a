#pragma once

#include <string>
#include <vector>

namespace calvoro::CalvoroApp {

// Each mode reads its operands from the arguments, runs its work on a worker thread under
// the Qt event loop and returns the process exit status: 0 success, 1 failure, 2 bad usage.
int convertAndExit(const std::vector<std::string>& arguments);
int estimateAndExit(const std::vector<std::string>& arguments);
int compressAndExit(const std::vector<std::string>& arguments);
int runTestsAndExit(const std::vector<std::string>& arguments);

// Whether the --convert operands name a conversion that reaches the document layers (a document
// route, PDF pages or a split, or a PDF output, whose check renders it). False for operands the
// mode will refuse.
bool convertNeedsDocuments(const std::vector<std::string>& arguments);

}  // namespace calvoro::CalvoroApp
