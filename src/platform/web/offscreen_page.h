#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace calvoro::web {

// A web page rendered offscreen (Qt WebEngine) in a viewport of fixed CSS-pixel size.
// Main thread only: create, use and destroy it on the Qt main thread; every callback
// arrives there too.
class OffscreenPage {
public:
    OffscreenPage(int width, int height);
    ~OffscreenPage();
    OffscreenPage(const OffscreenPage&) = delete;
    OffscreenPage& operator=(const OffscreenPage&) = delete;

    // Called at the end of every navigation: true when it finished, false when it failed.
    void setLoadEndedHandler(std::function<void(bool finished)> handler);
    // Loads HTML text; relative references resolve inside baseFolder. A page that is only laid
    // out and printed, never drawn (drawn false), is spared the drawing of every frame while it
    // loads; its scripts would see it hidden, with timers slowed and no animation frames.
    void loadHtml(const std::string& html, const std::filesystem::path& baseFolder, bool drawn = true);
    // Runs a script in the page; done gets its result when that is a number.
    void evaluateNumber(const std::string& script, std::function<void(std::optional<double>)> done);
    // The same for a script whose result is a string.
    void evaluateText(const std::string& script, std::function<void(std::optional<std::string>)> done);
    // Prints the page to PDF on pages of width x height CSS pixels, with blank bands of margin
    // pixels at the top and bottom of each (none at the sides); done gets the PDF bytes, or
    // nothing when printing failed or the renderer went first. Pages, when given, are the first
    // and last page to print, counted from 1; all of them when not.
    void printToPdf(double width, double height, double margin, std::function<void(std::optional<std::string>)> done,
                    std::optional<std::pair<int, int>> pages = std::nullopt);
    // The process that renders the page, and whether it is still there (a new load starts
    // a new one).
    long long rendererProcessId() const;
    bool rendererRunning() const;
    // Tests: whether a page that went before this one, in the same view, is still to be blanked.
    bool blankingPending() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Starts the engine and readies one page of the given size, with its renderer, ahead of the
// first rendering, which then begins with its own load. Call it from any thread once the
// (widget) application object exists; the work happens in a later turn of the main thread,
// and later calls do nothing.
void warmUp(int width, int height);

}  // namespace calvoro::web
