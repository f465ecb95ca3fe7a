// The window module's entry: the program calls it when started without a mode flag.
#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "app/entry/desktop/desktop_session.h"
#include "app/entry/desktop/file_open_inbox.h"
#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/overlays/app_about.h"
#include "app/ui/chrome/app_commands.h"
#include "app/ui/console/console_view.h"
#include "app/ui/window/content_view.h"
#include "app/ui/window/desktop_dialogs.h"
#include "app/ui/window/first_frame_report.h"
#include "app/ui/window/folder_panel.h"
#include "app/ui/chrome/main_window.h"
#include "app/ui/window/screenshot_renderer.h"
#include "app/ui/window/seed_files.h"
#include "app/ui/theme/theme.h"
#include "app/ui/theme/window_style.h"
#include "compressor/compressor.h"
#include "core/conversion_error.h"
#include "core/settings_store.h"
#include "core/work_folder.h"
#include "modules/documents_module.h"

namespace calvoro {
namespace {

// The window's content; the screenshot mode draws the same view.
QWidget* makeContentView(ConversionViewModel& viewModel) { return new ContentView(viewModel, consoleViews()); }

// The application object's look, shared by the window and the screenshot mode.
void setUpApplication() {
    QApplication::setApplicationName(QStringLiteral("Calvoro"));
    // The window draws its own look; the desktop's widget style must not restyle menus and fields.
    // The application owns the style.
    QApplication::setStyle(new WindowStyle);
    Theme::loadFonts();
    QApplication::setFont(Theme::font(13));
}

// What the desktop side asks of the window: the inbox and the compress picker reach the job list.
DesktopSession::WindowHooks windowHooks(MainWindow& window, ConversionViewModel& viewModel) {
    FileOpenInbox::addObserver([&viewModel] {
        const auto files = FileOpenInbox::takePending();
        if (!files.empty()) viewModel.addFiles(files);
    });
    DesktopSession::WindowHooks hooks;
    hooks.show = [&window] {
        window.show();
        window.raise();
        window.activateWindow();
    };
    hooks.hide = [&window] { window.hide(); };
    hooks.openCompressPicker = [&viewModel](const std::filesystem::path& file) {
        const auto& jobs = viewModel.jobs();
        const auto job = std::find_if(jobs.begin(), jobs.end(), [&](const ConversionJob& j) { return j.sourceURL == file; });
        if (job == jobs.end() || !Compressor::compressionTarget(job->detectedFormat)) return;
        viewModel.setCompressingJob(*job);
    };
    hooks.busy = [&window, &viewModel] {
        const auto& jobs = viewModel.jobs();
        return window.isVisible() || viewModel.isProcessing() ||
               std::any_of(jobs.begin(), jobs.end(), [](const ConversionJob& j) { return j.status == ConversionStatus::converting; });
    };
    return hooks;
}

}  // namespace
}  // namespace calvoro

extern "C" __attribute__((visibility("default"))) int calvoro_window_main(int argc, char** argv) {
    using namespace calvoro;
    // The web engine may arrive later with the documents module; it needs shared contexts from the start.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    // The desktop's own file and colour choosers, through the portal where Qt knows the desktop not.
    if (const auto theme = DesktopDialogs::preferredPlatformTheme(std::getenv("QT_QPA_PLATFORMTHEME"),
                                                                  std::getenv("XDG_CURRENT_DESKTOP")))
        setenv("QT_QPA_PLATFORMTHEME", theme->c_str(), 1);
    QApplication app(argc, argv);
    setUpApplication();
    // Document conversions render pages in windows of their own; only this window's closing ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    const std::vector<std::string> arguments(argv, argv + argc);
    // One program per user: a later start hands its links and files to the running one.
    std::error_code ec;
    StartArguments start = StartArguments::read(arguments, std::filesystem::current_path(ec));
    const std::vector<std::filesystem::path> seedFiles = start.seedFiles;
    const std::vector<std::string> seedProblems = start.seedProblems;
    DesktopSession session(std::move(start));
    if (const auto status = session.handOverToRunningInstance()) return *status;

    ConversionViewModel viewModel;
    MainWindow window(viewModel);
    viewModel.setFolderPanel([&window](const ConversionViewModel::FolderPanelRequest& request) {
        return FolderPanel::run(request, &window);
    });
    viewModel.setApplicationActiveProbe([] { return QApplication::activeWindow() != nullptr; });
    // The engine's first start is the largest part of a first HTML rendering; it begins in a
    // later turn, so that the list shows the new job first.
    viewModel.setWebEngineWarmUp([&window] {
        QTimer::singleShot(0, &window, [] {
            try {
                documents::prepareHTMLRendering();
            } catch (const ConversionError&) {
                // Already logged by the loader; the conversion itself reports it.
            }
        });
    });
    AppCommands commands(&window, viewModel);
    commands.setAboutHandler(&AppAbout::show);
    window.setContentView(makeContentView(viewModel));
    // Hand-off jobs and automation calls still running finish in the background first.
    QObject::connect(&window, &MainWindow::closed, &app, [&session] { session.lastWindowClosed(); });
    const size_t seeded = seedFiles.size();
    FirstFrameReport::watch(&window, [&viewModel, seeded] { return viewModel.jobs().size() >= seeded; });
    if (session.showsWindow()) {
        window.show();
        // Under a bare X server nothing else gives the new window the focus.
        window.activateWindow();
    }
    // Once the window is up, as the scene does on appearing.
    QTimer::singleShot(0, &window, [&] { CalvoroApp::seedFilesFromArguments(viewModel, seedFiles, seedProblems); });
    session.serve(windowHooks(window, viewModel));
    return QApplication::exec();
}

// The screenshot mode: the window's content in its preset states as PNG files, drawn on the
// offscreen platform whatever the display, at scale 2; nothing is shown. The states set their
// own settings in a private settings folder, so that the pictures depend neither on the
// user's settings nor on an earlier run, and the user's settings stay as they were.
extern "C" __attribute__((visibility("default"))) int calvoro_screenshots_main(int argc, char** argv) {
    using namespace calvoro;
    ScreenshotMode::active = true;
    const std::vector<std::string> arguments(argv, argv + argc);
    const auto folder = ScreenshotRenderer::outputFolder(arguments);
    std::optional<WorkFolder> settingsFolder;
    try {
        settingsFolder.emplace(WorkFolder::temporaryDirectory());
        setenv("CALVORO_CONFIG_DIR", settingsFolder->path().c_str(), 1);
    } catch (const std::exception&) {
        // Without a private folder the states read and write the user's settings.
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("QT_SCALE_FACTOR", "2", 1);
    for (const char* variable : {"QT_SCREEN_SCALE_FACTORS", "QT_ENABLE_HIGHDPI_SCALING", "QT_FONT_DPI",
                                 "QT_SCALE_FACTOR_ROUNDING_POLICY", "QT_USE_PHYSICAL_DPI"})
        unsetenv(variable);
    QApplication app(argc, argv);
    setUpApplication();
    ScreenshotRenderer::renderAll(folder, &makeContentView);
    SettingsStore::shared().flush();
    return 0;
}
