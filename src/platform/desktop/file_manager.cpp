#include "platform/desktop/file_manager.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QStringList>
#include <QUrl>

#include "core/file_url.h"
#include "platform/desktop/open_url.h"

namespace calvoro::desktop {

void revealInFileManager(const std::filesystem::path& item) {
    const QString service = QStringLiteral("org.freedesktop.FileManager1");
    QDBusConnection bus = QDBusConnection::sessionBus();
    const bool available = bus.isConnected() && bus.interface() &&
                           (bus.interface()->isServiceRegistered(service).value() ||
                            bus.interface()->activatableServiceNames().value().contains(service));
    if (available) {
        auto message = QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/FileManager1"), service,
                                                      QStringLiteral("ShowItems"));
        message << QStringList{QString::fromStdString(fileURL(item))} << QString();
        bus.asyncCall(message);
        return;
    }
    openPath(item.parent_path());
}

}  // namespace calvoro::desktop
