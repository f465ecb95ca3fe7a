#pragma once

#include <QString>

#include <functional>
#include <string>

#include "app/ui/controls/hover_button.h"

namespace calvoro {

// The small square icon buttons of the sidebar's header: the symbol in a 30-point square,
// brighter with a soft fill while hovered, outlined when bordered or hovered.
class ChromeIconButton : public HoverButton {
    Q_OBJECT
public:
    ChromeIconButton(std::string icon, bool bordered, const QString& help, std::function<void()> action,
                     QWidget* parent = nullptr);

    static constexpr int side = 30;
    bool bordered() const { return bordered_; }
    QSize sizeHint() const override { return {side, side}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::string icon_;
    bool bordered_;
};

}  // namespace calvoro
