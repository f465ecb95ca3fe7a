#include "app/ui/chrome/traffic_light_visibility_accessor.h"

#include <QGraphicsOpacityEffect>
#include <QPropertyAnimation>
#include <QTimer>

#include "app/state/screenshot_mode.h"

namespace calvoro {

TrafficLightVisibilityAccessor::TrafficLightVisibilityAccessor(QWidget* view) : QObject(view), view_(view) {}

void TrafficLightVisibilityAccessor::setHidden(bool hidden) {
    hidden_ = hidden;
    // Applied after the current update has finished, as every update of the view does.
    QTimer::singleShot(0, this, &TrafficLightVisibilityAccessor::apply);
}

void TrafficLightVisibilityAccessor::apply() {
    if (!view_ || !view_->window()) return;
    QWidget* window = view_->window();
    const double target = hidden_ ? 0.0 : 1.0;
    for (const char* name : buttonNames) {
        auto* button = window->findChild<QWidget*>(QLatin1String(name));
        if (!button) continue;
        auto* effect = qobject_cast<QGraphicsOpacityEffect*>(button->graphicsEffect());
        if (!effect) {
            effect = new QGraphicsOpacityEffect(button);
            effect->setOpacity(1.0);
            button->setGraphicsEffect(effect);
        }
        if (ScreenshotMode::active) {
            effect->setOpacity(target);
        } else if (effect->opacity() != target) {
            auto* fade = new QPropertyAnimation(effect, "opacity", effect);
            fade->setDuration(180);
            fade->setEndValue(target);
            fade->start(QAbstractAnimation::DeleteWhenStopped);
        }
        button->setEnabled(!hidden_);
    }
}

}  // namespace calvoro
