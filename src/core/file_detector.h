#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/conversion_job.h"
#include "core/supported_format.h"

namespace calvoro {

// Decides a file's format from its name, then from its type; never reads its bytes.
class FileDetector {
public:
    static std::optional<SupportedFormat> detect(const std::filesystem::path& url);
    static std::optional<ConversionJob> createJob(const std::filesystem::path& url);
    static int64_t fileSize(const std::filesystem::path& url);
    // Every file extension that detect() recognises, by name or by its type, lower case and each
    // once, with the format it gives: the names the open panel offers.
    static std::vector<std::pair<std::string, SupportedFormat>> readableExtensions();

private:
    static std::optional<SupportedFormat> formatFromUTType(const std::string& typeIdentifier);
};

}  // namespace calvoro
