#include "platform/web/offscreen_page.h"

#include <QCoreApplication>
#include <QFile>
#include <QPageLayout>
#include <QPageRanges>
#include <QPageSize>
#include <QPointer>
#include <QUrl>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

#include "core/font_families.h"
#include "core/uuid.h"
#include "core/work_folder.h"
#include "platform/qt/file_urls.h"
#include "platform/qt/main_thread.h"
#include "platform/web/single_shot_timer.h"
#include "platform/web/web_engine.h"

namespace calvoro::web {
namespace {

// Only local resources load: rendering a document never reaches the network. Nor does a
// document bring another file's text into what is printed: local files come in as pictures,
// styles and fonts, never as frames, objects or script reads, and the page's own frame shows
// only what the program loads into it.
class LocalOnlyFilter : public QWebEngineUrlRequestInterceptor {
public:
    using QWebEngineUrlRequestInterceptor::QWebEngineUrlRequestInterceptor;
    void interceptRequest(QWebEngineUrlRequestInfo& info) override {
        const QString scheme = info.requestUrl().scheme();
        if (scheme != QLatin1String("file") && scheme != QLatin1String("data") && scheme != QLatin1String("blob") &&
            scheme != QLatin1String("about") && scheme != QLatin1String("qrc"))
            info.block(true);
        if (scheme != QLatin1String("file")) return;
        switch (info.resourceType()) {
            case QWebEngineUrlRequestInfo::ResourceTypeMainFrame:
                if (info.navigationType() != QWebEngineUrlRequestInfo::NavigationTypeTyped) info.block(true);
                break;
            case QWebEngineUrlRequestInfo::ResourceTypeSubFrame:
            case QWebEngineUrlRequestInfo::ResourceTypeObject:
            case QWebEngineUrlRequestInfo::ResourceTypePluginResource:
            case QWebEngineUrlRequestInfo::ResourceTypeXhr: info.block(true); break;
            default: break;
        }
    }
};

// A finished page waits this long before it is blanked: the next page usually takes it first
// and loads into its renderer, and a program that ends meanwhile never starts the renderer a
// blank page would bring up.
constexpr double blankingDelay = 2.0;  // seconds

// Once a view has been deleted the engine loads nothing in views made after it, so views
// are never deleted: a finished page goes back to this pool (main thread only), blanked
// unless the next page takes it first.
struct IdleView {
    std::unique_ptr<QWebEngineView> view;
    QWebEnginePage* page = nullptr;  // the view's, which the blanking empties
    std::unique_ptr<SingleShotTimer> blanking;
};
std::vector<IdleView>& idleViews() {
    // Never destroyed at exit: the views must not outlive the application object.
    static auto* views = new std::vector<IdleView>;
    return *views;
}

// One off-the-record profile for all rendering; it lives on the main thread with the
// application object, which owns it.
QWebEngineProfile* renderingProfile() {
    static QPointer<QWebEngineProfile> profile;
    if (!profile) {
        profile = new QWebEngineProfile(QCoreApplication::instance());
        profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
        profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        profile->setUrlRequestInterceptor(new LocalOnlyFilter(profile));
        auto* settings = profile->settings();
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, true);
        settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
        settings->setAttribute(QWebEngineSettings::PrintElementBackgrounds, true);
        settings->setAttribute(QWebEngineSettings::ShowScrollBars, false);
        // Generic CSS families ("sans-serif", "monospace", a page without any) name exact
        // families, not whatever this machine's fontconfig calls by those names.
        const QString sans = QString::fromUtf8(fonts::sans), serif = QString::fromUtf8(fonts::serif);
        settings->setFontFamily(QWebEngineSettings::StandardFont, serif);
        settings->setFontFamily(QWebEngineSettings::SerifFont, serif);
        settings->setFontFamily(QWebEngineSettings::SansSerifFont, sans);
        settings->setFontFamily(QWebEngineSettings::FixedFont, QString::fromUtf8(fonts::monospace));
        settings->setFontFamily(QWebEngineSettings::CursiveFont, sans);
        settings->setFontFamily(QWebEngineSettings::FantasyFont, sans);
        settings->setFontFamily(QWebEngineSettings::PictographFont, serif);
        // Views and then the profile go while the event loop can still wind them down.
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, profile, [] {
            idleViews().clear();
            delete profile.data();
            endEngineProcesses();
        });
    }
    return profile;
}

std::unique_ptr<QWebEngineView> newView() {
    auto view = std::make_unique<QWebEngineView>();
    view->setPage(new QWebEnginePage(renderingProfile(), view.get()));
    view->setAttribute(Qt::WA_DontShowOnScreen);
    return view;
}

std::unique_ptr<QWebEngineView> takeView() {
    auto& pool = idleViews();
    if (!pool.empty()) {
        auto view = std::move(pool.back().view);
        pool.pop_back();
        return view;
    }
    return newView();
}

// Puts a base element first in the head (or first of all) so that the page, loaded from
// the temporary folder, resolves its relative references inside the base folder.
std::string withBase(const std::string& html, const QUrl& base) {
    std::string href = base.toString(QUrl::FullyEncoded).toStdString();
    std::string escaped;
    for (char c : href) escaped += c == '&' ? std::string("&amp;") : std::string(1, c);
    const std::string element = "<base href=\"" + escaped + "\">";
    std::string lower(html.size(), '\0');
    for (size_t i = 0; i < html.size(); ++i) lower[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(html[i])));
    size_t at = lower.find("<head");
    if (at != std::string::npos) {
        const size_t end = html.find('>', at);
        if (end != std::string::npos) return html.substr(0, end + 1) + element + html.substr(end + 1);
    }
    return element + html;
}

// A print's reply, delivered once: by the engine, or as a failure when the renderer goes.
using PrintReply = std::shared_ptr<std::function<void(std::optional<std::string>)>>;

void deliver(const PrintReply& reply, std::optional<std::string> bytes) {
    if (!*reply) return;
    auto done = std::move(*reply);
    *reply = nullptr;
    done(std::move(bytes));
}

}  // namespace

struct OffscreenPage::Impl {
    std::unique_ptr<QWebEngineView> view;
    QWebEnginePage* page = nullptr;
    std::function<void(bool)> loadEnded;
    // The page's file lives in a work folder of its own, so that a killed run leaves nothing
    // that the next run's sweep of abandoned work folders does not clear.
    std::optional<WorkFolder> folder;
    std::filesystem::path temporaryFile;
    QMetaObject::Connection loadConnection;
    QMetaObject::Connection crashConnection;
    QMetaObject::Connection deferredLoad;
    QUrl expectedUrl;
    bool rendererGone = false;
    std::vector<PrintReply> pendingPrints;
};

OffscreenPage::OffscreenPage(int width, int height) : impl_(std::make_unique<Impl>()) {
    prepareWebEngine();
    impl_->view = takeView();
    impl_->page = impl_->view->page();
    impl_->view->resize(width, height);
    Impl* impl = impl_.get();
    // Only the end of this page's own navigation counts: a recycled view may still report
    // on what it showed before.
    impl_->loadConnection = QObject::connect(
        impl_->page, &QWebEnginePage::loadingChanged, impl_->page, [impl](const QWebEngineLoadingInfo& info) {
            if (impl->expectedUrl.isEmpty() || info.url() != impl->expectedUrl) return;
            if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) return;
            impl->expectedUrl = QUrl();
            if (impl->loadEnded) impl->loadEnded(info.status() == QWebEngineLoadingInfo::LoadSucceededStatus);
        });
    // The engine may never answer a print whose renderer has gone: it fails here instead.
    impl_->crashConnection = QObject::connect(
        impl_->page, &QWebEnginePage::renderProcessTerminated, impl_->page, [impl] {
            impl->rendererGone = true;
            auto pending = std::move(impl->pendingPrints);
            impl->pendingPrints.clear();
            for (auto& reply : pending) deliver(reply, std::nullopt);
        });
}

OffscreenPage::~OffscreenPage() {
    QObject::disconnect(impl_->loadConnection);
    QObject::disconnect(impl_->crashConnection);
    QObject::disconnect(impl_->deferredLoad);
    for (auto& reply : impl_->pendingPrints) *reply = nullptr;
    // Loading stops now; the document, and any script still running in it, go with the blanking.
    impl_->page->triggerAction(QWebEnginePage::Stop);
    QWebEnginePage* page = impl_->page;
    idleViews().push_back({std::move(impl_->view), page,
                           std::make_unique<SingleShotTimer>(blankingDelay, [page] { page->setHtml(QString()); })});
}

void OffscreenPage::setLoadEndedHandler(std::function<void(bool finished)> handler) {
    impl_->loadEnded = std::move(handler);
}

void OffscreenPage::loadHtml(const std::string& html, const std::filesystem::path& baseFolder, bool drawn) {
    std::string folder = baseFolder.string();
    if (folder.empty() || folder.back() != '/') folder += '/';
    const QUrl base = qtpaths::fileURL(folder);
    if (!impl_->temporaryFile.empty()) {
        std::error_code ec;
        std::filesystem::remove(impl_->temporaryFile, ec);
    }
    // The page loads from a file of its own: no size limit, as a data URL would have, and
    // a URL that tells its navigation apart.
    std::ofstream out;
    try {
        if (!impl_->folder) impl_->folder.emplace(WorkFolder::temporaryDirectory());
        impl_->temporaryFile = impl_->folder->path() / ("Calvoro_" + Uuid().uuidString() + ".html");
        out.open(impl_->temporaryFile, std::ios::binary);
        const std::string text = withBase(html, base);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        out.close();
    } catch (const std::filesystem::filesystem_error&) {
        out.setstate(std::ios::failbit);
    }
    if (!out) {
        // Nothing to load: the navigation fails, as the engine would report it.
        QMetaObject::invokeMethod(impl_->page, [impl = impl_.get()] {
            if (impl->loadEnded) impl->loadEnded(false);
        }, Qt::QueuedConnection);
        return;
    }
    // The viewport keeps the view's size either way.
    impl_->view->setVisible(drawn);
    impl_->expectedUrl = qtpaths::fileURL(impl_->temporaryFile);
    // A new navigation starts a new renderer if the last one went.
    impl_->rendererGone = false;
    QObject::disconnect(impl_->deferredLoad);
    if (!impl_->page->isLoading()) {
        impl_->page->load(impl_->expectedUrl);
        return;
    }
    // A view taken while it still loads what it showed before (the blank page that readied
    // its renderer) can drop a navigation started over that one: this one starts once that ends.
    Impl* impl = impl_.get();
    impl_->deferredLoad = QObject::connect(impl_->page, &QWebEnginePage::loadingChanged, impl_->page,
                                           [impl](const QWebEngineLoadingInfo& info) {
                                               if (info.status() == QWebEngineLoadingInfo::LoadStartedStatus) return;
                                               QObject::disconnect(impl->deferredLoad);
                                               impl->page->load(impl->expectedUrl);
                                           });
}

void OffscreenPage::evaluateNumber(const std::string& script, std::function<void(std::optional<double>)> done) {
    impl_->page->runJavaScript(QString::fromStdString(script), QWebEngineScript::ApplicationWorld,
                               [done = std::move(done)](const QVariant& value) {
                                   bool ok = false;
                                   const int type = value.typeId();
                                   const bool number = type == QMetaType::Int || type == QMetaType::Double ||
                                                       type == QMetaType::LongLong || type == QMetaType::UInt ||
                                                       type == QMetaType::ULongLong;
                                   const double n = value.toDouble(&ok);
                                   done(number && ok ? std::optional<double>(n) : std::nullopt);
                               });
}

void OffscreenPage::evaluateText(const std::string& script, std::function<void(std::optional<std::string>)> done) {
    impl_->page->runJavaScript(QString::fromStdString(script), QWebEngineScript::ApplicationWorld,
                               [done = std::move(done)](const QVariant& value) {
                                   done(value.typeId() == QMetaType::QString ? std::optional(value.toString().toStdString())
                                                                             : std::nullopt);
                               });
}

void OffscreenPage::printToPdf(double width, double height, double margin,
                               std::function<void(std::optional<std::string>)> done,
                               std::optional<std::pair<int, int>> pages) {
    auto reply = std::make_shared<std::function<void(std::optional<std::string>)>>(std::move(done));
    if (impl_->rendererGone) {
        QMetaObject::invokeMethod(impl_->page, [reply] { deliver(reply, std::nullopt); }, Qt::QueuedConnection);
        return;
    }
    QPageLayout layout(QPageSize(QSizeF(width / 96.0, height / 96.0), QPageSize::Inch), QPageLayout::Portrait,
                       QMarginsF(0, margin * 0.75, 0, margin * 0.75));
    if (margin <= 0) layout.setMode(QPageLayout::FullPageMode);
    QPageRanges ranges;
    if (pages) ranges.addRange(pages->first, pages->second);
    auto& pending = impl_->pendingPrints;
    pending.erase(std::remove_if(pending.begin(), pending.end(), [](const PrintReply& r) { return !*r; }), pending.end());
    pending.push_back(reply);
    // The page may be back in the pool, blanked, when the engine answers: only the reply is kept.
    impl_->page->printToPdf(
        [reply](const QByteArray& bytes) {
            deliver(reply, bytes.isEmpty() ? std::nullopt : std::optional<std::string>(bytes.toStdString()));
        },
        layout, ranges);
}

long long OffscreenPage::rendererProcessId() const { return impl_->page->renderProcessPid(); }

bool OffscreenPage::rendererRunning() const { return !impl_->rendererGone; }

bool OffscreenPage::blankingPending() const {
    const auto& pool = idleViews();
    return std::any_of(pool.begin(), pool.end(), [page = impl_->page](const IdleView& idle) {
        return idle.page == page && idle.blanking && idle.blanking->pending();
    });
}

void warmUp(int width, int height) {
    static std::once_flag once;
    std::call_once(once, [=] {
        qtmain::postToMain([=] {
            if (!idleViews().empty()) return;
            prepareWebEngine();
            auto view = newView();
            view->resize(width, height);
            view->show();
            // The blank page brings up a renderer, which the first real page then takes over.
            view->page()->load(QUrl(QStringLiteral("about:blank")));
            QWebEnginePage* page = view->page();
            idleViews().push_back({std::move(view), page, nullptr});
        });
    });
}

}  // namespace calvoro::web
