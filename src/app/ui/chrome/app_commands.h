#pragma once

#include <QObject>
#include <QPointer>

#include <functional>

class QAction;
class QMenu;
class QMenuBar;
class QWidget;

namespace calvoro {

class ConversionViewModel;

// The menu commands as window actions with their shortcuts. Where the desktop has a global menu
// they appear there; otherwise the window offers the same menus on a right click on its
// background and on F10.
class AppCommands : public QObject {
    Q_OBJECT
public:
    AppCommands(QWidget* window, ConversionViewModel& viewModel);

    QAction* about() const { return about_; }
    QAction* settings() const { return settings_; }
    QAction* quit() const { return quit_; }
    QAction* addFiles() const { return addFiles_; }
    QAction* convertAll() const { return convertAll_; }
    QAction* closeWindow() const { return closeWindow_; }
    QAction* toggleLog() const { return toggleLog_; }
    QAction* clearCompleted() const { return clearCompleted_; }
    QAction* clearAll() const { return clearAll_; }

    // What "About Calvoro" opens; the About panel sets it.
    void setAboutHandler(std::function<void()> handler) { aboutHandler_ = std::move(handler); }

    // True when the desktop shows the menus in its own global menu bar.
    bool usesGlobalMenu() const;
    QMenuBar* menuBar() const { return menuBar_; }
    // The window's own menu of menus, for desktops without a global menu.
    QMenu* windowMenu() const { return windowMenu_; }
    void popUpWindowMenu(const QPoint& globalPosition);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // An action that may open a modal chooser runs once the menu it was chosen from has gone.
    enum class OpensChooser { no, yes };
    QAction* action(const QString& title, const QList<QKeySequence>& shortcuts, std::function<void()> run,
                    OpensChooser chooser = OpensChooser::no);
    void buildMenus();
    void updateStates();

    QWidget* window_;
    ConversionViewModel& viewModel_;
    std::function<void()> aboutHandler_;
    QAction* about_;
    QAction* settings_;
    QAction* quit_;
    QAction* addFiles_;
    QAction* convertAll_;
    QAction* closeWindow_;
    QAction* toggleLog_;
    QAction* clearCompleted_;
    QAction* clearAll_;
    QAction* openMenu_;
    QMenuBar* menuBar_ = nullptr;
    QMenu* windowMenu_ = nullptr;
};

}  // namespace calvoro
