#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

class QTimer;

namespace calvoro {

// Serves the requests that the file manager's menu hands over as "calvoro:" URLs: converts or
// compresses the named file beside its source, and in background mode ends the program once its
// last job is done. Lives on the main thread; the conversions run on worker threads.
class FinderConversionService {
public:
    static FinderConversionService& shared();

    // What the service asks of the rest of the program. Every hook is optional.
    struct Hooks {
        // Background mode began: order every window out.
        std::function<void()> hideWindows;
        // The compress picker: show the window in front.
        std::function<void()> bringForward;
        // "CalvoroOpenCompressPicker": open the compress sheet for this file.
        std::function<void(const std::filesystem::path&)> openCompressPicker;
        // Anything else that must keep the program alive (an intent call, a visible window, a
        // conversion in the window).
        std::function<bool()> otherWorkRunning;
        // Ends the program; the default quits the Qt event loop.
        std::function<void()> terminate;
    };
    void setHooks(Hooks hooks);

    bool isBackgroundWorker() const { return isBackgroundWorker_; }
    int activeJobs() const { return activeJobs_; }

    // Once per process; a second call does nothing.
    void enterBackgroundMode();
    // Reads a hand-off URL and starts its job; a link that does nothing logs one line saying why.
    void handle(const std::string& url);
    // A hand-off job ended.
    void jobFinished();
    // In background mode with nothing running: ends the program after the idle delay unless new
    // work comes first. Also for the other work of the program when it ends.
    void startIdleCountdown();
    bool idleCountdownPending() const;

    // Tests: a shorter wait than the 4 seconds.
    void setIdleQuitDelay(std::chrono::milliseconds delay) { idleQuitDelay_ = delay; }

    FinderConversionService(const FinderConversionService&) = delete;
    FinderConversionService& operator=(const FinderConversionService&) = delete;

private:
    FinderConversionService();
    ~FinderConversionService();
    void startJob(std::function<void()> work);
    void cancelIdleCountdown();
    void idleCountdownEnded();
    QTimer& idleQuitTimer();

    bool isBackgroundWorker_ = false;
    int activeJobs_ = 0;
    std::unique_ptr<QTimer> idleQuitTimer_;
    std::chrono::milliseconds idleQuitDelay_{4000};
    Hooks hooks_;
};

}  // namespace calvoro
