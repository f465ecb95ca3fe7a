#include "converters/document/html_to_pdf.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <optional>
#include <thread>

#include "converters/document/document_converter.h"
#include "converters/document/document_fixtures.h"
#include "core/conversion_error.h"
#include "platform/pdf/pdf_document.h"
#include "platform/pdf/page_cover.h"
#include "platform/pdf/pdf_fixture.h"
#include "platform/qt/main_thread.h"
#include "platform/web/offscreen_page.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::testing;
using namespace std::chrono_literals;
namespace DC = calvoro::DocumentConverter;

namespace {

const std::string style =
    "<style>html,body{background:#ffffff !important;color-scheme:only light;color:#1a1a1a;}</style>";

std::string pageSizes(const std::filesystem::path& pdf) {
    std::string sizes;
    const auto info = run("pdfinfo -f 1 -l 99 " + shellQuote(pdf.string())).output;
    for (int i = 1; i < 99; ++i) {
        const auto size = pdfinfoField(info, "Page" + std::string(i < 10 ? "    " : "   ") + std::to_string(i) + " size");
        if (size.empty()) break;
        sizes += (sizes.empty() ? "" : "; ") + size;
    }
    return sizes;
}

std::string tallPage(const std::string& height, const std::string& top, const std::string& bottom) {
    return "<html><head></head><body style='margin:0'><div style='height:" + height + "px;position:relative'>" + top +
           "<div style='position:absolute;bottom:0'>" + bottom + "</div></div></body></html>";
}

}  // namespace

TEST(HTMLToPDF, LightSchemeStyleGoesAfterEveryHeadTagOrWrapsThePage) {
    EXPECT_EQ(DC::detail::forceLightScheme("<HTML><HEAD lang=x><TITLE>t</TITLE></HEAD><body>b</body></HTML>"),
              "<HTML><HEAD lang=x>" + style + "<TITLE>t</TITLE></HEAD><body>b</body></HTML>");
    EXPECT_EQ(DC::detail::forceLightScheme("<p>plain</p>"),
              "<!doctype html><html><head>" + style + "</head><body><p>plain</p></body></html>");
    // The pattern also meets header tags, as it does in the page's own text.
    EXPECT_EQ(DC::detail::forceLightScheme("<head></head><header>h</header>"),
              "<head>" + style + "</head><header>" + style + "h</header>");
    // A tag that never closes is left alone.
    EXPECT_EQ(DC::detail::forceLightScheme("<p>x</p><head"), "<p>x</p><head");
}

TEST(HTMLToPDF, OnlyAPageThatDoesNothingByItselfIsPrintedWithoutBeingDrawn) {
    EXPECT_TRUE(DC::detail::pageIsStill("<html><head><style>p{color:red}</style></head><body><p>Still</p>"
                                        "<img src='a.png' alt='one'><table><tr><td>x</td></tr></table></body></html>"));
    EXPECT_TRUE(DC::detail::pageIsStill("<p>Turn on = off, and only once</p>"));
    for (const std::string lively :
         {"<SCRIPT>x()</SCRIPT>", "<a href='JavaScript:go()'>a</a>", "<iframe src='a.html'></iframe>",
          "<object data='a.swf'></object>", "<video src='a.mp4'></video>", "<canvas></canvas>",
          "<img src='a.png' loading=lazy>", "<style>@keyframes spin{}</style>", "<p style='animation: a 1s'>x</p>",
          "<meta http-equiv='refresh' content='1'>", "<body onload=\"go()\">", "<img src=a.png\nonError = 'x()'>",
          "<svg><animate attributeName='x'/></svg>", "<marquee>m</marquee>"})
        EXPECT_FALSE(DC::detail::pageIsStill("<html><body>" + lively + "</body></html>")) << lively;

    // Handlers are attributes wherever the tokenizer starts one: after a slash or a closing quote too.
    for (const std::string lively : {"<body/onload=\"go()\">", "<img src=\"a.png\"onload=\"go()\">", "<img src='a.png'/onerror=go()>",
                                     "<a href=' JAVASCRIPT:go()'>a</a>", "<svg><animateMotion dur='1s'/></svg>"})
        EXPECT_FALSE(DC::detail::pageIsStill("<html>" + lively + "<p>x</p></html>")) << lively;
    // Words in the text are not marks: only what the page does counts.
    for (const std::string still :
         {"<p>Use &lt;script&gt; and onload=x() with javascript: links; see <code>&lt;iframe&gt;</code>.</p>",
          "<p>The animation module, @keyframes and loading=lazy</p>", "<meta http-equiv='Content-Type' content='text/html; charset=utf-8'>",
          "<p>settings <settle>x</settle> <select><option>o</option></select></p>", "<img src='a.png' loading='eager'>"})
        EXPECT_TRUE(DC::detail::pageIsStill("<html><head><title>t</title></head><body>" + still + "</body></html>")) << still;

    // A page with a script sees itself shown, as before; a still page prints the same text.
    TempDir dir;
    writeFile(dir / "script.html", "<p>State <script>document.write(document.visibilityState)</script></p>");
    DC::renderHTMLToPDFWithWebKit(dir / "script.html", dir / "script.pdf");
    EXPECT_NE(run("pdftotext " + shellQuote((dir / "script.pdf").string()) + " -").output.find("State visible"),
              std::string::npos);
}

TEST(HTMLToPDF, AStillPagePrintsTheSameDrawnOrNot) {
    TempDir dir;
    std::string page = "<!doctype html><html><head><style>td{padding:4px}</style></head><body><h1>Manual</h1>";
    for (int i = 0; i < 60; ++i)
        page += "<p>Section " + std::to_string(i) + " tells the reader what the option does.</p><table border=1><tr><td>cell " +
                std::to_string(i) + "</td><td>value</td></tr></table>";
    writeFile(dir / "still.html", page + "</body></html>");
    ASSERT_TRUE(DC::detail::pageIsStill(page));
    DC::HTMLRenderOptions drawn, notDrawn;
    drawn.drawn = true;
    notDrawn.drawn = false;
    // Though hidden, the page is the program's own work: its renderer keeps the priority of a
    // drawn page's instead of being lowered as a background tab's.
    std::optional<int> drawnPriority, stillPriority;
    auto priorityOf = [](std::optional<int>& priority) {
        return [&priority](web::OffscreenPage& page) {
            const long long pid = qtmain::callOnMain<long long>([&] { return page.rendererProcessId(); });
            ASSERT_GT(pid, 0);
            errno = 0;
            priority = getpriority(PRIO_PROCESS, static_cast<id_t>(pid));
            ASSERT_EQ(errno, 0);
        };
    };
    drawn.beforePrint = priorityOf(drawnPriority);
    notDrawn.beforePrint = priorityOf(stillPriority);
    DC::renderHTMLToPDFWithWebKit(dir / "still.html", dir / "drawn.pdf", drawn);
    DC::renderHTMLToPDFWithWebKit(dir / "still.html", dir / "plain.pdf", notDrawn);
    ASSERT_TRUE(drawnPriority && stillPriority);
    EXPECT_EQ(*stillPriority, *drawnPriority);
    const std::string pages = pdfinfoField(run("pdfinfo " + shellQuote((dir / "drawn.pdf").string())).output, "Pages");
    EXPECT_GT(std::stoi(pages), 1);
    EXPECT_EQ(pdfinfoField(run("pdfinfo " + shellQuote((dir / "plain.pdf").string())).output, "Pages"), pages);
    EXPECT_EQ(pageSizes(dir / "plain.pdf"), pageSizes(dir / "drawn.pdf"));
    const std::string text = run("pdftotext -layout " + shellQuote((dir / "drawn.pdf").string()) + " -").output;
    EXPECT_NE(text.find("Section 59"), std::string::npos);
    EXPECT_EQ(run("pdftotext -layout " + shellQuote((dir / "plain.pdf").string()) + " -").output, text);
}

TEST(HTMLToPDF, CutsThePageIntoLetterSlices) {
    TempDir dir;
    writeFile(dir / "two.html", tallPage("2000", "<p>Opening words</p>", "Closing words"));
    DC::renderHTMLToPDFWithWebKit(dir / "two.html", dir / "two.pdf");
    // 1056 and 944 CSS pixels: 792 and 708 points.
    EXPECT_EQ(pageSizes(dir / "two.pdf"), "612 x 792 pts (letter); 612 x 708 pts");
    EXPECT_NE(run("pdftotext -f 1 -l 1 " + shellQuote((dir / "two.pdf").string()) + " -").output.find("Opening words"),
              std::string::npos);
    EXPECT_NE(run("pdftotext -f 2 -l 2 " + shellQuote((dir / "two.pdf").string()) + " -").output.find("Closing words"),
              std::string::npos);

    // Half a pixel past one page is not worth a slice.
    writeFile(dir / "one.html", tallPage("1056.5", "<p>Only</p>", ""));
    DC::renderHTMLToPDFWithWebKit(dir / "one.html", dir / "one.pdf");
    EXPECT_EQ(pageSizes(dir / "one.pdf"), "612 x 792 pts (letter)");

    // A table cut by the break is cut as shown: its header is not drawn again over its rows.
    std::string rows;
    for (int i = 1; i <= 12; ++i) rows += "<tr><td>row " + std::to_string(i) + "</td></tr>";
    writeFile(dir / "table.html", "<html><head></head><body style='margin:0'><div style='height:900px'></div>"
                                  "<table style='border-collapse:collapse'><thead><tr><th>Heading</th></tr></thead><tbody>" +
                                      rows + "</tbody></table></body></html>");
    DC::renderHTMLToPDFWithWebKit(dir / "table.html", dir / "table.pdf");
    EXPECT_NE(pageSizes(dir / "table.pdf").find("; "), std::string::npos);
    const std::string text = run("pdftotext " + shellQuote((dir / "table.pdf").string()) + " -").output;
    EXPECT_EQ(text.find("Heading"), text.rfind("Heading")) << text;
    EXPECT_NE(text.find("row 12"), std::string::npos) << text;
}

TEST(HTMLToPDF, ALongStillPagePrintedInPiecesGivesTheSamePagesAsInOnePiece) {
    TempDir dir;
    // Headings, tables and paragraphs with margins of their own or of their first child, lines cut
    // by page breaks, one block longer than a page, links to anchors far down; about ten pages.
    std::string body = "<p><a href='#last'>To the end</a> <a href='#t20'>To a table</a></p>";
    for (int i = 1; i <= 40; ++i) {
        if (i % 10 == 1) body += "<h1" + std::string(i == 31 ? " id='last'" : "") + ">Chapter " + std::to_string(i / 10 + 1) + "</h1>";
        std::string words;
        for (int w = 0; w < (i == 17 ? 600 : 60); ++w) words += " word" + std::to_string(i) + "x" + std::to_string(w);
        const std::string paragraph = "<p style='margin-top:" + std::to_string(i % 3 * 9) + "px'>Paragraph " + std::to_string(i) + words + "</p>";
        body += i % 10 == 0 ? "<table id='t" + std::to_string(i) + "' border='1'><tr><td>Cell " + std::to_string(i) + "</td><td>" + words +
                                  "</td></tr></table>"
                            : (i % 2 == 0 ? "<div>" + paragraph + "</div>" : paragraph);
    }
    const std::string page = "<html><head><style>body{font-size:15px}</style></head><body>\n" + body + "\n</body></html>";
    ASSERT_TRUE(DC::detail::layoutIsLocal(page));
    writeFile(dir / "long.html", page);
    DC::renderHTMLToPDFWithWebKit(dir / "long.html", dir / "whole.pdf");
    DC::HTMLRenderOptions options;
    options.pieceBytes = 3000;
    DC::renderHTMLToPDFWithWebKit(dir / "long.html", dir / "pieces.pdf", options);
    const std::string pieces = shellQuote((dir / "pieces.pdf").string()), whole = shellQuote((dir / "whole.pdf").string());
    const std::string pages = pdfinfoField(run("pdfinfo " + whole).output, "Pages");
    EXPECT_GE(std::stoi(pages), 8);
    EXPECT_EQ(pdfinfoField(run("pdfinfo " + pieces).output, "Pages"), pages);
    EXPECT_EQ(pageSizes(dir / "pieces.pdf"), pageSizes(dir / "whole.pdf"));
    EXPECT_EQ(run("pdftotext " + pieces + " -").output, run("pdftotext " + whole + " -").output);
    EXPECT_EQ(run("pdfinfo -dests " + pieces).output, run("pdfinfo -dests " + whole).output);
    // (Each piece embeds its own subset of the fonts, whose glyphs may be drawn a shade apart.)
    for (int p = 1; p <= std::stoi(pages); ++p) {
        const std::string range = " -f " + std::to_string(p) + " -l " + std::to_string(p) + " ";
        const std::string ours = run("pdftoppm -r 20 -gray" + range + pieces).output, theirs = run("pdftoppm -r 20 -gray" + range + whole).output;
        ASSERT_EQ(ours.size(), theirs.size());
        double difference = 0;
        for (size_t i = 0; i < ours.size(); ++i) difference += std::abs(static_cast<uint8_t>(ours[i]) - static_cast<uint8_t>(theirs[i]));
        EXPECT_LT(difference / ours.size(), 2.0) << "page " << p;
    }

    // What a piece cannot lay out as the whole page does keeps the page whole.
    for (const char* unsafe : {"<style>p:first-child{color:red}</style>", "<style>h1 + p{margin:0}</style>",
                               "<style>img{float:left}</style>", "<div style='position:absolute'>", "<link rel=stylesheet href=a.css>",
                               "<style>body{display:flex}</style>", "<style>li::before{content:counter(x)}</style>"})
        EXPECT_FALSE(DC::detail::layoutIsLocal(std::string("<html><head></head><body>") + unsafe + "<p>x</p></body></html>")) << unsafe;
}

TEST(HTMLToPDF, APrintedPageShowsItsOpaqueBackgroundInItsContentSoTheCheckNeedNotRenderIt) {
    TempDir dir;
    // Light, dark, a page that asks for no background at all, and a short page cut to its content.
    const std::vector<std::pair<std::string, std::string>> pages = {
        {"light", tallPage("2000", "<p>Light</p>", "")},
        {"dark", "<html><head><style>html{background:#102030 !important}</style></head><body><p>Dark</p></body></html>"},
        {"clear", "<html><head><style>html,body{background:transparent !important}</style></head><body>x</body></html>"},
        {"short", tallPage("300", "<p>Short</p>", "")},
    };
    for (const auto& [name, html] : pages) {
        writeFile(dir / (name + ".html"), html);
        DC::renderHTMLToPDFWithWebKit(dir / (name + ".html"), dir / (name + ".pdf"));
        EXPECT_TRUE(pdf::pageIsOpaquelyCovered(dir / (name + ".pdf"), 0)) << name;
    }
}

TEST(HTMLToPDF, InternalLinksKeepTheirTargets) {
    TempDir dir;
    writeFile(dir / "linked.html", "<html><head></head><body style='margin:0'><a href='#far'>Jump</a>"
                                   "<div style='height:2500px'></div><h2 id='far'>Far away</h2></body></html>");
    DC::renderHTMLToPDFWithWebKit(dir / "linked.html", dir / "linked.pdf");
    // The anchor lies 2500 CSS pixels down: on the third page.
    const std::string dests = run("pdfinfo -dests " + shellQuote((dir / "linked.pdf").string())).output;
    const size_t at = dests.find("\"far\"");
    ASSERT_NE(at, std::string::npos) << dests;
    const size_t line = dests.rfind('\n', at) + 1;
    EXPECT_EQ(std::stoi(dests.substr(line, at - line)), 3) << dests;
}

TEST(HTMLToPDF, RelativeReferencesResolveBesideTheSourceAndColoursStayLight) {
    TempDir dir;
    writeFile(dir / "box.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='200'>"
                               "<rect width='200' height='200' fill='#00ff00'/></svg>");
    // Another file's text never reaches the print, through a frame, an object, a script or the
    // page going to it, whether it lies beside the page or anywhere else.
    writeFile(dir / "secret.txt", "secret words");
    const std::string secret = "file://" + (dir / "secret.txt").string();
    writeFile(dir / "page.html",
              "<html><head><style>@media (prefers-color-scheme: dark){body{background:#000;color:#fff}}"
              "body{background:#000}</style></head><body style='margin:0'><img src='box.svg'>"
              "<iframe src='" + secret + "'></iframe><object data='secret.txt' type='text/plain'></object>"
              "<script>var r=new XMLHttpRequest();try{r.open('GET','" + secret + "',false);r.send();"
              "document.write('<p>'+r.responseText+'</p>')}catch(e){}</script></body></html>");
    writeFile(dir / "moving.html", "<html><head><meta http-equiv='refresh' content='0;url=secret.txt'></head>"
                                   "<body><p>stays</p><script>location.href='" + secret + "'</script></body></html>");
    DC::renderHTMLToPDFWithWebKit(dir / "moving.html", dir / "moving.pdf");
    auto moving = pdf::Document::open(dir / "moving.pdf");
    ASSERT_TRUE(moving);
    EXPECT_EQ(moving->pageText(0).find("secret"), std::string::npos);
    DC::renderHTMLToPDFWithWebKit(dir / "page.html", dir / "page.pdf");
    auto doc = pdf::Document::open(dir / "page.pdf");
    ASSERT_TRUE(doc);
    ASSERT_EQ(doc->pageCount(), 1);
    EXPECT_EQ(doc->pageText(0).find("secret"), std::string::npos);
    auto image = doc->render(0, 816, 1056, true);
    const uint8_t* box = image.row(100) + 100 * 4;
    EXPECT_LT(box[0], 30);
    EXPECT_GT(box[1], 220);
    const uint8_t* background = image.row(800) + 600 * 4;
    EXPECT_EQ(background[0], 255);
    EXPECT_EQ(background[1], 255);
    EXPECT_EQ(background[2], 255);
    EXPECT_EQ(background[3], 255);
}

TEST(HTMLToPDF, StopsBeyondTenThousandPagesWithoutWriting) {
    TempDir dir;
    writeFile(dir / "endless.html", tallPage(std::to_string(1056 * 10000 + 50), "<p>start</p>", "end"));
    try {
        DC::renderHTMLToPDFWithWebKit(dir / "endless.html", dir / "endless.pdf");
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::corruptFile);
        EXPECT_STREQ(error.what(),
                     "File appears corrupt: This document is too long to convert to PDF (over 10,000 pages).");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "endless.pdf"));
}

TEST(HTMLToPDF, ALoadThatNeverEndsStillGivesAPdfAfterTheTimeOut) {
    TempDir dir;
    // Reading a pipe that nobody writes to blocks: the page's navigation never ends.
    ASSERT_EQ(mkfifo((dir / "stuck.css").c_str(), 0600), 0);
    writeFile(dir / "stuck.html", "<html><head><link rel='stylesheet' href='stuck.css'></head>"
                                  "<body><p>Shown anyway</p></body></html>");
    DC::HTMLRenderOptions options;
    options.loadTimeout = 0.5;
    DC::renderHTMLToPDFWithWebKit(dir / "stuck.html", dir / "stuck.pdf", options);
    EXPECT_NE(run("pdftotext " + shellQuote((dir / "stuck.pdf").string()) + " -").output.find("Shown anyway"),
              std::string::npos);
    // Let the engine's reader go.
    const int fd = open((dir / "stuck.css").c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) close(fd);
}

TEST(HTMLToPDF, LoadWaiterEndsOnceOnFirstOfLoadOrTimeOut) {
    std::shared_future<void> timedOut, loaded, again;
    std::unique_ptr<DC::WebKitLoadWaiter> idle, busy;
    qtmain::runOnMain([&] {
        idle = std::make_unique<DC::WebKitLoadWaiter>();
        timedOut = idle->waitForLoad(0.05);
        busy = std::make_unique<DC::WebKitLoadWaiter>();
        loaded = busy->waitForLoad(1000);
        busy->didFailProvisionalNavigation();
        busy->didFinish();  // a finished waiter ignores later callbacks
        again = busy->waitForLoad(1000);
    });
    EXPECT_EQ(loaded.wait_for(0s), std::future_status::ready);
    EXPECT_EQ(again.wait_for(0s), std::future_status::ready);
    EXPECT_EQ(timedOut.wait_for(30s), std::future_status::ready);
    qtmain::runOnMain([&] {
        EXPECT_TRUE(idle->isFinished());
        idle->didFail();
        idle.reset();
        busy.reset();
    });
}

TEST(HTMLToPDF, HtmlStringToPdfLeavesNoTemporaryFile) {
    ScopedTemporaryFolder temp;
    TempDir dir;
    DC::htmlStringToPDF("<table><tr><td>Cell text</td></tr></table>", dir / "table.pdf");
    EXPECT_NE(run("pdftotext " + shellQuote((dir / "table.pdf").string()) + " -").output.find("Cell text"),
              std::string::npos);
    EXPECT_EQ(countTemporaryItems("Calvoro_"), 0);
    EXPECT_THROW(DC::htmlStringToPDF("<p>x</p>", dir / "missing" / "x.pdf"), ConversionError);
    EXPECT_EQ(countTemporaryItems("Calvoro_"), 0);
}

TEST(HTMLToPDF, ARelativeTemporaryFolderStillGivesThePageNotAnErrorPage) {
    ScopedTemporaryFolder restored;
    TempDir dir;
    // A file URL cannot be relative: the page would be the engine's "file couldn't be accessed".
    setenv("TMPDIR", "relative-temporary-folder", 1);
    writeFile(dir / "page.html", "<p>The page itself</p>");
    DC::renderHTMLToPDFWithWebKit(dir / "page.html", dir / "page.pdf");
    EXPECT_NE(run("pdftotext " + shellQuote((dir / "page.pdf").string()) + " -").output.find("The page itself"),
              std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("relative-temporary-folder"));
}

TEST(HTMLToPDF, AnUnreadableSourceFailsAsItsReaderDoesAndTheNextPageStillRenders) {
    ScopedTemporaryFolder temp;
    TempDir dir;
    // Latin-1 and the other fallbacks take almost anything: only a missing file fails to read.
    std::string expected;
    try {
        DC::readTextFile(dir / "missing.html");
    } catch (const ConversionError& error) {
        expected = error.what();
    }
    ASSERT_FALSE(expected.empty());
    try {
        DC::renderHTMLToPDFWithWebKit(dir / "missing.html", dir / "missing.pdf");
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.what(), expected);
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "missing.pdf"));
    EXPECT_EQ(countTemporaryItems("Calvoro_"), 0);
    // The page started while the file was being read went back to the engine in order.
    writeFile(dir / "after.html", "<p>Rendered after a failure</p>");
    DC::renderHTMLToPDFWithWebKit(dir / "after.html", dir / "after.pdf");
    EXPECT_NE(run("pdftotext " + shellQuote((dir / "after.pdf").string()) + " -").output.find("Rendered after a failure"),
              std::string::npos);
}

TEST(HTMLToPDF, APageWhoseRendererHasGoneFailsToPrintAndLeavesNoOutput) {
    TempDir dir;
    writeFile(dir / "long.html", tallPage("5000", "<p>First</p>", "Last"));
    DC::HTMLRenderOptions options;
    options.beforePrint = [](web::OffscreenPage& page) {
        const long long pid = qtmain::callOnMain<long long>([&] { return page.rendererProcessId(); });
        ASSERT_GT(pid, 0);
        kill(static_cast<pid_t>(pid), SIGKILL);
        // Printing starts once the engine has seen it go.
        for (int i = 0; i < 3000 && qtmain::callOnMain<bool>([&] { return page.rendererRunning(); }); ++i)
            std::this_thread::sleep_for(10ms);
    };
    try {
        DC::renderHTMLToPDFWithWebKit(dir / "long.html", dir / "long.pdf", options);
        FAIL() << "no error";
    } catch (const ConversionError& error) {
        EXPECT_EQ(error.kind(), ConversionError::Kind::exportSessionFailed);
        EXPECT_STREQ(error.what(), "Export failed: HTML to PDF: the page could not be printed");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "long.pdf"));
    // The page goes back to the pool and serves the next rendering with a new renderer.
    DC::renderHTMLToPDFWithWebKit(dir / "long.html", dir / "again.pdf");
    EXPECT_EQ(pdfinfoField(run("pdfinfo " + shellQuote((dir / "again.pdf").string())).output, "Pages"), "5");
    EXPECT_NE(run("pdftotext -f 5 -l 5 " + shellQuote((dir / "again.pdf").string()) + " -").output.find("Last"),
              std::string::npos);
}
