#pragma once

#include "app/ui/controls/hover_button.h"

namespace calvoro {

// The row's "xmark": clear until the row is hovered, red on its own hover; keeps its 28-point
// square (and hit area) while invisible.
class RowRemoveButton : public HoverButton {
    Q_OBJECT
public:
    explicit RowRemoveButton(QWidget* parent = nullptr);
    static constexpr double disabledOpacity = 0.45;
    // Whether the row around it is hovered.
    void setShown(bool shown);
    bool isShown() const { return shown_; }
    QColor iconColor() const;
    QSize sizeHint() const override { return {28, 28}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool shown_ = false;
};

}  // namespace calvoro
