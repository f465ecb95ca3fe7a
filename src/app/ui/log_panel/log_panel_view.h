#pragma once

#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

#include "app/ui/theme/spring.h"
#include "core/conversion_logger.h"

class QLineEdit;
class QListView;

namespace calvoro {

class CircleIconButtonStyle;
class ConversionViewModel;
class HoverButton;
class LogFilterPill;
class SpringAnimation;

// The conversion log under the console: 240 points of header with level filters and copy,
// clear and close buttons, a search field, and the entries oldest first, following the log live.
class LogPanelView : public QWidget {
    Q_OBJECT
public:
    using Entry = ConversionLogger::LogEntry;
    using Level = Entry::Level;

    LogPanelView(ConversionLogger& logger, ConversionViewModel& viewModel, QWidget* parent = nullptr);
    ~LogPanelView() override;

    static constexpr int panelHeight = 240;

    // Entries of exactly the level (any level when none) whose message, category or detail
    // contains the search text ignoring case, in stored order.
    static std::vector<Entry> filteredEntries(const std::vector<Entry>& entries, std::optional<Level> filterLevel,
                                              const QString& searchText);
    const std::vector<Entry>& filteredEntries() const { return filtered_; }
    int entryCount() const { return total_; }

    std::optional<Level> filterLevel() const { return filterLevel_; }
    void setFilterLevel(std::optional<Level> level);
    QString searchText() const;
    void setSearchText(const QString& text);

    // Copies every entry, unfiltered, one line each, to the clipboard.
    void copyLogs();
    void clearLogs();
    QSize sizeHint() const override;

    LogFilterPill* pill(std::optional<Level> level) const;
    CircleIconButtonStyle* copyButton() const { return copy_; }
    CircleIconButtonStyle* clearButton() const { return clear_; }
    CircleIconButtonStyle* closeButton() const { return close_; }
    HoverButton* clearSearchButton() const { return clearSearch_; }
    QListView* list() const { return list_; }
    // What the empty state says, or nothing while entries are listed.
    std::optional<QString> emptyStateText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Escape empties the search field first, then closes the panel, as it closes the cards.
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool escape();
    class Model;
    class Delegate;

    void scheduleRefresh();
    void refresh();
    void layoutChildren();
    void styleChildren();
    void paintEmptyState(QPainter& painter, const QRectF& area);
    QRectF searchFieldRect() const;
    QRectF listRect() const;

    ConversionLogger& logger_;
    ConversionViewModel& viewModel_;
    int observer_ = 0;
    bool refreshQueued_ = false;
    std::optional<Level> filterLevel_;
    std::vector<Entry> filtered_;
    int total_ = 0;

    LogFilterPill* all_;
    LogFilterPill* errors_;
    LogFilterPill* warnings_;
    CircleIconButtonStyle* copy_;
    CircleIconButtonStyle* clear_;
    CircleIconButtonStyle* close_;
    QLineEdit* search_;
    HoverButton* clearSearch_;
    QListView* list_;
    Model* model_;
    SpringAnimation* scroll_;
    // The count shown in the badge, counting towards the log's size.
    SpringValue badge_;
};

}  // namespace calvoro
