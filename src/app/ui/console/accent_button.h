#pragma once

#include <QString>
#include <QTimer>

#include "app/ui/controls/hover_button.h"

namespace calvoro {

// The filled call to action in the accent colour (the palette's accent fill), with a small
// spinner before its label while busy. Disabled: the fill fades, the text colour stays.
class AccentButton : public HoverButton {
    Q_OBJECT
public:
    AccentButton(const QString& label, bool small, QWidget* parent = nullptr);

    void setBusy(bool busy);

    // What is drawn, for the tests: the face's fill and the label's colour.
    QColor fillColor() const;
    QColor labelColor() const;
    // The hover shadow's opacity (0 when disabled or not hovered).
    double shadowOpacity() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintSpinner(QPainter& painter, const QRectF& frame, const QColor& colour) const;

    bool small_;
    bool busy_ = false;
    int spinnerStep_ = 0;
    QTimer spinnerTimer_;
};

}  // namespace calvoro
