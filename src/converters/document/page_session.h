#pragma once

#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "converters/document/html_to_pdf.h"
#include "platform/pdf/page_assembly.h"
#include "platform/qt/main_thread.h"
#include "platform/web/offscreen_page.h"
#include "platform/web/web_engine.h"

// The offscreen page of one rendering, driven from a worker (or the main thread) through the
// main thread's event loop.
namespace calvoro::DocumentConverter::session {

// A renderer that stops answering must not hold the worker for ever.
inline constexpr double scriptWaitLimit = 30;  // seconds
inline constexpr double printWaitLimit = 600;

// Waits for a main-thread callback: blocks a worker, keeps the event loop going on the
// main thread. False when the limit passed first.
template <typename Future>
bool await(Future& future, double seconds) {
    using namespace std::chrono;
    if (qtmain::isMainThread()) {
        const auto deadline = steady_clock::now() + duration<double>(seconds);
        web::processEventsUntil([&] {
            return future.wait_for(seconds::zero()) == std::future_status::ready || steady_clock::now() >= deadline;
        });
        return future.wait_for(seconds::zero()) == std::future_status::ready;
    }
    return future.wait_for(duration<double>(seconds)) == std::future_status::ready;
}

// A promise that main-thread callbacks may fulfil at most once, even after the waiter gave up.
template <typename T>
struct Reply {
    std::promise<T> promise;
    bool set = false;
    void deliver(T value) {
        if (set) return;
        set = true;
        promise.set_value(std::move(value));
    }
};

// The page and its waiter for one rendering; made and destroyed on the main thread.
struct Session {
    std::unique_ptr<web::OffscreenPage> page;
    std::unique_ptr<WebKitLoadWaiter> waiter;
    std::exception_ptr startFailure;
};

class SessionGuard {
public:
    SessionGuard() : session_(std::make_unique<Session>()) {}
    ~SessionGuard() {
        qtmain::runOnMain([this] { session_.reset(); });
    }
    SessionGuard(const SessionGuard&) = delete;
    SessionGuard& operator=(const SessionGuard&) = delete;
    Session& operator*() { return *session_; }
    Session* operator->() { return session_.get(); }

private:
    std::unique_ptr<Session> session_;
};

// Starts the session's page of the given viewport on the main thread: at once there, queued
// from elsewhere (a later main-thread call sees its failure in startFailure).
void startPage(Session& session, int width, int height);
// Loads html into the session's page with a new waiter and returns the wait, all in one
// main-thread turn so that the waiter cannot miss the load's end.
std::shared_future<void> load(Session& session, const std::string& html, const std::filesystem::path& base, bool drawn,
                              double timeout);
std::optional<double> evaluateNumber(Session& session, const std::string& script);
// Script that fixes the layout at a height (a script expression) and keeps the engine from moving
// content across page breaks, so that each printed page is one slice of the page as laid out: the
// engine's own page breaking takes minutes over a long document.
std::string fixLayoutAt(const std::string& height);
// Script that measures the content's height and fixes the layout at it in the same turn of the
// page, which answers with the height; a page higher than collectAbove CSS pixels is collected
// then, before it prints.
std::string measureAndFixScript(std::optional<int> collectAbove = std::nullopt);
std::optional<std::string> evaluateText(Session& session, const std::string& script);
// The page printed on pages of width x height CSS pixels, with blank bands of margin pixels at
// their top and bottom (only pages first..last, counted from 1, when given); throws
// ConversionError when it cannot be printed.
std::string print(Session& session, double width, double height, double margin = 0,
                  std::optional<std::pair<int, int>> pages = std::nullopt);

// Pages first..last (counted from 1) of the page, printed as print prints them; throws
// ConversionError when they cannot be printed or some are missing. The engine answers a range
// wholly past its last page with every page: ask only for pages the page's fixed height gives.
pdf::PageAssembly printRange(Session& session, double width, double height, double margin, int first, int last);

}  // namespace calvoro::DocumentConverter::session
