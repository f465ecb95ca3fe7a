// Stand-ins for the work behind the MCP tools: a fuzzed frame names any path, and the
// frame handler is what is under test, not the converters (they have their own targets).
#include <unistd.h>

#include "app/entry/launch.h"
#include "compressor/compressor.h"
#include "core/conversion_error.h"
#include "engine/conversion_engine.h"

namespace calvoro {

std::filesystem::path ConversionEngine::convert(const ConversionJob&, const std::filesystem::path&, const ProgressHandler&,
                                                const CancellationToken&) {
    throw ConversionError::conversionFailed();
}

std::vector<CompressionEstimate> Compressor::estimates(const std::filesystem::path&, SupportedFormat, const CancellationToken&) {
    return {};
}

std::filesystem::path Compressor::compress(const std::filesystem::path&, SupportedFormat, CompressionLevel,
                                           const std::filesystem::path&, bool, const ProgressHandler&,
                                           const CancellationToken&) {
    throw ConversionError::conversionFailed();
}

void exitProcessNow(int status) { ::_exit(status); }

}  // namespace calvoro
