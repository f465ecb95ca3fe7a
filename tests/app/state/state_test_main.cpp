// The view model lives on the main thread, so its tests do too, turning the event loop while
// they wait. The process gets its own home, settings and session bus, all removed at the end.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/imaging/type_identifiers.h"
#include "platform/media/capabilities.h"
#include "support/test_support.h"

namespace {

// A private session bus on an abstract socket, which leaves no file behind; nothing is started
// when dbus-daemon is missing.
pid_t startSessionBus(const std::filesystem::path& folder) {
    const std::string address = "unix:abstract=" + folder.filename().string() + "-bus";
    const std::string command = "dbus-daemon --session --fork --print-pid=1 --nopidfile --address=" +
                                calvoro::testing::shellQuote(address) + " 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return 0;
    long pid = 0;
    if (std::fscanf(pipe, "%ld", &pid) != 1) pid = 0;
    pclose(pipe);
    if (pid > 0) setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    else unsetenv("DBUS_SESSION_BUS_ADDRESS");
    return static_cast<pid_t>(pid);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // What the program registers at start: the encoders this system has.
    calvoro::imaging::registerCapabilities();
    calvoro::media::registerCapabilities();
    int status = 0;
    {
        calvoro::testing::TempDir home;
        std::filesystem::create_directories(home / "config");
        std::filesystem::create_directories(home / "data");
        std::filesystem::create_directories(home / "run");
        std::filesystem::permissions(home / "run", std::filesystem::perms::owner_all);
        setenv("HOME", home.path().c_str(), 1);
        setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
        setenv("CALVORO_CONFIG_DIR", (home / "config").c_str(), 1);
        unsetenv("XDG_DOCUMENTS_DIR");
        if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
        const pid_t bus = startSessionBus(home.path());
        {
            QGuiApplication app(argc, argv);
            status = RUN_ALL_TESTS();
        }
        if (bus > 0) kill(bus, SIGTERM);
    }
    return status;
}
