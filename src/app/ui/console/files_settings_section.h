#pragma once

#include <QWidget>

#include <string>

namespace calvoro {

class ConversionViewModel;
class HoverButton;
class SettingsGroup;
class SettingsRow;
class SettingsSwitch;

// The "Files" page of the settings: the output folder (shown, revealed, changed), whether
// originals stay, and the folders authorised earlier, each removable.
class FilesSettingsSection : public QWidget {
    Q_OBJECT
public:
    explicit FilesSettingsSection(ConversionViewModel& viewModel, QWidget* parent = nullptr);
    ~FilesSettingsSection() override;

    // "~" for the home folder at the start of a path.
    static QString abbreviatedPath(const std::string& path);

    SettingsRow* outputRow() const { return outputRow_; }
    HoverButton* revealButton() const { return reveal_; }
    HoverButton* chooseButton() const { return choose_; }
    SettingsSwitch* keepSwitch() const { return keep_; }
    SettingsRow* keepRow() const { return keepRow_; }
    // The "Folder access" group, absent while no folder is authorised.
    SettingsGroup* accessGroup() const { return access_; }
    // Withdraws a folder's access, as its row's "Remove" does.
    void removeFolder(const std::string& path);

private:
    void refresh();
    void rebuildAccess();

    ConversionViewModel& viewModel_;
    SettingsRow* outputRow_;
    HoverButton* reveal_;
    HoverButton* choose_;
    SettingsSwitch* keep_;
    SettingsRow* keepRow_;
    SettingsGroup* access_ = nullptr;
};

}  // namespace calvoro
