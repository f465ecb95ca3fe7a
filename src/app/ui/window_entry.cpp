// The window module's entry: the program calls it when started without a mode flag.
#include <QApplication>

#include <filesystem>
#include <memory>
#include <system_error>

#include "app/entry/desktop/desktop_session.h"
#include "app/ui/theme.h"
#include "platform/modules/documents_module.h"

namespace {

// The documents module's application object has the web engine ready for document hand-offs.
std::unique_ptr<QCoreApplication> createApplication(int& argc, char** argv) {
    try {
        return calvoro::documents::createApplication(argc, argv);
    } catch (const std::exception&) {
        return std::make_unique<QApplication>(argc, argv);
    }
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int calvoro_window_main(int argc, char** argv) {
    const auto app = createApplication(argc, argv);
    // Qt has taken its own options out of argv by now.
    std::error_code ec;
    calvoro::DesktopSession session(calvoro::StartArguments::read({argv, argv + argc}, std::filesystem::current_path(ec)));
    if (session.handedToRunningInstance()) return 0;

    calvoro::Theme::loadFonts();
    QApplication::setQuitOnLastWindowClosed(false);
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, [&session] {
        if (session.lastWindowClosed()) QCoreApplication::quit();
    });
    session.serve({});
    return QApplication::exec();
}
