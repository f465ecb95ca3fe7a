#include "platform/desktop/single_instance.h"

#include <QByteArray>
#include <QDataStream>
#include <QLocalServer>
#include <QLocalSocket>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "core/work_folder.h"

namespace calvoro::desktop {

namespace {

constexpr quint32 messageMagic = 0x434C5652;  // "CLVR"
constexpr quint32 messageVersion = 1;
constexpr char acknowledgement = 'K';
constexpr int connectTimeoutMs = 2000;
constexpr int replyTimeoutMs = 5000;

QByteArray encode(const InstanceMessage& message) {
    QByteArray data;
    QDataStream out(&data, QIODevice::WriteOnly);
    QList<QByteArray> urls, files;
    for (const auto& u : message.urls) urls.append(QByteArray::fromStdString(u));
    for (const auto& f : message.files) files.append(QByteArray::fromStdString(f));
    out << messageMagic << messageVersion << urls << files << message.showWindow;
    return data;
}

// A folder only this user can enter, owned by this user.
bool isPrivateFolder(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

// Held while a start decides whether it is the running instance, so that two starts at once
// never both listen, and a socket being set up is never taken for a stale one.
class ElectionLock {
public:
    // wait false: held only when no one else holds it.
    explicit ElectionLock(const std::string& path, bool wait = true)
        : fd_(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600)) {
        if (fd_ >= 0) held_ = ::flock(fd_, wait ? LOCK_EX : LOCK_EX | LOCK_NB) == 0;
    }
    ~ElectionLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    ElectionLock(const ElectionLock&) = delete;
    ElectionLock& operator=(const ElectionLock&) = delete;
    // Without a lock file no start can hold it either.
    bool held() const { return held_ || fd_ < 0; }

private:
    int fd_;
    bool held_ = false;
};

}  // namespace

SingleInstance::SingleInstance(std::string socketPath) : socketPath_(std::move(socketPath)) {}

SingleInstance::~SingleInstance() = default;

std::string SingleInstance::defaultSocketPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime == '/' && isPrivateFolder(runtime)) return std::string(runtime) + "/calvoro.socket";
    std::string folder = (WorkFolder::temporaryDirectory() / ("calvoro-runtime-" + std::to_string(::getuid()))).string();
    ::mkdir(folder.c_str(), 0700);
    if (!isPrivateFolder(folder)) return {};
    return folder + "/calvoro.socket";
}

SingleInstance::Role SingleInstance::claimOrForward(const InstanceMessage& message) {
    if (socketPath_.empty()) return Role::primary;
    ElectionLock lock(socketPath_ + ".lock");
    switch (forward(&message)) {
        case Delivery::delivered: return Role::forwarded;
        // An instance that takes the call but never answers still owns the socket: the caller
        // decides whether this start serves itself, and the socket is left alone.
        case Delivery::noAnswer: return Role::unanswered;
        case Delivery::noInstance: break;
    }
    if (!listen()) {
        std::fprintf(stderr, "Calvoro: cannot listen on %s; later starts will not reach this one\n", socketPath_.c_str());
    }
    return Role::primary;
}

bool SingleInstance::claimIfFree() {
    if (socketPath_.empty()) return false;
    ElectionLock lock(socketPath_ + ".lock");
    if (forward(nullptr) != Delivery::noInstance) return false;
    return listen();
}

bool SingleInstance::stopListening() {
    if (!server_) return true;
    // A start that holds the lock has connected or is about to: its message must be read first.
    ElectionLock lock(socketPath_ + ".lock", false);
    if (!lock.held()) return false;
    server_->close();
    server_.reset();
    return true;
}

SingleInstance::Delivery SingleInstance::forward(const InstanceMessage* message) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath_));
    if (!socket.waitForConnected(connectTimeoutMs)) {
        // Refused or absent: nobody listens there. Anything else (a full backlog, a slow
        // instance) is an instance that is alive.
        const auto error = socket.error();
        return error == QLocalSocket::ConnectionRefusedError || error == QLocalSocket::ServerNotFoundError
                   ? Delivery::noInstance
                   : Delivery::noAnswer;
    }
    if (!message) return Delivery::noAnswer;
    socket.write(encode(*message));
    while (socket.bytesToWrite() > 0)
        if (!socket.waitForBytesWritten(replyTimeoutMs)) return Delivery::noAnswer;
    // The running instance answers once it holds the whole message.
    while (socket.bytesAvailable() < 1)
        if (!socket.waitForReadyRead(replyTimeoutMs)) return Delivery::noAnswer;
    char reply = 0;
    return socket.read(&reply, 1) == 1 && reply == acknowledgement ? Delivery::delivered : Delivery::noAnswer;
}

bool SingleInstance::listen() {
    server_ = std::make_unique<QLocalServer>();
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = QString::fromStdString(socketPath_);
    if (!server_->listen(name)) {
        // Nobody listens there (checked above under the lock): the file is a dead instance's.
        QLocalServer::removeServer(name);
        if (!server_->listen(name)) {
            server_.reset();
            return false;
        }
    }
    QLocalServer* server = server_.get();
    QObject::connect(server, &QLocalServer::newConnection, server, [this, server] {
        while (QLocalSocket* socket = server->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            auto read = [this, socket] {
                QDataStream in(socket);
                in.startTransaction();
                quint32 magic = 0, version = 0;
                QList<QByteArray> urls, files;
                bool showWindow = false;
                in >> magic >> version;
                if (in.status() == QDataStream::Ok && (magic != messageMagic || version != messageVersion)) {
                    in.abortTransaction();
                    socket->abort();
                    return;
                }
                in >> urls >> files >> showWindow;
                if (!in.commitTransaction()) return;  // more to come
                socket->write(&acknowledgement, 1);
                socket->flush();
                InstanceMessage message;
                for (const auto& u : urls) message.urls.push_back(u.toStdString());
                for (const auto& f : files) message.files.push_back(f.toStdString());
                message.showWindow = showWindow;
                if (receiver_) receiver_(message);
            };
            QObject::connect(socket, &QLocalSocket::readyRead, socket, read);
            if (socket->bytesAvailable() > 0) read();
        }
    });
    return true;
}

void SingleInstance::setReceiver(std::function<void(const InstanceMessage&)> receiver) { receiver_ = std::move(receiver); }

bool SingleInstance::isListening() const { return server_ && server_->isListening(); }

}  // namespace calvoro::desktop
