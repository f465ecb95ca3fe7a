#pragma once

#include <QWidget>

#include "app/ui/theme/spring.h"
#include "core/conversion_job.h"

class QMenu;

namespace calvoro {

class ConversionViewModel;

// The two-segment pill of a job row: the source's extension, then the target format, which
// opens a menu of the job's possible targets (and "Compress…" where the compressor can).
class FromToPills : public QWidget {
    Q_OBJECT
public:
    FromToPills(ConversionViewModel& viewModel, const ConversionJob& job, QWidget* parent = nullptr);

    void setJob(const ConversionJob& job);
    const ConversionJob& job() const { return job_; }

    QString fromText() const { return fromText(job_); }
    QString targetText() const { return targetText(job_); }
    static QString fromText(const ConversionJob& job);
    static QString targetText(const ConversionJob& job);
    // The pill's width for a job: what its size hint is once it shows that job.
    static int widthFor(const ConversionJob& job);
    // The menu the target segment opens; none while converting or in screenshot mode.
    bool hasMenu() const;
    QMenu* makeMenu(QWidget* parent) const;
    bool isHovering() const { return hovering_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void popUpMenu();
    bool converting() const;
    double fromWidth() const { return fromWidth_; }
    void measure();
    void refresh();

    ConversionViewModel& viewModel_;
    ConversionJob job_;
    bool hovering_ = false;
    SpringValue hover_;
    double fromWidth_ = 0;
    double width_ = 0;
};

}  // namespace calvoro
