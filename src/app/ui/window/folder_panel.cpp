#include "app/ui/window/folder_panel.h"

#include <QFileDialog>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

#include "app/ui/theme/theme.h"
#include "app/ui/window/desktop_dialogs.h"
#include "platform/qt/file_urls.h"

namespace calvoro {

FolderPanel::FolderPanel(const ConversionViewModel::FolderPanelRequest& request, QWidget* parent)
    : QDialog(parent), browser_(new QFileDialog(this)) {
    setWindowTitle(QString::fromStdString(request.title));
    auto* column = new QVBoxLayout(this);
    if (request.message) {
        message_ = new QLabel(QString::fromStdString(*request.message), this);
        message_->setWordWrap(true);
        message_->setFont(Theme::font(13, QFont::Medium));
        message_->setContentsMargins(4, 4, 4, 2);
        column->addWidget(message_);
    }
    // Where the desktop has no chooser of its own: the toolkit's, held in this one under the message.
    browser_->setOption(QFileDialog::DontUseNativeDialog);
    DesktopDialogs::fitFallback(browser_);
    browser_->setWindowFlags(Qt::Widget);
    browser_->setFileMode(QFileDialog::Directory);
    browser_->setOption(QFileDialog::ShowDirsOnly);
    browser_->setDirectoryUrl(DesktopDialogs::startFolder(request.folder, {QStandardPaths::DocumentsLocation}));
    if (request.prompt) browser_->setLabelText(QFileDialog::Accept, QString::fromStdString(*request.prompt));
    column->addWidget(browser_);
    connect(browser_, &QFileDialog::accepted, this, &QDialog::accept);
    connect(browser_, &QFileDialog::rejected, this, &QDialog::reject);
    resize(720, 480);
}

std::optional<std::filesystem::path> FolderPanel::chosenFolder() const {
    const QList<QUrl> chosen = browser_->selectedUrls();
    if (chosen.isEmpty()) return std::nullopt;
    return qtpaths::localPath(chosen.front());
}

std::optional<std::filesystem::path> FolderPanel::run(const ConversionViewModel::FolderPanelRequest& request, QWidget* parent) {
    // The panels belong to the window and go with deleteLater once their loop has ended: the
    // toolkit may still hold them in the events it is delivering, and the window may go first.
    if (!DesktopDialogs::nativeFileDialogs()) {
        QPointer<FolderPanel> panel = new FolderPanel(request, parent);
        const bool chosen = panel->exec() == QDialog::Accepted;
        if (!panel) return std::nullopt;
        panel->deleteLater();
        return chosen ? panel->chosenFolder() : std::nullopt;
    }
    // The desktop's chooser keeps the title and the prompt; it has no room for the message,
    // which stands at the foot of the window while the chooser is open.
    QPointer<QFileDialog> chooser = new QFileDialog(parent, QString::fromStdString(request.title));
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setOption(QFileDialog::ShowDirsOnly);
    chooser->setDirectoryUrl(DesktopDialogs::startFolder(request.folder, {QStandardPaths::DocumentsLocation}));
    if (request.prompt) chooser->setLabelText(QFileDialog::Accept, QString::fromStdString(*request.prompt));
    QPointer<QWidget> note;
    if (request.message && parent) note = DesktopDialogs::showNote(parent->window(), QString::fromStdString(*request.message));
    const bool chosen = chooser->exec() == QDialog::Accepted;
    if (note) {
        note->hide();
        note->deleteLater();
    }
    if (!chooser) return std::nullopt;
    chooser->deleteLater();
    const QList<QUrl> folders = chooser->selectedUrls();
    if (!chosen || folders.isEmpty()) return std::nullopt;
    return qtpaths::localPath(folders.front());
}

}  // namespace calvoro
