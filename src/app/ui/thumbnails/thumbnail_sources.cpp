#include "app/ui/thumbnails/thumbnail_sources.h"

#include <QCryptographicHash>
#include <QFile>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/file_detector.h"
#include "core/file_url.h"
#include "platform/imaging/image_ops.h"
#include "platform/imaging/image_source.h"
#include "platform/media/asset.h"
#include "platform/media/image_generator.h"
#include "modules/documents_module.h"

namespace calvoro::thumbnails {
namespace {

std::filesystem::path thumbnailCacheRoot() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && *xdg == '/') return std::filesystem::path(xdg) / "thumbnails";
    const char* home = std::getenv("HOME");
    if (!home || !*home) return {};
    return std::filesystem::path(home) / ".cache" / "thumbnails";
}

QImage fitted(QImage image, int pixelSize) {
    if (image.width() > pixelSize || image.height() > pixelSize)
        image = image.scaled(pixelSize, pixelSize, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

// Straight-alpha RGBA from the imaging layers, resampled to fit and copied into a QImage.
QImage toQImage(const imaging::RgbaImage& source, int pixelSize) {
    if (source.empty()) return {};
    const imaging::RgbaImage* picture = &source;
    imaging::RgbaImage scaled;
    if (source.width > pixelSize || source.height > pixelSize) {
        const double scale = static_cast<double>(pixelSize) / std::max(source.width, source.height);
        scaled = imaging::resample(source, std::max(1, static_cast<int>(std::lround(source.width * scale))),
                                   std::max(1, static_cast<int>(std::lround(source.height * scale))));
        picture = &scaled;
    }
    QImage image(picture->width, picture->height, QImage::Format_RGBA8888);
    for (int y = 0; y < picture->height; ++y)
        std::memcpy(image.scanLine(y), picture->row(y), static_cast<size_t>(picture->width) * 4);
    return image;
}

QImage fromImageFile(const std::filesystem::path& path, int pixelSize) {
    auto source = imaging::ImageSource::open(path);
    if (!source) return {};
    imaging::RgbaImage pixels = source->decodeFirstFrameForResize(pixelSize);
    imaging::convertToSRGB(pixels);
    const int orientation = source->properties().metadata.orientation;
    if (orientation > 1 && orientation <= 8) pixels = imaging::applyOrientation(std::move(pixels), orientation);
    return toQImage(pixels, pixelSize);
}

QImage fromVideoFile(const std::filesystem::path& path, int pixelSize) {
    media::Asset asset(path);
    media::ImageGenerator generator(asset);
    generator.setAppliesPreferredTrackTransform(true);
    generator.setMaximumSize(pixelSize, pixelSize);
    return toQImage(generator.copyImage(0), pixelSize);
}

}  // namespace

std::string fileURI(const std::filesystem::path& path) { return fileURL(std::filesystem::absolute(path).lexically_normal()); }

std::optional<QImage> cachedByDesktop(const std::filesystem::path& path, int pixelSize) {
    const auto root = thumbnailCacheRoot();
    struct stat info {};
    if (root.empty() || ::stat(path.c_str(), &info) != 0) return std::nullopt;
    const std::string uri = fileURI(path);
    const QString name = QString::fromLatin1(
        QCryptographicHash::hash(QByteArray::fromStdString(uri), QCryptographicHash::Md5).toHex() + ".png");
    const QString mtime = QString::number(static_cast<qlonglong>(info.st_mtim.tv_sec));
    // The smallest size that is still sharp enough comes first.
    static constexpr std::array<std::pair<const char*, int>, 4> folders{
        {{"normal", 128}, {"large", 256}, {"x-large", 512}, {"xx-large", 1024}}};
    std::optional<QImage> fallback;
    for (const auto& [folder, size] : folders) {
        const QString file = QFile::decodeName((root / folder).c_str()) + '/' + name;
        if (!QFile::exists(file)) continue;
        QImage image(file, "PNG");
        if (image.isNull() || image.text("Thumb::URI") != QString::fromStdString(uri) ||
            image.text("Thumb::MTime") != mtime)
            continue;
        if (size >= pixelSize) return fitted(std::move(image), pixelSize);
        if (!fallback) fallback = fitted(std::move(image), pixelSize);
    }
    return fallback;
}

std::optional<QImage> generate(const std::filesystem::path& path, int pixelSize) {
    if (auto cached = cachedByDesktop(path, pixelSize)) return cached;
    const auto format = FileDetector::detect(path);
    if (!format) return std::nullopt;
    QImage image;
    try {
        if (format->category() == FileCategory::image) image = fromImageFile(path, pixelSize);
        else if (format->category() == FileCategory::video) image = fromVideoFile(path, pixelSize);
        else if (*format == SupportedFormat::pdf) image = toQImage(documents::pdfFirstPage(path, pixelSize), pixelSize);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (image.isNull()) return std::nullopt;
    return image;
}

}  // namespace calvoro::thumbnails
