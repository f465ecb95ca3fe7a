#pragma once

#include <QVariant>

#include "app/ui/theme/spring.h"

class QObject;

namespace calvoro {

// Changes made to a model inside the scope move with the given spring, as an animation block
// does: a view that animates what the model changed asks which spring is under way, else uses
// its own. The spring rides on the model object, so only views of that model see it.
class AnimationTransaction {
public:
    AnimationTransaction(QObject& model, const Spring& spring);
    ~AnimationTransaction();
    AnimationTransaction(const AnimationTransaction&) = delete;
    AnimationTransaction& operator=(const AnimationTransaction&) = delete;

    // The spring of the transaction under way on the model, else otherwise.
    static Spring spring(const QObject& model, const Spring& otherwise);

private:
    QObject& model_;
    QVariant outer_;
};

}  // namespace calvoro
