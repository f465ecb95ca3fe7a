// "Show in Files" asks the desktop's file manager over D-Bus, here one on the test's own bus.
#include <QDBusConnection>
#include <QObject>
#include <QStringList>

#include "app/state/state_test_support.h"
#include "platform/desktop/file_manager.h"
#include "platform/qt/file_urls.h"

using namespace calvoro;
using namespace calvoro::testing;

namespace {

class FileManagerServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QStringList shown;

public slots:
    Q_SCRIPTABLE void ShowItems(const QStringList& uris, const QString&) { shown += uris; }
};

TEST(Reveal, AFileWhoseNameIsNotUTF8IsShownByItsOwnName) {
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected())
        << "no session bus: dbus-daemon did not start (scripts/setup installs it)";
    FileManagerServer server;
    auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "file-manager-server");
    ASSERT_TRUE(bus.registerService("org.freedesktop.FileManager1"));
    ASSERT_TRUE(bus.registerObject("/org/freedesktop/FileManager1", &server, QDBusConnection::ExportScriptableSlots));
    TempDir dir;
    const auto file = dir / "caf\xE9 1.png";
    writeFile(file, std::string("x"));
    desktop::revealInFileManager(file);
    const bool arrived = waitUntil([&] { return !server.shown.isEmpty(); }, std::chrono::seconds(20));
    bus.unregisterObject("/org/freedesktop/FileManager1");
    bus.unregisterService("org.freedesktop.FileManager1");
    QDBusConnection::disconnectFromBus("file-manager-server");
    ASSERT_TRUE(arrived);
    ASSERT_EQ(server.shown.size(), 1);
    EXPECT_EQ(server.shown[0].toStdString(), "file://" + dir.path().string() + "/caf%E9%201.png");
    EXPECT_EQ(qtpaths::localPath(QUrl(server.shown[0])), file);
}

// What a drop from another program carries, and what the window hands to others (drag, open).
TEST(FileURLs, EveryByteOfAPathSurvivesTheURL) {
    EXPECT_EQ(qtpaths::localPath(QUrl("file:///tmp/caf%E9.png")), std::filesystem::path("/tmp/caf\xE9.png"));
    EXPECT_EQ(qtpaths::localPath(QUrl("file:///tmp/caf%C3%A9%20x.png")), std::filesystem::path("/tmp/caf\xC3\xA9 x.png"));
    EXPECT_FALSE(qtpaths::localPath(QUrl("https://example.com/a.png")));
    EXPECT_FALSE(qtpaths::localPath(QUrl("file:///tmp/a%00b")));
    for (const std::filesystem::path path : {"/tmp/caf\xE9 #1%.png", "/tmp/\xFF\xFE/[x]?.png", "/tmp/plain.png"})
        EXPECT_EQ(qtpaths::localPath(qtpaths::fileURL(path)), path) << path;

    // A file on another computer is never taken for the file of the same path here.
    EXPECT_EQ(qtpaths::localPath(QUrl("file://localhost/tmp/a.png")), std::filesystem::path("/tmp/a.png"));
    EXPECT_FALSE(qtpaths::localPath(QUrl("file://server/tmp/a.png")));
    EXPECT_TRUE(logged("Not a file on this computer: file://server/tmp/a.png"));
}

}  // namespace

#include "reveal_test.moc"
