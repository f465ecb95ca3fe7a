#pragma once

// What the command-line modes share: their operands and the lines they print.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace calvoro::CalvoroApp {

// The position of the first argument equal to flag, when count operands follow it.
std::optional<size_t> operandsOf(const std::vector<std::string>& arguments, const std::string& flag, size_t count);

// One line on standard error or output, flushed at once.
void printError(const std::string& line);
void printOutput(const std::string& line);

}  // namespace calvoro::CalvoroApp
