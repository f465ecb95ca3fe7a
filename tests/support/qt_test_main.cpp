// Test entry for suites that need Qt: the tests run on a worker thread while the main
// thread runs the event loop, as the program's modes do.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    if (!std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 0);
    if (geteuid() == 0) setenv("QTWEBENGINE_CHROMIUM_FLAGS", "--no-sandbox", 0);
    ::testing::InitGoogleTest(&argc, argv);
    // The web engine may arrive later with the documents module; it needs shared contexts from the start.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    // A test's window closing must not end the loop that the next tests of this process need.
    QApplication::setQuitOnLastWindowClosed(false);
    int status = 0;
    std::thread worker([&] {
        status = RUN_ALL_TESTS();
        QMetaObject::invokeMethod(&app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
    app.exec();
    worker.join();
    return status;
}
