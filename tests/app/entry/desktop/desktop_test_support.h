#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>
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
    // Stops the bus where it stands, so that nothing it is sent goes anywhere, and lets it go on.
    void pause();
    void resume();

private:
    TempDir dir_;
    std::string address_;
    int pid_ = 0;
};

// A command line run with the private bus as the session bus.
std::string onBus(const PrivateBus& bus, const std::string& command);

// The program started as a child with extra environment variables; its output goes to a file.
// Killed when the object goes, if still running.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                 const std::filesystem::path& outputFile);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool running();
    // Waits for the end, at most limit; the exit status, or -1 when it did not end or was killed.
    int wait(std::chrono::seconds limit = std::chrono::seconds(60));
    void kill(int signal);

private:
    int pid_ = -1;
    std::optional<int> status_;
};

// A small PNG of noise, made by ffmpeg.
void makePNG(const std::filesystem::path& path, int width = 64, int height = 48);

}  // namespace calvoro::testing
