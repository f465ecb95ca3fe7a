// Pictures of the whole content view in its main states and both appearances, for looking at
// after a run; only with CALVORO_UI_SNAPSHOTS set.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/ui/window/content_view.h"
#include "app/ui/log_panel/log_panel_view.h"
#include "app/ui/ui_test_support.h"

namespace calvoro {
namespace {

using testing::onMain;

class ContentViewGallery : public testing::ViewTest {};

TEST_F(ContentViewGallery, SavesTheMainStates) {
    if (!std::getenv("CALVORO_UI_SNAPSHOTS")) GTEST_SKIP() << "no folder for the pictures";
    testing::TempDir dir;
    testing::writeFile(dir / "table.csv", std::string("a,b\n1,2\n"));
    testing::writeFile(dir / "photo.png", std::string("x"));
    ContentView* view = nullptr;
    auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(700)); };
    auto shoot = [&](const char* name) {
        settle();
        onMain([&] { testing::saveSnapshot(view, name); });
    };
    for (AppearanceMode mode : {AppearanceMode::dark, AppearanceMode::light}) {
        const std::string suffix = mode == AppearanceMode::dark ? "-dark" : "-light";
        onMain([&] {
            model->setAppearanceMode(mode);
            model->setAccent(AccentChoice::blue);
            view = new ContentView(*model, {}, host.get());
            view->resize(980, 720);
            host->show();
        });
        shoot(("gallery-empty" + suffix).c_str());
        onMain([&] {
            model->addFiles({dir / "table.csv", dir / "photo.png"});
            model->setShowLogPanel(true);
            model->logger().error("Conversion failed", "Image", std::string("The file is damaged"));
            model->showToast(Toast(Toast::Kind::warning, "Skipped 1 unsupported file", std::string("photo.xyz")));
        });
        shoot(("gallery-log-toast" + suffix).c_str());
        onMain([&] { model->setCompressingJob(model->jobs().back()); });
        shoot(("gallery-compress" + suffix).c_str());
        onMain([&] {
            model->setCompressingJob(std::nullopt);
            model->setShowConversionsInfo(true);
        });
        shoot(("gallery-conversions" + suffix).c_str());
        onMain([&] {
            model->setShowConversionsInfo(false);
            model->setShowLogPanel(false);
            model->clearAll();
            delete view;
            host->hide();
        });
    }
}

}  // namespace
}  // namespace calvoro
