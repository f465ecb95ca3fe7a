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

#include "platform/qt/main_thread.h"

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

}  // namespace calvoro::testing
