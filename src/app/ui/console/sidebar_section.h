#pragma once

#include <QWidget>

#include <vector>

#include "app/ui/theme/spring.h"

namespace calvoro {

// The rows under one of the sidebar's collapsible headers. Opening and closing it changes its
// height with a spring, the rows keeping their places and clipped at its lower edge; a closed
// section is hidden.
class SidebarSection : public QWidget {
    Q_OBJECT
public:
    static constexpr int rowSpacing = 2;

    SidebarSection(bool expanded, QWidget* parent = nullptr);

    void addRow(QWidget* row);
    const std::vector<QWidget*>& rows() const { return rows_; }
    void setExpanded(bool expanded);
    bool isExpanded() const { return expanded_; }
    // 1 open, 0 closed, in between while it moves.
    double openness() const { return openness_.value(); }
    // The height of all its rows.
    int fullHeight() const;

    QSize sizeHint() const override { return {QWidget::sizeHint().width(), height()}; }

signals:
    void opennessChanged(double openness);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void apply(double openness);
    void layoutRows();

    std::vector<QWidget*> rows_;
    bool expanded_;
    SpringValue openness_;
};

}  // namespace calvoro
