#include "platform/qt/file_urls.h"

#include <QByteArray>

#include "core/path_text.h"

namespace calvoro::qtpaths {

QUrl fileURL(const std::filesystem::path& path) {
    return QUrl::fromEncoded(QByteArray::fromStdString(calvoro::fileURL(path)), QUrl::StrictMode);
}

std::optional<std::filesystem::path> localPath(const QUrl& url) {
    if (!url.isValid() || !url.isLocalFile()) return std::nullopt;
    const QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toUtf8());
    if (path.isEmpty() || path.contains('\0')) return std::nullopt;
    return std::filesystem::path(path.toStdString());
}

}  // namespace calvoro::qtpaths
