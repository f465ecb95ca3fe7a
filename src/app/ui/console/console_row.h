#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

#include <optional>

#include "app/ui/spring.h"
#include "core/conversion_job.h"

class QAbstractButton;
class QMenu;

namespace calvoro {

class ConversionViewModel;
class FromToPills;
class GhostPillButton;
class RevealButton;
class RowRemoveButton;

// One job of the console's list: checkbox, thumbnail or category symbol, name and size (or the
// error), the format pills, the remove button and a status cell that follows the job's status.
// The list reuses rows: setJob moves a row to another job.
class ConsoleRow : public QWidget {
    Q_OBJECT
public:
    static constexpr int rowHeight = 60;

    ConsoleRow(ConversionViewModel& viewModel, const ConversionJob& job, QWidget* parent = nullptr);

    void setJob(const ConversionJob& job);
    const ConversionJob& job() const { return job_; }
    bool isSelected() const;
    bool isHovering() const { return hovering_; }

    // What the row shows, for the tests.
    QString detailText() const;
    QString percentText() const;
    // Width of the progress bar's fill in a 90-point track.
    double progressFillWidth() const;
    QColor backgroundColor() const;
    bool hasThumbnail() const { return thumbnail_.has_value(); }
    bool wantsThumbnail() const;
    QMenu* makeContextMenu(QWidget* parent);
    bool canDrag() const;

    FromToPills* pills() const { return pills_; }
    RowRemoveButton* removeButton() const { return remove_; }
    QAbstractButton* checkbox() const { return checkbox_; }
    GhostPillButton* convertButton() const { return convert_; }
    GhostPillButton* retryButton() const { return retry_; }
    RevealButton* revealButton() const { return reveal_; }

    QSize sizeHint() const override { return {720, rowHeight}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void layoutChildren();
    void refresh();
    void startThumbnailTask();
    int statusCellWidth() const;
    QRectF statusRect() const;
    QRectF nameRect() const;

    ConversionViewModel& viewModel_;
    ConversionJob job_;
    bool hovering_ = false;
    SpringValue hover_;
    std::optional<QImage> thumbnail_;
    QString thumbnailTaskKey_;
    QPoint pressAt_;

    QAbstractButton* checkbox_;
    FromToPills* pills_;
    RowRemoveButton* remove_;
    GhostPillButton* convert_;
    GhostPillButton* retry_;
    RevealButton* reveal_;
};

}  // namespace calvoro
