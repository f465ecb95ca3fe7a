#pragma once

#include <QDBusConnection>
#include <QString>

#include <functional>

namespace calvoro::desktop {

// Desktop notifications over the session bus (org.freedesktop.Notifications). Every call is
// asynchronous and silent when there is no bus or no notification server.
class Notifications {
public:
    // Whether a notification server answers on the bus; the answer arrives on the caller's
    // thread's event loop.
    static void requestAuthorization(const std::function<void(bool granted)>& answer,
                                     const QDBusConnection& bus = QDBusConnection::sessionBus());
    // Shows a notification at once, with the server's default sound; the reply is not observed.
    static void post(const QString& title, const QString& body,
                     const QDBusConnection& bus = QDBusConnection::sessionBus());
};

}  // namespace calvoro::desktop
