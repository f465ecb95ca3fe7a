#pragma once
// FFmpeg's own SSIM, the measure our quality scores are held to.
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace calvoro::testing {

// FFmpeg's SSIM of each pair of pictures, taken on grey (-1 where it measured nothing). One
// ffmpeg start serves every pair: each is compared in a filter of its own, which writes its
// score to a stats file in work.
inline std::vector<double> ffmpegSSIM(const std::vector<std::pair<std::filesystem::path, std::filesystem::path>>& pairs,
                                      const std::filesystem::path& work) {
    std::string inputs, graph, outputs;
    for (size_t i = 0; i < pairs.size(); ++i) {
        const std::string k = std::to_string(i);
        inputs += " -i " + shellQuote(pairs[i].first.string()) + " -i " + shellQuote(pairs[i].second.string());
        graph += (i ? ";[" : "[") + std::to_string(2 * i) + ":v]format=gray[a" + k + "];[" + std::to_string(2 * i + 1) +
                 ":v]format=gray[b" + k + "];[a" + k + "][b" + k + "]ssim=stats_file=" +
                 (work / ("ssim" + k + ".txt")).string() + "[o" + k + "]";
        outputs += " -map '[o" + k + "]' -f null -";
    }
    run("ffmpeg -nostdin -hide_banner -loglevel error" + inputs + " -filter_complex '" + graph + "'" + outputs);
    std::vector<double> scores;
    for (size_t i = 0; i < pairs.size(); ++i) {
        const auto stats = work / ("ssim" + std::to_string(i) + ".txt");
        std::error_code ec;
        const std::string line = std::filesystem::exists(stats, ec) ? readText(stats) : "";
        const auto at = line.find("All:");
        scores.push_back(at == std::string::npos ? -1 : std::stod(line.substr(at + 4)));
        std::filesystem::remove(stats, ec);
    }
    return scores;
}

}  // namespace calvoro::testing
