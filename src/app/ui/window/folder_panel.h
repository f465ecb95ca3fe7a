#pragma once

#include <QDialog>

#include <filesystem>
#include <optional>

#include "app/state/conversion_view_model.h"

class QFileDialog;
class QLabel;

namespace calvoro {

// The job list's folder panels: the title, the message over the folders when there is one, and
// the prompt on the button that chooses (the toolkit's own word when there is none). Folders
// only, one at a time; new folders can be made. run() opens the desktop's own chooser where
// there is one, with the message at the foot of the window; this panel holds Qt's otherwise.
class FolderPanel : public QDialog {
    Q_OBJECT
public:
    FolderPanel(const ConversionViewModel::FolderPanelRequest& request, QWidget* parent = nullptr);

    QFileDialog* browser() const { return browser_; }
    QLabel* message() const { return message_; }
    std::optional<std::filesystem::path> chosenFolder() const;

    // Runs the panel modally: the chosen folder, or nothing when cancelled.
    static std::optional<std::filesystem::path> run(const ConversionViewModel::FolderPanelRequest& request, QWidget* parent);

private:
    QFileDialog* browser_;
    QLabel* message_ = nullptr;
};

}  // namespace calvoro
