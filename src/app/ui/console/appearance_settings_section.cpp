#include "app/ui/console/appearance_settings_section.h"

#include <QAbstractButton>
#include <QColorDialog>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QConicalGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <cmath>
#include <functional>

#include "app/state/conversion_view_model.h"
#include "app/ui/console/settings_controls.h"
#include "app/ui/console/settings_group.h"
#include "app/ui/console/settings_row.h"
#include "app/ui/theme/focus_ring.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

// A 20-point colour disc with a faint outline; a ring 3 points outside it marks the choice. The
// custom colour's well shows its colour inside a thin ring of the hue wheel, so that it reads as
// a colour picker and never as one more preset.
class AccentSwatch : public QAbstractButton {
public:
    AccentSwatch(std::function<QColor()> colour, std::function<bool()> selected, QWidget* parent, bool well = false)
        : QAbstractButton(parent), colour_(std::move(colour)), selected_(std::move(selected)), well_(well) {
        setFixedSize(26, 26);
        setCursor(Qt::PointingHandCursor);
        FocusRing::setShape(this, FocusRing::capsule);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF disc(3, 3, 20, 20);
        const QPen border(scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.10) : rgbColor(0x000000, 0.16), 1);
        if (well_) {
            QConicalGradient hues(disc.center(), 90);
            for (int i = 0; i <= 6; ++i) hues.setColorAt(i / 6.0, QColor::fromHsvF(std::fmod(i / 6.0, 1.0), 0.85, 1.0));
            QPainterPath ring;
            ring.addEllipse(disc);
            ring.addEllipse(disc.adjusted(3, 3, -3, -3));
            painter.fillPath(ring, hues);
            painter.setBrush(colour_());
            painter.setPen(border);
            painter.drawEllipse(disc.adjusted(4.5, 4.5, -4.5, -4.5));
        } else {
            painter.setBrush(colour_());
            painter.setPen(border);
            painter.drawEllipse(disc.adjusted(0.5, 0.5, -0.5, -0.5));
        }
        if (selected_()) {
            painter.setBrush(Qt::NoBrush);
            painter.setPen(QPen(Theme::textPrimary(scheme), 2));
            painter.drawEllipse(disc.adjusted(-2, -2, 2, 2));
        }
    }

private:
    std::function<QColor()> colour_;
    std::function<bool()> selected_;
    bool well_;
};

QWidget* swatchRow(std::vector<QWidget*> items, QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    // The discs are 20 points apart by 9; each widget carries 3 points of ring room.
    layout->setSpacing(9 - 6);
    for (QWidget* item : items) layout->addWidget(item);
    layout->addStretch(1);
    return row;
}

// The hairline between the accent block and the rows, indented 12 points.
class IndentedHairline : public QWidget {
public:
    explicit IndentedHairline(QWidget* parent) : QWidget(parent) { setFixedHeight(1); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(QRectF(12, 0, width() - 12, Theme::hairline(this)), Theme::separator(Theme::scheme(this)));
    }
};

}  // namespace

AppearanceSettingsSection::AppearanceSettingsSection(ConversionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);
    auto* group = new SettingsGroup(tr("Appearance"), this);
    column->addWidget(group);

    auto* accent = new QWidget;
    auto* accentColumn = new QVBoxLayout(accent);
    accentColumn->setContentsMargins(12 - 3, 11, 12, 11);
    accentColumn->setSpacing(10 - 6);
    auto* header = new QHBoxLayout;
    header->setContentsMargins(3, 0, 0, 0);
    auto* title = new QLabel(tr("Accent"), accent);
    title->setFont(Theme::font(12.5));
    title->setObjectName("primary");
    accentName_ = new QLabel(accent);
    accentName_->setFont(Theme::font(11.5));
    accentName_->setObjectName("tertiary");
    header->addWidget(title);
    header->addStretch(1);
    header->addWidget(accentName_);
    accentColumn->addLayout(header);

    ConversionViewModel* vm = &viewModel_;
    std::vector<QWidget*> first, second;
    const auto& presets = AccentChoice::presets();
    for (size_t i = 0; i < presets.size(); ++i) {
        const AccentChoice choice = presets[i];
        auto* swatch = new AccentSwatch([choice] { return choice.baseColor(); }, [vm, choice] { return vm->accent() == choice; },
                                        accent);
        swatch->setToolTip(QString::fromStdString(choice.label()));
        swatch->setAccessibleName(QString::fromStdString(choice.label()));
        connect(swatch, &QAbstractButton::clicked, this, [vm, choice] { vm->setAccent(choice); });
        swatches_.push_back(swatch);
        (i < 4 ? first : second).push_back(swatch);
    }
    auto* well = new AccentSwatch([vm] { return vm->customAccent(); },
                                  [vm] { return vm->accent() == AccentChoice::custom; }, accent, true);
    well->setToolTip(tr("Custom colour"));
    well->setAccessibleName(tr("Custom colour"));
    connect(well, &QAbstractButton::clicked, this, [this] {
        // Not run in a loop of its own inside the well's click: the section may go while it is
        // open (the card closes, the page changes), and the dialog then goes with it.
        auto* dialog = new QColorDialog(viewModel_.customAccent(), this);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setWindowTitle(tr("Custom colour"));
        connect(dialog, &QColorDialog::colorSelected, this, [this](const QColor& chosen) {
            if (chosen.isValid()) applyCustomColor(chosen);
        });
        dialog->open();
    });
    well_ = well;
    second.push_back(well);
    accentColumn->addWidget(swatchRow(first, accent));
    accentColumn->addWidget(swatchRow(second, accent));
    group->addRow(accent);
    group->addRow(new IndentedHairline(group));

    theme_ = new SettingsSegmented({QStringLiteral("Dark"), QStringLiteral("Light")}, QString());
    connect(theme_, &SettingsSegmented::chosen, this, [vm](const QString& option) {
        if (const auto mode = appearanceModeFromRawValue(option.toStdString())) vm->setAppearanceMode(*mode);
    });
    group->addRow(new SettingsRow(tr("Theme"), QString(), true, theme_));

    tint_ = new SettingsSwitch(viewModel_, viewModel_.backgroundTint());
    connect(tint_, &QAbstractButton::toggled, this, [vm](bool on) { vm->setBackgroundTint(on); });
    tintRow_ = new SettingsRow(tr("Background tint"), QString(), false, tint_);
    group->addRow(tintRow_);

    for (auto signal : {&ConversionViewModel::accentChanged, &ConversionViewModel::customAccentChanged,
                        &ConversionViewModel::appearanceModeChanged, &ConversionViewModel::backgroundTintChanged})
        connect(&viewModel_, signal, this, &AppearanceSettingsSection::refresh);
    refresh();
}

QString AppearanceSettingsSection::accentLabel() const { return accentName_->text(); }

void AppearanceSettingsSection::applyCustomColor(const QColor& color) {
    viewModel_.setCustomAccent(color);
    viewModel_.setAccent(AccentChoice::custom);
}

void AppearanceSettingsSection::refresh() {
    const ColorScheme scheme = Theme::scheme(this);
    accentName_->setText(QString::fromStdString(viewModel_.accent().label()));
    for (auto* label : findChildren<QLabel*>()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText,
                         label->objectName() == "tertiary" ? Theme::textTertiary(scheme) : Theme::textPrimary(scheme));
        if (label->objectName() == "primary" || label->objectName() == "tertiary") label->setPalette(palette);
    }
    theme_->setSelected(QString::fromStdString(rawValue(viewModel_.appearanceMode())));
    const QSignalBlocker block(tint_);
    tint_->setChecked(viewModel_.backgroundTint());
    tintRow_->setSub(viewModel_.backgroundTint() ? tr("A wash of the accent colour behind the cards.")
                                                 : tr("The background stays plain black."));
    for (QWidget* swatch : swatches_) swatch->update();
    well_->update();
}

void AppearanceSettingsSection::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) refresh();
    QWidget::changeEvent(event);
}

}  // namespace calvoro
