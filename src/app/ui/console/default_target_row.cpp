#include "app/ui/console/default_target_row.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QPainter>

#include "app/state/conversion_view_model.h"
#include "app/state/screenshot_mode.h"
#include "app/ui/console/settings_controls.h"
#include "app/ui/theme/symbols.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

std::optional<SupportedFormat> DefaultTargetRow::autoResolved(FileCategory category) {
    switch (category) {
        case FileCategory::image: return SupportedFormat::jpeg;
        case FileCategory::video: return SupportedFormat::mp4;
        case FileCategory::audio: return SupportedFormat::m4a;
        case FileCategory::document: return SupportedFormat::pdf;
        case FileCategory::archive: return SupportedFormat::zip;
        case FileCategory::font: return SupportedFormat::woff2;
        case FileCategory::unknown: return std::nullopt;
    }
    return std::nullopt;
}

QString DefaultTargetRow::label(FileCategory category) {
    switch (category) {
        case FileCategory::image: return tr("Images");
        case FileCategory::video: return tr("Video");
        case FileCategory::audio: return tr("Audio");
        case FileCategory::document: return tr("Documents");
        case FileCategory::archive: return tr("Archives");
        case FileCategory::font: return tr("Fonts");
        case FileCategory::unknown: return tr("Other");
    }
    return {};
}

DefaultTargetRow::DefaultTargetRow(ConversionViewModel& viewModel, FileCategory category, QWidget* parent)
    : QWidget(parent), viewModel_(viewModel), category_(category) {
    setFixedHeight(40);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12 + 18 + 10 + 120, 0, 12, 0);
    row->addStretch(1);
    ValueChip::MenuFactory menu;
    if (!ScreenshotMode::active) {
        menu = [this](QMenu& menu) {
            const auto current = selection();
            QAction* automatic = menu.addAction(autoText());
            automatic->setCheckable(true);
            automatic->setChecked(!current);
            connect(automatic, &QAction::triggered, this, [this] { setSelection(std::nullopt); });
            menu.addSeparator();
            for (const SupportedFormat format : SupportedFormat::commonTargets(category_)) {
                QAction* action = menu.addAction(fromStd(format.displayName()));
                action->setCheckable(true);
                action->setChecked(current == format);
                connect(action, &QAction::triggered, this, [this, format] { setSelection(format); });
            }
        };
    }
    picker_ = new ValueChip(QString(), menu, this);
    row->addWidget(picker_);
    setToolTip(tr("Default format for newly added ") + fromStd(category_.rawValue()).toLower() + tr(" files"));
    connect(&viewModel_, &ConversionViewModel::defaultTargetsChanged, this, &DefaultTargetRow::refresh);
    refresh();
}

std::optional<SupportedFormat> DefaultTargetRow::selection() const {
    const auto& targets = viewModel_.defaultTargets();
    const auto entry = targets.find(category_);
    if (entry == targets.end()) return std::nullopt;
    return entry->second;
}

void DefaultTargetRow::setSelection(std::optional<SupportedFormat> format) {
    if (format) {
        viewModel_.setDefaultTarget(*format, category_);
        return;
    }
    // Auto: only this kind's entry goes; no job changes.
    auto targets = viewModel_.defaultTargets();
    targets.erase(category_);
    viewModel_.setDefaultTargets(targets);
}

QString DefaultTargetRow::autoText() const {
    const auto resolved = autoResolved(category_);
    return tr("Auto · ") + (resolved ? fromStd(resolved->displayName()) : tr("best"));
}

QString DefaultTargetRow::shownText() const { return picker_->text(); }

void DefaultTargetRow::refresh() {
    const auto current = selection();
    if (current) {
        picker_->setText(fromStd(current->displayName()));
    } else if (ScreenshotMode::active) {
        const auto resolved = autoResolved(category_);
        picker_->setText(resolved ? fromStd(resolved->displayName()) : QStringLiteral("\u2014"));
    } else {
        picker_->setText(autoText());
    }
}

void DefaultTargetRow::paintEvent(QPaintEvent*) {
    const ColorScheme scheme = Theme::scheme(this);
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    Symbols::paint(painter, QRectF(12, 0, 18, height()), category_.icon(), 12.5, QFont::Medium, Theme::textTertiary(scheme));
    painter.setFont(Theme::font(12.5));
    painter.setPen(Theme::textPrimary(scheme));
    painter.drawText(QRectF(12 + 18 + 10, 0, 120, height()), Qt::AlignLeft | Qt::AlignVCenter, label(category_));
}

}  // namespace calvoro
