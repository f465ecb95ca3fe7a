#pragma once

#include <vector>

class QWidget;

namespace calvoro {

// The order in which Tab and Backtab visit a part of the window: the order the controls are read
// in on screen, not the order they were made in (which the toolkit's focus chain follows, and
// which sections built anew on each change break). A view whose stops need an order of their
// own (a list of pooled rows) gives it by implementing this.
class FocusOrder {
public:
    virtual ~FocusOrder() = default;

    // The controls inside this view that Tab stops at, in visiting order.
    virtual std::vector<QWidget*> tabStops() const = 0;
    // The keyboard just moved the focus to stop, one of tabStops(): bring it into view.
    virtual void revealStop(QWidget* stop) { (void)stop; }

    // The tab stops inside scope (not scope itself) in reading order: lines from top to bottom,
    // each from left to right; each FocusOrder view inside scope is one place holding its own
    // stops in its own order.
    static std::vector<QWidget*> inside(const QWidget* scope);
    // Enabled, shown and taking the focus by Tab.
    static bool isTabStop(const QWidget* widget);
    // Moves the focus one stop forward or back through stops and around. When the focus is on
    // none of them, goes to the first stop inside the focused widget (forward) or the one before
    // it (back), else to the nearest stop along the focus chain, else to the first or the last.
    // Scroll views holding the new stop scroll it into view. False when there is no stop.
    static bool step(const std::vector<QWidget*>& stops, bool next);
};

}  // namespace calvoro
