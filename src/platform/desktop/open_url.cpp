#include "platform/desktop/open_url.h"

#include <QDesktopServices>
#include <QUrl>

namespace calvoro::desktop {

bool openURL(const std::string& url) { return QDesktopServices::openUrl(QUrl(QString::fromStdString(url))); }

bool openPath(const std::filesystem::path& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path.string())));
}

}  // namespace calvoro::desktop
