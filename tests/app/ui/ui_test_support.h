#pragma once

// The tests run on a worker thread while the main thread runs Qt's event loop: widgets and
// main-thread objects are reached through onMain, and waits poll the main thread.
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include <memory>

#include "app/state/conversion_view_model.h"
#include "app/ui/theme/theme.h"
#include "core/conversion_logger.h"
#include "platform/qt/main_thread.h"
#include "support/test_support.h"

namespace calvoro::testing {

inline void onMain(const std::function<void()>& work) { qtmain::runOnMain(work); }

template <typename T>
T onMainValue(const std::function<T()>& work) {
    return qtmain::callOnMain<T>(work);
}

// Polls the condition on the main thread until it holds or ten seconds have gone.
inline bool waitUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (onMainValue<bool>(condition)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// With CALVORO_UI_SNAPSHOTS set to a folder, saves the widget as drawn (main thread only), so
// that the views can be looked at after a run.
inline void saveSnapshot(QWidget* widget, const QString& name) {
    const char* folder = std::getenv("CALVORO_UI_SNAPSHOTS");
    if (!folder || !*folder) return;
    widget->grab().save(QString::fromLocal8Bit(folder) + "/" + name + ".png");
}

// A view model on private settings and a host widget in the chosen appearance, both made and
// destroyed on the main thread.
class ViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        isolateSettings();
        onMain([&] {
            model = std::make_unique<ConversionViewModel>();
            ConversionLogger::shared().clear();
            host = std::make_unique<QWidget>();
            host->resize(900, 700);
            Theme::applyAppearance(host.get(), ColorScheme::dark, AccentChoice::paper);
        });
    }
    void TearDown() override {
        onMain([&] {
            host.reset();
            model.reset();
        });
    }
    void setScheme(ColorScheme scheme, AccentChoice accent = AccentChoice::paper) {
        onMain([&] { Theme::applyAppearance(host.get(), scheme, accent); });
    }

    std::unique_ptr<ConversionViewModel> model;
    std::unique_ptr<QWidget> host;
};

}  // namespace calvoro::testing
