// The end of the program as the session runs it, in-process on a bus of its own: every call that
// reached the program is answered before it goes, and later calls find the name free.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QThreadPool>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <memory>

#include "app/entry/desktop/desktop_session.h"
#include "app/entry/desktop/file_open_inbox.h"
#include "app/entry/desktop/finder_conversion_service.h"
#include "core/conversion_logger.h"
#include "core/handoff_url.h"
#include "desktop_test_support.h"
#include "platform/desktop/single_instance.h"
#include "platform/qt/main_thread.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace fs = std::filesystem;

namespace {

bool loggedFiles(const std::string& message) {
    for (const auto& entry : ConversionLogger::shared().entries())
        if (entry.category == "Files" && entry.message == message) return true;
    return false;
}

}  // namespace

// A suite of its own, so a process of its own: background mode, which the other tests enter,
// lasts as long as the process, and so does the session bus they set.
TEST(DesktopWindowSession, ServesALaterStartsHandOffAndNeverCountsDownToItsEnd) {
    isolateSettings();
    TempDir dir;
    PrivateBus bus;
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    const std::string socket = (dir / "calvoro.socket").string();
    auto& service = FinderConversionService::shared();
    std::unique_ptr<DesktopSession> session;
    std::atomic<int> ended{0};
    qtmain::runOnMain([&] {
        ASSERT_FALSE(service.isBackgroundWorker()) << "run apart from the tests that enter background mode";
        service.setIdleQuitDelay(std::chrono::milliseconds(100));
        session = std::make_unique<DesktopSession>(StartArguments{}, socket);
        session->setQuit([&] { ++ended; });
        ASSERT_FALSE(session->handOverToRunningInstance());
        session->serve({});
    });

    // What a later start that carries only the link sends.
    desktop::SingleInstance later(socket);
    ASSERT_EQ(later.claimOrForward({{*HandoffURL::convert((dir / "t.csv").string(), "html")}, {}, false}),
              desktop::SingleInstance::Role::forwarded);
    ASSERT_TRUE(waitUntil([] { return loggedFiles("Files: t.html"); }));
    ASSERT_TRUE(waitUntil([&] { return qtmain::callOnMain<int>([&] { return service.activeJobs(); }) == 0; }));
    // Its job is over and nothing counts down: the window program stays until its window closes.
    qtmain::runOnMain([&] {
        EXPECT_FALSE(service.isBackgroundWorker());
        EXPECT_FALSE(service.idleCountdownPending());
        session.reset();
    });
    EXPECT_EQ(ended.load(), 0);
}

TEST(DesktopSession, EndingAnswersEveryCallThatReachedItFirst) {
    isolateSettings();
    TempDir dir;
    PrivateBus bus;
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    std::unique_ptr<DesktopSession> session;
    std::atomic<int> ended{0};
    qtmain::runOnMain([&] {
        FinderConversionService::shared().setIdleQuitDelay(std::chrono::milliseconds(100));
        session = std::make_unique<DesktopSession>(StartArguments{}, (dir / "calvoro.socket").string());
        // As the program's end does: the automation object goes with the session, at once.
        session->setQuit([&] {
            ++ended;
            session.reset();
        });
        ASSERT_FALSE(session->handOverToRunningInstance());
        session->serve({});
        ASSERT_TRUE(session->intentsPublished());
    });

    {
        QDBusConnection client = QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "client");
        auto message = QDBusMessage::createMethodCall(IntentsService::serviceName, IntentsService::objectPath,
                                                      IntentsService::interfaceName, "ConvertFile");
        message.setArguments({QString("t.csv"), QByteArray("a\n1\n"), QString("html")});
        QDBusPendingCall pending = QDBusPendingCall::fromError(QDBusError());
        qtmain::runOnMain([&] {
            pending = client.asyncCall(message, 120000);
            // The call reaches the program, which hears of its end on this thread only: the
            // window closes while it runs, and the program ends once it is answered and idle.
            ASSERT_TRUE(waitUntil([] {
                for (const auto& entry : ConversionLogger::shared().entries())
                    if (entry.category == "Engine" && entry.message.rfind("Starting: ", 0) == 0) return true;
                return false;
            }));
            session->lastWindowClosed();
        });
        pending.waitForFinished();
        const QDBusMessage reply = pending.reply();
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorName().toStdString() << ": "
                                                            << reply.errorMessage().toStdString();
        EXPECT_EQ(reply.arguments()[0].toString(), "t.html");
        EXPECT_TRUE(waitUntil([&] { return ended.load() == 1; }));

        // The name was given up first: the next call starts a new program by activation.
        auto owner = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                                    "NameHasOwner");
        owner.setArguments({QString(IntentsService::serviceName)});
        EXPECT_FALSE(client.call(owner).arguments().value(0).toBool());
    }
    QDBusConnection::disconnectFromBus("client");
    EXPECT_TRUE(waitUntil([&] { return qtmain::callOnMain<bool>([&] { return !session; }); }));
}

TEST(DesktopSession, WorkThatArrivesWhileTheLastWindowClosesStillEndsTheProgram) {
    isolateSettings();
    TempDir dir;
    PrivateBus bus;
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    writeFile(dir / "t.csv", "a,b\n1,2\n");
    const std::string socket = (dir / "calvoro.socket").string();
    std::unique_ptr<DesktopSession> session;
    std::atomic<int> ended{0};
    qtmain::runOnMain([&] {
        FinderConversionService::shared().setIdleQuitDelay(std::chrono::milliseconds(100));
        session = std::make_unique<DesktopSession>(StartArguments{}, socket);
        session->setQuit([&] { ++ended; });
        ASSERT_FALSE(session->handOverToRunningInstance());
        session->serve({});
    });

    // A later start holds the hand-over lock, and the work it brings cannot finish before the
    // end is tried again: the one worker thread is busy.
    const int lock = ::open((socket + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX), 0);
    const int threads = QThreadPool::globalInstance()->maxThreadCount();
    QThreadPool::globalInstance()->setMaxThreadCount(1);
    std::promise<void> release;
    QThreadPool::globalInstance()->start([wait = release.get_future().share()] { wait.wait(); });
    qtmain::runOnMain([&] {
        session->lastWindowClosed();
        FinderConversionService::shared().handle(*HandoffURL::convert((dir / "t.csv").string(), "json"));
    });
    // The end was tried again meanwhile, found the work and went on in the background.
    EXPECT_TRUE(waitUntil([] { return qtmain::callOnMain<bool>([] { return FinderConversionService::shared().isBackgroundWorker(); }); }));
    ::close(lock);
    release.set_value();

    // No window is open: the end of the work starts the countdown, and the program ends.
    EXPECT_TRUE(waitUntil([&] { return ended.load() == 1; }, std::chrono::seconds(20)));
    EXPECT_TRUE(fs::is_regular_file(dir / "t.json"));
    QThreadPool::globalInstance()->setMaxThreadCount(threads);
    qtmain::runOnMain([&] { session.reset(); });
}

// A cold start for the compress picker runs in background mode, but the window it brings up is
// work: the idle countdown runs out and the program stays.
TEST(DesktopSession, AColdCompressPickerOutlastsTheIdleCountdownWhileItsWindowIsShown) {
    isolateSettings();
    TempDir dir;
    writeFile(dir / "photo.png", "not looked at");
    std::unique_ptr<DesktopSession> session;
    std::atomic<int> ended{0};
    std::atomic<bool> shown{false};
    std::vector<fs::path> picked;
    auto& service = FinderConversionService::shared();
    StartArguments start;
    start.urls = {*HandoffURL::compress((dir / "photo.png").string(), "tiny", true)};
    qtmain::runOnMain([&] {
        service.setIdleQuitDelay(std::chrono::milliseconds(100));
        session = std::make_unique<DesktopSession>(start, (dir / "calvoro.socket").string());
        session->setQuit([&] { ++ended; });
        ASSERT_FALSE(session->handOverToRunningInstance());
        DesktopSession::WindowHooks hooks;
        hooks.show = [&] { shown = true; };
        hooks.hide = [&] { shown = false; };
        hooks.openCompressPicker = [&](const fs::path& file) { picked.push_back(file); };
        // As the window's own: a shown window is work.
        hooks.busy = [&] { return shown.load(); };
        session->serve(hooks);
        EXPECT_TRUE(service.isBackgroundWorker());
        EXPECT_TRUE(service.idleCountdownPending());
    });
    ASSERT_TRUE(shown.load());
    ASSERT_TRUE(waitUntil([&] { return !qtmain::callOnMain<bool>([&] { return service.idleCountdownPending(); }); }));
    qtmain::runOnMain([&] {
        EXPECT_EQ(ended.load(), 0) << "the program ended under its window";
        EXPECT_EQ(picked, std::vector<fs::path>{dir / "photo.png"});
        EXPECT_EQ(FileOpenInbox::takePending(), std::vector<fs::path>{dir / "photo.png"});
        EXPECT_EQ(service.activeJobs(), 0) << "the picker compressed something";
        session.reset();
    });
}
