#pragma once

#include <QAbstractButton>
#include <QWidget>

#include <functional>
#include <string>
#include <vector>

#include "app/ui/controls/hover_button.h"

class QMenu;

namespace calvoro {

class ConversionViewModel;

// The small controls of the settings rows. Each is drawn the same whether it is live or a
// screenshot's look-alike; a look-alike takes no input (setStatic).

// A value with an up-down chevron on a faint chip; with a menu it opens it when clicked.
class ValueChip : public HoverButton {
    Q_OBJECT
public:
    using MenuFactory = std::function<void(QMenu&)>;
    explicit ValueChip(const QString& text, MenuFactory menu = {}, QWidget* parent = nullptr);
    void setText(const QString& text);
    bool hasMenu() const { return static_cast<bool>(menu_); }
    // The menu the chip opens (the caller owns it); none for a static chip.
    QMenu* makeMenu(QWidget* parent) const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    MenuFactory menu_;
};

// A menu over whole numbers, shown as a chip with the chosen value's label; in screenshot mode
// the chip alone.
ValueChip* intPicker(std::function<int()> get, std::function<void(int)> set, std::vector<int> options,
                     std::function<QString(int)> label, QWidget* parent);

// The 34 x 21 switch: an accent track when on, a faint one when off, and a white knob.
class SettingsSwitch : public QAbstractButton {
    Q_OBJECT
public:
    SettingsSwitch(ConversionViewModel& viewModel, bool on, QWidget* parent = nullptr);
    // No input: the screenshot's look-alike.
    void setStatic(bool isStatic);
    QSize sizeHint() const override { return {34, 21}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ConversionViewModel& viewModel_;
};

// A thin slider over a fraction with a white knob, filled with the accent up to the knob.
class SettingsSlider : public QWidget {
    Q_OBJECT
public:
    SettingsSlider(ConversionViewModel& viewModel, double minimum, double maximum, QWidget* parent = nullptr);
    void setValue(double value);
    double value() const { return value_; }
    void setStatic(bool isStatic);
    double fraction() const;
    // Where the knob's centre sits, at least its radius from either end.
    static double knobCentre(double fraction, double width);
    QSize sizeHint() const override { return {120, 16}; }

signals:
    void valueChanged(double value);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void setFromPosition(double x);

    ConversionViewModel& viewModel_;
    double minimum_, maximum_;
    double value_;
};

// Options in a 160-point track, the chosen one raised; clicking a segment chooses it.
class SettingsSegmented : public QWidget {
    Q_OBJECT
public:
    SettingsSegmented(std::vector<QString> options, const QString& selected, QWidget* parent = nullptr);
    void setSelected(const QString& selected);
    const QString& selected() const { return selected_; }
    void setStatic(bool isStatic);
    QSize sizeHint() const override { return {160, 26}; }

signals:
    void chosen(const QString& option);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    std::vector<QString> options_;
    QString selected_;
};

}  // namespace calvoro
