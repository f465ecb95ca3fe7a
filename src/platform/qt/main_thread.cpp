#include "platform/qt/main_thread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <exception>
#include <future>

namespace calvoro::qtmain {

bool isMainThread() {
    auto* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}

void runOnMain(const std::function<void()>& work) {
    if (isMainThread()) {
        work();
        return;
    }
    std::promise<void> done;
    auto future = done.get_future();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&] {
            try {
                work();
                done.set_value();
            } catch (...) {
                done.set_exception(std::current_exception());
            }
        },
        Qt::QueuedConnection);
    future.get();
}

void postToMain(std::function<void()> work) {
    auto* app = QCoreApplication::instance();
    if (!app) {
        work();
        return;
    }
    QMetaObject::invokeMethod(app, std::move(work), Qt::QueuedConnection);
}

}  // namespace calvoro::qtmain
