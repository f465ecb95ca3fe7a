#include "app/entry/desktop/bus_traffic.h"

#include <dbus/dbus.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMetaObject>
#include <QObject>
#include <QThread>

#include <algorithm>
#include <limits>
#include <thread>

namespace calvoro {

namespace {

DBusConnection* rawConnection(const QDBusConnection& bus) { return static_cast<DBusConnection*>(bus.internalPointer()); }

long clamped(std::uint64_t bytes) {
    constexpr auto most = static_cast<std::uint64_t>(std::numeric_limits<long>::max());
    return static_cast<long>(bytes < most ? bytes : most);
}

// libdbus tells nobody when its queue goes down: it is looked at this often.
constexpr std::chrono::milliseconds roomCheckInterval{5};

}  // namespace

void holdReceivedUpTo(const QDBusConnection& bus, std::uint64_t bytes) {
    if (DBusConnection* connection = rawConnection(bus)) dbus_connection_set_max_received_size(connection, clamped(bytes));
}

// Lives on the bus's thread; what is still held when it goes is let go of there too.
class BusOutbox::Anchor : public QObject {
public:
    explicit Anchor(std::shared_ptr<Shared> shared) : shared_(std::move(shared)) {}
    ~Anchor() override { releaseHeld(shared_); }

    static void releaseHeld(const std::shared_ptr<Shared>& shared) {
        std::vector<std::shared_ptr<void>> batch;
        std::lock_guard lock(shared->lock);
        batch.swap(shared->held);
    }

private:
    std::shared_ptr<Shared> shared_;
};

void BusOutbox::LaterDeleter::operator()(QObject* object) const { object->deleteLater(); }

std::shared_ptr<BusOutbox> BusOutbox::open(const QDBusConnection& bus, std::uint64_t budget, std::chrono::milliseconds patience) {
    const QDBusConnectionInterface* interface = bus.isConnected() ? bus.interface() : nullptr;
    if (!interface || !rawConnection(bus)) return nullptr;
    return std::shared_ptr<BusOutbox>(new BusOutbox(bus, interface->thread(), budget, patience));
}

BusOutbox::BusOutbox(const QDBusConnection& bus, QThread* busThread, std::uint64_t budget, std::chrono::milliseconds patience)
    : bus_(bus), budget_(budget), patience_(patience), shared_(std::make_shared<Shared>()), anchor_(new Anchor(shared_)) {
    anchor_->moveToThread(busThread);
}

BusOutbox::~BusOutbox() = default;

std::uint64_t BusOutbox::queued() const {
    const long inLibdbus = dbus_connection_get_outgoing_size(rawConnection(bus_));
    return shared_->inTransit.load() + static_cast<std::uint64_t>(inLibdbus > 0 ? inLibdbus : 0);
}

bool BusOutbox::takeRoom(std::uint64_t bytes, std::uint64_t& lowest) {
    std::lock_guard lock(shared_->sending);
    const std::uint64_t ahead = queued();
    if (ahead == 0 || ahead + bytes <= budget_ || !dbus_connection_get_is_connected(rawConnection(bus_))) {
        shared_->inTransit += bytes;
        return true;
    }
    lowest = std::min(lowest, ahead);
    return false;
}

bool BusOutbox::send(const QDBusMessage& message, std::uint64_t bytes) {
    std::uint64_t lowest = std::numeric_limits<std::uint64_t>::max();
    auto lastProgress = std::chrono::steady_clock::now();
    for (;;) {
        const std::uint64_t before = lowest;
        if (takeRoom(bytes, lowest)) break;
        const auto now = std::chrono::steady_clock::now();
        if (lowest < before) {
            lastProgress = now;
        } else if (now - lastProgress >= patience_) {
            return false;
        }
        std::this_thread::sleep_for(roomCheckInterval);
    }
    QDBusConnection(bus_).send(message);
    // Qt hands the message to libdbus on the bus's thread, before what is posted there after it.
    QMetaObject::invokeMethod(anchor_.get(), [shared = shared_, bytes] { shared->inTransit -= bytes; }, Qt::QueuedConnection);
    return true;
}

void BusOutbox::release(std::shared_ptr<void> holder) {
    {
        std::lock_guard lock(shared_->lock);
        shared_->held.push_back(std::move(holder));
    }
    QMetaObject::invokeMethod(anchor_.get(), [shared = shared_, bus = bus_] {
        Anchor::releaseHeld(shared);
        // Messages libdbus read while it held too many wait for a dispatch that nothing asks for
        // once it reads no more: asked here, as Qt does after each read.
        if (DBusConnection* connection = rawConnection(bus))
            while (dbus_connection_dispatch(connection) == DBUS_DISPATCH_DATA_REMAINS) {}
    }, Qt::QueuedConnection);
}

}  // namespace calvoro
