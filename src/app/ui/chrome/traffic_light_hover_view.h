#pragma once

#include <QAbstractButton>
#include <QWidget>

#include <array>

namespace calvoro {

// One of the window's three round buttons. Its glyph shows while the group is hovered.
class TrafficLightButton : public QAbstractButton {
    Q_OBJECT
public:
    enum class Kind { close, minimize, zoom };

    TrafficLightButton(Kind kind, QWidget* parent = nullptr);

    Kind kind() const { return kind_; }
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool on);
    QSize sizeHint() const override { return {side, side}; }

    static constexpr int side = 14;  // the frame; the disc inside is 12 across

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    Kind kind_;
    bool highlighted_ = false;
};

// The window's close, minimise and zoom buttons in their own corner of the content. Hovering the
// buttons, or the 4 points around them, highlights all three together.
class TrafficLightHoverView : public QWidget {
    Q_OBJECT
public:
    explicit TrafficLightHoverView(QWidget* window);

    TrafficLightButton* button(TrafficLightButton::Kind kind) const { return buttons_[static_cast<int>(kind)]; }
    bool isHighlighted() const;

    // Where the first button's origin sits and the line the buttons' centres keep, in points
    // from the content's top-left corner; the buttons stand 20 points apart.
    static constexpr int leftInset = 22;
    static constexpr int centerYFromTop = 28;
    static constexpr int spacing = 20;
    static constexpr int hoverMargin = 4;

    // Places the view in its window's corner.
    void position();

signals:
    void closeRequested();
    void minimizeRequested();
    void zoomRequested();

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void setHighlighted(bool on);

    std::array<TrafficLightButton*, 3> buttons_{};
};

}  // namespace calvoro
