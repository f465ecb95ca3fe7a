#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace calvoro {
class ConversionViewModel;
}

namespace calvoro::CalvoroApp {

// Offers the files named after "--seed-files" (as StartArguments reads them) to the queue, and
// logs what became of the other paths there.
void seedFilesFromArguments(ConversionViewModel& viewModel, const std::vector<std::filesystem::path>& files,
                            const std::vector<std::string>& problems);

}  // namespace calvoro::CalvoroApp
