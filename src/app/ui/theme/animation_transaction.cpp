#include "app/ui/theme/animation_transaction.h"

#include <QObject>
#include <QVariantList>

namespace calvoro {
namespace {

constexpr const char* key = "calvoroAnimationSpring";

}  // namespace

AnimationTransaction::AnimationTransaction(QObject& model, const Spring& spring)
    : model_(model), outer_(model.property(key)) {
    model_.setProperty(key, QVariantList{spring.response, spring.dampingFraction, spring.blendDuration});
}

// An inner transaction gives the outer one back.
AnimationTransaction::~AnimationTransaction() { model_.setProperty(key, outer_); }

Spring AnimationTransaction::spring(const QObject& model, const Spring& otherwise) {
    const QVariantList values = model.property(key).toList();
    if (values.size() != 3) return otherwise;
    return Spring{values[0].toDouble(), values[1].toDouble(), values[2].toDouble()};
}

}  // namespace calvoro
