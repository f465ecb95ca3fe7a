#include "app/ui/focus_order.h"

#include <QApplication>
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

}  // namespace

bool FocusOrder::isTabStop(const QWidget* widget) {
    return widget && widget->isVisible() && widget->isEnabled() && (widget->focusPolicy() & Qt::TabFocus) &&
           !widget->focusProxy();
}

std::vector<QWidget*> FocusOrder::inside(const QWidget* scope) {
    std::vector<QWidget*> stops;
    if (!scope || !scope->isVisible()) return stops;
    std::set<const QWidget*> ordered;
    // The chain runs through every widget of the window and comes back round.
    const QWidget* start = scope;
    for (QWidget* widget = scope->nextInFocusChain(); widget && widget != start; widget = widget->nextInFocusChain()) {
        if (!scope->isAncestorOf(widget)) continue;
        if (QWidget* view = orderingView(scope, widget)) {
            if (ordered.insert(view).second)
                for (QWidget* stop : dynamic_cast<FocusOrder*>(view)->tabStops())
                    if (isTabStop(stop)) stops.push_back(stop);
            continue;
        }
        if (isTabStop(widget)) stops.push_back(widget);
    }
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
