#include "platform/desktop/open_url.h"

#include <QDesktopServices>
#include <QUrl>

#include "platform/qt/file_urls.h"

namespace calvoro::desktop {

bool openPath(const std::filesystem::path& path) {
    return QDesktopServices::openUrl(qtpaths::fileURL(path));
}

}  // namespace calvoro::desktop
