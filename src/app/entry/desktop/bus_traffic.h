#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <QDBusConnection>

class QDBusMessage;
class QObject;
class QThread;

namespace calvoro {

// How much of the session bus's traffic the automation actions hold at once.
struct BusTrafficBudget {
    // Calls read from the bus and not yet answered. libdbus stops reading while the messages
    // it has handed out and that are still alive pass this; its own default (63 MiB) is less
    // than one large call.
    std::uint64_t receivedBytes = std::uint64_t{256} << 20;
    // Replies on their way out: a large reply waits until the queue has room for it.
    std::uint64_t sendingBytes = std::uint64_t{128} << 20;
    // How long a reply waits for the queue ahead of it to go down before it is dropped, so that
    // a caller that stops reading holds no thread for good. A caller's own default wait on D-Bus.
    std::chrono::milliseconds sendingPatience{25000};
};

// Sets how much received traffic the connection holds before it stops reading.
void holdReceivedUpTo(const QDBusConnection& bus, std::uint64_t bytes);

// What the service sends on one bus connection, and the thread it lets go of received messages
// on. libdbus starts reading again from whichever thread frees the last message over its limit,
// and turns the bus's socket notifier back on from there; Qt only lets the notifier's own thread
// do that, so a message freed on a worker thread would leave the connection deaf for good.
class BusOutbox {
public:
    // For a connection to a bus, whose reading thread it takes its place on at once; nothing when
    // the connection has none.
    static std::shared_ptr<BusOutbox> open(const QDBusConnection& bus, std::uint64_t budget, std::chrono::milliseconds patience);
    ~BusOutbox();
    BusOutbox(const BusOutbox&) = delete;
    BusOutbox& operator=(const BusOutbox&) = delete;

    // Sends message, whose arrays carry bytes, once nothing is queued or the queue has room for
    // them within the budget. False, sending nothing, when the queue did not go down for the
    // patience while the connection stayed open.
    bool send(const QDBusMessage& message, std::uint64_t bytes);
    // What waits to go out: messages sent and not yet handed to libdbus, and libdbus's own queue.
    std::uint64_t queued() const;
    // From any thread, handing over the only reference: holder is destroyed on the bus's thread.
    void release(std::shared_ptr<void> holder);

private:
    struct Shared {
        std::mutex lock;
        std::vector<std::shared_ptr<void>> held;
        // Sent through Qt, which hands messages to libdbus on the bus's thread.
        std::atomic<std::uint64_t> inTransit{0};
        // Taking room in the budget.
        std::mutex sending;
    };
    class Anchor;
    struct LaterDeleter {
        void operator()(QObject* object) const;
    };
    BusOutbox(const QDBusConnection& bus, QThread* busThread, std::uint64_t budget, std::chrono::milliseconds patience);
    bool takeRoom(std::uint64_t bytes, std::uint64_t& lowest);

    QDBusConnection bus_;
    std::uint64_t budget_;
    std::chrono::milliseconds patience_;
    std::shared_ptr<Shared> shared_;
    std::unique_ptr<QObject, LaterDeleter> anchor_;
};

}  // namespace calvoro
