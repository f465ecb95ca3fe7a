#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

#include "app/ui/overlays/modal_chrome.h"
#include "compressor/compression_estimate.h"
#include "core/conversion_job.h"

class QAbstractButton;
class QPainter;

namespace calvoro {

class ConversionViewModel;

// Makes one file smaller: measures the five levels, lists those worth having with their size,
// saving and quality loss, and compresses at the chosen one.
class CompressSheet : public ModalChrome {
    Q_OBJECT
public:
    CompressSheet(ConversionViewModel& viewModel, ConversionJob job, std::function<void()> onClose, QWidget* parent = nullptr);

    static constexpr int sheetWidth = 460;

    enum class State { measuring, noGain, failed, list };
    State state() const;
    const std::vector<CompressionEstimate>& estimates() const { return estimates_; }
    std::optional<CompressionLevel> selected() const { return selected_; }
    // Chooses the level; the rows follow with a quick spring.
    void select(CompressionLevel level);
    // How far a level's row has come towards showing it chosen (1 when settled on it).
    double selectionProgress(CompressionLevel level) const;
    // The measurement's result: shows the list (or the no-gain state) and picks balanced, else
    // the first level measured.
    void applyEstimates(std::vector<CompressionEstimate> estimates);
    // The measurement failed: says so with the reason; no level can be chosen.
    void applyFailure(QString reason);
    const std::optional<QString>& failure() const { return failure_; }

    // "1.2 MB → 420 KB" while a measured level is chosen.
    std::optional<QString> summary() const;
    QAbstractButton* compressButton() const { return compress_; }
    QAbstractButton* cancelButton() const { return cancel_; }
    QWidget* row(CompressionLevel level) const;

    // Texts and tones of one level's row.
    enum class Tone { quaternary, secondary, primary };
    static QString caption(CompressionLevel level);
    static QString sizeText(const CompressionEstimate& estimate);
    static QString savedText(const CompressionEstimate& estimate);
    static QString lossText(const CompressionEstimate& estimate);
    static Tone lossTone(const CompressionEstimate& estimate);

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    class LevelRow;
    class Spinner;

    void relayout();
    double headerHeight() const;
    QRectF mainArea() const;
    // The steps of painting, in the order they are drawn.
    void paintHeader(QPainter& painter, ColorScheme scheme) const;
    void paintMeasuring(QPainter& painter, ColorScheme scheme, const QRectF& main) const;
    void paintOutcome(QPainter& painter, ColorScheme scheme, const QRectF& main) const;
    void paintList(QPainter& painter, ColorScheme scheme, const QRectF& main) const;
    void paintSummary(QPainter& painter, ColorScheme scheme, const QRectF& main) const;

    ConversionViewModel& viewModel_;
    ConversionJob job_;
    std::function<void()> onClose_;
    std::vector<CompressionEstimate> estimates_;
    std::optional<CompressionLevel> selected_;
    std::optional<QString> failure_;
    bool isMeasuring_ = true;
    std::vector<LevelRow*> rows_;
    Spinner* spinner_;
    QAbstractButton* cancel_;
    QAbstractButton* compress_;
};

}  // namespace calvoro
