// The end of the program as the session runs it, in-process on a bus of its own: every call that
// reached the program is answered before it goes, and later calls find the name free.
#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <thread>

#include "app/entry/desktop/desktop_session.h"
#include "desktop_test_support.h"
#include "platform/qt/main_thread.h"

using namespace calvoro;
using namespace calvoro::testing;

TEST(DesktopSession, EndingAnswersEveryCallThatReachedItFirst) {
    isolateSettings();
    TempDir dir;
    PrivateBus bus;
    setenv("DBUS_SESSION_BUS_ADDRESS", bus.address().c_str(), 1);
    std::unique_ptr<DesktopSession> session;
    std::atomic<int> ended{0};
    qtmain::runOnMain([&] {
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
            // The bus hands the call over meanwhile; the program sees it only after this turn,
            // in which the window closes and nothing runs.
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
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
