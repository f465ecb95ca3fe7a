#pragma once

#include "app/ui/controls/hover_button.h"

namespace calvoro {

// The square outlined magnifier beside a finished job: shows the converted file.
class RevealButton : public HoverButton {
    Q_OBJECT
public:
    explicit RevealButton(QWidget* parent = nullptr);

    QSize sizeHint() const override { return {28, 28}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace calvoro
