#include "app/ui/console/settings_row.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "app/ui/theme/theme.h"

namespace calvoro {

SettingsRow::SettingsRow(const QString& title, const QString& sub, bool divider, QWidget* control, QWidget* parent)
    : QWidget(parent), divider_(divider), control_(control) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 9, 12, 9);
    row->setSpacing(12);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    title_ = new QLabel(title, this);
    title_->setFont(Theme::font(12.5));
    sub_ = new QLabel(sub, this);
    sub_->setFont(Theme::font(10.5));
    sub_->setWordWrap(true);
    sub_->setVisible(!sub.isEmpty());
    texts->addWidget(title_);
    texts->addWidget(sub_);
    row->addLayout(texts, 1);
    row->addSpacing(8);
    if (control_) {
        control_->setParent(this);
        row->addWidget(control_, 0, Qt::AlignVCenter);
    }
    setMinimumHeight(38);
    applyColours();
}

QString SettingsRow::title() const { return title_->text(); }
QString SettingsRow::sub() const { return sub_->text(); }

void SettingsRow::setSub(const QString& sub) {
    sub_->setText(sub);
    sub_->setVisible(!sub.isEmpty());
}

void SettingsRow::applyColours() {
    const ColorScheme scheme = Theme::scheme(this);
    QPalette palette = title_->palette();
    palette.setColor(QPalette::WindowText, Theme::textPrimary(scheme));
    title_->setPalette(palette);
    palette.setColor(QPalette::WindowText, Theme::textTertiary(scheme));
    sub_->setPalette(palette);
}

void SettingsRow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) applyColours();
    QWidget::changeEvent(event);
}

void SettingsRow::paintEvent(QPaintEvent*) {
    if (!divider_) return;
    QPainter painter(this);
    const double line = Theme::hairline(this);
    painter.fillRect(QRectF(12, height() - line, width() - 12, line), Theme::separator(Theme::scheme(this)));
}

}  // namespace calvoro
