#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

#include "app/ui/theme/spring.h"

class QGraphicsOpacityEffect;

namespace calvoro {

// Brings a layer in and out with a spring: its opacity follows the progress (when it fades), and
// its owner reads the progress to slide it. A layer that has gone out is hidden, then handed to
// gone (which may delete it).
class LayerTransition : public QObject {
    Q_OBJECT
public:
    LayerTransition(QWidget* layer, Spring spring, bool fades, QObject* parent = nullptr);

    QWidget* layer() const { return layer_; }
    bool isPresent() const { return present_; }
    double progress() const { return progress_.value(); }

    void enter();
    // gone runs once the layer is fully out, unless it is brought back first.
    void leave(std::function<void()> gone = {});
    void setSpring(const Spring& spring) { spring_ = spring; }

signals:
    void progressChanged(double progress);

private:
    void apply(double progress);

    QPointer<QWidget> layer_;
    Spring spring_;
    bool fades_;
    bool present_ = false;
    SpringValue progress_;
    QPointer<QGraphicsOpacityEffect> effect_;
    std::function<void()> gone_;
};

}  // namespace calvoro
