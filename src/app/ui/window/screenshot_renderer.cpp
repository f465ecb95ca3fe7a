#include "app/ui/window/screenshot_renderer.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QSaveFile>

#include <cstdio>
#include <system_error>

#include "app/state/conversion_view_model.h"
#include "core/user_dirs.h"

namespace calvoro::ScreenshotRenderer {
namespace {

namespace fs = std::filesystem;

struct State {
    const char* fileName;
    bool queue;
    AppearanceMode mode;
    AccentChoice accent;
    bool settings;  // image default target PNG, settings popover shown
};

constexpr State states[] = {
    {"01-empty-dark.png", false, AppearanceMode::dark, AccentChoice::paper, false},
    {"02-queue-dark.png", true, AppearanceMode::dark, AccentChoice::paper, false},
    {"03-empty-light.png", false, AppearanceMode::light, AccentChoice::paper, false},
    {"04-queue-light.png", true, AppearanceMode::light, AccentChoice::paper, false},
    {"05-queue-graphite.png", true, AppearanceMode::dark, AccentChoice::graphite, false},
    {"06-settings-dark.png", true, AppearanceMode::dark, AccentChoice::graphite, true},
    {"07-settings-light.png", true, AppearanceMode::light, AccentChoice::graphite, true},
};

// Layouts, polishing and deferred placements all arrive as posted events; a few rounds let
// every one of them land before the picture is taken.
void settle() {
    for (int round = 0; round < 4; ++round) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

void printLine(const std::string& text) {
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
}

}  // namespace

Path outputFolder(const std::vector<std::string>& arguments) {
    for (size_t i = 0; i + 1 < arguments.size(); ++i) {
        if (arguments[i] != "--render-screenshots") continue;
        std::error_code ec;
        const Path folder = fs::absolute(arguments[i + 1], ec);
        return ec ? Path(arguments[i + 1]) : folder;
    }
    if (auto desktop = userDirectory("DESKTOP")) return *desktop / "Calvoro-Screenshots";
    return homeFolder().value_or(fs::path("/")) / "Desktop" / "Calvoro-Screenshots";
}

const std::vector<Path>& seedFiles() {
    static const std::vector<Path> files = [] {
        std::vector<Path> paths;
        for (const char* name : {"Vacation Photo.png", "Team Headshot.jpg", "Product Shot.heic", "Screen Recording.mov",
                                 "Podcast Ep.14.wav", "Quarterly Report.txt", "Project Archive.zip"})
            paths.push_back(Path("/tmp/kx-files") / name);
        return paths;
    }();
    return files;
}

std::unique_ptr<ConversionViewModel> seededViewModel(bool queue, AppearanceMode mode, AccentChoice accent) {
    auto viewModel = std::make_unique<ConversionViewModel>();
    viewModel->setAppearanceMode(mode);
    viewModel->setAccent(accent);
    viewModel->clearAll();
    if (!queue) return viewModel;
    std::vector<Path> present;
    for (const Path& file : seedFiles()) {
        std::error_code ec;
        if (fs::exists(file, ec)) present.push_back(file);
    }
    viewModel->addFiles(present);
    const auto& jobs = viewModel->jobs();
    if (!jobs.empty()) viewModel->setJobStatus(Uuid(jobs[0].id), ConversionStatus::completed, 1.0);
    if (jobs.size() >= 4) viewModel->setJobStatus(Uuid(jobs[3].id), ConversionStatus::converting, 0.62);
    return viewModel;
}

void render(ConversionViewModel& viewModel, const ContentViewFactory& makeView, const Path& folder,
            const std::string& fileName) {
    QImage image;
    {
        // Laid out and painted as on screen, but never mapped: the offscreen platform draws it.
        std::unique_ptr<QWidget> view(makeView(viewModel));
        view->setAttribute(Qt::WA_DontShowOnScreen);
        view->setFixedSize(pointWidth, pointHeight);
        view->show();
        settle();
        image = view->grab().toImage();
    }
    if (image.isNull()) {
        printLine("✗ " + fileName + ": render failed");
        return;
    }
    QByteArray data;
    QBuffer buffer(&data);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) return;
    // Through a temporary file: a failed write leaves neither a torn picture nor a claim of one.
    QSaveFile file(QFile::decodeName((folder / fileName).c_str()));
    if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size() || !file.commit()) {
        printLine("✗ " + fileName + ": write failed");
        return;
    }
    printLine("✓ " + fileName + "  " + std::to_string(image.width()) + "×" + std::to_string(image.height()));
}

void renderAll(const Path& folder, const ContentViewFactory& makeView) {
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    for (const State& state : states) {
        auto viewModel = seededViewModel(state.queue, state.mode, state.accent);
        if (state.settings) {
            viewModel->setDefaultTarget(SupportedFormat::png, FileCategory::image);
            viewModel->setShowSettingsPopover(true);
        }
        render(*viewModel, makeView, folder, state.fileName);
    }
}

}  // namespace calvoro::ScreenshotRenderer
