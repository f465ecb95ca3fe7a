#pragma once

#include <QImage>
#include <QPixmap>
#include <QTransform>
#include <QPoint>
#include <QStringList>
#include <QWidget>

#include <optional>
#include <tuple>
#include <utility>

#include "app/ui/console/row_checkbox.h"
#include "app/ui/theme/numeric_text_transition.h"
#include "app/ui/theme/spring.h"
#include "core/conversion_job.h"

class QAbstractButton;
class QMenu;
class QPainter;

namespace calvoro {

class ConversionViewModel;
class FromToPills;
class GhostPillButton;
class RevealButton;
class RowRemoveButton;

// One job of the console's list: checkbox, thumbnail or category symbol, name and size (or the
// error), the format pills, the remove button and a status cell that follows the job's status.
// The list reuses rows: setJob moves a row to another job, at once; a new value of the same job
// moves the progress, the status cell, the checkbox and the size text with their springs.
// The name and a failure message take up to two lines each; the list gives each row the height
// heightFor says.
class ConsoleRow : public QWidget {
    Q_OBJECT
public:
    // A row of one-line texts: the icon tile and its padding.
    static constexpr int rowHeight = 60;

    // What a row's height depends on besides its width, measured when the job's texts change.
    struct Measure {
        double name = 0;    // the file name on one line
        double detail = 0;  // a failed job's message on one line
        int pills = 0;      // the format pills
        ConversionStatus status = ConversionStatus::pending;
        friend bool operator==(const Measure&, const Measure&) = default;
    };
    static Measure measure(const ConversionJob& job);
    static int heightFor(const Measure& measure, int width);
    static int heightFor(const ConversionJob& job, int width) { return heightFor(measure(job), width); }

    ConsoleRow(ConversionViewModel& viewModel, const ConversionJob& job, QWidget* parent = nullptr);

    void setJob(const ConversionJob& job);
    const ConversionJob& job() const { return job_; }
    bool isSelected() const;
    bool isHovering() const { return hovering_; }
    // The pointer came over the row or left it. Enter and leave set it; the list sets it again
    // when rows move under a still pointer or a card covers them.
    void setHovering(bool hovering);

    // What the row shows, for the tests.
    QString detailText() const;
    // The lines the name and the detail are drawn in at the row's width.
    QStringList nameLines() const;
    QStringList detailLines() const;
    QString percentText() const;
    // Width of the progress bar's fill in a 90-point track, once the bar has caught up.
    double progressFillWidth() const;
    // The progress the bar and the percentage show now, on their way to the job's.
    double displayedProgress() const { return progress_.value(); }
    // How far the status cell has come from the previous status (1 when settled).
    double statusTransition() const { return statusFade_.value(); }
    // The opacity of the cell going and of the cell coming: the one going fades out before the
    // one coming scales in, so that the two never lie over each other.
    double outgoingCellOpacity() const;
    double incomingCellOpacity() const;
    // The status cell's width the pills and the remove button are placed for, or are on their way to.
    const NumericTextTransition& detailTransition() const { return detail_; }

    // The whole row drawn at this opacity, children included, while the list fades it.
    void setOpacity(double opacity);
    double opacity() const { return opacity_; }
    // A row on its way out of the list no longer changes: it draws a picture of itself.
    void setFrozen(bool frozen);
    bool isFrozen() const { return frozen_; }
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
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void layoutChildren();
    void refresh(bool animated = true);
    void startThumbnailTask();
    // Shows the shared cache's picture of the file, when it has one: asked for by this row or
    // another, once the loader has made it.
    bool takeCachedThumbnail();
    int statusCellWidth() const { return statusCellWidth(job_.status); }
    static int statusCellWidth(ConversionStatus status);
    // Where the remove button and the pills stand for a cell of this width.
    int removeLeftFor(double cell) const;
    int pillsLeftFor(double cell) const;
    // Where the remove button and the pills stand now: settled, held, or on their way.
    std::pair<int, int> placesNow() const;
    // After a change of status the pills and the remove button go to their places for the new
    // cell in one move. A wider cell takes its room at once; a narrower one gives it back at once
    // when the pills stay clear of the cell going, else once that cell has faded out.
    void placeForStatus(ConversionStatus before, bool animated);
    void startMove();
    void showCellButtons();
    static double nameWidthFor(int width, double pills, double cell);
    struct Block {
        QRectF name, detail;
        int nameLines = 1, detailLines = 1;
    };
    Block textBlock() const;
    bool statusFading() const { return statusFade_.value() < 1.0 || statusFade_.target() < 1.0; }
    // While fading, the row draws its children itself so that they fade with it; while the status
    // cell changes to or from "Done", its reveal button.
    bool paintsChildren() const;
    bool revealFades() const;
    QRect statusChangeRect() const;
    void paintRow(QPainter& painter, const QRect& dirty, double opacity, bool withChildren);
    void takePicture();
    void paintTile(QPainter& painter, const QRectF& tile);
    void paintNames(QPainter& painter, const QRectF& names) const;
    void paintStatus(QPainter& painter, ConversionStatus status, double opacity, double scale) const;
    void paintChildren(QPainter& painter, double rowOpacity);
    QTransform statusScale(ConversionStatus status, double scale) const;
    QRectF statusRect() const;
    QRectF nameRect() const;

    ConversionViewModel& viewModel_;
    ConversionJob job_;
    bool hovering_ = false;
    SpringValue hover_;
    SpringValue progress_;
    SpringValue statusFade_{1.0};
    double settledCell_ = 0;
    // The move to the settled places, from where the pills and the remove button stood.
    SpringValue move_{1.0};
    double fromPills_ = 0, fromRemove_ = 0;
    bool holding_ = false;
    ConversionStatus previousStatus_ = ConversionStatus::pending;
    NumericTextTransition detail_;
    double opacity_ = 1.0;
    bool frozen_ = false;
    QPixmap picture_;
    QPixmap childLayer_;
    QPixmap tilePicture_;
    qint64 tilePictureKey_ = 0;
    Measure measure_;
    // A text laid out in one or two lines, made again only when the text, the width or the number
    // of lines changes.
    struct Wrapped {
        QString text;
        double width = -1;
        int lineCount = 0;
        QStringList lines;
        const QStringList& of(const QString& text, const QFont& font, double width, int maxLines, Qt::TextElideMode mode);
    };
    mutable Wrapped nameWrap_, detailWrap_;
    bool renderingChildren_ = false;
    std::optional<QImage> thumbnail_;
    QString thumbnailTaskKey_;
    QPoint pressAt_;

    RowCheckbox* checkbox_;
    FromToPills* pills_;
    RowRemoveButton* remove_;
    GhostPillButton* convert_;
    GhostPillButton* retry_;
    RevealButton* reveal_;
};

}  // namespace calvoro
