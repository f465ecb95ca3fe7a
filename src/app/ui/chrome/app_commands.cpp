#include "app/ui/chrome/app_commands.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include "app/state/conversion_view_model.h"
#include "app/ui/controls/menu_actions.h"
#include "app/ui/theme/animation_transaction.h"
#include "app/ui/theme/theme.h"

namespace calvoro {

AppCommands::AppCommands(QWidget* window, ConversionViewModel& viewModel)
    : QObject(window), window_(window), viewModel_(viewModel) {
    about_ = action(QStringLiteral("About Calvoro"), {}, [this] {
        if (aboutHandler_) aboutHandler_();
    });
    settings_ = action(QStringLiteral("Settings…"), {QKeySequence(Qt::CTRL | Qt::Key_Comma)},
                       [this] { viewModel_.setShowSettingsPopover(true); });
    quit_ = action(QStringLiteral("Quit Calvoro"), {QKeySequence(Qt::CTRL | Qt::Key_Q)}, [] { QApplication::quit(); });
    addFiles_ = action(QStringLiteral("Add Files…"), {QKeySequence(Qt::CTRL | Qt::Key_O)}, [this] {
        viewModel_.setFilePickerCategory(std::nullopt);
        viewModel_.setShowFilePicker(true);
    });
    // Without an output folder it asks for one.
    convertAll_ = action(QStringLiteral("Convert All"),
                         {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)},
                         [this] { viewModel_.convertAll(); }, OpensChooser::yes);
    closeWindow_ = action(QStringLiteral("Close Window"), {QKeySequence(Qt::CTRL | Qt::Key_W)}, [] {
        if (QWidget* key = QApplication::activeWindow()) key->close();
    });
    toggleLog_ = action(QStringLiteral("Show Conversion Log"), {QKeySequence(Qt::CTRL | Qt::Key_L)},
                        [this] { viewModel_.toggleLogPanel(); });
    clearCompleted_ = action(QStringLiteral("Clear Completed"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K)},
                             [this] {
                                 AnimationTransaction transaction(viewModel_, Theme::springAnimation);
                                 viewModel_.clearCompleted();
                             });
    // Not Ctrl+Backspace: every text field deletes a word with it.
    clearAll_ = action(QStringLiteral("Clear All Files"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Delete)},
                       [this] {
                           AnimationTransaction transaction(viewModel_, Theme::springAnimation);
                           viewModel_.clearAll();
                       });
    // F10 opens the menus, as on other desktops without a menu bar.
    openMenu_ = action(QStringLiteral("Menu"), {QKeySequence(Qt::Key_F10)}, [this] {
        if (!usesGlobalMenu()) popUpWindowMenu(window_->mapToGlobal(QPoint(22, 44)));
    });
    buildMenus();

    for (auto signal : {&ConversionViewModel::jobsChanged, &ConversionViewModel::isProcessingChanged,
                        &ConversionViewModel::showLogPanelChanged})
        connect(&viewModel_, signal, this, &AppCommands::updateStates);
    updateStates();
    window_->installEventFilter(this);
}

QAction* AppCommands::action(const QString& title, const QList<QKeySequence>& shortcuts, std::function<void()> run,
                             OpensChooser chooser) {
    auto* item = new QAction(title, this);
    item->setShortcuts(shortcuts);
    item->setShortcutContext(Qt::WindowShortcut);
    if (chooser == OpensChooser::yes) connectAfterMenuCloses(item, this, std::move(run));
    else connect(item, &QAction::triggered, this, [run = std::move(run)] { run(); });
    // On the window itself, so the shortcuts work whether or not a menu is on screen.
    window_->addAction(item);
    return item;
}

void AppCommands::buildMenus() {
    menuBar_ = new QMenuBar(window_);
    auto* app = menuBar_->addMenu(QStringLiteral("Calvoro"));
    app->addAction(about_);
    app->addSeparator();
    app->addAction(settings_);
    app->addSeparator();
    app->addAction(quit_);
    auto* file = menuBar_->addMenu(QStringLiteral("File"));
    file->addAction(addFiles_);
    file->addSeparator();
    file->addAction(convertAll_);
    auto* edit = menuBar_->addMenu(QStringLiteral("Edit"));
    edit->addAction(clearCompleted_);
    edit->addAction(clearAll_);
    auto* view = menuBar_->addMenu(QStringLiteral("View"));
    view->addAction(toggleLog_);
    auto* windowMenu = menuBar_->addMenu(QStringLiteral("Window"));
    windowMenu->addAction(closeWindow_);
    // Without a global menu the bar stays hidden: the window has no room for one in its design.
    if (!menuBar_->isNativeMenuBar()) menuBar_->hide();

    windowMenu_ = new QMenu(window_);
    for (QAction* menu : menuBar_->actions()) windowMenu_->addAction(menu);
    for (QMenu* menu : {windowMenu_, app, file, edit, view, windowMenu}) Theme::styleMenu(menu);
}

bool AppCommands::usesGlobalMenu() const { return menuBar_ && menuBar_->isNativeMenuBar(); }

void AppCommands::popUpWindowMenu(const QPoint& globalPosition) { windowMenu_->popup(globalPosition); }

void AppCommands::updateStates() {
    convertAll_->setEnabled(viewModel_.canConvert() && !viewModel_.isProcessing());
    clearCompleted_->setEnabled(viewModel_.completedCount() > 0);
    clearAll_->setEnabled(!viewModel_.jobs().empty());
    toggleLog_->setText(viewModel_.showLogPanel() ? QStringLiteral("Hide Conversion Log") : QStringLiteral("Show Conversion Log"));
}

bool AppCommands::eventFilter(QObject* watched, QEvent* event) {
    // A right click that no view took, on the window's background.
    if (watched == window_ && event->type() == QEvent::ContextMenu && !usesGlobalMenu()) {
        popUpWindowMenu(static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    return false;
}

}  // namespace calvoro
