#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/entry/desktop/intents_service.h"
#include "platform/desktop/single_instance.h"

namespace calvoro {

// What a start without a launch flag carries: "calvoro:" and other URLs, files to open (from the
// desktop's "calvoro %U"), and whether D-Bus activation started it.
struct StartArguments {
    // The flag in the D-Bus service file.
    static constexpr const char* dbusServiceFlag = "--dbus-service";

    std::vector<std::string> urls;
    std::vector<std::filesystem::path> files;  // absolute
    // The files named after "--seed-files", to the end of the arguments, absolute: the window
    // seeds its list with them, or a later start hands them over as it does files.
    std::vector<std::filesystem::path> seedFiles;
    // What became of the other paths there: "Not found: <path>", or a folder's "Folder not added: <name>".
    std::vector<std::string> seedProblems;
    bool dbusService = false;

    // Skips the program path and options. An argument in the program's own scheme is a link
    // whatever else it looks like. Relative paths are made absolute against workingDirectory.
    static StartArguments read(const std::vector<std::string>& arguments, const std::filesystem::path& workingDirectory);
};

// The desktop side of a start without a launch flag: one instance per user, the hand-off
// receiver with its background mode, Open With, and the automation actions on the session bus.
class DesktopSession {
public:
    // What the session asks of the window. Every hook is optional.
    struct WindowHooks {
        // Create the window if needed, show it and bring it to the front.
        std::function<void()> show;
        // Order every window out.
        std::function<void()> hide;
        // The compress sheet for a file the inbox has just handed over.
        std::function<void(const std::filesystem::path&)> openCompressPicker;
        // A window is shown or the window converts something.
        std::function<bool()> busy;
    };

    explicit DesktopSession(StartArguments start, std::string socketPath = desktop::SingleInstance::defaultSocketPath());
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // Hands the start to the instance already running, if any: then the process is done, and
    // the result is its exit status (1 when files could not be handed over; it says so on
    // standard error). Otherwise this process becomes the running instance. Needs the
    // application object.
    std::optional<int> handOverToRunningInstance();

    // A start that only carries hand-off URLs, or that D-Bus activated, shows no window.
    bool showsWindow() const;

    // Publishes the automation actions, then serves what the start carries. A windowless start
    // runs in background mode and ends once idle. Call after the window (if any) exists.
    void serve(WindowHooks hooks);

    // The last window closed: the program ends, once every call that reached it is answered.
    // With work still running it goes on in the background and ends when idle.
    void lastWindowClosed();

    bool intentsPublished() const { return intentsPublished_; }
    // Tests: what the end does instead of quitting the event loop.
    void setQuit(std::function<void()> quit) { quit_ = std::move(quit); }

private:
    void received(const desktop::InstanceMessage& message);
    void showWindow();
    bool otherWorkRunning() const;
    // Ends the program without losing a call: no more hand-overs, the bus name released, every
    // call already received answered and on its way, then quit.
    void endWhenIdle();
    void callEnded();
    void quitOnceAnswered();

    StartArguments start_;
    desktop::SingleInstance instance_;
    IntentsService intents_;
    WindowHooks window_;
    bool intentsPublished_ = false;
    bool ending_ = false;
    // Shown at the start or by a later start, and not closed since.
    bool windowOpen_ = false;
    std::function<void()> quit_;
};

}  // namespace calvoro
