#pragma once

#include <QWidget>

#include <functional>
#include <vector>

#include "app/ui/console/settings_segmented_control.h"
#include "app/ui/overlays/modal_chrome.h"

class QScrollArea;

namespace calvoro {

class ConversionViewModel;
class HoverButton;

// The settings card: a header with its close button, the category switcher, the chosen
// category's page (scrolling beyond 340 points) and a footer with the conversions overview,
// the log and the version. It always opens on Appearance.
class ConsoleSettingsPopover : public ModalChrome {
    Q_OBJECT
public:
    static constexpr int cardWidth = 580;

    ConsoleSettingsPopover(ConversionViewModel& viewModel, std::function<void()> onShowConversions,
                           QWidget* parent = nullptr);

    SettingsCategory category() const;
    void setCategory(SettingsCategory category);
    SettingsSegmentedControl* switcher() const { return switcher_; }
    // The page shown now.
    QWidget* page() const { return page_; }
    int contentAreaHeight() const;
    HoverButton* closeButton() const { return close_; }
    HoverButton* conversionsButton() const { return conversions_; }
    HoverButton* logButton() const { return log_; }

    static const std::vector<int>& edges();
    static const std::vector<int>& bitrates();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showPage();
    void fitHeight();

    ConversionViewModel& viewModel_;
    std::function<void()> onShowConversions_;
    SettingsSegmentedControl* switcher_;
    QScrollArea* scroll_ = nullptr;
    QWidget* contentHost_;
    QWidget* page_ = nullptr;
    HoverButton* close_;
    HoverButton* conversions_;
    HoverButton* log_;
};

}  // namespace calvoro
