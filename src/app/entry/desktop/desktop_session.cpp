#include "app/entry/desktop/desktop_session.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QTimer>
#include <QUrl>

#include <cctype>
#include <cstdio>
#include <system_error>

#include "app/entry/desktop/file_open_inbox.h"
#include "app/entry/desktop/finder_conversion_service.h"
#include "core/conversion_logger.h"
#include "core/handoff_request.h"
#include "core/handoff_url.h"
#include "core/text_util.h"
#include "platform/qt/file_urls.h"

namespace calvoro {

namespace {

namespace fs = std::filesystem;

// The local path of a "file:" URL; nothing for a file on another host.
std::optional<fs::path> localPath(const std::string& url) {
    return qtpaths::localPath(QUrl(QString::fromUtf8(url), QUrl::StrictMode));
}

// "calvoro:" in any letter case: such an argument is a link even when it cannot be read as one.
bool isOwnLink(const std::string& argument) {
    const std::string_view scheme = HandoffURL::scheme;
    if (argument.size() <= scheme.size() || argument[scheme.size()] != ':') return false;
    for (size_t i = 0; i < scheme.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(argument[i])) != scheme[i]) return false;
    return true;
}

// Open With of a path that is not there makes no job: it is skipped as the job list skips
// files it cannot read.
std::vector<fs::path> openableFiles(const std::vector<fs::path>& files) {
    std::vector<fs::path> kept;
    for (const auto& file : files) {
        std::error_code ec;
        if (fs::exists(file, ec)) {
            kept.push_back(file);
        } else {
            ConversionLogger::shared().warning("Unsupported file skipped: " + lastPathComponent(file), "Files");
        }
    }
    return kept;
}

std::vector<fs::path> paths(const std::vector<std::string>& texts) {
    return {texts.begin(), texts.end()};
}

// How long to wait for a start that is handing over before trying to end again.
constexpr int handOverRetryMs = 100;

}  // namespace

StartArguments StartArguments::read(const std::vector<std::string>& arguments, const fs::path& workingDirectory) {
    StartArguments start;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--seed-files") {
            for (++i; i < arguments.size(); ++i) {
                const fs::path given = arguments[i];
                const fs::path seed = (given.is_absolute() ? given : workingDirectory / given).lexically_normal();
                std::error_code ec;
                const auto status = fs::status(seed, ec);
                if (arguments[i].empty() || !fs::exists(status)) {
                    start.seedProblems.push_back("Not found: " + arguments[i]);
                } else if (fs::is_directory(status)) {
                    // As a drop does: the list holds files, and a folder's files are the user's to choose.
                    start.seedProblems.push_back("Folder not added: " + lastPathComponent(seed) + " (add the files inside instead)");
                } else {
                    start.seedFiles.push_back(seed);
                }
            }
            break;
        }
        if (argument == dbusServiceFlag) {
            start.dbusService = true;
            continue;
        }
        if (argument.empty() || argument[0] == '-') continue;
        if (isOwnLink(argument)) {
            start.urls.push_back(argument);
            continue;
        }
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
    : start_(std::move(start)), instance_(std::move(socketPath)), intents_([this] { callEnded(); }) {}

DesktopSession::~DesktopSession() = default;

std::optional<int> DesktopSession::handOverToRunningInstance() {
    // Activation means that no one serves the bus: this process does, whoever else runs.
    if (start_.dbusService) {
        instance_.claimIfFree();
        return std::nullopt;
    }
    desktop::InstanceMessage message;
    message.urls = start_.urls;
    for (const auto& file : start_.files) message.files.push_back(file.string());
    for (const auto& file : start_.seedFiles) message.files.push_back(file.string());
    message.showWindow = showsWindow();
    switch (instance_.claimOrForward(message)) {
        case desktop::SingleInstance::Role::forwarded:
            for (const auto& problem : start_.seedProblems) std::fprintf(stderr, "%s\n", problem.c_str());
            return 0;
        case desktop::SingleInstance::Role::primary: return std::nullopt;
        case desktop::SingleInstance::Role::unanswered: break;
    }
    // Links are served here as well as there; files belong in the running window's list, and a
    // second window would split the user's work, so the user hears what did not arrive.
    if (message.files.empty()) return std::nullopt;
    std::fprintf(stderr, "Calvoro is running but did not answer; these files were not added:\n");
    for (const auto& file : message.files) std::fprintf(stderr, "  %s\n", file.c_str());
    return 1;
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
    serviceHooks.bringForward = [this] { showWindow(); };
    serviceHooks.openCompressPicker = window_.openCompressPicker;
    serviceHooks.otherWorkRunning = [this] { return otherWorkRunning(); };
    serviceHooks.terminate = [this] { endWhenIdle(); };
    service.setHooks(std::move(serviceHooks));
    instance_.setReceiver([this](const desktop::InstanceMessage& message) { received(message); });

    intentsPublished_ = intents_.registerOn(QDBusConnection::sessionBus());

    // Started cold for work the user does not watch: no window, and an end once it is done.
    windowOpen_ = showsWindow();
    if (!windowOpen_) service.enterBackgroundMode();
    for (const auto& url : start_.urls) service.handle(url);
    FileOpenInbox::append(openableFiles(start_.files));
    // A windowless start that was given nothing it could do does not stay around unseen.
    service.startIdleCountdown();
}

void DesktopSession::received(const desktop::InstanceMessage& message) {
    // Served as opened URLs: a window that is open stays open, and nothing quits because of them.
    for (const auto& url : message.urls) FinderConversionService::shared().handle(url);
    FileOpenInbox::append(openableFiles(paths(message.files)));
    if (message.showWindow) showWindow();
}

void DesktopSession::showWindow() {
    windowOpen_ = true;
    if (window_.show) window_.show();
}

bool DesktopSession::otherWorkRunning() const {
    return intents_.runningCalls() > 0 || (window_.busy && window_.busy());
}

void DesktopSession::lastWindowClosed() {
    windowOpen_ = false;
    auto& service = FinderConversionService::shared();
    if (!service.isBackgroundWorker() && service.activeJobs() == 0 && intents_.runningCalls() == 0) return endWhenIdle();
    service.enterBackgroundMode();
    service.startIdleCountdown();
}

void DesktopSession::endWhenIdle() {
    if (ending_) return;
    if (!instance_.stopListening()) {
        // A later start is handing over right now: take its message, then see what it brought.
        // Without a window the end of whatever work came starts the idle countdown.
        QTimer::singleShot(handOverRetryMs, [this] {
            if (windowOpen_) return;  // the start asked for the window: it stays
            auto& service = FinderConversionService::shared();
            if (service.activeJobs() == 0 && !otherWorkRunning()) return endWhenIdle();
            service.enterBackgroundMode();
            service.startIdleCountdown();
        });
        return;
    }
    ending_ = true;
    // From here on a call starts a new instance by activation. Calls routed here before the
    // name went are queued behind this turn, so they are counted before the check below.
    if (intentsPublished_) intents_.releaseName();
    QMetaObject::invokeMethod(QCoreApplication::instance(), [this] { quitOnceAnswered(); }, Qt::QueuedConnection);
}

void DesktopSession::callEnded() {
    if (ending_) {
        quitOnceAnswered();
    } else {
        FinderConversionService::shared().startIdleCountdown();
    }
}

void DesktopSession::quitOnceAnswered() {
    if (intents_.runningCalls() > 0) return;  // the last call's end comes back here
    if (intentsPublished_) intents_.flush();
    // Calls the bus had routed here before the name went arrive ahead of the flush's answer.
    if (intents_.runningCalls() > 0) return;
    if (!quit_) return QCoreApplication::quit();
    // The end may take this session with it.
    const auto quit = quit_;
    quit();
}

}  // namespace calvoro
