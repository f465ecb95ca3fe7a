#include "app/ui/theme/focus_order.h"

#include <QScrollArea>
#include <QWidget>

#include <algorithm>
#include <set>

namespace calvoro {

namespace {

// The outermost FocusOrder view between scope (excluded) and widget (included), if any.
QWidget* orderingView(const QWidget* scope, QWidget* widget) {
    QWidget* found = nullptr;
    for (QWidget* up = widget; up && up != scope; up = up->parentWidget())
        if (dynamic_cast<FocusOrder*>(up)) found = up;
    return found;
}

// One place on the Tab path: a control, or a FocusOrder view with the stops it orders itself.
struct Place {
    QRect rect;  // in the scope's coordinates
    std::vector<QWidget*> stops;
};

// Reading order, whatever order the widgets were made in: lines from top to bottom, each from
// left to right, where a line is the topmost place left and every place whose middle lies
// within its height.
void sortForReading(std::vector<Place>& places) {
    std::stable_sort(places.begin(), places.end(), [](const Place& a, const Place& b) { return a.rect.top() < b.rect.top(); });
    for (auto line = places.begin(); line != places.end();) {
        const int bottom = line->rect.bottom();
        const auto end = std::stable_partition(line + 1, places.end(), [bottom](const Place& p) { return p.rect.center().y() <= bottom; });
        std::stable_sort(line, end, [](const Place& a, const Place& b) { return a.rect.left() < b.rect.left(); });
        line = end;
    }
}

}  // namespace

bool FocusOrder::isTabStop(const QWidget* widget) {
    return widget && widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) &&
           !widget->focusProxy();
}

std::vector<QWidget*> FocusOrder::inside(const QWidget* scope) {
    std::vector<QWidget*> stops;
    if (!scope || !scope->isVisible()) return stops;
    std::vector<Place> places;
    std::set<const QWidget*> ordered;
    auto rectOf = [scope](const QWidget* widget) { return QRect(widget->mapTo(scope, QPoint(0, 0)), widget->size()); };
    // The chain runs through every widget of the window and comes back round.
    for (QWidget* widget = scope->nextInFocusChain(); widget && widget != scope; widget = widget->nextInFocusChain()) {
        if (!scope->isAncestorOf(widget)) continue;
        if (QWidget* view = orderingView(scope, widget)) {
            if (!ordered.insert(view).second) continue;
            Place place{rectOf(view), {}};
            for (QWidget* stop : dynamic_cast<FocusOrder*>(view)->tabStops())
                if (isTabStop(stop)) place.stops.push_back(stop);
            if (!place.stops.empty()) places.push_back(std::move(place));
        } else if (isTabStop(widget)) {
            places.push_back({rectOf(widget), {widget}});
        }
    }
    sortForReading(places);
    for (const Place& place : places) stops.insert(stops.end(), place.stops.begin(), place.stops.end());
    return stops;
}

bool FocusOrder::step(const std::vector<QWidget*>& stops, bool next) {
    if (stops.empty()) return false;
    const int count = static_cast<int>(stops.size());
    QWidget* focus = stops.front()->window()->focusWidget();
    const auto at = std::find(stops.begin(), stops.end(), focus);
    int index = -1;
    if (at != stops.end()) {
        index = (static_cast<int>(at - stops.begin()) + (next ? 1 : count - 1)) % count;
    } else if (focus) {
        const auto within = std::find_if(stops.begin(), stops.end(), [focus](QWidget* stop) { return focus->isAncestorOf(stop); });
        if (within != stops.end()) {
            index = (static_cast<int>(within - stops.begin()) + (next ? 0 : count - 1)) % count;
        } else {
            // A widget that is no stop (one just hidden, say): the nearest stop along the chain.
            for (QWidget* w = next ? focus->nextInFocusChain() : focus->previousInFocusChain(); w && w != focus && index < 0;
                 w = next ? w->nextInFocusChain() : w->previousInFocusChain()) {
                const auto found = std::find(stops.begin(), stops.end(), w);
                if (found != stops.end()) index = static_cast<int>(found - stops.begin());
            }
        }
    }
    if (index < 0) index = next ? 0 : count - 1;
    QWidget* target = stops[static_cast<size_t>(index)];
    target->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
    for (QWidget* up = target->parentWidget(); up; up = up->parentWidget()) {
        if (auto* area = qobject_cast<QScrollArea*>(up)) area->ensureWidgetVisible(target, 8, 8);
        if (auto* view = dynamic_cast<FocusOrder*>(up)) view->revealStop(target);
    }
    return true;
}

}  // namespace calvoro
