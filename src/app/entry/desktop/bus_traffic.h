#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <QDBusConnection>

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
};

// Sets how much received traffic the connection holds before it stops reading.
void holdReceivedUpTo(const QDBusConnection& bus, std::uint64_t bytes);

// Returns once the connection's outgoing queue is empty or has room for bytes more within
// budget, or the connection is gone.
void waitForRoomToSend(const QDBusConnection& bus, std::uint64_t bytes, std::uint64_t budget);

// Lets go of received messages on the thread that reads the bus. libdbus starts reading again
// from whichever thread frees the last message over its limit, and turns the bus's socket
// notifier back on from there; Qt only lets the notifier's own thread do that, so a message
// freed on a worker thread would leave the connection deaf for good.
class BusThreadRelease {
public:
    BusThreadRelease();
    ~BusThreadRelease();
    BusThreadRelease(const BusThreadRelease&) = delete;
    BusThreadRelease& operator=(const BusThreadRelease&) = delete;

    // Before the first release: the thread that reads the bus (its interface object's).
    void moveTo(QThread* busThread);
    // From any thread, handing over the only reference: holder is destroyed on the bus's thread.
    void release(std::shared_ptr<void> holder);

private:
    struct Queue {
        std::mutex lock;
        std::vector<std::shared_ptr<void>> held;
    };
    struct LaterDeleter {
        void operator()(QObject* object) const;
    };
    std::shared_ptr<Queue> queue_;
    std::unique_ptr<QObject, LaterDeleter> anchor_;
};

}  // namespace calvoro
