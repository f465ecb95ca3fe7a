#pragma once

#include <optional>
#include <string>
#include <vector>

namespace calvoro {

// The modes one executable can start in, in the order their flags are tested.
enum class LaunchMode { test, renderScreenshots, convert, estimate, compress, mcp };

// The first mode whose flag is one of the arguments (whole-argument, case-sensitive).
std::optional<LaunchMode> launchModeFor(const std::vector<std::string>& arguments);

// Ends the process at once from any thread, after flushing standard output and error.
[[noreturn]] void exitProcessNow(int status);

}  // namespace calvoro
