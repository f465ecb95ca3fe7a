#pragma once

#include <QWidget>

#include <vector>

namespace calvoro {

class ConversionViewModel;
class DefaultTargetRow;
class HoverButton;

// The "Defaults" page of the settings: per kind of file, the format new files get, with a
// "Reset" back to Auto for all.
class DefaultTargetsSettingsSection : public QWidget {
    Q_OBJECT
public:
    explicit DefaultTargetsSettingsSection(ConversionViewModel& viewModel, QWidget* parent = nullptr);
    const std::vector<DefaultTargetRow*>& rows() const { return rows_; }
    HoverButton* resetButton() const { return reset_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    ConversionViewModel& viewModel_;
    std::vector<DefaultTargetRow*> rows_;
    HoverButton* reset_;
};

}  // namespace calvoro
