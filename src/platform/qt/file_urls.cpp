#include "platform/qt/file_urls.h"

#include <QByteArray>

#include "core/conversion_logger.h"
#include "core/file_url.h"

namespace calvoro::qtpaths {

QUrl fileURL(const std::filesystem::path& path) {
    return QUrl::fromEncoded(QByteArray::fromStdString(calvoro::fileURL(path)), QUrl::StrictMode);
}

std::optional<std::filesystem::path> localPath(const QUrl& url) {
    if (!url.isValid() || !url.isLocalFile()) return std::nullopt;
    // "file://server/x" names /x on that server, never the file /x here.
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0) {
        ConversionLogger::shared().warning("Not a file on this computer: " + url.toString(QUrl::FullyEncoded).toStdString(),
                                           "Files");
        return std::nullopt;
    }
    const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toUtf8());
    if (path.isEmpty() || path.contains('\0')) return std::nullopt;
    return std::filesystem::path(path.toStdString());
}

}  // namespace calvoro::qtpaths
