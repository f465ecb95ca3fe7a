#include "app/ui/chrome/main_window.h"

#include <QCloseEvent>
#include <QApplication>
#include <QScreen>

#include "app/state/conversion_view_model.h"
#include "app/ui/theme/theme.h"
#include "app/ui/chrome/window_accessor.h"

namespace calvoro {

MainWindow::MainWindow(ConversionViewModel& viewModel)
    : viewModel_(viewModel), accessor_(new WindowAccessor(this, &viewModel)) {
    setWindowTitle(QStringLiteral("Calvoro"));
    setMinimumSize(minimumContentSize);
    resize(defaultSize);
    // The first time it opens, the window stands in the middle of the screen.
    if (const QScreen* screen = QApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - QPoint(defaultSize.width() / 2, defaultSize.height() / 2));
    }
    applyAppearance();
    connect(&viewModel_, &ConversionViewModel::resolvedColorSchemeChanged, this, &MainWindow::applyAppearance);
    connect(&viewModel_, &ConversionViewModel::accentChanged, this, &MainWindow::applyAppearance);
}

void MainWindow::applyAppearance() {
    Theme::applyAppearance(this, viewModel_.resolvedColorScheme(), viewModel_.accent());
    // Tooltips and dialogs are windows without a parent here: they follow the application's palette.
    QApplication::setPalette(palette());
}

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

