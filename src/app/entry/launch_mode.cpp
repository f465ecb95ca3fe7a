#include "app/entry/launch_mode.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace calvoro {

std::optional<LaunchMode> launchModeFor(const std::vector<std::string>& arguments) {
    auto has = [&](const char* flag) { return std::find(arguments.begin(), arguments.end(), flag) != arguments.end(); };
    if (has("--test")) return LaunchMode::test;
    if (has("--render-screenshots")) return LaunchMode::renderScreenshots;
    if (has("--convert")) return LaunchMode::convert;
    if (has("--estimate")) return LaunchMode::estimate;
    if (has("--compress")) return LaunchMode::compress;
    if (has("--mcp")) return LaunchMode::mcp;
    return std::nullopt;
}

void exitProcessNow(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(status);
}

}  // namespace calvoro
