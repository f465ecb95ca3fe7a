#include "app/ui/console/default_targets_settings_section.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "app/state/conversion_view_model.h"
#include "app/ui/console/default_target_row.h"
#include "app/ui/console/settings_group.h"
#include "app/ui/console/text_button.h"
#include "app/ui/controls/hover_button.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

// The rows' card: the group's panel with hairlines between the rows, indented 38 points.
class TargetsCard : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        const ColorScheme scheme = Theme::scheme(this);
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(Theme::continuousRoundedRect(QRectF(rect()), 10), SettingsGroup::fill(scheme == ColorScheme::dark));
        const double line = Theme::hairline(this);
        const auto rows = findChildren<DefaultTargetRow*>();
        for (size_t i = 0; i + 1 < rows.size(); ++i)
            painter.fillRect(QRectF(38, rows[static_cast<qsizetype>(i)]->geometry().bottom() + 1 - line, width() - 38, line),
                             Theme::separator(scheme));
    }
};

QLabel* tertiaryLabel(const QString& text, double points, QFont::Weight weight, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(Theme::font(points, weight));
    label->setObjectName("tertiary");
    return label;
}

}  // namespace

DefaultTargetsSettingsSection::DefaultTargetsSettingsSection(ConversionViewModel& viewModel, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(4, 0, 4, 0);
    header->addWidget(tertiaryLabel(tr("Default formats"), 11, QFont::DemiBold, this));
    header->addStretch(1);
    reset_ = new TextButton(tr("Reset"), 11.5, false, this);
    reset_->setToolTip(tr("Reset every type back to Auto"));
    reset_->setAccessibleName(tr("Reset every default format to Auto"));
    connect(reset_, &QAbstractButton::clicked, this, [this] { viewModel_.setDefaultTargets({}); });
    // Hidden, it keeps its room: the header and the rows stay where they are as it comes and goes.
    QSizePolicy keep = reset_->sizePolicy();
    keep.setRetainSizeWhenHidden(true);
    reset_->setSizePolicy(keep);
    header->addWidget(reset_);
    column->addLayout(header);

    auto* card = new TargetsCard(this);
    auto* rows = new QVBoxLayout(card);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    for (const FileCategory category : {FileCategory::image, FileCategory::video, FileCategory::audio, FileCategory::document,
                                        FileCategory::archive, FileCategory::font}) {
        auto* row = new DefaultTargetRow(viewModel_, category, card);
        rows_.push_back(row);
        rows->addWidget(row);
    }
    column->addWidget(card);

    auto* footnote = new QHBoxLayout;
    footnote->setContentsMargins(4, 0, 4, 0);
    footnote->addWidget(tertiaryLabel(tr("New files of each kind convert to these automatically."), 10.5, QFont::Normal, this));
    column->addLayout(footnote);

    connect(&viewModel_, &ConversionViewModel::defaultTargetsChanged, this, &DefaultTargetsSettingsSection::refresh);
    refresh();
}

void DefaultTargetsSettingsSection::refresh() {
    reset_->setVisible(!viewModel_.defaultTargets().empty());
    for (auto* label : findChildren<QLabel*>()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, Theme::textTertiary(Theme::scheme(this)));
        label->setPalette(palette);
    }
}

void DefaultTargetsSettingsSection::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) refresh();
    QWidget::changeEvent(event);
}

}  // namespace calvoro
