#pragma once

#include <QWidget>

#include "app/ui/theme/spring.h"

namespace calvoro {

class ConversionViewModel;

// The main card while the job list is empty: six category tiles, a title and two lines of help.
// While files are dragged over the window the title changes and an accent frame fades in; a
// click anywhere opens the open panel. The drop itself is the content view's.
class DropZoneView : public QWidget {
    Q_OBJECT
public:
    DropZoneView(ConversionViewModel& viewModel, QWidget* parent = nullptr);

    bool dropTargeted() const { return dropTargeted_; }
    void setDropTargeted(bool targeted);
    QString title() const;
    // How far the drag look has faded in, 0 to 1.
    double dropProgress() const { return progress_.value(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    ConversionViewModel& viewModel_;
    bool dropTargeted_ = false;
    SpringValue progress_;
};

}  // namespace calvoro
