#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>

#include "converters/document/text_to_pdf.h"
#include "core/cancellation.h"

namespace calvoro::web {
class OffscreenPage;
class SingleShotTimer;
}

namespace calvoro::DocumentConverter {

// Turns a web page's navigation callbacks into one awaitable event with a time-out.
// Lives on the Qt main thread: create it, wait on it and feed it callbacks there; any
// thread may wait on the future it hands out.
class WebKitLoadWaiter {
public:
    static constexpr double defaultTimeout = 12.0;  // seconds

    WebKitLoadWaiter();
    ~WebKitLoadWaiter();
    WebKitLoadWaiter(const WebKitLoadWaiter&) = delete;
    WebKitLoadWaiter& operator=(const WebKitLoadWaiter&) = delete;

    // Ready when the navigation ends or timeoutSeconds pass, whichever comes first; at once
    // when the wait has already ended.
    std::shared_future<void> waitForLoad(double timeoutSeconds);
    bool isFinished() const { return finished_; }

    // Navigation callbacks; the first one, or the time-out, ends the wait.
    void didFinish() { resume(); }
    void didFail() { resume(); }
    void didFailProvisionalNavigation() { resume(); }

private:
    void resume();

    std::optional<std::promise<void>> continuation_;
    std::shared_future<void> future_;
    bool finished_ = false;
    std::unique_ptr<web::SingleShotTimer> timeoutTask_;
};

// A longer page that lays out the same in pieces is printed in pieces of about this many bytes.
inline constexpr size_t htmlPieceBytes = 500'000;

struct HTMLRenderOptions {
    double loadTimeout = WebKitLoadWaiter::defaultTimeout;  // seconds
    CancellationToken cancellation;
    // For tests: runs on the calling thread just before the page is sent to print.
    std::function<void(web::OffscreenPage& page)> beforePrint;
    // For tests: whether the page is drawn while it loads (by default, unless it is still).
    std::optional<bool> drawn;
    // For tests: the bytes of HTML, about, of a piece of a longer page (see pieces::print).
    size_t pieceBytes = htmlPieceBytes;
};

// Renders an HTML file (relative references resolve beside it) in an 816 x 1056 CSS-pixel
// viewport with a forced light scheme and writes the page, cut into US Letter slices, as
// PDF. Callable from any thread; the page itself lives on the Qt main thread.
void renderHTMLToPDFWithWebKit(const std::filesystem::path& source, const std::filesystem::path& output,
                               const HTMLRenderOptions& options = {});

// Renders HTML text exactly as renderHTMLToPDFWithWebKit renders a file holding it (relative
// references resolve in a private work folder, empty but for the page); reserves no name, logs
// nothing and leaves no temporary file behind, even when the run is killed (the next start's
// sweep clears its work folder).
void htmlStringToPDF(const std::string& html, const std::filesystem::path& output);

// Readies the web engine and a page for the first rendering (see web::warmUp), for a program
// that knows it is about to render HTML; once the application object exists.
void prepareHTMLRendering();

namespace detail {
// The light-mode style element placed after every head tag, or the wrapper around a page
// without one.
std::string forceLightScheme(const std::string& html);
// Whether the page has nothing that could change it after it loads (scripts, frames, plug-ins,
// media, lazy images, animations, refreshes, event handlers), so that it prints the same
// without being drawn.
bool pageIsStill(const std::string& html);
// Whether each of the page's top-level elements lays out the same whatever elements stand before
// and after it, so that the page may be printed in pieces: no selectors of an element's place
// among its siblings, no floats, positioning, counters, flexible boxes, grids or columns, no
// first-line styles, outside style sheets or references within the page.
bool layoutIsLocal(const std::string& html);
}  // namespace detail

}  // namespace calvoro::DocumentConverter
