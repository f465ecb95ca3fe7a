#include "converters/document/html_to_pdf.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <exception>
#include <set>
#include <string_view>
#include <thread>
#include <vector>

#include "converters/document/document_converter.h"
#include "converters/document/document_files.h"
#include "converters/document/page_pieces.h"
#include "converters/document/page_session.h"
#include "core/conversion_error.h"
#include "core/text_util.h"
#include "core/work_folder.h"
#include "platform/pdf/page_assembly.h"
#include "platform/qt/main_thread.h"
#include "platform/web/html_nesting.h"
#include "platform/web/html_tree.h"
#include "platform/web/offscreen_page.h"
#include "platform/web/single_shot_timer.h"
#include "platform/web/web_engine.h"

namespace calvoro::DocumentConverter {
namespace {

// The engine breaks every open block at every page break: a page nested hundreds deep with a
// long text takes minutes. No page a person reads nests deeper than this.
constexpr size_t printedNesting = 100;

constexpr int viewWidth = 816;    // CSS pixels: US Letter at 96 per inch
constexpr double sliceHeight = 1056;
// The most a page that does not yet report itself loaded is given before it is measured anyway.
constexpr auto settleLimit = std::chrono::milliseconds(80);
constexpr auto settlePoll = std::chrono::milliseconds(5);
constexpr const char* lightModeStyle =
    "<style>html,body{background:#ffffff !important;color-scheme:only light;color:#1a1a1a;}</style>";
// A page longer than this many slices is collected once laid out at its fixed height: printing
// lays the whole page out again, and then reuses what loading left behind instead of growing by
// it (10 MB pages print in a sixth to a quarter less memory). A shorter page gains too little
// for the collection's milliseconds.
constexpr int collectedFromSlices = 100;
// Measures the content's height and fixes the layout at it, collecting a long page.
const std::string measureAndFixScript =
    session::measureAndFixScript(collectedFromSlices * static_cast<int>(sliceHeight));
// Whether the document is complete and its fonts are in.
constexpr const char* settledCondition =
    "(document.readyState === 'complete' && (!document.fonts || document.fonts.status === 'loaded'))";
// The measure once the page has settled; -1, changing nothing, while not.
const std::string settledMeasureAndFixScript = std::string("(") + settledCondition + " ? " + measureAndFixScript + " : -1)";
// 1 once the page has settled, -1 while not.
const std::string settledScript = std::string("(") + settledCondition + " ? 1 : -1)";
// What in a page can change it by itself after it loads, or load it late: scripts, frames,
// plug-ins, media, animations. A page with none of them (nor handlers, lazy images, script
// links or refreshes) prints the same whether or not it is drawn while it loads.
const std::set<std::string> livelyElements{"script", "iframe", "frame", "frameset", "object", "embed", "applet", "video", "audio",
                                           "canvas", "marquee", "animate", "animatemotion", "animatetransform", "animatecolor", "set"};
using session::Session;
using session::SessionGuard;
using session::evaluateNumber;

// Heights of the slices to capture: whole pages, the last only as high as what remains,
// none of 1 pixel or less. Nothing when there would be more than the page limit.
std::optional<std::vector<double>> sliceHeights(double height) {
    const double slices = std::max(std::ceil(height / sliceHeight), 1.0);
    if (!(slices <= pdfPageLimit + 1)) return std::nullopt;
    std::vector<double> out;
    for (int i = 0; i < static_cast<int>(slices); ++i) {
        const double h = std::min(height - i * sliceHeight, sliceHeight);
        if (h <= 1.0) break;
        out.push_back(h);
    }
    if (out.size() > static_cast<size_t>(pdfPageLimit)) return std::nullopt;
    return out;
}

// Waits for a load to end. One that fails or times out is no error: what the page shows by then
// is printed.
void awaitLoad(const std::shared_future<void>& loaded, const HTMLRenderOptions& options) {
    session::await(loaded, (std::isfinite(options.loadTimeout) ? std::clamp(options.loadTimeout, 0.0, 86400.0) : 86400.0) + 60);
}

// The script's answer (-1 while the document is not complete with its fonts in) once the page
// has settled; a page still busy gets a little longer, then the last answer is taken.
std::optional<double> onceSettled(Session& session, const std::string& script) {
    std::optional<double> answer;
    for (const auto until = std::chrono::steady_clock::now() + settleLimit;;) {
        answer = evaluateNumber(session, script);
        if (!answer || *answer >= 0 || std::chrono::steady_clock::now() >= until) break;
        std::this_thread::sleep_for(settlePoll);
    }
    return answer;
}

// Takes a print's pages, the first of them slice `first` of the whole, as far as the slices go
// when they are known, the last cut to its height.
void takeSlices(pdf::PageAssembly& document, const pdf::PageAssembly& pages, size_t first, const std::vector<double>* slices) {
    for (int i = 0; i < pages.pageCount(); ++i) {
        const size_t at = first + static_cast<size_t>(i);
        if (slices && at >= slices->size()) break;
        document.insertPage(pages, i, document.pageCount());
        if (slices && (*slices)[at] < sliceHeight) document.cropToStrip(document.pageCount() - 1, 0, (*slices)[at] * 0.75);
    }
    // The page's own links to its anchors keep their targets.
    document.carryNamedDestinations(pages);
}

// Loads a piece of a page that does nothing by itself and waits, a little at most, for its fonts.
void loadPiece(Session& session, const std::string& html, const std::filesystem::path& base, const HTMLRenderOptions& options) {
    options.cancellation.throwIfCancelled();
    awaitLoad(session::load(session, html, base, false, options.loadTimeout), options);
    onceSettled(session, settledScript);
}

// The page printed a piece at a time into output; false, with nothing written, when it cannot
// be printed in pieces.
bool printInPieces(Session& session, const std::string& html, const pieces::Body& body, const std::filesystem::path& base,
                   const HTMLRenderOptions& options, const std::filesystem::path& output) {
    auto document = pdf::PageAssembly::empty();
    std::optional<std::vector<double>> slices;
    const pieces::Printing printing{
        viewWidth, sliceHeight, options.pieceBytes,
        [&](const std::string& piece) { loadPiece(session, piece, base, options); },
        [&](const pdf::PageAssembly& pages, int first, std::optional<double> height) {
            if (height && !(slices = sliceHeights(std::isfinite(*height) ? *height : sliceHeight)))
                throw ConversionError::corruptFile(documentTooLongMessage);
            takeSlices(document, pages, static_cast<size_t>(first - 1), slices ? &*slices : nullptr);
        }};
    if (pieces::print(session, html, body, printing) != pieces::Outcome::printed) return false;
    options.cancellation.throwIfCancelled();
    if (document.pageCount() == 0 || !document.write(output)) throw ConversionError::failedToCreateOutput();
    return true;
}

}  // namespace

namespace detail {

bool layoutIsLocal(const std::string& html) {
    const std::string lower = asciiLowercased(html);
    static const char* const unsafe[] = {"-child", "-of-type", "nth-", ":has", "float", "position", "counter", "column",
                                         "flex", "grid", "first-l", "writing-mode", "@import", "<link", "<svg", "<use",
                                         "url(#", "usemap", "<iframe", "<frame", "<object"};
    for (const char* token : unsafe)
        if (lower.find(token) != std::string::npos) return false;
    // Sibling combinators, in the style sheets.
    for (size_t at = lower.find("<style"); at != std::string::npos; at = lower.find("<style", at + 1)) {
        const size_t end = lower.find("</style", at);
        if (lower.find_first_of("+~", at) < end) return false;
        if (end == std::string::npos) break;
    }
    return true;
}

bool pageIsStill(const std::string& html) {
    auto lower = [](std::string_view v) { return asciiLowercased(std::string(v)); };
    auto animates = [&](std::string_view css) {
        const std::string l = lower(css);
        return l.find("animation") != std::string::npos || l.find("@keyframes") != std::string::npos;
    };
    // The tree as the engine will build it: attributes are what its tokenizer reads, whether
    // blank space, a slash or a quote stands before them.
    const web::html::Document document(html);
    std::vector<const GumboNode*> stack{&document.root()};
    while (!stack.empty()) {
        const GumboNode& node = *stack.back();
        stack.pop_back();
        if (!web::html::isElement(node)) continue;
        const std::string name = web::html::tagName(node);
        if (livelyElements.count(name)) return false;
        for (const GumboAttribute* a : web::html::attributes(node)) {
            const std::string attribute = lower(a->name);
            const std::string value = lower(a->value);
            if (attribute.size() > 2 && attribute.rfind("on", 0) == 0) return false;
            if (attribute == "loading" && value.find("lazy") != std::string::npos) return false;
            if (attribute == "http-equiv" && value.find("refresh") != std::string::npos) return false;
            if (attribute == "style" && animates(value)) return false;
            if (value.find("javascript:") != std::string::npos) return false;
        }
        for (const GumboNode* child : web::html::children(node)) {
            if (name == "style" && child->type == GUMBO_NODE_TEXT && animates(web::html::text(*child))) return false;
            stack.push_back(child);
        }
    }
    return true;
}

}  // namespace detail

WebKitLoadWaiter::WebKitLoadWaiter() = default;
WebKitLoadWaiter::~WebKitLoadWaiter() = default;

std::shared_future<void> WebKitLoadWaiter::waitForLoad(double timeoutSeconds) {
    if (finished_ || continuation_) {
        if (!future_.valid()) {
            std::promise<void> done;
            done.set_value();
            future_ = done.get_future().share();
        }
        return future_;
    }
    continuation_.emplace();
    future_ = continuation_->get_future().share();
    timeoutTask_ = std::make_unique<web::SingleShotTimer>(timeoutSeconds, [this] { resume(); });
    return future_;
}

void WebKitLoadWaiter::resume() {
    if (finished_) return;
    finished_ = true;
    if (timeoutTask_) {
        timeoutTask_->cancel();
        // Not destroyed here: resume may be running inside the timer's own callback.
        qtmain::postToMain([task = std::shared_ptr<web::SingleShotTimer>(std::move(timeoutTask_))] {});
    }
    if (continuation_) continuation_->set_value();
    continuation_.reset();
}

namespace detail {

std::string forceLightScheme(const std::string& html) {
    const std::string lower = asciiLowercased(html);
    if (lower.find("<head") == std::string::npos)
        return std::string("<!doctype html><html><head>") + lightModeStyle + "</head><body>" + html + "</body></html>";
    // Every "<head[^>]*>", in any letter case, gets the style right after it.
    std::string out;
    out.reserve(html.size() + 256);
    size_t from = 0;
    for (size_t at = lower.find("<head"); at != std::string::npos; at = lower.find("<head", from)) {
        const size_t end = html.find('>', at + 5);
        if (end == std::string::npos) break;
        out.append(html, from, end + 1 - from);
        out += lightModeStyle;
        from = end + 1;
    }
    out.append(html, from, std::string::npos);
    return out;
}

}  // namespace detail

void renderHTMLToPDFWithWebKit(const std::filesystem::path& source, const std::filesystem::path& output,
                               const HTMLRenderOptions& options) {
    SessionGuard session;
    // The engine starts its page on the main thread while this thread reads the file; the
    // load below is queued behind it, and so is the session's end if reading fails.
    session::startPage(*session, viewWidth, static_cast<int>(sliceHeight));
    const std::string html = web::html::boundedNesting(detail::forceLightScheme(readTextFile(source)), printedNesting);
    const std::filesystem::path base = std::filesystem::absolute(source).parent_path();
    // A page that does nothing by itself is laid out and printed without being drawn; telling
    // so takes a parse, which this thread does while the engine starts.
    const bool drawn = options.drawn.value_or(!detail::pageIsStill(html));
    // A long page that does nothing by itself and lays out the same in pieces is printed in
    // pieces, so that the renderer never holds more than one.
    if (!drawn && !options.beforePrint && html.size() > options.pieceBytes && detail::layoutIsLocal(html))
        if (const auto body = pieces::topLevelElements(html); body && printInPieces(*session, html, *body, base, options, output))
            return;

    awaitLoad(session::load(*session, html, base, drawn, options.loadTimeout), options);
    // A page that says it is complete, fonts included, is measured at once.
    std::optional<double> measured = onceSettled(*session, settledMeasureAndFixScript);
    if (measured && *measured < 0) measured = evaluateNumber(*session, measureAndFixScript);
    const double height = measured.value_or(sliceHeight);
    // A page that could not be measured is printed one slice high.
    if (!measured) evaluateNumber(*session, "(function(){" + session::fixLayoutAt(formatC("%.3f", height)) + "return 1;})()");
    const auto slices = sliceHeights(std::isfinite(height) ? height : sliceHeight);
    if (!slices) throw ConversionError::corruptFile(documentTooLongMessage);
    options.cancellation.throwIfCancelled();

    if (options.beforePrint) options.beforePrint(*session->page);
    std::string bytes = session::print(*session, viewWidth, sliceHeight);
    options.cancellation.throwIfCancelled();

    auto document = pdf::PageAssembly::empty();
    if (auto pages = pdf::PageAssembly::openBytes(std::move(bytes))) takeSlices(document, *pages, 0, &*slices);
    if (document.pageCount() == 0 || !document.write(output)) throw ConversionError::failedToCreateOutput();
}

void prepareHTMLRendering() { web::warmUp(viewWidth, static_cast<int>(sliceHeight)); }

void htmlStringToPDF(const std::string& html, const std::filesystem::path& output) {
    // In a work folder, so that a killed run leaves nothing the next run does not sweep away.
    std::optional<WorkFolder> folder;
    try {
        folder.emplace(WorkFolder::temporaryDirectory());
    } catch (const std::filesystem::filesystem_error&) {
        throw ConversionError::failedToCreateOutput();
    }
    const std::filesystem::path temp = folder->path() / "page.html";
    files::writeAtomically(temp, html);
    renderHTMLToPDFWithWebKit(temp, output);
}

}  // namespace calvoro::DocumentConverter
