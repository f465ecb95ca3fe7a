#pragma once

#include <QColor>
#include <QString>

#include <functional>

#include "app/state/appearance.h"

#include "app/ui/controls/hover_button.h"

namespace calvoro {

// One level filter of the log panel's header: a capsule whose fill and text follow hover and
// whether it is the active filter.
class LogFilterPill : public HoverButton {
    Q_OBJECT
public:
    // accent: the text colour while active, for a scheme; none means the strong text colour.
    using Accent = std::function<QColor(ColorScheme)>;
    LogFilterPill(const QString& label, Accent accent, QWidget* parent = nullptr);

    bool isActive() const { return active_; }
    void setActive(bool active, bool animated = true);
    QColor textColor() const;
    QColor backgroundColor() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString label_;
    Accent accent_;
    bool active_ = false;
    SpringValue activeProgress_;
};

}  // namespace calvoro
