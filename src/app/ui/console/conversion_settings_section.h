#pragma once

#include <QWidget>

#include <vector>

namespace calvoro {

class ConversionViewModel;
class SettingsRow;
class SettingsSlider;
class SettingsSwitch;
class TabularLabel;
class ValueChip;

// The "Conversion" page of the settings: image quality, resizing, photo metadata and the audio
// bit rate.
class ConversionSettingsSection : public QWidget {
    Q_OBJECT
public:
    ConversionSettingsSection(ConversionViewModel& viewModel, std::vector<int> edges, std::vector<int> bitrates,
                              QWidget* parent = nullptr);

    static QString qualityText(double quality);
    static QString edgeText(int edge);
    static QString bitrateText(int bitrate);

    SettingsSlider* qualitySlider() const { return quality_; }
    QString qualityLabel() const;
    ValueChip* resizePicker() const { return resize_; }
    SettingsSwitch* metadataSwitch() const { return metadata_; }
    SettingsRow* metadataRow() const { return metadataRow_; }
    ValueChip* bitratePicker() const { return bitrate_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void refresh();

    ConversionViewModel& viewModel_;
    SettingsSlider* quality_;
    TabularLabel* qualityValue_;
    ValueChip* resize_;
    SettingsSwitch* metadata_;
    SettingsRow* metadataRow_;
    ValueChip* bitrate_;
};

}  // namespace calvoro
