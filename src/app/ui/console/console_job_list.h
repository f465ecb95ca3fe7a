#pragma once

#include <QAbstractScrollArea>

#include <vector>

#include "app/ui/theme/focus_order.h"
#include "app/ui/theme/spring.h"

namespace calvoro {

class ConsoleRow;
class ConversionViewModel;

// The scrolling list of the visible jobs. Only the rows on screen exist: a small pool of
// ConsoleRow widgets is moved from job to job as the list scrolls, so long lists stay light.
// When the list itself changes (jobs added or removed, another category, another query) the
// rows on screen move with one shared spring: new rows fade in from a little below, rows that
// go fade out, and the others slide to their places. Scrolling never animates.
class ConsoleJobList : public QAbstractScrollArea, public FocusOrder {
    Q_OBJECT
public:
    explicit ConsoleJobList(ConversionViewModel& viewModel, QWidget* parent = nullptr);

    // Positions in the view model's jobs, in list order.
    const std::vector<int>& rows() const { return rows_; }
    // The row widgets that exist now, and those showing a job (not those fading out).
    int rowWidgetCount() const { return static_cast<int>(pool_.size()); }
    std::vector<ConsoleRow*> shownRows() const;
    ConsoleRow* rowForJob(int jobIndex) const;
    // Rows on their way out, and whether the rows are still moving.
    std::vector<ConsoleRow*> leavingRows() const;
    bool isAnimating() const { return motion_.value() < 1.0; }

    // Tab visits the rows on screen from top to bottom, whatever order the pool made them in,
    // and scrolls the row it reaches into view with half of each neighbour.
    std::vector<QWidget*> tabStops() const override;
    void revealStop(QWidget* stop) override;

    // Rows learn of the pointer from enter and leave only, which do not come when the rows move
    // under a still pointer or a card covers them: the row under the pointer now, and no other,
    // is hovered. The list calls it after scrolling and moving its rows; the window when a card
    // opens or closes.
    void recheckHover();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool viewportEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    // A pooled row and where it goes: from its place and opacity when the list changed to the new
    // ones. A row that leaves fades where it is and returns to the pool at the end.
    struct Slot {
        ConsoleRow* row;
        double fromY = 0, toY = 0;
        double fromOpacity = 1, toOpacity = 1;
        bool leaving = false;
    };

    void reload();
    void updateScrollRange();
    void placeRows(bool refreshValues, bool animated);
    void applyMotion(double t);
    void finishMotion();

    ConversionViewModel& viewModel_;
    std::vector<int> rows_;
    std::vector<Slot> pool_;
    SpringValue motion_{1.0};
    bool reloading_ = false;
};

}  // namespace calvoro
