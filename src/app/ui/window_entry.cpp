// The window module's entry: the program calls it when started without a mode flag.
#include <QApplication>
#include <QFileDialog>
#include <QTimer>

#include <string>
#include <vector>

#include "app/state/conversion_view_model.h"
#include "app/ui/app_about.h"
#include "app/ui/app_commands.h"
#include "app/ui/content_view.h"
#include "app/ui/main_window.h"
#include "app/ui/seed_files.h"
#include "app/ui/theme.h"

extern "C" __attribute__((visibility("default"))) int calvoro_window_main(int argc, char** argv) {
    using namespace calvoro;
    // The web engine may arrive later with the documents module; it needs shared contexts from the start.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Calvoro"));
    // The window draws its own look; the desktop's widget style must not restyle menus and fields.
    QApplication::setStyle(QStringLiteral("Fusion"));
    // Document conversions render pages in windows of their own; only this window's closing ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    Theme::loadFonts();
    QApplication::setFont(Theme::font(13));

    const std::vector<std::string> arguments(argv, argv + argc);
    ConversionViewModel viewModel;
    MainWindow window(viewModel);
    viewModel.setFolderPanel([&window](const ConversionViewModel::FolderPanelRequest& request)
                                 -> std::optional<std::filesystem::path> {
        const QString folder = QFileDialog::getExistingDirectory(&window, QString::fromStdString(request.title));
        if (folder.isEmpty()) return std::nullopt;
        return std::filesystem::path(folder.toStdString());
    });
    viewModel.setApplicationActiveProbe([] { return QApplication::activeWindow() != nullptr; });
    AppCommands commands(&window, viewModel);
    commands.setAboutHandler(&AppAbout::show);
    window.setContentView(new ContentView(viewModel));
    QObject::connect(&window, &MainWindow::closed, &app, &QApplication::quit);
    window.show();
    // Under a bare X server nothing else gives the new window the focus.
    window.activateWindow();
    // Once the window is up, as the scene does on appearing.
    QTimer::singleShot(0, &window, [&] { CalvoroApp::seedFilesFromArguments(viewModel, arguments); });
    return QApplication::exec();
}
