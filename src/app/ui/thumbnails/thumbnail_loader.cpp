#include "app/ui/thumbnails/thumbnail_loader.h"

#include <QCoreApplication>
#include <QThread>

#include <sys/stat.h>

#include "app/ui/thumbnails/thumbnail_sources.h"
#include "core/file_url.h"
#include "core/text_util.h"

namespace calvoro {

ThumbnailLoader& ThumbnailLoader::shared() {
    static ThumbnailLoader* instance = [] {
        auto* loader = new ThumbnailLoader(&thumbnails::generate, QCoreApplication::instance());
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, loader, &ThumbnailLoader::drain);
        return loader;
    }();
    return *instance;
}

ThumbnailLoader::ThumbnailLoader(Generator generator, QObject* parent)
    : QObject(parent), generator_(std::move(generator)), cache_(cacheLimit) {
    // Two at a time keeps the rows filling in without taking the cores from conversions.
    pool_.setMaxThreadCount(2);
}

ThumbnailLoader::~ThumbnailLoader() { drain(); }

void ThumbnailLoader::drain() {
    stopping_ = true;
    // A PDF page is drawn on the main thread: keep serving it while the last pictures finish.
    while (!pool_.waitForDone(20)) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

QString ThumbnailLoader::key(const std::filesystem::path& url) {
    double seconds = 0;
    struct stat info {};
    if (::stat(url.c_str(), &info) == 0)
        seconds = static_cast<double>(info.st_mtim.tv_sec) + static_cast<double>(info.st_mtim.tv_nsec) / 1e9;
    return QString::fromStdString(pathKey(url) + "#" + formatShortestDouble(seconds));
}

void ThumbnailLoader::thumbnail(const std::filesystem::path& url, QObject* context, Completion done) {
    Q_ASSERT(QThread::currentThread() == thread());
    const QString k = key(url);
    if (const QImage* image = cache_.object(k)) {
        done(*image);
        return;
    }
    if (inFlight_.count(k) || stopping_) {
        done(std::nullopt);
        return;
    }
    inFlight_.insert(k);
    QPointer<QObject> receiver(context);
    const int pixels = static_cast<int>(pointSize * scale);
    pool_.start([this, url, k, receiver, done = std::move(done), generator = generator_, pixels] {
        std::optional<QImage> image;
        try {
            image = generator(url, pixels);
        } catch (...) {
            image.reset();
        }
        if (image) image->setDevicePixelRatio(scale);
        QMetaObject::invokeMethod(
            this, [this, url, k, image = std::move(image), receiver, done] { finish(url, k, image, receiver, done); },
            Qt::QueuedConnection);
    });
}

void ThumbnailLoader::finish(const std::filesystem::path& url, const QString& key, std::optional<QImage> image,
                             QPointer<QObject> context, const Completion& done) {
    inFlight_.erase(key);
    if (image && !image->isNull()) cache_.insert(key, new QImage(*image));
    else image.reset();
    const bool cached = image.has_value();
    if (context) done(std::move(image));
    if (cached) emit made(QString::fromStdString(pathKey(url)));
}

}  // namespace calvoro
