#include "app/ui/main_window.h"

#include <QCloseEvent>

#include "app/state/conversion_view_model.h"
#include "app/ui/theme.h"
#include "app/ui/window_accessor.h"

namespace calvoro {

MainWindow::MainWindow(ConversionViewModel& viewModel)
    : viewModel_(viewModel), accessor_(new WindowAccessor(this, &viewModel)) {
    setWindowTitle(QStringLiteral("Calvoro"));
    setMinimumSize(minimumContentSize);
    resize(defaultSize);
    applyAppearance();
    connect(&viewModel_, &ConversionViewModel::resolvedColorSchemeChanged, this, &MainWindow::applyAppearance);
    connect(&viewModel_, &ConversionViewModel::accentChanged, this, &MainWindow::applyAppearance);
}

void MainWindow::applyAppearance() { Theme::applyAppearance(this, viewModel_.resolvedColorScheme(), viewModel_.accent()); }

void MainWindow::setContentView(QWidget* content) {
    delete content_;
    content_ = content;
    if (!content_) return;
    content_->setParent(this);
    content_->setGeometry(rect());
    content_->lower();
    content_->show();
    accessor_->position();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (event->isAccepted()) emit closed();
}

void MainWindow::resizeEvent(QResizeEvent* event) {
    if (content_) content_->setGeometry(rect());
    QWidget::resizeEvent(event);
}

}  // namespace calvoro

