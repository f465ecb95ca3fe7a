#pragma once

#include <QWidget>

#include <functional>

#include "app/state/toast.h"

namespace calvoro {

class HoverButton;

// The window's one transient notice: a small card with a stripe in the kind's colour, the title,
// the detail when there is one, and a close button. A click anywhere on it dismisses it.
class ToastView : public QWidget {
    Q_OBJECT
public:
    ToastView(const Toast& toast, std::function<void()> onDismiss, QWidget* parent = nullptr);

    static constexpr double maxWidth = 320;
    static constexpr double cornerRadius = 12;

    const Toast& toast() const { return toast_; }
    // A newer toast replaces the text in place.
    void setToast(const Toast& toast);
    QSize sizeHint() const override;
    HoverButton* closeButton() const { return close_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QRectF textColumn() const;

    Toast toast_;
    std::function<void()> onDismiss_;
    HoverButton* close_;
};

}  // namespace calvoro
