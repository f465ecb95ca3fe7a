#pragma once

#include <QAbstractButton>

#include "app/ui/theme/spring.h"

namespace calvoro {

// A job row's selection box: an outlined rounded square, filled with the accent and checked
// when selected. The mark scales in from 0.4 as it fades in.
class RowCheckbox : public QAbstractButton {
    Q_OBJECT
public:
    explicit RowCheckbox(QWidget* parent = nullptr);

    // Not animated when the row now shows another job.
    void setSelected(bool selected, bool animated);
    // 0 unselected, 1 selected; in between while it changes.
    double selectionProgress() const { return progress_.value(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SpringValue progress_;
};

}  // namespace calvoro
