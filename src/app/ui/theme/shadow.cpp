#include "app/ui/theme/shadow.h"

#include <QEvent>
#include <QMoveEvent>
#include <QPaintEvent>
#include <QResizeEvent>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QWidget>

#include <cmath>
#include <vector>

#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

// One pass of a running-sum box blur over the alpha bytes, along rows or columns.
void boxBlur(QImage& alpha, int radius, bool horizontal) {
    if (radius < 1) return;
    const int w = alpha.width(), h = alpha.height();
    const int lines = horizontal ? h : w, length = horizontal ? w : h;
    std::vector<int> line(length);
    for (int l = 0; l < lines; ++l) {
        auto at = [&](int i) -> uchar& {
            return horizontal ? alpha.scanLine(l)[i] : alpha.scanLine(i)[l];
        };
        for (int i = 0; i < length; ++i) line[i] = at(i);
        int sum = 0;
        const int window = 2 * radius + 1;
        for (int i = -radius; i <= radius; ++i) sum += (i >= 0 && i < length) ? line[i] : 0;
        for (int i = 0; i < length; ++i) {
            at(i) = static_cast<uchar>(sum / window);
            const int out = i - radius, in = i + radius + 1;
            sum += (in < length ? line[in] : 0) - (out >= 0 ? line[out] : 0);
        }
    }
}

// The blurred shape, as an image padded by the blur's reach on every side. Painting happens on
// the main thread only, so the cache needs no lock.
const QImage& blurredShape(const QSizeF& size, const Shadow& shadow) {
    static QHash<QString, QImage> cache;
    const QString key = QStringLiteral("%1x%2 r%3 c%4 %5")
                            .arg(size.width())
                            .arg(size.height())
                            .arg(shadow.radius)
                            .arg(shadow.cornerRadius)
                            .arg(shadow.color.rgba(), 0, 16);
    auto it = cache.find(key);
    if (it != cache.end()) return *it;
    if (cache.size() > 48) cache.clear();

    const int pad = static_cast<int>(std::ceil(shadow.radius)) + 2;
    QImage alpha(static_cast<int>(std::ceil(size.width())) + 2 * pad, static_cast<int>(std::ceil(size.height())) + 2 * pad,
                 QImage::Format_Alpha8);
    alpha.fill(0);
    {
        QPainter painter(&alpha);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(Theme::continuousRoundedRect(QRectF(QPointF(pad, pad), size), shadow.cornerRadius), Qt::black);
    }
    // Three box passes come close to a Gaussian of sigma radius / 2.
    const double sigma = shadow.radius / 2;
    const int box = std::max(1, static_cast<int>(std::lround(std::sqrt(12 * sigma * sigma / 3 + 1) - 1) / 2));
    for (int pass = 0; pass < 3; ++pass) {
        boxBlur(alpha, box, true);
        boxBlur(alpha, box, false);
    }
    QImage tinted(alpha.size(), QImage::Format_ARGB32_Premultiplied);
    tinted.fill(shadow.color);
    {
        QPainter painter(&tinted);
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        painter.drawImage(0, 0, alpha);
    }
    return *cache.insert(key, tinted);
}

}  // namespace

void paintShadow(QPainter& painter, const QRectF& shape, const Shadow& shadow) {
    if (shadow.color.alpha() == 0 || shape.isEmpty()) return;
    const QImage& image = blurredShape(shape.size(), shadow);
    const double pad = (image.width() - std::ceil(shape.width())) / 2;
    painter.drawImage(shape.topLeft() + shadow.offset - QPointF(pad, pad), image);
}

namespace {

// One per parent that has cards with shadows: paints them all in one pass over the parent's
// own painting, in the cards' stacking order.
class ShadowLayer : public QObject {
public:
    explicit ShadowLayer(QWidget* parent) : QObject(parent), parent_(parent) {
        setObjectName(QStringLiteral("calvoro-shadow-layer"));
        parent->installEventFilter(this);
    }

    static ShadowLayer* of(QWidget* parent) {
        auto* layer = parent->findChild<ShadowLayer*>(QStringLiteral("calvoro-shadow-layer"), Qt::FindDirectChildrenOnly);
        return layer ? layer : new ShadowLayer(parent);
    }

    void add(ShadowCaster* caster) { casters_.append(caster); }
    void remove(ShadowCaster* caster) { casters_.removeAll(caster); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != parent_ || event->type() != QEvent::Paint || casters_.isEmpty()) return false;
        // QWidget::event is protected; the QObject one is the same call.
        static_cast<QObject*>(parent_)->event(event);
        QPainter painter(parent_);
        painter.setClipRegion(static_cast<QPaintEvent*>(event)->region());
        for (QObject* child : parent_->children()) {
            for (ShadowCaster* caster : casters_)
                if (caster->card() == child && caster->card()->isVisible())
                    paintShadow(painter, QRectF(caster->card()->geometry()), caster->shadow());
        }
        return true;
    }

private:
    QWidget* parent_;
    QList<ShadowCaster*> casters_;
};

QRect reach(const QRect& geometry, const Shadow& shadow) {
    const int grow = static_cast<int>(std::ceil(shadow.radius)) + 3;
    return geometry.translated(shadow.offset.toPoint()).adjusted(-grow, -grow, grow, grow);
}

}  // namespace

ShadowCaster::ShadowCaster(QWidget* card, std::function<Shadow()> shadow)
    : QObject(card), card_(card), shadow_(std::move(shadow)) {
    card_->installEventFilter(this);
    attachToParent();
}

ShadowCaster::~ShadowCaster() {
    if (layer_) static_cast<ShadowLayer*>(layer_.data())->remove(this);
}

void ShadowCaster::attachToParent() {
    if (layer_) static_cast<ShadowLayer*>(layer_.data())->remove(this);
    layer_ = nullptr;
    parent_ = card_->parentWidget();
    if (!parent_) return;
    ShadowLayer* layer = ShadowLayer::of(parent_);
    layer->add(this);
    layer_ = layer;
}

void ShadowCaster::refresh() { refreshAround(card_->geometry()); }

void ShadowCaster::refreshAround(const QRect& geometry) {
    if (parent_) parent_->update(reach(geometry, shadow_()));
}

bool ShadowCaster::eventFilter(QObject* watched, QEvent* event) {
    if (watched != card_) return false;
    switch (event->type()) {
        case QEvent::ParentChange: attachToParent(); break;
        case QEvent::Move:
            refreshAround(QRect(static_cast<QMoveEvent*>(event)->oldPos(), card_->size()));
            refreshAround(card_->geometry());
            break;
        case QEvent::Resize:
            refreshAround(QRect(card_->pos(), static_cast<QResizeEvent*>(event)->oldSize()));
            refreshAround(card_->geometry());
            break;
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::PaletteChange: refreshAround(card_->geometry()); break;
        default: break;
    }
    return false;
}

}  // namespace calvoro
