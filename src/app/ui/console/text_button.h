#pragma once

#include "app/ui/controls/hover_button.h"

namespace calvoro {

// A bare text in the tertiary colour that acts as a button ("Cancel", "Reset", "Remove").
class TextButton : public HoverButton {
    Q_OBJECT
public:
    TextButton(const QString& label, double points, bool underlined, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace calvoro
