#pragma once

#include <QWidget>

namespace calvoro {

// Covers the whole window while files are dragged over it: a veil, an inset frame and
// "Drop to add". It takes no clicks or drags; the window's stack receives the drop.
class DropOverlay : public QWidget {
    Q_OBJECT
public:
    explicit DropOverlay(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace calvoro
