#pragma once

// Soft shadows of rounded cards, blurred once per size and cached. A widget cannot draw outside
// its own rectangle, so a card's shadow is painted by its parent, beneath the card.

#include <QColor>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>

#include <functional>

class QPainter;
class QWidget;

namespace calvoro {

struct Shadow {
    QColor color;          // transparent: no shadow
    double radius = 0;     // blur radius in points
    QPointF offset;        // in points
    double cornerRadius = 0;
};

// Paints the shadow that a continuous rounded rectangle `shape` casts.
void paintShadow(QPainter& painter, const QRectF& shape, const Shadow& shadow);

// Paints `card`'s shadow on its parent, over the parent's own painting and under its children,
// and keeps the area around the card fresh as the card moves, resizes, shows and hides.
class ShadowCaster : public QObject {
public:
    ShadowCaster(QWidget* card, std::function<Shadow()> shadow);
    ~ShadowCaster() override;

    QWidget* card() const { return card_; }
    // Repaints the shadow after its look changed.
    void refresh();
    Shadow shadow() const { return shadow_(); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void attachToParent();
    void refreshAround(const QRect& geometry);

    QWidget* card_;
    QWidget* parent_ = nullptr;
    QPointer<QObject> layer_;  // the parent's shadow layer, which may go first
    std::function<Shadow()> shadow_;
};

}  // namespace calvoro
