#include "platform/web/offscreen_page.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>

#include "platform/qt/main_thread.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::testing;
using namespace std::chrono_literals;

namespace {

// A page driven from the test's worker thread; every page call hops to the main thread.
class Page {
public:
    Page() {
        qtmain::runOnMain([this] { page_ = std::make_unique<web::OffscreenPage>(816, 1056); });
    }
    ~Page() {
        qtmain::runOnMain([this] { page_.reset(); });
    }
    bool load(const std::string& html, const std::filesystem::path& base) {
        std::promise<bool> ended;
        auto future = ended.get_future();
        qtmain::runOnMain([&] {
            page_->setLoadEndedHandler([&ended, done = false](bool ok) mutable {
                if (!done) ended.set_value(ok);
                done = true;
            });
            page_->loadHtml(html, base);
        });
        EXPECT_EQ(future.wait_for(30s), std::future_status::ready);
        return future.get();
    }
    bool blankingPending() {
        return qtmain::callOnMain<bool>([this] { return page_->blankingPending(); });
    }
    std::optional<double> number(const std::string& script) {
        std::promise<std::optional<double>> result;
        auto future = result.get_future();
        qtmain::runOnMain([&] { page_->evaluateNumber(script, [&](std::optional<double> v) { result.set_value(v); }); });
        return future.get();
    }

private:
    std::unique_ptr<web::OffscreenPage> page_;
};

const std::string picture = "<svg xmlns='http://www.w3.org/2000/svg' width='37' height='5'><rect width='37' height='5'/></svg>";

}  // namespace

// First in the file, so that the page it makes is normally the readied one.
TEST(OffscreenPage, APageReadiedAheadServesTheFirstLoadAtItsOwnSize) {
    web::warmUp(400, 300);
    web::warmUp(400, 300);  // once only
    TempDir dir;
    Page page;
    ASSERT_TRUE(page.load("<html><body style='margin:0'><div style='height:3000px'></div></body></html>", dir.path()));
    EXPECT_EQ(page.number("window.innerWidth"), 816.0);
    EXPECT_EQ(page.number("window.innerHeight"), 1056.0);
    EXPECT_EQ(page.number("document.documentElement.scrollHeight"), 3000.0);
}

TEST(OffscreenPage, LoadsWithABaseFolderAndEvaluatesScripts) {
    TempDir dir;
    writeFile(dir / "pic.svg", picture);
    Page page;
    ASSERT_TRUE(page.load("<html><body style='margin:0'><img src='pic.svg'><div style='height:2000px'></div></body></html>", dir.path()));
    EXPECT_EQ(page.number("document.images[0].naturalWidth"), 37.0);
    EXPECT_EQ(page.number("window.innerWidth"), 816.0);
    EXPECT_EQ(page.number("Math.max(document.body.scrollHeight, document.documentElement.scrollHeight)"), 2005.0);
    EXPECT_FALSE(page.number("'text'"));
    EXPECT_FALSE(page.number("throw new Error('x')"));
}

TEST(OffscreenPage, LargePagesStillResolveRelativeReferences) {
    TempDir dir;
    writeFile(dir / "pic.svg", picture);
    std::string html = "<!doctype html><html><head><title>t</title></head><body><img src='pic.svg'>";
    while (html.size() < 1200 * 1024) html += "<p>filler paragraph with text &amp; more</p>\n";
    html += "</body></html>";
    Page page;
    ASSERT_TRUE(page.load(html, dir.path()));
    EXPECT_EQ(page.number("document.images[0].naturalWidth"), 37.0);
    EXPECT_GT(*page.number("document.getElementsByTagName('p').length"), 20000.0);
}

TEST(OffscreenPage, NeverReachesTheNetwork) {
    TempDir dir;
    Page page;
    ASSERT_TRUE(page.load("<html><body><img src='http://127.0.0.1:1/x.png' onerror='document.title=\"blocked\"'>"
                          "<img src='https://example.com/y.png'></body></html>", dir.path()));
    // Both images fail at once rather than loading or waiting on a connection.
    EXPECT_EQ(page.number("document.images[0].complete && document.images[1].complete ? 1 : 0"), 1.0);
    EXPECT_EQ(page.number("document.images[1].naturalWidth"), 0.0);
}

TEST(OffscreenPage, EveryNewPageLoadsAfterEarlierOnesAreGone) {
    TempDir dir;
    for (int round = 0; round < 3; ++round) {
        Page page;
        ASSERT_TRUE(page.load("<p>round " + std::to_string(round) + "</p>", dir.path()));
        EXPECT_EQ(page.number("document.body.textContent === 'round " + std::to_string(round) + "' ? 1 : 0"), 1.0);
    }
}

TEST(OffscreenPage, APageTakenBackFromThePoolIsNotBlankedUnderItsNewDocument) {
    TempDir dir;
    { Page first; ASSERT_TRUE(first.load("<p>first</p>", dir.path())); }
    Page second;
    // The blanking that the first page's end set off went with its place in the pool.
    EXPECT_FALSE(second.blankingPending());
    ASSERT_TRUE(second.load("<p>second</p>", dir.path()));
    EXPECT_FALSE(second.blankingPending());
    EXPECT_EQ(second.number("document.body && document.body.textContent === 'second' ? 1 : 0"), 1.0);
}
