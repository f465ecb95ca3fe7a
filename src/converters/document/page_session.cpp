#include "converters/document/page_session.h"

#include "core/conversion_error.h"

namespace calvoro::DocumentConverter::session {

void startPage(Session& session, int width, int height) {
    auto start = [started = &session, width, height] {
        try {
            started->page = std::make_unique<web::OffscreenPage>(width, height);
        } catch (...) {
            started->startFailure = std::current_exception();
        }
    };
    if (qtmain::isMainThread()) {
        start();
    } else {
        qtmain::postToMain(start);
    }
}

std::shared_future<void> load(Session& session, const std::string& html, const std::filesystem::path& base, bool drawn,
                              double timeout) {
    std::shared_future<void> loaded;
    qtmain::runOnMain([&] {
        if (session.startFailure) std::rethrow_exception(session.startFailure);
        session.waiter = std::make_unique<WebKitLoadWaiter>();
        session.page->setLoadEndedHandler([waiter = session.waiter.get()](bool finished) {
            if (finished) {
                waiter->didFinish();
            } else {
                waiter->didFail();
            }
        });
        session.page->loadHtml(html, base, drawn);
        loaded = session.waiter->waitForLoad(timeout);
    });
    return loaded;
}

namespace {

template <typename T, typename Evaluate>
std::optional<T> evaluate(Session& session, const std::string& script, Evaluate evaluateOnPage) {
    auto reply = std::make_shared<Reply<std::optional<T>>>();
    auto future = reply->promise.get_future();
    qtmain::runOnMain([&] {
        (session.page.get()->*evaluateOnPage)(script, [reply](std::optional<T> value) { reply->deliver(std::move(value)); });
    });
    if (!await(future, scriptWaitLimit)) return std::nullopt;
    return future.get();
}

}  // namespace

std::string fixLayoutAt(const std::string& height) {
    return "var s=document.documentElement.style;s.setProperty('box-sizing','border-box','important');"
           "s.setProperty('height'," + height + "+'px','important');"
           "s.setProperty('contain','size layout','important');";
}

std::string measureAndFixScript(std::optional<int> collectAbove) {
    std::string script = "(function(){var h=Math.max(document.body ? document.body.scrollHeight : 0, "
                         "document.documentElement.scrollHeight);" + fixLayoutAt("h");
    if (collectAbove)
        script += "if(h>" + std::to_string(*collectAbove) +
                  "&&typeof gc==='function'){void document.documentElement.offsetHeight;gc();}";
    return script + "return h;})()";
}

std::optional<double> evaluateNumber(Session& session, const std::string& script) {
    return evaluate<double>(session, script, &web::OffscreenPage::evaluateNumber);
}

std::optional<std::string> evaluateText(Session& session, const std::string& script) {
    return evaluate<std::string>(session, script, &web::OffscreenPage::evaluateText);
}

std::string print(Session& session, double width, double height, double margin, std::optional<std::pair<int, int>> pages) {
    auto reply = std::make_shared<Reply<std::optional<std::string>>>();
    auto printed = reply->promise.get_future();
    qtmain::runOnMain([&] {
        session.page->printToPdf(width, height, margin,
                                 [reply](std::optional<std::string> bytes) { reply->deliver(std::move(bytes)); }, pages);
    });
    if (!await(printed, printWaitLimit))
        throw ConversionError::exportSessionFailed("HTML to PDF: the page did not finish printing");
    std::optional<std::string> bytes = printed.get();
    if (!bytes) throw ConversionError::exportSessionFailed("HTML to PDF: the page could not be printed");
    return std::move(*bytes);
}

pdf::PageAssembly printRange(Session& session, double width, double height, double margin, int first, int last) {
    auto pages = pdf::PageAssembly::openBytes(print(session, width, height, margin, std::make_pair(first, last)));
    if (!pages || pages->pageCount() != last - first + 1)
        throw ConversionError::exportSessionFailed("HTML to PDF: the page could not be printed");
    return std::move(*pages);
}

}  // namespace calvoro::DocumentConverter::session
