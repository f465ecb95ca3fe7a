#pragma once

#include <QAbstractScrollArea>

#include <vector>

#include "app/ui/focus_order.h"

namespace calvoro {

class ConsoleRow;
class ConversionViewModel;

// The scrolling list of the visible jobs. Only the rows on screen exist: a small pool of
// ConsoleRow widgets is moved from job to job as the list scrolls, so long lists stay light.
class ConsoleJobList : public QAbstractScrollArea, public FocusOrder {
    Q_OBJECT
public:
    explicit ConsoleJobList(ConversionViewModel& viewModel, QWidget* parent = nullptr);

    // Positions in the view model's jobs, in list order.
    const std::vector<int>& rows() const { return rows_; }
    // The row widgets that exist now, and those showing a job.
    int rowWidgetCount() const { return static_cast<int>(pool_.size()); }
    std::vector<ConsoleRow*> shownRows() const;
    ConsoleRow* rowForJob(int jobIndex) const;

    // Tab visits the rows on screen from top to bottom, whatever order the pool made them in,
    // and scrolls the row it reaches into view with half of each neighbour.
    std::vector<QWidget*> tabStops() const override;
    void revealStop(QWidget* stop) override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void reload();
    void updateScrollRange();
    void placeRows(bool refreshValues = false);

    ConversionViewModel& viewModel_;
    std::vector<int> rows_;
    std::vector<ConsoleRow*> pool_;
};

}  // namespace calvoro
