#include "app/ui/theme/focus_ring.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QFocusEvent>
#include <QPainter>

#include <cmath>

#include "app/state/screenshot_mode.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

constexpr char radiusKey[] = "calvoroFocusRingRadius";
constexpr char aroundKey[] = "calvoroFocusRingAround";
constexpr char noRingKey[] = "calvoroNoFocusRing";
constexpr char outsetKey[] = "calvoroFocusRingOutset";

// The scroll view's viewport that clips widget, if widget is the viewport itself.
bool isViewport(const QWidget* widget) {
    const auto* area = qobject_cast<const QAbstractScrollArea*>(widget->parentWidget());
    return area && area->viewport() == widget;
}

}  // namespace

FocusRing::FocusRing(QWidget* host) : QWidget(host), host_(host) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setNoRing(this);
    hide();
    // Focus reasons reach only the widgets concerned; the ring has to see them all.
    qApp->installEventFilter(this);
}

void FocusRing::setShape(QWidget* control, double radius, QWidget* around, QMargins outset) {
    control->setProperty(radiusKey, radius);
    control->setProperty(aroundKey, QVariant::fromValue<QObject*>(around));
    control->setProperty(outsetKey, QVariant::fromValue(outset));
}

void FocusRing::setNoRing(QWidget* widget) { widget->setProperty(noRingKey, true); }

bool FocusRing::follows(const QWidget* widget) const {
    return widget && widget != this && (widget == host_ || host_->isAncestorOf(widget));
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    if (!watched->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(watched);
    switch (event->type()) {
        case QEvent::FocusIn:
            if (!follows(widget)) break;
            switch (static_cast<QFocusEvent*>(event)->reason()) {
                case Qt::TabFocusReason:
                case Qt::BacktabFocusReason:
                case Qt::ShortcutFocusReason: fromKeyboard_ = true; break;
                case Qt::MouseFocusReason:
                case Qt::OtherFocusReason: fromKeyboard_ = false; break;
                // Coming back from another window or a menu keeps the look it had.
                default: break;
            }
            refresh();
            break;
        case QEvent::FocusOut: refresh(); break;
        case QEvent::MouseButtonPress:
            if (widget->window() == host_->window() && fromKeyboard_) {
                fromKeyboard_ = false;
                refresh();
            }
            break;
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show:
        case QEvent::Hide:
            // The ring moves with the control, the rows and scroll views that carry it.
            if (ringed_ && widget != this && (widget == ringed_ || widget->isAncestorOf(ringed_))) refresh();
            else if (!ringed_ && control_ && widget == control_) refresh();
            break;
        default: break;
    }
    return false;
}

void FocusRing::refresh() {
    QWidget* focus = host_->window()->focusWidget();
    control_ = follows(focus) ? focus : nullptr;
    QWidget* ringed = nullptr;
    if (control_ && !control_->property(noRingKey).toBool()) {
        ringed = qobject_cast<QWidget*>(control_->property(aroundKey).value<QObject*>());
        if (!ringed) ringed = control_;
    }
    ringed_ = ringed;
    const bool wanted = ringed && fromKeyboard_ && !ScreenshotMode::active && ringed->isVisible() && host_->isVisible();
    if (!wanted) {
        hide();
        return;
    }
    bool known = false;
    radius_ = control_->property(radiusKey).toDouble(&known);
    if (!known) radius_ = 8;

    const QRect shape = QRect(ringed->mapTo(host_, QPoint(0, 0)), ringed->size()).marginsAdded(control_->property(outsetKey).value<QMargins>());
    const int reach = static_cast<int>(std::ceil(Theme::focusRingReach())) + 1;
    QRect clip = host_->rect();
    for (QWidget* up = ringed->parentWidget(); up && up != host_; up = up->parentWidget())
        if (isViewport(up)) clip &= QRect(up->mapTo(host_, QPoint(0, 0)), up->size());
    const QRect bounds = shape.adjusted(-reach, -reach, reach, reach) & clip;
    if (bounds.isEmpty()) {
        hide();
        return;
    }
    shape_ = QRectF(shape).translated(-bounds.topLeft());
    if (geometry() != bounds) setGeometry(bounds);
    if (host_->children().last() != this) raise();
    show();
    update();
}

void FocusRing::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    Theme::paintFocusRing(painter, shape_, radius_, Theme::focusRing(Theme::accentFill(host_), Theme::scheme(host_)));
}

}  // namespace calvoro
