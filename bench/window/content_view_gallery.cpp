// Pictures of the whole content view in its main states and both appearances, for looking at;
// nothing is checked. Drawn on the offscreen platform at the view's own size.
//   build=$(bench/build content_view_gallery) && "$build/bench/window/content_view_gallery" <folder>
#include <QApplication>
#include <QString>
#include <QTest>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>

#include "app/state/conversion_view_model.h"
#include "app/ui/theme/theme.h"
#include "app/ui/window/content_view.h"
#include "core/conversion_logger.h"
#include "core/work_folder.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/media/capabilities.h"

namespace fs = std::filesystem;
using namespace calvoro;

namespace {

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// The states of one appearance, each saved as <folder>/gallery-<state>-<appearance>.png once
// its animations have ended.
void shootAppearance(AppearanceMode mode, const fs::path& samples, const QString& folder) {
    const QString suffix = mode == AppearanceMode::dark ? "-dark" : "-light";
    ConversionViewModel model;
    ConversionLogger::shared().clear();
    QWidget host;
    host.resize(900, 700);
    Theme::applyAppearance(&host, ColorScheme::dark, AccentChoice::paper);
    model.setAppearanceMode(mode);
    model.setAccent(AccentChoice::blue);
    auto* view = new ContentView(model, {}, &host);
    view->resize(980, 720);
    host.show();
    auto shoot = [&](const QString& name) {
        QTest::qWait(700);
        view->grab().save(folder + "/gallery-" + name + suffix + ".png");
    };
    shoot("empty");
    model.addFiles({samples / "table.csv", samples / "photo.png"});
    model.setShowLogPanel(true);
    model.logger().error("Conversion failed", "Image", std::string("The file is damaged"));
    model.showToast(Toast(Toast::Kind::warning, "Skipped 1 unsupported file", std::string("photo.xyz")));
    shoot("log-toast");
    model.setCompressingJob(model.jobs().back());
    shoot("compress");
    model.setCompressingJob(std::nullopt);
    model.setShowConversionsInfo(true);
    shoot("conversions");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: content_view_gallery <folder for the pictures>\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // Settings of its own, so that the pictures depend neither on the user's settings nor on an
    // earlier run, and the user's settings stay as they were; the sample files live there too.
    const WorkFolder work(WorkFolder::temporaryDirectory());
    setenv("CALVORO_CONFIG_DIR", work.path().c_str(), 1);
    writeFile(work.path() / "table.csv", "a,b\n1,2\n");
    writeFile(work.path() / "photo.png", "x");
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    Theme::loadFonts();
    QApplication::setFont(Theme::font(13));
    imaging::registerCapabilities();
    media::registerCapabilities();
    const QString folder = QString::fromLocal8Bit(argv[1]);
    fs::create_directories(argv[1]);
    for (AppearanceMode mode : {AppearanceMode::dark, AppearanceMode::light}) shootAppearance(mode, work.path(), folder);
    return 0;
}
