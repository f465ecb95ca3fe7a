#pragma once

#include <QWidget>

#include "app/state/appearance.h"
#include "app/ui/theme/shadow.h"

namespace calvoro {

// The card of sheets and popovers: a rounded panel with a faint outline and a deep shadow. Place
// content through layout(); the shadow is painted on the parent (see ShadowCaster).
class ModalChrome : public QWidget {
    Q_OBJECT
public:
    explicit ModalChrome(QWidget* parent = nullptr);

    static constexpr double cornerRadius = 16;
    // Background and outline, for views that paint their own card; the shadow below it.
    static void paintCard(QPainter& painter, const QRectF& card, ColorScheme scheme);
    static Shadow shadow(ColorScheme scheme);

protected:
    void paintEvent(QPaintEvent* event) override;
};

}  // namespace calvoro
