#include "app/ui/window/desktop_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QLabel>
#include <QStringList>
#include <QPainter>
#include <QTreeView>
#include <QVBoxLayout>

#include "app/ui/overlays/modal_chrome.h"
#include "app/ui/theme/theme.h"
#include "core/text_util.h"
#include "platform/qt/file_urls.h"

namespace calvoro::DesktopDialogs {
namespace {

constexpr int sizeColumn = 1;

// File sizes as the window writes them ("374 KB"), not in the toolkit's binary units ("365 KiB").
class WindowSizes : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex& index, int role) const override {
        if (index.column() == sizeColumn && (role == Qt::DisplayRole || role == Qt::ToolTipRole))
            if (auto* files = qobject_cast<QFileSystemModel*>(sourceModel())) {
                const QModelIndex source = mapToSource(index);
                if (!files->isDir(source)) return QString::fromStdString(formatByteCount(files->size(source)));
            }
        return QIdentityProxyModel::data(index, role);
    }
};

// The note's card: the overlays' look, the message in the window's text colour.
class Note : public QWidget {
public:
    Note(const QString& text, QWidget* window) : QWidget(window) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(18, 12, 18, 12);
        auto* label = new QLabel(text, this);
        label->setFont(Theme::font(13, QFont::Medium));
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Theme::textPrimary(Theme::scheme(window)));
        label->setPalette(palette);
        layout->addWidget(label);
        adjustSize();
        // Where the toasts stand: a chooser centred on the window, or attached under its title
        // bar as some desktops place it, leaves the window's foot in view.
        move((window->width() - width()) / 2, window->height() - 64 - height());
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        ModalChrome::paintCard(painter, QRectF(rect()), Theme::scheme(this));
    }
};

}  // namespace

std::optional<std::string> preferredPlatformTheme(const char* chosen, const char* desktop) {
    if ((chosen && *chosen) || !desktop || !*desktop) return std::nullopt;
    // The desktops whose theme Qt picks itself (as its own list names them).
    static const QStringList known{"GNOME", "X-CINNAMON", "UNITY", "MATE", "XFCE", "LXDE", "KDE"};
    for (const QString& name : QString::fromUtf8(desktop).split(':', Qt::SkipEmptyParts))
        if (known.contains(name.toUpper())) return std::nullopt;
    return "xdgdesktopportal";
}

QUrl startFolder(const std::optional<std::filesystem::path>& folder,
                 std::initializer_list<QStandardPaths::StandardLocation> userFolders) {
    std::error_code ec;
    if (folder && std::filesystem::is_directory(*folder, ec)) return qtpaths::fileURL(*folder);
    for (const auto location : userFolders) {
        const QString path = QStandardPaths::writableLocation(location);
        if (!path.isEmpty() && QDir(path).exists()) return QUrl::fromLocalFile(path);
    }
    return QUrl::fromLocalFile(QDir::homePath());
}

bool nativeFileDialogs() {
    const QFileDialog probe;
    return isNative(&probe);
}

bool isNative(const QFileDialog* dialog) {
    // Qt makes its own widgets only for a dialog that the platform does not show.
    return !dialog->testOption(QFileDialog::DontUseNativeDialog) && !dialog->findChild<QTreeView*>();
}

void fitFallback(QFileDialog* dialog) {
    if (isNative(dialog)) return;
    if (!dialog->proxyModel()) dialog->setProxyModel(new WindowSizes(dialog));
    dialog->setViewMode(QFileDialog::Detail);
    if (auto* list = dialog->findChild<QTreeView*>()) {
        // The name takes the room the size, kind and date leave, each as wide as its text.
        QHeaderView* header = list->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        list->setTextElideMode(Qt::ElideMiddle);
    }
}

QWidget* showNote(QWidget* window, const QString& text) {
    if (!window || text.isEmpty()) return nullptr;
    auto* note = new Note(text, window);
    note->raise();
    note->show();
    return note;
}

}  // namespace calvoro::DesktopDialogs
