#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include <QDBusConnection>

#include "app/entry/desktop/bus_traffic.h"
#include "app/entry/desktop/dbus_message_limits.h"

namespace calvoro {

// The automation actions on the session bus: service "app.calvoro.Calvoro", object
// "/app/calvoro/Calvoro", interface "app.calvoro.Intents" with
//   ConvertFile(s name, ay contents, s format) -> (s name, ay contents)
//   ConvertFileInPlace(s path, s format, b replaceExisting) -> (s path)
// Calls are taken on the thread that reads the bus and run on worker threads, files of a
// megabyte or more two at a time; a failure is a D-Bus error whose message is the user's text.
// A file too large for one message is refused with LimitsExceeded, before the reply is built.
// What the service holds of the bus's traffic is bounded (see BusTrafficBudget).
class IntentsService {
public:
    static constexpr const char* serviceName = "app.calvoro.Calvoro";
    static constexpr const char* objectPath = "/app/calvoro/Calvoro";
    static constexpr const char* interfaceName = "app.calvoro.Intents";

    // callEnded runs on the main thread after every call, once its reply is sent, while the
    // service exists.
    explicit IntentsService(std::function<void()> callEnded = {}, DBusMessageLimits limits = {}, BusTrafficBudget traffic = {});
    // Calls that come meanwhile are refused as for an object that is not there; those already
    // taken are answered first.
    ~IntentsService();
    IntentsService(const IntentsService&) = delete;
    IntentsService& operator=(const IntentsService&) = delete;

    // Publishes the object and takes the name; false when the bus is not there or the name
    // belongs to another program.
    bool registerOn(QDBusConnection bus);
    // Gives the name up, so that the bus starts a new instance for the next call. Calls it had
    // routed here before still arrive.
    void releaseName();
    // Returns once everything sent so far, the replies included, has reached the bus.
    void flush();

    int runningCalls() const { return calls_->running.load(); }

private:
    class Object;
    struct Workers;
    // Shared with what the workers post to the main thread.
    struct Calls {
        std::atomic<int> running{0};
        std::function<void()> ended;
    };
    // Deletes the object on the thread that serves it, once no call is being taken, and waits.
    struct DeleteOnItsThread {
        void operator()(Object* object) const;
    };

    std::shared_ptr<Calls> calls_;
    DBusMessageLimits limits_;
    BusTrafficBudget traffic_;
    std::unique_ptr<Workers> workers_;
    std::unique_ptr<Object, DeleteOnItsThread> object_;
    std::optional<QDBusConnection> bus_;
};

}  // namespace calvoro
