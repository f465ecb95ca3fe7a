#include "modules/module_loader.h"

#include <dlfcn.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "core/conversion_error.h"
#include "core/conversion_logger.h"

namespace calvoro::modules {

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> candidateFolders() {
    std::vector<fs::path> folders;
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) folders.push_back(self.parent_path() / ".." / CALVORO_INSTALL_LIBDIR / "calvoro");
    folders.emplace_back(CALVORO_BUILD_MODULE_DIR);
    return folders;
}

}  // namespace

void* entryPoint(const std::string& fileName, const char* entryName, const std::string& displayName) {
    std::string reasons;
    for (const fs::path& folder : candidateFolders()) {
        const fs::path file = folder / fileName;
        std::error_code ec;
        if (!fs::exists(file, ec)) continue;
        // Lazy: binding every function of Qt Gui and the web engine up front costs more than
        // most conversions. Never closed: its code stays in use until the process ends.
        void* handle = ::dlopen(file.c_str(), RTLD_LAZY | RTLD_GLOBAL);
        if (!handle) {
            if (const char* error = ::dlerror()) reasons += std::string(reasons.empty() ? "" : "; ") + error;
            continue;
        }
        if (void* entry = ::dlsym(handle, entryName)) return entry;
        reasons += std::string(reasons.empty() ? "" : "; ") + file.string() + " has no " + entryName;
    }
    if (reasons.empty()) reasons = fileName + " not found";
    ConversionLogger::shared().error("Cannot load " + fileName, "Engine", reasons);
    throw ConversionError::converterNotAvailable(displayName);
}

}  // namespace calvoro::modules
