#include "app/ui/window/seed_files.h"

#include "app/state/conversion_view_model.h"
#include "core/conversion_logger.h"

namespace calvoro::CalvoroApp {

void seedFilesFromArguments(ConversionViewModel& viewModel, const std::vector<std::filesystem::path>& files,
                            const std::vector<std::string>& problems) {
    for (const auto& problem : problems) ConversionLogger::shared().warning(problem, "Files");
    if (!files.empty()) viewModel.addFiles(files);
}

}  // namespace calvoro::CalvoroApp
