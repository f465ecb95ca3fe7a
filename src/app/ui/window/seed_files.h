#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace calvoro {
class ConversionViewModel;
}

namespace calvoro::CalvoroApp {

// The paths after the first "--seed-files", to the end of the arguments, that exist (files or
// folders), in order; none when the flag is absent or last.
std::vector<std::filesystem::path> seedFilePaths(const std::vector<std::string>& arguments);

// Offers the seed files to the queue when there are any.
void seedFilesFromArguments(ConversionViewModel& viewModel, const std::vector<std::string>& arguments);

}  // namespace calvoro::CalvoroApp
