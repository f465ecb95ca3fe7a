#pragma once

#include <QList>
#include <QPointer>
#include <QUrl>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <optional>

#include "app/ui/theme/spring.h"

class QShortcut;

namespace calvoro {

class CompressSheet;
class ConsoleCard;
class ConversionViewModel;
class ConversionsInfoPopover;
class DropOverlay;
class DropZoneView;
class FocusRing;
class KxCanvasBackground;
class LayerTransition;
class LogPanelView;
class ToastView;
class TrafficLightVisibilityAccessor;

// The window's content: the canvas, the console row (sidebar and main card, or the drop zone
// while there are no jobs), the log panel, toasts, the settings popover, the compress sheet, the
// conversions card and the drop overlay, each shown as the view model says. Files dropped on
// it or picked in the open panel go to the view model; folders are turned away.
class ContentView : public QWidget {
    Q_OBJECT
public:
    // The console's views, made by the console when it is built into the program; without
    // them the content view shows a plain list of the jobs in the main card.
    struct ConsoleViews {
        std::function<QWidget*(ConversionViewModel&, QWidget* parent)> sidebar;
        std::function<QWidget*(ConversionViewModel&, QWidget* parent)> main;
        std::function<QWidget*(ConversionViewModel&, std::function<void()> onShowConversions, QWidget* parent)> settingsPopover;
    };

    explicit ContentView(ConversionViewModel& viewModel, ConsoleViews console = {}, QWidget* parent = nullptr);
    ~ContentView() override;

    // A directory that is not a package (bundle); false for files, packages and unreadable paths.
    static bool isRealFolder(const std::filesystem::path& url);

    bool dropTargeted() const { return dropTargeted_; }

    // The layers present now (for tests and the screenshot mode).
    KxCanvasBackground* background() const { return background_; }
    QWidget* mainCardContent() const;
    DropZoneView* dropZone() const { return dropZone_; }
    QWidget* sidebar() const { return sidebar_; }
    LogPanelView* logPanel() const { return logPanel_; }
    ToastView* toastView() const { return toast_; }
    QWidget* settingsLayer() const;
    QWidget* compressLayer() const;
    CompressSheet* compressSheet() const { return compressSheet_; }
    ConversionsInfoPopover* conversionsPopover() const { return conversions_; }
    DropOverlay* dropOverlay() const { return dropOverlay_; }
    // The console row, which takes no input while a modal layer is up.
    QWidget* consoleRow() const { return column_; }
    FocusRing* focusRing() const { return focusRing_; }
    // How tall the window may grow for the log panel, frame included: the available height of its
    // screen unless set (tests set it, their screen being smaller than the window).
    void setScreenRoom(std::function<int()> room) { screenRoom_ = std::move(room); }
    // The open card that holds the keys (the topmost one), if any.
    QWidget* focusScope() const;

protected:
    // Tab walks the sidebar, the main card and the log panel in their order on screen; while a
    // card is open, only that card's controls.
    bool focusNextPrevChild(bool next) override;

    void resizeEvent(QResizeEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    static constexpr int minimumContentHeight = 640;
    class ModalLayer;

    static void enterModal(ModalLayer* layer, const Spring& spring);
    // Fades the layer out, then deletes it.
    static void dismissLayer(QWidget* layer);
    void setDropTargeted(bool targeted);
    void handleDrop(const QList<QUrl>& urls);
    // The open panel starts next time in the folder of the files last added to the list.
    void noteAddedFiles();
    void applyAppearance();
    void updateMainCard();
    void updateSidebar();
    void updateLogPanel();
    void keepRoomForLog(bool present);
    void updateToast();
    void updateSettings();
    void updateCompress();
    void updateConversions();
    void updateModality();
    void closeTopCard();
    void closeLayer(QWidget* layer);
    void presentFilePicker();
    void relayout();
    void stackLayers();

    ConversionViewModel& viewModel_;
    ConsoleViews console_;
    bool dropTargeted_ = false;

    KxCanvasBackground* background_;
    QWidget* column_;
    ConsoleCard* card_;
    QWidget* cardStack_;
    DropZoneView* dropZone_;
    QWidget* consoleMain_ = nullptr;
    QWidget* sidebar_ = nullptr;
    LayerTransition* sidebarTransition_ = nullptr;
    LogPanelView* logPanel_ = nullptr;
    LayerTransition* logTransition_ = nullptr;
    QWidget* toastHost_;
    ToastView* toast_ = nullptr;
    LayerTransition* toastTransition_ = nullptr;
    ModalLayer* settingsLayer_ = nullptr;
    ModalLayer* compressLayer_ = nullptr;
    CompressSheet* compressSheet_ = nullptr;
    ConversionsInfoPopover* conversions_ = nullptr;
    DropOverlay* dropOverlay_;
    LayerTransition* dropTransition_;
    TrafficLightVisibilityAccessor* trafficLights_;
    bool filePickerOpen_ = false;
    std::optional<std::filesystem::path> addedFrom_;
    size_t jobCount_ = 0;
    FocusRing* focusRing_;
    QShortcut* escape_;
    // Where the focus was before the first card opened; it goes back there when the last closes.
    QPointer<QWidget> focusBeforeCard_;
    // The last control outside the log panel and the cards that held the keys.
    QPointer<QWidget> focusOutsideLog_;
    bool cardOpen_ = false;
    std::function<int()> screenRoom_;
    // What the window grew by for the log panel, and the height it grew to: given back when the
    // panel closes, unless the window has been resized since.
    int logGrowth_ = 0;
    int grownTo_ = -1;
};

}  // namespace calvoro
