#include "platform/desktop/notifications.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace calvoro::desktop {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");

}  // namespace

void Notifications::requestAuthorization(const std::function<void(bool)>& answer, const QDBusConnection& bus) {
    if (!bus.isConnected()) {
        answer(false);
        return;
    }
    // A server that answers for its capabilities will show what we post.
    auto message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection(bus).asyncCall(message), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher, [watcher, answer] {
        const bool granted = !watcher->isError();
        watcher->deleteLater();
        answer(granted);
    });
}

void Notifications::post(const QString& title, const QString& body, const QDBusConnection& bus) {
    if (!bus.isConnected()) return;
    auto message = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("calvoro"));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue<uchar>(1));
    message << QStringLiteral("Calvoro") << uint(0) << QStringLiteral("calvoro") << title << body << QStringList() << hints
            << int(-1);
    QDBusConnection(bus).asyncCall(message);
}

}  // namespace calvoro::desktop
