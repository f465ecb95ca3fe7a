#include "app/entry/desktop/bus_traffic.h"

#include <dbus/dbus.h>

#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <chrono>
#include <limits>
#include <thread>

namespace calvoro {

namespace {

DBusConnection* rawConnection(const QDBusConnection& bus) { return static_cast<DBusConnection*>(bus.internalPointer()); }

long clamped(std::uint64_t bytes) {
    constexpr auto most = static_cast<std::uint64_t>(std::numeric_limits<long>::max());
    return static_cast<long>(bytes < most ? bytes : most);
}

}  // namespace

void holdReceivedUpTo(const QDBusConnection& bus, std::uint64_t bytes) {
    if (DBusConnection* connection = rawConnection(bus)) dbus_connection_set_max_received_size(connection, clamped(bytes));
}

void waitForRoomToSend(const QDBusConnection& bus, std::uint64_t bytes, std::uint64_t budget) {
    DBusConnection* connection = rawConnection(bus);
    if (!connection) return;
    for (;;) {
        const long queued = dbus_connection_get_outgoing_size(connection);
        if (queued <= 0 || static_cast<std::uint64_t>(queued) + bytes <= budget) return;
        if (!dbus_connection_get_is_connected(connection)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void BusThreadRelease::LaterDeleter::operator()(QObject* object) const { object->deleteLater(); }

BusThreadRelease::BusThreadRelease() : queue_(std::make_shared<Queue>()) {}

BusThreadRelease::~BusThreadRelease() = default;

void BusThreadRelease::moveTo(QThread* busThread) {
    if (!anchor_) anchor_.reset(new QObject);
    anchor_->moveToThread(busThread);
}

void BusThreadRelease::release(std::shared_ptr<void> holder) {
    {
        std::lock_guard lock(queue_->lock);
        queue_->held.push_back(std::move(holder));
    }
    QMetaObject::invokeMethod(anchor_.get(), [queue = queue_] {
        std::vector<std::shared_ptr<void>> batch;
        std::lock_guard lock(queue->lock);
        batch.swap(queue->held);
    }, Qt::QueuedConnection);
}

}  // namespace calvoro
