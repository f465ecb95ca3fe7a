#pragma once

#include <QString>

#include <string>

#include "app/ui/controls/hover_button.h"

namespace calvoro {

// A small icon-only button in the circle-icon look: the symbol centred in a size × size frame,
// a soft rounded fill and a brighter symbol on hover, a slight shrink while pressed.
class CircleIconButtonStyle : public HoverButton {
    Q_OBJECT
public:
    CircleIconButtonStyle(std::string symbol, double symbolPoints, QFont::Weight weight, double size,
                          const QString& help, QWidget* parent = nullptr);

    const std::string& symbol() const { return symbol_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string symbol_;
    double symbolPoints_;
    QFont::Weight weight_;
    double size_;
};

}  // namespace calvoro
