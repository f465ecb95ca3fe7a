// Driver of bench/estimate/run.sh: for each file, every level's estimate next to what compress
// then writes. One tab-separated line per file and level:
//   file  level  estimated-bytes  estimated-loss  written-bytes  written-path
// with "-" where there is no estimate or no loss, and "refused" where compress refused the level.
// The written files are left in the output folder for the script to score.
#include <cstdio>
#include <filesystem>
#include <string>

#include "compressor/compressor.h"
#include "core/file_detector.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/media/capabilities.h"

using namespace calvoro;

int main(int argc, char** argv) {
    imaging::registerCapabilities();
    media::registerCapabilities();
    if (argc < 3) {
        std::fprintf(stderr, "usage: estimate_table <outdir> <file>...\n");
        return 2;
    }
    const std::filesystem::path out = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::filesystem::path file = argv[i];
        const auto format = FileDetector::detect(file);
        if (!format) continue;
        std::vector<CompressionEstimate> estimates;
        try {
            estimates = Compressor::estimates(file, *format);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "%s: estimate failed: %s\n", file.c_str(), e.what());
            continue;
        }
        for (CompressionLevel level : CompressionLevel::allCases()) {
            std::string bytes = "-", loss = "-";
            for (const auto& e : estimates) {
                if (e.level != level) continue;
                bytes = std::to_string(e.byteSize);
                if (e.qualityLoss) loss = std::to_string(*e.qualityLoss);
            }
            std::string written = "refused", path = "-";
            try {
                const auto result = Compressor::compress(file, *format, level, out);
                written = std::to_string(std::filesystem::file_size(result));
                path = result.string();
            } catch (const std::exception&) {
            }
            std::printf("%s\t%s\t%s\t%s\t%s\t%s\n", file.c_str(), level.rawValue().c_str(), bytes.c_str(), loss.c_str(),
                        written.c_str(), path.c_str());
            std::fflush(stdout);
        }
    }
    return 0;
}
