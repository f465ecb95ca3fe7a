#pragma once

#include <QWidget>

class QGraphicsOpacityEffect;
class QLabel;
class QLineEdit;
class QStackedWidget;

namespace calvoro {

class AccentButton;
class ConsoleJobList;
class ConversionViewModel;
class GhostIconPillButton;
class GhostPillButton;
class HoverButton;
class SpringValue;

// The job-list column: a search bar (or, while jobs are selected, the selection bar), the list
// of the visible jobs, and a footer with the batch status, the output folder and "Clear all".
// It keeps no state of its own: everything shown follows the view model.
class ConsoleMain : public QWidget {
    Q_OBJECT
public:
    explicit ConsoleMain(ConversionViewModel& viewModel, QWidget* parent = nullptr);

    ConsoleJobList* jobList() const { return list_; }
    QLineEdit* searchField() const { return search_; }
    QLabel* searchPlaceholderText() const { return searchStatic_; }
    QWidget* searchToolbar() const { return searchBar_; }
    QWidget* selectionToolbar() const { return selectionBar_; }
    QString emptyMessage() const;
    bool showsEmptyMessage() const;
    QString selectionText() const;
    QString footerText() const;
    HoverButton* clearSearchButton() const { return clearSearch_; }
    GhostPillButton* retryButton() const { return retry_; }
    GhostPillButton* selectAllButton() const { return selectAll_; }
    AccentButton* convertAllButton() const { return convertAll_; }
    AccentButton* convertSelectedButton() const { return convertSelected_; }
    GhostPillButton* removeSelectedButton() const { return removeSelected_; }
    GhostPillButton* deselectAllButton() const { return deselectAll_; }
    HoverButton* cancelButton() const { return cancel_; }
    GhostIconPillButton* outputButton() const { return output_; }
    GhostPillButton* clearAllButton() const { return clearAll_; }

protected:
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* buildSearchBar();
    QWidget* buildSelectionBar();
    QWidget* buildFooter();
    void refresh();
    void refreshEmpty();
    void placeToolbars();

    ConversionViewModel& viewModel_;
    QWidget* toolbarArea_;
    QWidget* searchBar_;
    QWidget* selectionBar_;
    SpringValue* toolbarSwap_;
    QLineEdit* search_;
    QLabel* searchStatic_;
    HoverButton* clearSearch_;
    GhostPillButton* retry_;
    GhostPillButton* selectAll_;
    AccentButton* convertAll_;
    QLabel* selectionCount_;
    AccentButton* convertSelected_;
    GhostPillButton* removeSelected_;
    GhostPillButton* deselectAll_;
    QStackedWidget* body_;
    QLabel* empty_;
    ConsoleJobList* list_;
    QWidget* footer_;
    QWidget* spinner_;
    QLabel* footerText_;
    HoverButton* cancel_;
    GhostIconPillButton* output_;
    GhostPillButton* clearAll_;
    QGraphicsOpacityEffect* clearAllOpacity_;
};

}  // namespace calvoro
