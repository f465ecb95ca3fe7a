#pragma once

#include <QString>

#include "app/ui/controls/hover_button.h"

namespace calvoro {

// A borderless text pill that tints on hover and shrinks a little while pressed.
class GhostPillButton : public HoverButton {
    Q_OBJECT
public:
    GhostPillButton(const QString& label, double height, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    // The width of a pill with this label.
    static int widthFor(const QString& label);
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double height_;
    // The label's width as last measured: rows ask for the size hint several times a layout.
    mutable QString measuredLabel_;
    mutable double measuredWidth_ = -1;
};

}  // namespace calvoro
