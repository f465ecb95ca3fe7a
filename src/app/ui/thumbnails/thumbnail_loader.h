#pragma once

#include <QCache>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>

#include <filesystem>
#include <functional>
#include <optional>
#include <set>

namespace calvoro {

// Small pictures of source files for the job rows, kept for the most recent 512 files.
// Main thread only: the cache and the in-flight set change there; pictures are made on
// the loader's own worker threads.
class ThumbnailLoader : public QObject {
    Q_OBJECT
public:
    // Makes a picture no larger than the given pixels on its longest side; nothing when it cannot.
    using Generator = std::function<std::optional<QImage>(const std::filesystem::path&, int pixelSize)>;
    using Completion = std::function<void(std::optional<QImage>)>;

    static constexpr int cacheLimit = 512;
    // 36 x 36 points at twice the resolution.
    static constexpr int pointSize = 36;
    static constexpr qreal scale = 2.0;

    static ThumbnailLoader& shared();

    explicit ThumbnailLoader(Generator generator, QObject* parent = nullptr);
    ~ThumbnailLoader() override;

    // The path, "#" and the modification time in seconds since 1970 (0 when unreadable).
    static QString key(const std::filesystem::path& url);

    // Answers on the main thread: at once with the cached picture, at once with nothing while
    // the same file is being made, otherwise when the picture is made (nothing when it cannot
    // be, and a later call tries again). Nothing is answered once context is gone.
    void thumbnail(const std::filesystem::path& url, QObject* context, Completion done);

    const QCache<QString, QImage>& cache() const { return cache_; }
    bool isInFlight(const QString& key) const { return inFlight_.count(key) > 0; }

    // Waits for the pictures being made and starts no more (the program is ending).
    void drain();

signals:
    // A picture of the file (its path as the key writes it) is in the cache now: whoever was
    // answered with nothing while it was being made can take it from there.
    void made(const QString& file);

private:
    void finish(const std::filesystem::path& url, const QString& key, std::optional<QImage> image, QPointer<QObject> context,
                const Completion& done);

    Generator generator_;
    QCache<QString, QImage> cache_;
    std::set<QString> inFlight_;
    bool stopping_ = false;
    // Last, so that it is destroyed first: it waits for the pictures still being made.
    QThreadPool pool_;
};

}  // namespace calvoro
