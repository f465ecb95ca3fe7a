#include "app/ui/console/conversion_settings_section.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "app/state/conversion_view_model.h"
#include "app/ui/console/percent_text.h"
#include "app/ui/console/settings_controls.h"
#include "app/ui/console/settings_group.h"
#include "app/ui/console/settings_row.h"
#include "app/ui/theme/tabular_text.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

QString ConversionSettingsSection::qualityText(double quality) { return QString::number(truncatedPercent(quality)) + "%"; }

QString ConversionSettingsSection::edgeText(int edge) {
    return edge == 0 ? tr("Original") : QString::number(edge) + QStringLiteral(" px");
}

QString ConversionSettingsSection::bitrateText(int bitrate) { return QString::number(bitrate / 1000) + QStringLiteral(" kbps"); }

ConversionSettingsSection::ConversionSettingsSection(ConversionViewModel& viewModel, std::vector<int> edges,
                                                     std::vector<int> bitrates, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    ConversionViewModel* vm = &viewModel_;
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);

    auto* images = new SettingsGroup(tr("Images"), this);
    auto* qualityControl = new QWidget;
    auto* qualityRow = new QHBoxLayout(qualityControl);
    qualityRow->setContentsMargins(0, 0, 0, 0);
    qualityRow->setSpacing(8);
    quality_ = new SettingsSlider(viewModel_, 0.2, 1.0, qualityControl);
    quality_->setValue(viewModel_.imageQuality());
    // Only a move by the user writes the setting: a stored value outside the range stays.
    connect(quality_, &SettingsSlider::valueChanged, this, [vm](double value) { vm->setImageQuality(value); });
    qualityValue_ = new TabularLabel(qualityControl);
    qualityValue_->setFont(Theme::font(12, QFont::DemiBold));
    qualityValue_->setFixedWidth(34);
    qualityValue_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    qualityRow->addWidget(quality_);
    qualityRow->addWidget(qualityValue_);
    images->addRow(new SettingsRow(tr("Quality"), tr("JPEG & HEIC compression. Higher looks better, larger files."), true,
                                   qualityControl));

    resize_ = intPicker([vm] { return vm->imageMaxEdge(); }, [vm](int value) { vm->setImageMaxEdge(value); }, edges,
                        &ConversionSettingsSection::edgeText, nullptr);
    images->addRow(new SettingsRow(tr("Resize"), tr("Shrink large images to fit (keeps proportions)."), true, resize_));

    metadata_ = new SettingsSwitch(viewModel_, viewModel_.stripMetadata());
    connect(metadata_, &QAbstractButton::toggled, this, [vm](bool on) { vm->setStripMetadata(on); });
    metadataRow_ = new SettingsRow(tr("Remove photo metadata"), QString(), false, metadata_);
    images->addRow(metadataRow_);
    column->addWidget(images);

    auto* audio = new SettingsGroup(tr("Audio"), this);
    bitrate_ = intPicker([vm] { return vm->audioBitrate(); }, [vm](int value) { vm->setAudioBitrate(value); }, bitrates,
                         &ConversionSettingsSection::bitrateText, nullptr);
    audio->addRow(new SettingsRow(tr("Bitrate"), tr("Higher sounds better, larger files."), false, bitrate_));
    column->addWidget(audio);

    for (auto signal : {&ConversionViewModel::imageQualityChanged, &ConversionViewModel::imageMaxEdgeChanged,
                        &ConversionViewModel::stripMetadataChanged, &ConversionViewModel::audioBitrateChanged})
        connect(&viewModel_, signal, this, &ConversionSettingsSection::refresh);
    refresh();
}

QString ConversionSettingsSection::qualityLabel() const { return qualityValue_->text(); }

void ConversionSettingsSection::refresh() {
    {
        const QSignalBlocker block(quality_);
        quality_->setValue(viewModel_.imageQuality());
    }
    qualityValue_->setText(qualityText(viewModel_.imageQuality()));
    QPalette palette = qualityValue_->palette();
    palette.setColor(QPalette::WindowText, Theme::textPrimary(Theme::scheme(this)));
    qualityValue_->setPalette(palette);
    resize_->setText(edgeText(viewModel_.imageMaxEdge()));
    {
        const QSignalBlocker block(metadata_);
        metadata_->setChecked(viewModel_.stripMetadata());
    }
    metadataRow_->setSub(viewModel_.stripMetadata() ? tr("Location and camera details are removed.")
                                                    : tr("Location, camera, and date details are kept."));
    bitrate_->setText(bitrateText(viewModel_.audioBitrate()));
}

void ConversionSettingsSection::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) refresh();
    QWidget::changeEvent(event);
}

}  // namespace calvoro
