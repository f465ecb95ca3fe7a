#include "app/entry/mode_operands.h"

#include <cstdio>

namespace calvoro::CalvoroApp {

std::optional<size_t> operandsOf(const std::vector<std::string>& arguments, const std::string& flag, size_t count) {
    for (size_t p = 0; p < arguments.size(); ++p) {
        if (arguments[p] != flag) continue;
        if (p + count < arguments.size()) return p;
        return std::nullopt;
    }
    return std::nullopt;
}

void printError(const std::string& line) {
    std::fputs((line + "\n").c_str(), stderr);
    std::fflush(stderr);
}

void printOutput(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace calvoro::CalvoroApp
