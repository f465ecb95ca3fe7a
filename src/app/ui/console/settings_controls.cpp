#include "app/ui/console/settings_controls.h"

#include <QFontMetricsF>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cmath>

#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/shadow.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

QFont chipFont() {
    QFont font = Theme::font(11, QFont::DemiBold);
    font.setLetterSpacing(QFont::AbsoluteSpacing, 0.3);
    return font;
}

QColor faintTrack(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.055) : rgbColor(0x000000, 0.075);
}

void paintKnob(QPainter& painter, const QRectF& knob, const QColor* stroke) {
    paintShadow(painter, knob, Shadow{rgbColor(0x000000, 0.2), 1, {0, 0.5}, knob.width() / 2});
    painter.setBrush(Qt::white);
    painter.setPen(stroke ? QPen(*stroke, 0.5) : Qt::NoPen);
    painter.drawEllipse(knob);
}

}  // namespace

ValueChip::ValueChip(const QString& text, MenuFactory menu, QWidget* parent) : HoverButton(parent), menu_(std::move(menu)) {
    setLabel(text);
    setFixedHeight(22);
    FocusRing::setShape(this, 6);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    if (menu_) {
        setCursor(Qt::PointingHandCursor);
        connect(this, &QAbstractButton::clicked, this, [this] {
            QMenu* menu = makeMenu(this);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(mapToGlobal(QPoint(0, height() + 2)));
        });
    } else {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }
}

void ValueChip::setText(const QString& text) {
    setLabel(text);
    updateGeometry();
    update();
}

QMenu* ValueChip::makeMenu(QWidget* parent) const {
    if (!menu_) return nullptr;
    auto* menu = new QMenu(parent);
    Theme::styleMenu(menu);
    menu_(*menu);
    return menu;
}

QSize ValueChip::sizeHint() const {
    const double width = 8 + QFontMetricsF(chipFont()).horizontalAdvance(text()) + 5 + 8 + 8;
    return {static_cast<int>(std::ceil(width)), 22};
}

void ValueChip::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = Theme::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6);
    QColor fill = scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.035) : QColor(241, 241, 242);
    if (hasMenu()) fill = mixColor(fill, scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.07) : QColor(232, 232, 234), hoverProgress());
    painter.fillPath(shape, fill);
    painter.setPen(QPen(Theme::separator(scheme), 1));
    painter.drawPath(shape);
    painter.setFont(chipFont());
    painter.setPen(Theme::textPrimary(scheme));
    painter.drawText(QRectF(8, 0, width() - 8 - 5 - 8 - 8, height()), Qt::AlignLeft | Qt::AlignVCenter, text());
    Symbols::paint(painter, QRectF(width() - 8 - 8, 0, 8, height()), "chevron.up.chevron.down", 7.5, QFont::DemiBold,
                   Theme::textTertiary(scheme));
}

ValueChip* intPicker(std::function<int()> get, std::function<void(int)> set, std::vector<int> options,
                     std::function<QString(int)> label, QWidget* parent) {
    if (ScreenshotMode::active) return new ValueChip(label(get()), {}, parent);
    auto menu = [get, set, options, label](QMenu& menu) {
        // A stored value that is not an option marks nothing and stays until one is chosen.
        const int current = get();
        for (const int value : options) {
            QAction* action = menu.addAction(label(value));
            action->setCheckable(true);
            action->setChecked(value == current);
            QObject::connect(action, &QAction::triggered, &menu, [set, value] { set(value); });
        }
    };
    return new ValueChip(label(get()), menu, parent);
}

SettingsSwitch::SettingsSwitch(ConversionViewModel& viewModel, bool on, QWidget* parent)
    : QAbstractButton(parent), viewModel_(viewModel) {
    setCheckable(true);
    setChecked(on);
    setFixedSize(34, 21);
    setCursor(Qt::PointingHandCursor);
    FocusRing::setShape(this, FocusRing::capsule);
    connect(&viewModel_, &ConversionViewModel::accentChanged, this, qOverload<>(&QWidget::update));
    setStatic(ScreenshotMode::active);
}

void SettingsSwitch::setStatic(bool isStatic) {
    setAttribute(Qt::WA_TransparentForMouseEvents, isStatic);
    setFocusPolicy(isStatic ? Qt::NoFocus : Qt::StrongFocus);
}

void SettingsSwitch::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track(0, 0, 34, 21);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isChecked() ? Theme::accentFill(viewModel_.accent(), scheme) : faintTrack(scheme));
    painter.drawRoundedRect(track, 10.5, 10.5);
    const QRectF knob = isChecked() ? QRectF(34 - 21 + 2, 2, 17, 17) : QRectF(2, 2, 17, 17);
    paintKnob(painter, knob, nullptr);
}

SettingsSlider::SettingsSlider(ConversionViewModel& viewModel, double minimum, double maximum, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel), minimum_(minimum), maximum_(maximum), value_(minimum) {
    setFixedSize(120, 16);
    setCursor(Qt::PointingHandCursor);
    FocusRing::setShape(this, FocusRing::capsule);
    connect(&viewModel_, &ConversionViewModel::accentChanged, this, qOverload<>(&QWidget::update));
    setStatic(ScreenshotMode::active);
}

void SettingsSlider::setStatic(bool isStatic) {
    setAttribute(Qt::WA_TransparentForMouseEvents, isStatic);
    setFocusPolicy(isStatic ? Qt::NoFocus : Qt::StrongFocus);
}

void SettingsSlider::setValue(double value) {
    value = std::clamp(value, minimum_, maximum_);
    if (value == value_) return;
    value_ = value;
    update();
    emit valueChanged(value_);
}

double SettingsSlider::fraction() const { return (value_ - minimum_) / (maximum_ - minimum_); }

double SettingsSlider::knobCentre(double fraction, double width) {
    return std::min(width - 7, std::max(fraction * width, 7.0));
}

void SettingsSlider::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    const bool dark = scheme == ColorScheme::dark;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const double w = width(), h = height();
    const double x = knobCentre(fraction(), w);
    painter.setPen(Qt::NoPen);
    painter.setBrush(faintTrack(scheme));
    painter.drawRoundedRect(QRectF(0, h / 2 - 2, w, 4), 2, 2);
    painter.setBrush(Theme::accentFill(viewModel_.accent(), scheme));
    painter.drawRoundedRect(QRectF(0, h / 2 - 2, x, 4), 2, 2);
    const QColor stroke = dark ? rgbColor(0xFFFFFF, 0.1) : rgbColor(0x000000, 0.16);
    paintKnob(painter, QRectF(x - 7, h / 2 - 7, 14, 14), &stroke);
}

void SettingsSlider::setFromPosition(double x) {
    const double usable = std::max(1.0, width() - 14.0);
    setValue(minimum_ + std::clamp((x - 7) / usable, 0.0, 1.0) * (maximum_ - minimum_));
}

void SettingsSlider::mousePressEvent(QMouseEvent* event) { setFromPosition(event->position().x()); }

void SettingsSlider::mouseMoveEvent(QMouseEvent* event) {
    if (event->buttons() & Qt::LeftButton) setFromPosition(event->position().x());
}

void SettingsSlider::keyPressEvent(QKeyEvent* event) {
    const double step = (maximum_ - minimum_) / 80;
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Down) setValue(value_ - step);
    else if (event->key() == Qt::Key_Right || event->key() == Qt::Key_Up) setValue(value_ + step);
    else QWidget::keyPressEvent(event);
}

SettingsSegmented::SettingsSegmented(std::vector<QString> options, const QString& selected, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), selected_(selected) {
    setFixedSize(160, 26);
    setCursor(Qt::PointingHandCursor);
    FocusRing::setShape(this, 6);
    setStatic(ScreenshotMode::active);
}

void SettingsSegmented::setStatic(bool isStatic) {
    setAttribute(Qt::WA_TransparentForMouseEvents, isStatic);
    setFocusPolicy(isStatic ? Qt::NoFocus : Qt::TabFocus);
}

void SettingsSegmented::setSelected(const QString& selected) {
    if (selected_ == selected) return;
    selected_ = selected;
    update();
}

void SettingsSegmented::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    const bool dark = scheme == ColorScheme::dark;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath track = Theme::continuousRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 6);
    painter.fillPath(track, Theme::hoverFill(scheme));
    painter.setPen(QPen(Theme::separator(scheme), 1));
    painter.drawPath(track);
    if (options_.empty()) return;
    const double inner = width() - 4, segment = (inner - 2.0 * (options_.size() - 1)) / options_.size();
    painter.setFont(Theme::font(11, QFont::Medium));
    for (size_t i = 0; i < options_.size(); ++i) {
        const QRectF cell(2 + i * (segment + 2), 2, segment, 22);
        const bool selected = options_[i] == selected_;
        if (selected) {
            paintShadow(painter, cell, Shadow{rgbColor(0x000000, dark ? 0.3 : 0.12), 1, {0, 0.5}, 6});
            painter.fillPath(Theme::continuousRoundedRect(cell, 6), dark ? QColor(37, 37, 37) : QColor(Qt::white));
        }
        painter.setPen(selected ? Theme::textPrimary(scheme) : Theme::textTertiary(scheme));
        painter.drawText(cell, Qt::AlignCenter, options_[i]);
    }
}

void SettingsSegmented::keyPressEvent(QKeyEvent* event) {
    // The arrows choose the neighbouring option and stop at either end.
    const int step = event->key() == Qt::Key_Left ? -1 : event->key() == Qt::Key_Right ? 1 : 0;
    if (step == 0 || options_.empty()) return QWidget::keyPressEvent(event);
    const auto current = std::find(options_.begin(), options_.end(), selected_);
    // With nothing chosen yet, either arrow takes the first option.
    const long index = current == options_.end() ? 0 : (current - options_.begin()) + step;
    if (index < 0 || index >= static_cast<long>(options_.size()) || options_[static_cast<size_t>(index)] == selected_) return;
    setSelected(options_[static_cast<size_t>(index)]);
    emit chosen(selected_);
}

void SettingsSegmented::mouseReleaseEvent(QMouseEvent* event) {
    if (options_.empty() || !rect().contains(event->position().toPoint())) return;
    const auto index = static_cast<size_t>(std::clamp(event->position().x() / width() * options_.size(), 0.0,
                                                      static_cast<double>(options_.size() - 1)));
    setSelected(options_[index]);
    emit chosen(options_[index]);
}

}  // namespace calvoro
