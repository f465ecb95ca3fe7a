// Drives the window, with the console, on the offscreen platform and times its frames.
//   window_bench memory <folder>          every file of <folder> in the list, the window drawn and
//                                         scrolled to the end: peak resident memory in MB
//   window_bench frames <folder>          scrolling the list and typing a search over it: frame
//                                         times at the 95th percentile in ms; the settings popover:
//                                         first and median time to its first frame in ms
//   window_bench typing <folder>          only the search, as typed in frames: for profiling it
//   window_bench batch <sources> <out>    converting every file of <sources> with the window up:
//                                         frame time at the 95th percentile in ms
// A frame's time runs from when it was due (one 60 Hz tick after the previous frame began) to
// the end of its drawing, so work that holds the main thread up between frames counts too. On a
// busy machine that includes waiting for a processor; the main thread's own processor time
// between the ends of two frames (its busy time) does not, so it is given beside some figures.
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "app/state/conversion_view_model.h"
#include "app/ui/console/console_job_list.h"
#include "app/ui/console/console_main.h"
#include "app/ui/console/console_view.h"
#include "app/ui/window/content_view.h"
#include "app/ui/chrome/main_window.h"
#include "app/ui/theme/theme.h"
#include "core/conversion_logger.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/media/capabilities.h"

namespace fs = std::filesystem;
using namespace calvoro;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double kFrameInterval = 1000.0 / 60.0;

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double threadMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double percentile95(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<size_t>(values.size() * 0.95))];
}

double peakResidentMegabytes() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return -1;
}

// The one-minute load average: the figures include waiting for a processor.
double loadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = -1;
    in >> load;
    return load;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(folder)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

// The window as the program builds it, at its default size, drawn once.
struct Window {
    ConversionViewModel model;
    MainWindow window{model};
    ContentView* content = new ContentView(model, consoleViews());

    Window() {
        model.setApplicationActiveProbe([] { return true; });
        window.setContentView(content);
        window.resize(MainWindow::defaultSize);
        window.show();
        settle();
    }
    // Lets queued work and animations run out, then draws.
    void settle(int ms = 300) {
        QTest::qWait(ms);
        window.repaint();
    }
    ConsoleMain* main() const { return content->findChild<ConsoleMain*>(); }
};

struct Frames {
    std::vector<double> times;  // ms, as described above
    std::vector<double> busy;   // ms of the main thread's processor time
};

// Runs `step` once a frame at 60 Hz until it returns false.
Frames runFrames(QWidget& window, const std::function<bool(int)>& step) {
    Frames frames;
    QEventLoop loop;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(static_cast<int>(kFrameInterval));
    Clock::time_point previous{};
    double busySince = threadMilliseconds();
    int index = 0;
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        const auto begin = Clock::now();
        const bool more = step(index++);
        window.repaint();
        const auto end = Clock::now();
        double late = 0;
        if (previous != Clock::time_point{}) late = std::max(0.0, milliseconds(begin - previous) - kFrameInterval);
        frames.times.push_back(late + milliseconds(end - begin));
        const double busyUntil = threadMilliseconds();
        frames.busy.push_back(busyUntil - busySince);
        busySince = busyUntil;
        previous = begin;
        if (!more) loop.quit();
    });
    timer.start();
    loop.exec();
    return frames;
}

// Types each query into the search field a key a frame, then takes it back a key a frame, over
// several rounds: the frames of every keystroke, or none when a query did not narrow the list
// (then nothing was measured).
Frames typeSearches(Window& w) {
    const std::vector<QString> queries = {QStringLiteral("photo-0123"), QStringLiteral("PHOTO-0777"),
                                          QStringLiteral("2345.jpg"), QStringLiteral("Photo-09876")};
    constexpr int rounds = 8;
    std::vector<std::pair<QString, int>> keys;  // the text typed or, when empty, a backspace
    for (int round = 0; round < rounds; ++round)
        for (const QString& query : queries) {
            for (QChar c : query) keys.emplace_back(QString(c), 0);
            for (int i = 0; i < query.size(); ++i) keys.emplace_back(QString(), Qt::Key_Backspace);
        }
    QLineEdit* search = w.main()->searchField();
    search->setFocus();
    const ConsoleJobList* list = w.main()->jobList();
    size_t fewest = list->rows().size();
    bool narrowedEach = true;
    const auto frames = runFrames(w.window, [&](int i) {
        const auto& [text, key] = keys[static_cast<size_t>(i)];
        if (key) QTest::keyClick(search, static_cast<Qt::Key>(key));
        else QTest::keyClicks(search, text);
        fewest = std::min(fewest, list->rows().size());
        if (search->text().isEmpty()) {
            narrowedEach = narrowedEach && fewest <= 10;
            fewest = list->rows().size();
        }
        return static_cast<size_t>(i) + 1 < keys.size();
    });
    w.settle();
    if (!narrowedEach) {
        std::fprintf(stderr, "a search did not narrow the list\n");
        return {};
    }
    return frames;
}

// Only the search typed as in frames, for profiling it: the frame time and busy time at the 95th
// percentile in ms, the number of keystrokes and the load average.
int typing(const fs::path& folder) {
    Window w;
    w.model.addFiles(filesIn(folder));
    w.settle(1000);
    const auto frames = typeSearches(w);
    if (frames.times.empty()) return 1;
    std::printf("%.2f %.2f %zu %.2f\n", percentile95(frames.times), percentile95(frames.busy), frames.times.size(),
                loadAverage());
    return 0;
}

int memory(const fs::path& folder) {
    Window w;
    w.model.addFiles(filesIn(folder));
    w.settle();
    // Every row once on screen: the list at its fullest.
    QScrollBar* bar = w.main()->jobList()->verticalScrollBar();
    for (int value = 0; value <= bar->maximum(); value += bar->pageStep()) {
        bar->setValue(value);
        w.window.repaint();
        QCoreApplication::processEvents();
    }
    w.settle(1000);
    std::printf("%zu %.1f\n", w.model.jobs().size(), peakResidentMegabytes());
    return 0;
}

int frames(const fs::path& folder) {
    Window w;
    w.model.addFiles(filesIn(folder));
    w.settle(1000);

    // Scrolling: a quarter of a page a frame, down and back up, as a quick flick would.
    QScrollBar* bar = w.main()->jobList()->verticalScrollBar();
    if (bar->maximum() <= 0) {
        std::fprintf(stderr, "the list does not scroll\n");
        return 1;
    }
    const int step = std::max(1, bar->pageStep() / 4);
    const auto scroll = runFrames(w.window, [&](int i) {
        bar->setValue(i < 300 ? bar->value() + step : bar->value() - step);
        return i < 599;
    });
    const double scrollLoad = loadAverage();
    w.settle();

    const auto typing = typeSearches(w);
    if (typing.times.empty()) return 1;
    const double typingLoad = loadAverage();

    // The settings popover: from the request to its first drawn frame.
    std::vector<double> shows;
    for (int i = 0; i < 7; ++i) {
        const auto start = Clock::now();
        w.model.setShowSettingsPopover(true);
        while (!w.content->settingsLayer() || !w.content->settingsLayer()->isVisible()) QCoreApplication::processEvents();
        w.window.repaint();
        shows.push_back(milliseconds(Clock::now() - start));
        w.settle(600);
        w.model.setShowSettingsPopover(false);
        w.settle(600);
    }
    const double first = shows.front();
    std::sort(shows.begin() + 1, shows.end());
    std::printf("%zu %.2f %.2f %.2f %.2f %.2f %zu %.2f %.2f %.2f\n", w.model.jobs().size(), percentile95(scroll.times),
                percentile95(scroll.busy), scrollLoad, percentile95(typing.times), percentile95(typing.busy),
                typing.times.size(), typingLoad, first, shows[1 + (shows.size() - 1) / 2]);
    return 0;
}

int batch(const fs::path& sources, const fs::path& out) {
    Window w;
    w.model.setFolderPanel([&](const ConversionViewModel::FolderPanelRequest&) { return std::optional<fs::path>(out); });
    w.model.addFiles(filesIn(sources));
    w.settle(1000);
    w.model.convertAll();
    const auto frames = runFrames(w.window, [&](int) { return w.model.isProcessing(); });
    if (w.model.completedCount() != static_cast<int>(w.model.jobs().size())) {
        for (const auto& job : w.model.jobs())
            if (job.status != ConversionStatus::completed)
                std::fprintf(stderr, "%s: %s\n", job.fileName.c_str(), job.errorMessage.value_or("not converted").c_str());
        return 1;
    }
    std::printf("%zu %.2f\n", frames.times.size(), percentile95(frames.times));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: window_bench memory <folder> | frames <folder> | batch <sources> <out>\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    Theme::loadFonts();
    QApplication::setFont(Theme::font(13));
    imaging::registerCapabilities();
    media::registerCapabilities();
    // The log is kept as in the program; its printed lines are not part of the figures.
    std::FILE* devnull = std::fopen("/dev/null", "w");
    ConversionLogger::shared().setOutputStream(devnull);
    const std::string mode = argv[1];
    if (mode == "memory") return memory(argv[2]);
    if (mode == "frames") return frames(argv[2]);
    if (mode == "typing") return typing(argv[2]);
    if (mode == "batch" && argc == 4) return batch(argv[2], argv[3]);
    return 2;
}
