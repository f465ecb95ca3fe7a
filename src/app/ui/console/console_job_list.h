#pragma once

#include <QAbstractScrollArea>

#include <optional>
#include <unordered_map>
#include <vector>

#include "app/ui/console/console_row.h"
#include "app/ui/theme/focus_order.h"
#include "app/ui/theme/spring.h"
#include "core/uuid.h"

namespace calvoro {

class ConsoleRow;
class ConversionViewModel;

// The scrolling list of the visible jobs. Only the rows on screen exist: a small pool of
// ConsoleRow widgets is moved from job to job as the list scrolls, so long lists stay light.
// Rows are as tall as their texts need (ConsoleRow::heightFor); what each job's height depends on
// is measured once and kept, so that the list's length follows a change of width or filter
// without measuring a text again.
// When the list itself changes (jobs added or removed, another category, another query) the
// rows on screen move with one shared spring: new rows fade in from a little below, rows that
// go fade out, and the others slide to their places. Scrolling never animates.
class ConsoleJobList : public QAbstractScrollArea, public FocusOrder {
    Q_OBJECT
public:
    explicit ConsoleJobList(ConversionViewModel& viewModel, QWidget* parent = nullptr);

    // Positions in the view model's jobs, in list order.
    const std::vector<int>& rows() const { return rows_; }
    // Where each row starts in the list, and where the list ends.
    int contentHeight() const { return tops_.back(); }
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
        int height = ConsoleRow::rowHeight;
        double fromOpacity = 1, toOpacity = 1;
        bool leaving = false;
    };
    // The rows that meet the viewport: the scroll offset, the first one's position in rows_, and
    // how many.
    struct Span {
        int offset;
        int first;
        int count;
    };
    // By row in the span, the slot that kept its job (-1 when none did); by slot, whether a row
    // in the span has it.
    struct Assignment {
        std::vector<int> kept;
        std::vector<bool> taken;
    };

    void reload();
    // The heights of every job at the viewport's width; after a change of the jobs, measures
    // those it has not seen.
    void measureJobs();
    void updateHeights();
    void updateTops();
    // A job's new value: its row's height again, and the rows below move when it changed.
    void jobChanged(int jobIndex);
    void updateScrollRange();
    void placeRows(bool refreshValues, bool animated);
    const ConversionJob& jobAtRow(size_t position) const;
    Span rowsInView() const;
    Assignment keepJobs(const Span& span);
    void keepFocusFromRetiredRows(const std::vector<bool>& taken);
    size_t slotForNewJob(const ConversionJob& job, int height, std::vector<bool>& taken, size_t limit);
    // While the pool is smaller, a new job may get a new row rather than one that is going.
    size_t poolLimit(bool animated) const;
    int freeSlot(const std::vector<bool>& taken, size_t limit) const;
    void aimRow(Slot& slot, double y, int height, bool entering, bool animated);
    bool retireUntakenRows(const std::vector<bool>& taken, bool animated);
    void retireRow(Slot& slot, bool animated);
    // Moves the rows to where placeRows aimed them: with the spring, or at once.
    void startMotion(bool animated);
    void applyMotion(double t);
    void finishMotion();

    ConversionViewModel& viewModel_;
    std::vector<int> rows_;
    // By position in the view model's jobs: what the height depends on, and the height.
    std::vector<ConsoleRow::Measure> measures_;
    std::vector<int> heights_;
    // Measures by job, kept across changes of the jobs: a job added is the only one measured.
    struct Known {
        ConsoleRow::Measure measure;
        std::optional<SupportedFormat> target;
    };
    std::unordered_map<Uuid, Known> known_;
    int measuredWidth_ = -1;
    // By position in rows_, and the end of the list.
    std::vector<int> tops_{0};
    std::vector<Slot> pool_;
    SpringValue motion_{1.0};
    bool reloading_ = false;
};

}  // namespace calvoro
