#include "app/ui/theme/layer_transition.h"

#include <QGraphicsOpacityEffect>

namespace calvoro {

LayerTransition::LayerTransition(QWidget* layer, Spring spring, bool fades, QObject* parent)
    : QObject(parent ? parent : layer), layer_(layer), spring_(spring), fades_(fades) {
    connect(&progress_, &SpringValue::valueChanged, this, &LayerTransition::apply);
    if (layer_) layer_->hide();
}

void LayerTransition::enter() {
    present_ = true;
    gone_ = nullptr;
    if (layer_) layer_->show();
    apply(progress_.value());
    progress_.animateTo(1.0, spring_);
}

void LayerTransition::leave(std::function<void()> gone) {
    present_ = false;
    gone_ = std::move(gone);
    progress_.animateTo(0.0, spring_);
    // Already out (it never got going): nothing will move, so finish now.
    if (progress_.value() <= 0.0) apply(0.0);
}

void LayerTransition::apply(double progress) {
    if (layer_ && fades_) {
        // The effect renders the layer off screen: only while it is part-way.
        const bool partial = progress < 0.999;
        if (partial && !effect_) {
            effect_ = new QGraphicsOpacityEffect(layer_);
            layer_->setGraphicsEffect(effect_);
        }
        if (effect_) effect_->setOpacity(std::clamp(progress, 0.0, 1.0));
        if (!partial && effect_) layer_->setGraphicsEffect(nullptr);
    }
    emit progressChanged(progress);
    if (!present_ && progress <= 0.0) {
        if (layer_) layer_->hide();
        if (auto gone = std::move(gone_)) {
            gone_ = nullptr;
            gone();
        }
    }
}

}  // namespace calvoro
