#pragma once

#include "app/ui/controls/hover_button.h"

namespace calvoro {

class ConversionViewModel;

// The accent-filled "Add files" bar at the foot of the sidebar: opens the open panel for any file.
class SidebarAddFooter : public HoverButton {
    Q_OBJECT
public:
    explicit SidebarAddFooter(ConversionViewModel& viewModel, QWidget* parent = nullptr);
    QColor fillColor() const;
    QColor labelColor() const;
    QSize sizeHint() const override { return {246, 46}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ConversionViewModel& viewModel_;
};

}  // namespace calvoro
