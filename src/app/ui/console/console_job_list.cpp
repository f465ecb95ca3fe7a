#include "app/ui/console/console_job_list.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/console/console_row.h"
#include "app/ui/theme/animation_transaction.h"
#include "app/ui/theme/scroll_bar_style.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

ConsoleJobList::ConsoleJobList(ConversionViewModel& viewModel, QWidget* parent)
    : QAbstractScrollArea(parent), viewModel_(viewModel) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(ScreenshotMode::active ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(ConsoleRow::rowHeight / 2);
    connect(&viewModel_, &ConversionViewModel::jobsStructureChanged, this, [this] {
        measureJobs();
        reload();
    });
    connect(&viewModel_, &ConversionViewModel::libraryFilterChanged, this, &ConsoleJobList::reload);
    connect(&viewModel_, &ConversionViewModel::searchQueryChanged, this, &ConsoleJobList::reload);
    connect(&viewModel_, &ConversionViewModel::jobUpdated, this, &ConsoleJobList::jobChanged);
    styleScrollBar(verticalScrollBar(), Theme::scheme(this));
    connect(&motion_, &SpringValue::valueChanged, this, &ConsoleJobList::applyMotion);
    // The pointer's comings and goings anywhere in the window, for the hover of the rows.
    qApp->installEventFilter(this);
    measureJobs();
    reload();
}

void ConsoleJobList::measureJobs() {
    const auto& jobs = viewModel_.jobs();
    std::unordered_map<Uuid, Known> known;
    known.reserve(jobs.size());
    measures_.resize(jobs.size());
    for (size_t i = 0; i < jobs.size(); ++i) {
        const ConversionJob& job = jobs[i];
        auto it = known_.find(job.id);
        if (it == known_.end() || it->second.measure.status != job.status || it->second.target != job.targetFormat)
            measures_[i] = ConsoleRow::measure(job);
        else
            measures_[i] = it->second.measure;
        known.emplace(job.id, Known{measures_[i], job.targetFormat});
    }
    known_ = std::move(known);
    measuredWidth_ = -1;
    updateHeights();
}

void ConsoleJobList::updateHeights() {
    const int width = viewport()->width();
    if (width == measuredWidth_ && heights_.size() == measures_.size()) return;
    measuredWidth_ = width;
    heights_.resize(measures_.size());
    for (size_t i = 0; i < measures_.size(); ++i) heights_[i] = ConsoleRow::heightFor(measures_[i], width);
}

void ConsoleJobList::updateTops() {
    tops_.resize(rows_.size() + 1);
    tops_[0] = 0;
    for (size_t i = 0; i < rows_.size(); ++i) tops_[i + 1] = tops_[i] + heights_[static_cast<size_t>(rows_[i])];
}

void ConsoleJobList::jobChanged(int jobIndex) {
    const auto& jobs = viewModel_.jobs();
    if (jobIndex < 0 || static_cast<size_t>(jobIndex) >= jobs.size() || measures_.size() != jobs.size()) return;
    const ConversionJob& job = jobs[static_cast<size_t>(jobIndex)];
    // A shown row only needs its new value; the filter cannot change with it (a job keeps its
    // name and format).
    if (ConsoleRow* row = rowForJob(jobIndex)) row->setJob(job);
    auto& measure = measures_[static_cast<size_t>(jobIndex)];
    const ConsoleRow::Measure now = ConsoleRow::measure(job);
    if (now == measure) return;
    measure = now;
    known_[job.id] = Known{now, job.targetFormat};
    const int height = ConsoleRow::heightFor(now, measuredWidth_);
    if (height == heights_[static_cast<size_t>(jobIndex)]) return;
    heights_[static_cast<size_t>(jobIndex)] = height;
    // A failure that needs a second line makes room for it: the rows below move down.
    if (!std::binary_search(rows_.begin(), rows_.end(), jobIndex)) return;
    updateTops();
    reloading_ = true;
    updateScrollRange();
    reloading_ = false;
    placeRows(false, isVisible() && !ScreenshotMode::active);
}

std::vector<ConsoleRow*> ConsoleJobList::shownRows() const {
    std::vector<ConsoleRow*> shown;
    for (const Slot& slot : pool_)
        if (slot.row->isVisible() && !slot.leaving) shown.push_back(slot.row);
    return shown;
}

std::vector<ConsoleRow*> ConsoleJobList::leavingRows() const {
    std::vector<ConsoleRow*> leaving;
    for (const Slot& slot : pool_)
        if (slot.row->isVisible() && slot.leaving) leaving.push_back(slot.row);
    return leaving;
}

ConsoleRow* ConsoleJobList::rowForJob(int jobIndex) const {
    const auto& jobs = viewModel_.jobs();
    if (jobIndex < 0 || static_cast<size_t>(jobIndex) >= jobs.size()) return nullptr;
    for (const Slot& slot : pool_)
        if (slot.row->isVisible() && !slot.leaving && slot.row->job().id == jobs[static_cast<size_t>(jobIndex)].id)
            return slot.row;
    return nullptr;
}

std::vector<QWidget*> ConsoleJobList::tabStops() const {
    std::vector<QWidget*> stops = FocusOrder::inside(viewport());
    auto rowOf = [this](QWidget* widget) {
        while (widget->parentWidget() != viewport()) widget = widget->parentWidget();
        return widget;
    };
    const QRect seen = viewport()->rect();
    // Rows fading out take no clicks, and no focus either.
    const std::vector<ConsoleRow*> shown = shownRows();
    auto isShown = [&](QWidget* row) { return std::find(shown.begin(), shown.end(), row) != shown.end(); };
    stops.erase(std::remove_if(stops.begin(), stops.end(),
                               [&](QWidget* stop) { return !rowOf(stop)->geometry().intersects(seen) || !isShown(rowOf(stop)); }),
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
    if (measures_.size() != viewModel_.jobs().size()) measureJobs();
    updateTops();
    // A shorter list may pull the scroll position back; the rows are placed once, below.
    reloading_ = true;
    updateScrollRange();
    reloading_ = false;
    placeRows(true, isVisible() && !ScreenshotMode::active);
}

void ConsoleJobList::updateScrollRange() {
    const int content = contentHeight();
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setRange(0, std::max(0, content - viewport()->height()));
}

void ConsoleJobList::placeRows(bool refreshValues, bool animated) {
    if (!animated) finishMotion();
    const Span span = rowsInView();
    Assignment assignment = keepJobs(span);
    keepFocusFromRetiredRows(assignment.taken);
    const size_t limit = poolLimit(animated);
    for (int i = 0; i < span.count; ++i) {
        const size_t position = static_cast<size_t>(span.first + i);
        const ConversionJob& job = jobAtRow(position);
        const int height = tops_[position + 1] - tops_[position];
        const int kept = assignment.kept[static_cast<size_t>(i)];
        const bool entering = kept < 0;
        const size_t index = entering ? slotForNewJob(job, height, assignment.taken, limit) : static_cast<size_t>(kept);
        // While scrolling, a row that keeps its job only moves: its value follows through
        // jobUpdated. A change of the list gives a row its job again unless the row shows it
        // as it is (typing a search would otherwise redraw every row at each key).
        if (!entering && refreshValues && pool_[index].row->job() != job) pool_[index].row->setJob(job);
        aimRow(pool_[index], tops_[position] - span.offset, height, entering, animated);
    }
    const bool moving = retireUntakenRows(assignment.taken, animated);
    startMotion(animated && moving);
}

const ConversionJob& ConsoleJobList::jobAtRow(size_t position) const {
    return viewModel_.jobs()[static_cast<size_t>(rows_[position])];
}

// The rows that meet the viewport: from the one the offset falls in to the last that starts above its end.
ConsoleJobList::Span ConsoleJobList::rowsInView() const {
    const int offset = verticalScrollBar()->value();
    const int first = std::max(0, static_cast<int>(std::upper_bound(tops_.begin(), tops_.end(), offset) - tops_.begin()) - 1);
    const int end = static_cast<int>(std::lower_bound(tops_.begin(), tops_.end(), offset + viewport()->height()) - tops_.begin());
    return {offset, first, std::max(0, std::min(end, static_cast<int>(rows_.size())) - first)};
}

// Rows keep their job where they can, so hover and thumbnails survive a small scroll and a
// row that stays on screen slides from where it is now (a row fading out comes back).
ConsoleJobList::Assignment ConsoleJobList::keepJobs(const Span& span) {
    Assignment assignment{std::vector<int>(static_cast<size_t>(span.count), -1), std::vector<bool>(pool_.size(), false)};
    for (size_t s = 0; s < pool_.size(); ++s) {
        Slot& slot = pool_[s];
        if (!slot.row->isVisibleTo(viewport())) continue;
        slot.fromY = slot.row->y();
        slot.fromOpacity = slot.row->opacity();
        for (int i = 0; i < span.count; ++i) {
            if (assignment.kept[static_cast<size_t>(i)] < 0 && slot.row->job().id == jobAtRow(static_cast<size_t>(span.first + i)).id) {
                assignment.kept[static_cast<size_t>(i)] = static_cast<int>(s);
                assignment.taken[s] = true;
                break;
            }
        }
    }
    return assignment;
}

// A control of a row that leaves its job would carry the focus to another job: the list keeps it.
void ConsoleJobList::keepFocusFromRetiredRows(const std::vector<bool>& taken) {
    const QWidget* focus = window()->focusWidget();
    if (!focus) return;
    for (size_t s = 0; s < pool_.size(); ++s)
        if (!taken[s] && pool_[s].row->isAncestorOf(focus)) setFocus(Qt::OtherFocusReason);
}

// A new job takes a hidden row, else (when rows fade out) a new one while the pool is smaller
// than limit, else a row that is going.
size_t ConsoleJobList::slotForNewJob(const ConversionJob& job, int height, std::vector<bool>& taken, size_t limit) {
    if (const int spare = freeSlot(taken, limit); spare >= 0) {
        const auto index = static_cast<size_t>(spare);
        pool_[index].row->setJob(job);
        taken[index] = true;
        return index;
    }
    pool_.push_back(Slot{new ConsoleRow(viewModel_, job, viewport())});
    pool_.back().row->resize(viewport()->width(), height);
    taken.push_back(true);
    return pool_.size() - 1;
}

size_t ConsoleJobList::poolLimit(bool animated) const {
    // Rows are never shorter than rowHeight: the most that fit, for bounding the pool.
    const int needed = viewport()->height() / ConsoleRow::rowHeight + 2;
    return animated ? static_cast<size_t>(2 * needed) : 0;
}

int ConsoleJobList::freeSlot(const std::vector<bool>& taken, size_t limit) const {
    for (size_t s = 0; s < pool_.size(); ++s)
        if (!taken[s] && !pool_[s].row->isVisibleTo(viewport())) return static_cast<int>(s);
    if (pool_.size() < limit) return -1;
    for (size_t s = 0; s < pool_.size(); ++s)
        if (!taken[s]) return static_cast<int>(s);
    return -1;
}

// A row on screen shows, takes clicks and goes to y; one entering comes from a little below.
void ConsoleJobList::aimRow(Slot& slot, double y, int height, bool entering, bool animated) {
    slot.leaving = false;
    slot.row->setAttribute(Qt::WA_TransparentForMouseEvents, false);
    slot.row->setFrozen(false);
    slot.toY = y;
    slot.toOpacity = 1;
    slot.height = height;
    if (entering) {
        slot.fromY = y + 6;
        slot.fromOpacity = 0;
    }
    if (!animated) {
        slot.fromY = y;
        slot.fromOpacity = 1;
    }
    slot.row->show();
}

// The shown rows no job took fade out, or go at once; whether any shown row has to move.
bool ConsoleJobList::retireUntakenRows(const std::vector<bool>& taken, bool animated) {
    bool moving = false;
    for (size_t s = 0; s < pool_.size(); ++s) {
        Slot& slot = pool_[s];
        if (!taken[s] && slot.row->isVisibleTo(viewport())) retireRow(slot, animated);
        if (slot.row->isVisibleTo(viewport()))
            moving = moving || slot.fromY != slot.toY || slot.fromOpacity != slot.toOpacity;
    }
    return moving;
}

void ConsoleJobList::retireRow(Slot& slot, bool animated) {
    if (animated && slot.fromOpacity > 0) {
        // On its way out it shows, but takes no clicks.
        slot.leaving = true;
        slot.row->setAttribute(Qt::WA_TransparentForMouseEvents, true);
        slot.row->setFrozen(true);
        slot.toY = slot.fromY;
        slot.toOpacity = 0;
    } else {
        slot.leaving = false;
        slot.row->setFrozen(false);
        slot.row->hide();
    }
}

void ConsoleJobList::startMotion(bool animated) {
    if (animated) {
        motion_.setImmediately(0.0);
        applyMotion(0.0);
        // A change made inside an animation block (Clear Completed, Clear All) moves with its spring.
        motion_.animateTo(1.0, AnimationTransaction::spring(viewModel_, Theme::smooth));
    } else {
        motion_.setImmediately(1.0);
        applyMotion(1.0);
    }
}

void ConsoleJobList::recheckHover() {
    const QWidget* under = QApplication::widgetAt(QCursor::pos());
    for (const Slot& slot : pool_) {
        ConsoleRow* row = slot.row;
        row->setHovering(under && row->isVisible() && (under == row || row->isAncestorOf(under)));
    }
}

bool ConsoleJobList::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::Enter || type == QEvent::Leave) && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        // A row the toolkit never entered (it slid under a still pointer) hears no leave either:
        // the pointer entering anything else of the window, or leaving the window, takes the
        // hover from every row but the one entered.
        const bool aRow = widget->parentWidget() == viewport();
        const bool elsewhere = type == QEvent::Enter && widget->window() == window() && widget != viewport() &&
                               !viewport()->isAncestorOf(widget);
        const bool outOfWindow = type == QEvent::Leave && widget == window();
        if ((type == QEvent::Enter && aRow) || elsewhere || outOfWindow)
            for (const Slot& slot : pool_)
                if (slot.row != watched) slot.row->setHovering(false);
    }
    return QAbstractScrollArea::eventFilter(watched, event);
}

void ConsoleJobList::applyMotion(double t) {
    const int width = viewport()->width();
    for (Slot& slot : pool_) {
        if (!slot.row->isVisibleTo(viewport())) continue;
        const double y = slot.fromY + (slot.toY - slot.fromY) * t;
        const QRect geometry(0, static_cast<int>(std::lround(y)), width, slot.height);
        if (slot.row->geometry() != geometry) slot.row->setGeometry(geometry);
        slot.row->setOpacity(slot.fromOpacity + (slot.toOpacity - slot.fromOpacity) * t);
    }
    if (t < 1.0) return;
    for (Slot& slot : pool_) {
        if (slot.leaving) slot.row->hide();
        slot.leaving = false;
        slot.row->setAttribute(Qt::WA_TransparentForMouseEvents, false);
        slot.row->setFrozen(false);
        slot.fromY = slot.toY;
        slot.fromOpacity = slot.toOpacity = 1;
        slot.row->setOpacity(1);
    }
    recheckHover();
}

void ConsoleJobList::finishMotion() {
    if (motion_.value() < 1.0 || motion_.target() < 1.0) motion_.setImmediately(1.0);
}

void ConsoleJobList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    if (viewport()->width() != measuredWidth_) {
        updateHeights();
        updateTops();
    }
    updateScrollRange();
    placeRows(false, false);
}

void ConsoleJobList::scrollContentsBy(int, int) {
    if (!reloading_) placeRows(false, false);
}

bool ConsoleJobList::viewportEvent(QEvent* event) {
    // The rows paint themselves; the viewport has nothing of its own.
    if (event->type() == QEvent::Paint) return true;
    // The pointer left the list: the toolkit tells only the row it last entered, which after a
    // scroll under a still pointer need not be the row that took the hover.
    if (event->type() == QEvent::Leave)
        for (const Slot& slot : pool_) slot.row->setHovering(false);
    return QAbstractScrollArea::viewportEvent(event);
}

void ConsoleJobList::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) styleScrollBar(verticalScrollBar(), Theme::scheme(this));
    QAbstractScrollArea::changeEvent(event);
}

}  // namespace calvoro
