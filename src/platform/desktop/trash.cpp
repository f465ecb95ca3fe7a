#include "platform/desktop/trash.h"

#include <QFile>
#include <QString>

namespace calvoro::desktop {

std::optional<std::string> moveToTrash(const std::filesystem::path& item) {
    QFile file(QString::fromStdString(item.string()));
    if (!file.exists()) return "The file doesn\u2019t exist.";
    if (file.moveToTrash()) return std::nullopt;
    const QString reason = file.errorString();
    return reason.isEmpty() ? std::string("The file couldn\u2019t be moved to the Trash.") : reason.toStdString();
}

}  // namespace calvoro::desktop
