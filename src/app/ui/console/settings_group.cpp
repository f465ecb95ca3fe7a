#include "app/ui/console/settings_group.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include "app/ui/theme/theme.h"

namespace calvoro {

namespace {

class GroupPanel : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(Theme::continuousRoundedRect(QRectF(rect()), 10),
                         SettingsGroup::fill(Theme::scheme(this) == ColorScheme::dark));
    }
};

class GroupTitle : public QWidget {
public:
    GroupTitle(const QString& title, QWidget* parent) : QWidget(parent), title_(title) { setFixedHeight(15); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setFont(Theme::font(11, QFont::DemiBold));
        painter.setPen(Theme::textTertiary(Theme::scheme(this)));
        painter.drawText(QRectF(4, 0, width() - 4, height()), Qt::AlignLeft | Qt::AlignVCenter, title_);
    }

private:
    QString title_;
};

}  // namespace

QColor SettingsGroup::fill(bool dark) { return dark ? QColor(46, 46, 46) : QColor(Qt::white); }

SettingsGroup::SettingsGroup(const QString& title, QWidget* parent) : QWidget(parent) {
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    if (!title.isEmpty()) column->addWidget(new GroupTitle(title, this));
    content_ = new GroupPanel(this);
    rows_ = new QVBoxLayout(content_);
    rows_->setContentsMargins(0, 0, 0, 0);
    rows_->setSpacing(0);
    column->addWidget(content_);
}

void SettingsGroup::addRow(QWidget* row) {
    row->setParent(content_);
    rows_->addWidget(row);
}

}  // namespace calvoro
