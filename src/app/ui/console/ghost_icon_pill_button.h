#pragma once

#include <QString>

#include <string>

#include "app/ui/controls/hover_button.h"

namespace calvoro {

// A ghost pill with a leading symbol and a one-line label cut in the middle beyond
// maxLabelWidth. No press look.
class GhostIconPillButton : public HoverButton {
    Q_OBJECT
public:
    GhostIconPillButton(std::string icon, const QString& label, double maxLabelWidth, double height,
                        QWidget* parent = nullptr);

    // The label as drawn, after middle truncation.
    QString shownLabel() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double labelWidth() const;

    std::string icon_;
    double maxLabelWidth_;
    double height_;
};

}  // namespace calvoro
