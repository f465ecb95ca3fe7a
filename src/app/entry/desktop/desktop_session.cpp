#include "app/entry/desktop/desktop_session.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QUrl>

#include <system_error>

#include "app/entry/desktop/file_open_inbox.h"
#include "app/entry/desktop/finder_conversion_service.h"
#include "core/handoff_request.h"

namespace calvoro {

namespace {

namespace fs = std::filesystem;

// The local path of a "file:" URL; nothing for a file on another host.
std::optional<fs::path> localPath(const std::string& url) {
    const QUrl parsed(QString::fromUtf8(url), QUrl::StrictMode);
    if (!parsed.isValid() || !parsed.isLocalFile()) return std::nullopt;
    if (!parsed.host().isEmpty() && parsed.host() != QLatin1String("localhost")) return std::nullopt;
    // Decoded as bytes: file names need not be UTF-8.
    const QByteArray path = QByteArray::fromPercentEncoding(parsed.path(QUrl::FullyEncoded).toUtf8());
    if (path.isEmpty() || path.contains('\0')) return std::nullopt;
    return fs::path(path.toStdString());
}

std::vector<fs::path> paths(const std::vector<std::string>& texts) {
    return {texts.begin(), texts.end()};
}

}  // namespace

StartArguments StartArguments::read(const std::vector<std::string>& arguments, const fs::path& workingDirectory) {
    StartArguments start;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--seed-files") break;
        if (argument == dbusServiceFlag) {
            start.dbusService = true;
            continue;
        }
        if (argument.empty() || argument[0] == '-') continue;
        const fs::path asPath = fs::path(argument).is_absolute() ? fs::path(argument) : workingDirectory / argument;
        std::error_code ec;
        const bool looksLikeURL = URLParts::split(argument).has_value() && argument.find(':') < argument.find('/');
        if (looksLikeURL && !fs::exists(asPath, ec)) {
            if (auto file = localPath(argument)) {
                start.files.push_back(*file);
            } else if (argument.rfind("file:", 0) != 0) {
                start.urls.push_back(argument);
            }
            continue;
        }
        start.files.push_back(asPath.lexically_normal());
    }
    return start;
}

DesktopSession::DesktopSession(StartArguments start, std::string socketPath)
    : start_(std::move(start)),
      instance_(std::move(socketPath)),
      intents_([] { FinderConversionService::shared().startIdleCountdown(); }) {}

DesktopSession::~DesktopSession() = default;

bool DesktopSession::handedToRunningInstance() {
    desktop::InstanceMessage message;
    message.urls = start_.urls;
    for (const auto& file : start_.files) message.files.push_back(file.string());
    message.showWindow = showsWindow();
    // Activation only needs some instance to serve the bus; the running one does.
    if (start_.dbusService) message = {};
    return instance_.claimOrForward(message) == desktop::SingleInstance::Role::forwarded;
}

bool DesktopSession::showsWindow() const {
    if (start_.dbusService) return false;
    return start_.urls.empty() || !start_.files.empty();
}

void DesktopSession::serve(WindowHooks hooks) {
    window_ = std::move(hooks);
    auto& service = FinderConversionService::shared();
    FinderConversionService::Hooks serviceHooks;
    serviceHooks.hideWindows = window_.hide;
    serviceHooks.bringForward = window_.show;
    serviceHooks.openCompressPicker = window_.openCompressPicker;
    serviceHooks.otherWorkRunning = [this] { return otherWorkRunning(); };
    service.setHooks(std::move(serviceHooks));
    instance_.setReceiver([this](const desktop::InstanceMessage& message) { received(message); });

    intentsPublished_ = intents_.registerOn(QDBusConnection::sessionBus());

    // Started cold for work the user does not watch: no window, and an end once it is done.
    if (!showsWindow()) service.enterBackgroundMode();
    for (const auto& url : start_.urls) service.handle(url);
    FileOpenInbox::append(start_.files);
    // A windowless start that was given nothing it could do does not stay around unseen.
    service.startIdleCountdown();
}

void DesktopSession::received(const desktop::InstanceMessage& message) {
    // Served as opened URLs: a window that is open stays open, and nothing quits because of them.
    for (const auto& url : message.urls) FinderConversionService::shared().handle(url);
    FileOpenInbox::append(paths(message.files));
    if (message.showWindow && window_.show) window_.show();
}

bool DesktopSession::otherWorkRunning() const {
    return intents_.runningCalls() > 0 || (window_.busy && window_.busy());
}

bool DesktopSession::lastWindowClosed() {
    auto& service = FinderConversionService::shared();
    if (!service.isBackgroundWorker() && service.activeJobs() == 0 && intents_.runningCalls() == 0) return true;
    service.enterBackgroundMode();
    service.startIdleCountdown();
    return false;
}

}  // namespace calvoro
