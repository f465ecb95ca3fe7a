#include "app/ui/window/seed_files.h"

#include <algorithm>
#include <system_error>

#include "app/state/conversion_view_model.h"

namespace calvoro::CalvoroApp {

std::vector<std::filesystem::path> seedFilePaths(const std::vector<std::string>& arguments) {
    std::vector<std::filesystem::path> paths;
    auto flag = std::find(arguments.begin(), arguments.end(), "--seed-files");
    if (flag == arguments.end()) return paths;
    for (auto it = std::next(flag); it != arguments.end(); ++it) {
        std::error_code ec;
        const std::filesystem::path path = std::filesystem::absolute(*it, ec);
        if (!ec && std::filesystem::exists(path, ec)) paths.push_back(path);
    }
    return paths;
}

void seedFilesFromArguments(ConversionViewModel& viewModel, const std::vector<std::string>& arguments) {
    const auto paths = seedFilePaths(arguments);
    if (!paths.empty()) viewModel.addFiles(paths);
}

}  // namespace calvoro::CalvoroApp
