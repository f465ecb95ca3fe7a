#include "app/ui/window/folder_panel.h"

#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QVBoxLayout>

#include "app/ui/theme/theme.h"

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
    // The desktop's own dialog has no place for a message: the toolkit's, held in this one.
    browser_->setOption(QFileDialog::DontUseNativeDialog);
    browser_->setWindowFlags(Qt::Widget);
    browser_->setFileMode(QFileDialog::Directory);
    browser_->setOption(QFileDialog::ShowDirsOnly);
    if (request.prompt) browser_->setLabelText(QFileDialog::Accept, QString::fromStdString(*request.prompt));
    column->addWidget(browser_);
    connect(browser_, &QFileDialog::accepted, this, &QDialog::accept);
    connect(browser_, &QFileDialog::rejected, this, &QDialog::reject);
    resize(720, 480);
}

std::optional<std::filesystem::path> FolderPanel::chosenFolder() const {
    const QStringList chosen = browser_->selectedFiles();
    if (chosen.isEmpty() || chosen.front().isEmpty()) return std::nullopt;
    return std::filesystem::path(QFile::encodeName(chosen.front()).toStdString());
}

std::optional<std::filesystem::path> FolderPanel::run(const ConversionViewModel::FolderPanelRequest& request, QWidget* parent) {
    FolderPanel panel(request, parent);
    if (panel.exec() != QDialog::Accepted) return std::nullopt;
    return panel.chosenFolder();
}

}  // namespace calvoro
