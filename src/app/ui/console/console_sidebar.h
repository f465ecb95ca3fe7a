#pragma once

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QScrollArea;
class QVBoxLayout;

namespace calvoro {

class ChromeIconButton;
class ConversionViewModel;
class SidebarAddFooter;
class SidebarNavRow;

// The console's left column: a card with the window's buttons, the settings gear and the
// library (categories with their counts), a card with the Recent, Stats and Explore sections,
// and the "Add files" footer.
class ConsoleSidebar : public QWidget {
    Q_OBJECT
public:
    static constexpr int sidebarWidth = 246;

    explicit ConsoleSidebar(ConversionViewModel& viewModel, QWidget* parent = nullptr);

    const std::vector<SidebarNavRow*>& libraryRows() const { return libraryRows_; }
    ChromeIconButton* settingsButton() const { return settings_; }
    SidebarAddFooter* addFooter() const { return footer_; }
    // The sections card's content, rebuilt as recents and stats change; its sections open and
    // close in place.
    QWidget* sectionsContent() const { return sections_; }

    // The height that holds every library row and the sections' least without scrolling.
    QSize sizeHint() const override;

    // The texts of the stats rows.
    static QString conversionsText(int count);
    static QString savedText(qint64 bytes);

private:
    QWidget* buildTopCard();
    QWidget* buildBottomCard();
    // Which rows the sections hold: the recents shown, the conversions and the saved-bytes rows.
    struct SectionsShape {
        size_t recents;
        bool stats;
        bool saved;
        bool operator==(const SectionsShape&) const = default;
    };
    SectionsShape sectionsShape() const;
    void updateSections();
    void rebuildSections();
    void updateChrome();

    ConversionViewModel& viewModel_;
    QWidget* chromeSlot_ = nullptr;
    QWidget* chromeLead_ = nullptr;
    ChromeIconButton* settings_ = nullptr;
    std::vector<SidebarNavRow*> libraryRows_;
    QScrollArea* scroll_ = nullptr;
    QWidget* sections_ = nullptr;
    std::optional<SectionsShape> shape_;
    std::vector<QWidget*> recentRows_;
    QWidget* conversionsRow_ = nullptr;
    QWidget* savedRow_ = nullptr;
    SidebarAddFooter* footer_ = nullptr;
};

}  // namespace calvoro
