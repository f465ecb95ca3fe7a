#include "app/ui/console/console_job_list.h"

#include <QEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/console/console_row.h"
#include "app/ui/scroll_bar_style.h"
#include "app/ui/theme.h"

namespace calvoro {

ConsoleJobList::ConsoleJobList(ConversionViewModel& viewModel, QWidget* parent)
    : QAbstractScrollArea(parent), viewModel_(viewModel) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(ScreenshotMode::active ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(ConsoleRow::rowHeight / 2);
    connect(&viewModel_, &ConversionViewModel::jobsStructureChanged, this, &ConsoleJobList::reload);
    connect(&viewModel_, &ConversionViewModel::libraryFilterChanged, this, &ConsoleJobList::reload);
    connect(&viewModel_, &ConversionViewModel::searchQueryChanged, this, &ConsoleJobList::reload);
    connect(&viewModel_, &ConversionViewModel::jobUpdated, this, [this](int jobIndex) {
        // An edit can move a job in or out of the filter (its name or format does not change,
        // but a duplicate or retarget keeps positions); a shown row only needs its new value.
        if (ConsoleRow* row = rowForJob(jobIndex)) row->setJob(viewModel_.jobs()[static_cast<size_t>(jobIndex)]);
    });
    styleScrollBar(verticalScrollBar(), Theme::scheme(this));
    reload();
}

std::vector<ConsoleRow*> ConsoleJobList::shownRows() const {
    std::vector<ConsoleRow*> shown;
    for (ConsoleRow* row : pool_)
        if (row->isVisible()) shown.push_back(row);
    return shown;
}

ConsoleRow* ConsoleJobList::rowForJob(int jobIndex) const {
    const auto& jobs = viewModel_.jobs();
    if (jobIndex < 0 || static_cast<size_t>(jobIndex) >= jobs.size()) return nullptr;
    for (ConsoleRow* row : pool_)
        if (row->isVisible() && row->job().id == jobs[static_cast<size_t>(jobIndex)].id) return row;
    return nullptr;
}

std::vector<QWidget*> ConsoleJobList::tabStops() const {
    std::vector<QWidget*> stops = FocusOrder::inside(viewport());
    auto rowOf = [this](QWidget* widget) {
        while (widget->parentWidget() != viewport()) widget = widget->parentWidget();
        return widget;
    };
    const QRect seen = viewport()->rect();
    stops.erase(std::remove_if(stops.begin(), stops.end(), [&](QWidget* stop) { return !rowOf(stop)->geometry().intersects(seen); }),
                stops.end());
    std::stable_sort(stops.begin(), stops.end(), [&](QWidget* a, QWidget* b) { return rowOf(a)->y() < rowOf(b)->y(); });
    return stops;
}

void ConsoleJobList::revealStop(QWidget* stop) {
    QWidget* row = stop;
    while (row && row->parentWidget() != viewport()) row = row->parentWidget();
    if (!row) return;
    // Half a row of context each side keeps the next stop on screen for the following Tab.
    const int offset = verticalScrollBar()->value(), half = ConsoleRow::rowHeight / 2;
    const int top = row->y() + offset - half, bottom = row->y() + offset + row->height() + half;
    if (top < offset) verticalScrollBar()->setValue(top);
    else if (bottom > offset + viewport()->height()) verticalScrollBar()->setValue(bottom - viewport()->height());
}

void ConsoleJobList::reload() {
    rows_ = viewModel_.visibleRows();
    updateScrollRange();
    placeRows(true);
}

void ConsoleJobList::updateScrollRange() {
    const int content = static_cast<int>(rows_.size()) * ConsoleRow::rowHeight;
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, content - viewport()->height()));
}

void ConsoleJobList::placeRows(bool refreshValues) {
    const int offset = verticalScrollBar()->value();
    const int first = offset / ConsoleRow::rowHeight;
    const int needed = viewport()->height() / ConsoleRow::rowHeight + 2;
    const int count = std::max(0, std::min(needed, static_cast<int>(rows_.size()) - first));
    const auto& jobs = viewModel_.jobs();
    // Rows keep their job where they can, so hover and thumbnails survive a small scroll.
    std::vector<ConsoleRow*> free;
    std::vector<ConsoleRow*> assigned(static_cast<size_t>(count), nullptr);
    for (ConsoleRow* row : pool_) {
        bool kept = false;
        for (int i = 0; i < count && !kept; ++i) {
            const auto& job = jobs[static_cast<size_t>(rows_[static_cast<size_t>(first + i)])];
            if (!assigned[static_cast<size_t>(i)] && row->isVisibleTo(viewport()) && row->job().id == job.id) {
                assigned[static_cast<size_t>(i)] = row;
                kept = true;
            }
        }
        if (!kept) free.push_back(row);
    }
    // A control of a row that leaves its job would carry the focus to another job: the list keeps it.
    const QWidget* focus = window()->focusWidget();
    for (ConsoleRow* row : free)
        if (focus && row->isAncestorOf(focus)) setFocus(Qt::OtherFocusReason);
    for (int i = 0; i < count; ++i) {
        const auto& job = jobs[static_cast<size_t>(rows_[static_cast<size_t>(first + i)])];
        ConsoleRow* row = assigned[static_cast<size_t>(i)];
        // While scrolling, a row that keeps its job only moves: its value follows through
        // jobUpdated. A change of the list gives a row its job again unless the row shows it
        // as it is (typing a search would otherwise redraw every row at each key).
        if (!row) {
            if (!free.empty()) {
                row = free.back();
                free.pop_back();
                row->setJob(job);
            } else {
                row = new ConsoleRow(viewModel_, job, viewport());
                pool_.push_back(row);
            }
        } else if (refreshValues && row->job() != job) {
            row->setJob(job);
        }
        row->setGeometry(0, (first + i) * ConsoleRow::rowHeight - offset, viewport()->width(), ConsoleRow::rowHeight);
        row->show();
    }
    for (ConsoleRow* row : free) row->hide();
}

void ConsoleJobList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
    placeRows();
}

void ConsoleJobList::scrollContentsBy(int, int) { placeRows(); }

bool ConsoleJobList::viewportEvent(QEvent* event) {
    // The rows paint themselves; the viewport has nothing of its own.
    if (event->type() == QEvent::Paint) return true;
    return QAbstractScrollArea::viewportEvent(event);
}

void ConsoleJobList::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) styleScrollBar(verticalScrollBar(), Theme::scheme(this));
    QAbstractScrollArea::changeEvent(event);
}

}  // namespace calvoro
