// The end-of-batch notification, received by a notification service on the test's own bus.
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QObject>
#include <QStringList>
#include <QVariantMap>

#include "app/state/state_test_support.h"
#include "engine/test_fixtures.h"
#include "platform/desktop/notifications.h"

using namespace calvoro;
using namespace calvoro::testing;

namespace {

class NotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Call {
        QString appName, summary, body;
        QVariantMap hints;
    };
    std::vector<Call> calls;

public slots:
    Q_SCRIPTABLE QStringList GetCapabilities() { return {QStringLiteral("body")}; }
    Q_SCRIPTABLE uint Notify(const QString& appName, uint, const QString&, const QString& summary, const QString& body,
                             const QStringList&, const QVariantMap& hints, int) {
        calls.push_back({appName, summary, body, hints});
        return static_cast<uint>(calls.size());
    }
};

class Notifications : public StateTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
            << "no session bus: dbus-daemon did not start (scripts/setup installs it)";
        StateTest::SetUp();
        bus = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(QDBusConnection::SessionBus, "notification-server"));
        ASSERT_TRUE(bus->registerService("org.freedesktop.Notifications"));
        ASSERT_TRUE(bus->registerObject("/org/freedesktop/Notifications", &server, QDBusConnection::ExportScriptableSlots));
        std::filesystem::create_directories(dir / "seeds");
        png = ConversionTester::makeSeedPNG(dir / "seeds");
    }
    void TearDown() override {
        StateTest::TearDown();
        if (bus) {
            bus->unregisterObject("/org/freedesktop/Notifications");
            bus->unregisterService("org.freedesktop.Notifications");
            QDBusConnection::disconnectFromBus("notification-server");
        }
    }
    void runBatch(const std::string& name, bool withFailure = false) {
        std::vector<std::filesystem::path> files{copyTo(png, name + "1.png"), copyTo(png, name + "2.png")};
        if (withFailure) {
            writeFile(dir / (name + "-bad.png"), std::string("garbage"));
            files.push_back(dir / (name + "-bad.png"));
        }
        model->addFiles(files);
        model->convertAll();
        ASSERT_TRUE(waitForBatch());
    }
    NotificationServer server;
    std::unique_ptr<QDBusConnection> bus;
    std::filesystem::path png;
};

}  // namespace

TEST_F(Notifications, ABatchThatEndsInTheBackgroundIsAnnounced) {
    model->setApplicationActiveProbe([] { return false; });
    EXPECT_FALSE(model->notificationsRequested());
    runBatch("a");
    EXPECT_TRUE(model->notificationsRequested());
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 1; }));
    EXPECT_EQ(server.calls[0].appName, "Calvoro");
    EXPECT_EQ(server.calls[0].summary, "Conversion complete");
    EXPECT_EQ(server.calls[0].body, "2 files converted");
    EXPECT_EQ(server.calls[0].hints.value("desktop-entry").toString(), "calvoro");

    // Permission was asked once; later batches post at once.
    runBatch("b", true);
    ASSERT_TRUE(waitUntil([&] { return server.calls.size() == 2; }));
    EXPECT_EQ(server.calls[1].summary, "Conversion finished with errors");
    EXPECT_EQ(server.calls[1].body, QString::fromUtf8("2 files converted \u00B7 1 failed"));
}

TEST_F(Notifications, NothingIsPostedWhileTheProgramIsActiveOrWithoutABus) {
    model->setApplicationActiveProbe([] { return true; });
    runBatch("c");
    // A ping through the bus, answered after anything sent before it.
    bool answered = false;
    desktop::Notifications::requestAuthorization([&](bool) { answered = true; });
    ASSERT_TRUE(waitUntil([&] { return answered; }));
    EXPECT_TRUE(server.calls.empty());
    EXPECT_FALSE(model->notificationsRequested());

    bool granted = true;
    desktop::Notifications::requestAuthorization([&](bool g) { granted = g; }, QDBusConnection("no-such-connection"));
    EXPECT_FALSE(granted);
    desktop::Notifications::post("silent", "nothing", QDBusConnection("no-such-connection"));
}

#include "notification_test.moc"
