#pragma once

#include <QWidget>

#include <vector>

class QLabel;

namespace calvoro {

class ConversionViewModel;
class SettingsRow;
class SettingsSegmented;
class SettingsSwitch;

// The "Appearance" page of the settings: the accent (twelve swatches and a custom colour),
// the theme and the background tint.
class AppearanceSettingsSection : public QWidget {
    Q_OBJECT
public:
    explicit AppearanceSettingsSection(ConversionViewModel& viewModel, QWidget* parent = nullptr);

    // The swatches in order, then the custom colour well.
    const std::vector<QWidget*>& swatches() const { return swatches_; }
    QString accentLabel() const;
    SettingsSegmented* themeControl() const { return theme_; }
    SettingsSwitch* tintSwitch() const { return tint_; }
    SettingsRow* tintRow() const { return tintRow_; }
    // What the colour well does with a colour the user picked.
    void applyCustomColor(const QColor& color);

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    ConversionViewModel& viewModel_;
    QLabel* accentName_;
    std::vector<QWidget*> swatches_;
    QWidget* well_;
    SettingsSegmented* theme_;
    SettingsSwitch* tint_;
    SettingsRow* tintRow_;
};

}  // namespace calvoro
