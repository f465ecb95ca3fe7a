#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLocalServer;

namespace calvoro::desktop {

// What a later start of the program hands to the one already running: the URLs and the files
// (absolute paths, as bytes) of its command line, and whether the user asked for the window.
struct InstanceMessage {
    std::vector<std::string> urls;
    std::vector<std::string> files;
    bool showWindow = false;
};

// One running program per user: the first start listens on a local socket that only its user can
// reach; a later start sends its arguments there and leaves.
class SingleInstance {
public:
    enum class Role {
        primary,     // this process is the running instance (or runs on its own when no socket can be had)
        forwarded,   // the running instance has the message
        unanswered,  // an instance holds the socket but did not take the message; this one runs on its own
    };

    // socketPath: where the socket lives; the default is in $XDG_RUNTIME_DIR.
    explicit SingleInstance(std::string socketPath = defaultSocketPath());
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // "$XDG_RUNTIME_DIR/calvoro.socket"; without that folder, a private folder of the user's
    // under the temporary folder. Empty when no safe place exists.
    static std::string defaultSocketPath();

    // Hands message to the running instance, or becomes the running instance when there is none
    // (a socket left by a killed instance is cleared). Needs an application object; call once.
    Role claimOrForward(const InstanceMessage& message);
    // Becomes the running instance when none is there, without handing anything over; false
    // when another one holds the socket.
    bool claimIfFree();
    // Takes no more messages, and leaves the socket to the next start. False while a start is
    // handing over (its message is on the way): try again shortly.
    bool stopListening();

    // Called on the main thread with each message a later start sends.
    void setReceiver(std::function<void(const InstanceMessage&)> receiver);

    bool isListening() const;
    const std::string& socketPath() const { return socketPath_; }

private:
    enum class Delivery { delivered, noInstance, noAnswer };
    // Without a message it only asks whether an instance is there.
    Delivery forward(const InstanceMessage* message);
    bool listen();

    std::string socketPath_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void(const InstanceMessage&)> receiver_;
};

}  // namespace calvoro::desktop
