#pragma once

#include <QColor>

#include <functional>

#include "app/state/appearance.h"
#include "app/ui/controls/hover_button.h"

namespace calvoro {

// The close button of a card's header: an "xmark" in the tertiary colour on a circle of side
// points filled in the scheme's colour. It looks the same under the pointer.
class CloseCircleButton : public HoverButton {
    Q_OBJECT
public:
    CloseCircleButton(int side, std::function<QColor(ColorScheme)> fill, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::function<QColor(ColorScheme)> fill_;
};

}  // namespace calvoro
