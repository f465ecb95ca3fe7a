// Drives the window's view model without a window.
//   state_bench add <count> <folder>      adds <count> files to the job list: seconds and MB
//   state_bench batch <sources> <out>     converts every file of <sources> (JPEG to PNG, WAV to
//                                         M4A) in one batch: seconds, then the longest processor
//                                         and clock time in milliseconds of one main-thread event
#include <malloc.h>
#include <time.h>

#include <QGuiApplication>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/state/conversion_view_model.h"
#include "core/conversion_logger.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/media/capabilities.h"

namespace fs = std::filesystem;
using namespace calvoro;
using Clock = std::chrono::steady_clock;

namespace {

double threadCPUMilliseconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Times every event the main thread handles: the processor time it spends on it (what keeps a
// window from drawing) and the time on the clock (which also counts waiting for a processor
// on a busy machine).
class TimedApplication : public QGuiApplication {
public:
    using QGuiApplication::QGuiApplication;
    bool notify(QObject* receiver, QEvent* event) override {
        const auto start = Clock::now();
        const double cpuStart = threadCPUMilliseconds();
        const bool handled = QGuiApplication::notify(receiver, event);
        longestBusy = std::max(longestBusy, threadCPUMilliseconds() - cpuStart);
        longestWall = std::max(longestWall, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        return handled;
    }
    double longestBusy = 0;
    double longestWall = 0;
};

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

int addFiles(int count, const fs::path& folder) {
    fs::create_directories(folder);
    std::vector<fs::path> files;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "photo-%05d.jpg", i);
        files.push_back(folder / name);
        if (std::FILE* f = std::fopen(files.back().c_str(), "w")) std::fclose(f);
    }
    ConversionViewModel model;
    const size_t before = mallinfo2().uordblks;
    const auto start = Clock::now();
    model.addFiles(files);
    const double elapsed = seconds(start);
    const double megabytes = static_cast<double>(mallinfo2().uordblks - before) / 1e6;
    if (model.jobs().size() != files.size()) return 1;
    std::printf("%.3f %.1f\n", elapsed, megabytes);
    return 0;
}

int runBatch(TimedApplication& app, const fs::path& sources, const fs::path& out) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(sources)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    ConversionViewModel model;
    model.setApplicationActiveProbe([] { return true; });
    model.setFolderPanel([&](const ConversionViewModel::FolderPanelRequest&) { return std::optional<fs::path>(out); });
    model.addFiles(files);
    for (const auto& job : model.jobs())
        model.setTargetFormat(job.id, job.category() == FileCategory::image ? SupportedFormat::png : SupportedFormat::m4a);
    Clock::time_point start;
    QObject::connect(&model, &ConversionViewModel::isProcessingChanged, &app, [&] {
        if (!model.isProcessing()) QCoreApplication::exit(0);
    });
    // Started from an event, as a click would start it.
    QTimer::singleShot(0, &model, [&] {
        app.longestBusy = app.longestWall = 0;
        start = Clock::now();
        model.convertAll();
    });
    app.exec();
    const double elapsed = seconds(start);
    if (model.completedCount() != static_cast<int>(files.size())) {
        for (const auto& job : model.jobs())
            if (job.status != ConversionStatus::completed) std::fprintf(stderr, "%s: %s\n", job.fileName.c_str(), job.errorMessage.value_or("not converted").c_str());
        return 1;
    }
    std::printf("%.3f %.2f %.2f\n", elapsed, app.longestBusy, app.longestWall);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: state_bench add <count> <folder> | batch <sources> <out>\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    TimedApplication app(argc, argv);
    imaging::registerCapabilities();
    media::registerCapabilities();
    // The log is kept as in the program; its printed lines are not part of the figures.
    std::FILE* devnull = std::fopen("/dev/null", "w");
    ConversionLogger::shared().setOutputStream(devnull);
    const std::string mode = argv[1];
    if (mode == "add") return addFiles(std::stoi(argv[2]), argv[3]);
    if (mode == "batch") return runBatch(app, argv[2], argv[3]);
    return 2;
}
