#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "support/test_support.h"

namespace calvoro::testing {

// Waits until done() holds, at most limit; true when it did.
bool waitUntil(const std::function<bool()>& done, std::chrono::seconds limit = std::chrono::seconds(60));

// A session bus of its own for one test, started from a configuration that activates services
// from serviceFolder (when given), and stopped with the object.
class PrivateBus {
public:
    explicit PrivateBus(const std::filesystem::path& serviceFolder = {});
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;
    const std::string& address() const { return address_; }

private:
    TempDir dir_;
    std::string address_;
    int pid_ = 0;
};

// A command line run with the private bus as the session bus.
std::string onBus(const PrivateBus& bus, const std::string& command);

// A small PNG of noise, made by ffmpeg.
void makePNG(const std::filesystem::path& path, int width = 64, int height = 48);

}  // namespace calvoro::testing
