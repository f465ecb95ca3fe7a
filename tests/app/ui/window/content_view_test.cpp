#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QWindow>

#include <set>

#include "app/ui/compress_sheet/compress_sheet.h"
#include "app/ui/console/console_sidebar.h"
#include "app/ui/console/console_view.h"
#include "app/ui/window/content_view.h"
#include "app/ui/overlays/conversions_info_popover.h"
#include "app/ui/overlays/drop_overlay.h"
#include "app/ui/drop_zone/drop_zone_view.h"
#include "app/ui/log_panel/log_panel_view.h"
#include "app/ui/overlays/toast_view.h"
#include "app/ui/chrome/main_window.h"
#include "app/ui/chrome/traffic_light_visibility_accessor.h"
#include "app/ui/ui_test_support.h"
#include "core/settings_store.h"

namespace calvoro {
namespace {

using testing::onMain;
using testing::waitUntil;

class ContentViewTest : public testing::ViewTest {
protected:
    void SetUp() override {
        ViewTest::SetUp();
        onMain([&] {
            // The window's own buttons, as the chrome names them.
            for (const char* name : TrafficLightVisibilityAccessor::buttonNames) {
                auto* button = new QPushButton(host.get());
                button->setObjectName(name);
                buttons.push_back(button);
            }
            view = new ContentView(*model, console, host.get());
            view->resize(900, 700);
            host->show();
        });
    }
    void TearDown() override {
        onMain([&] { host->hide(); });
        ViewTest::TearDown();
    }

    // Rebuilds the view with a plain card for the settings popover; the card hands over its closure.
    void useStandInSettingsCard(std::function<void()>* onShowConversions = nullptr) {
        console.settingsPopover = [onShowConversions](ConversionViewModel&, std::function<void()> closure, QWidget* parent) {
            if (onShowConversions) *onShowConversions = std::move(closure);
            auto* card = new QWidget(parent);
            card->resize(400, 300);
            return card;
        };
        onMain([&] {
            delete view;
            view = new ContentView(*model, console, host.get());
            view->resize(900, 700);
        });
    }

    // Sends a drag carrying the URLs over the view, then drops or leaves.
    void drag(const QList<QUrl>& urls, bool drop) {
        onMain([&] {
            QMimeData data;
            data.setUrls(urls);
            QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(view, &enter);
            if (drop) {
                QDropEvent dropped(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
                QApplication::sendEvent(view, &dropped);
            } else {
                QDragLeaveEvent leave;
                QApplication::sendEvent(view, &leave);
            }
        });
    }
    QUrl url(const std::filesystem::path& path) { return QUrl::fromLocalFile(QString::fromStdString(path.string())); }
    std::filesystem::path file(const std::string& name) {
        testing::writeFile(dir / name, std::string("a,b\n1,2\n"));
        return dir / name;
    }
    std::filesystem::path folder(const std::string& name) {
        std::filesystem::create_directories(dir / name);
        return dir / name;
    }

    ContentView::ConsoleViews console;
    ContentView* view = nullptr;
    std::vector<QPushButton*> buttons;
    testing::TempDir dir;
};

TEST_F(ContentViewTest, MainCardIsTheDropZoneOnlyWhileTheListIsEmpty) {
    onMain([&] {
        EXPECT_EQ(view->mainCardContent(), view->dropZone());
        model->addFiles({file("table.csv")});
        ASSERT_EQ(model->jobs().size(), 1u);
        EXPECT_NE(view->mainCardContent(), view->dropZone());
        EXPECT_TRUE(view->mainCardContent()->isVisible());
        model->removeJob(model->jobs().front());
        EXPECT_EQ(view->mainCardContent(), view->dropZone());
        EXPECT_TRUE(view->dropZone()->isVisible());
        testing::saveSnapshot(view, "content-empty-dark");
    });
}

TEST_F(ContentViewTest, FoldersAreRefusedOncePerDropAndFilesBesideThemAreAdded) {
    const auto a = folder("photos"), b = folder("more");
    int toasts = 0;
    onMain([&] { QObject::connect(model.get(), &ConversionViewModel::toastChanged, [&] { toasts += model->toast() ? 1 : 0; }); });
    drag({url(a)}, true);
    onMain([&] {
        ASSERT_TRUE(model->toast());
        EXPECT_EQ(model->toast()->title, "Folders aren't supported yet");
        EXPECT_EQ(model->toast()->detail, std::optional<std::string>("Drop the files inside instead"));
        EXPECT_TRUE(model->jobs().empty());
    });
    drag({url(a), url(b)}, true);
    EXPECT_EQ(toasts, 2) << "one toast per drop, however many folders";
    drag({url(file("one.csv")), url(a), url(file("two.csv")), QUrl("https://example.com/x.csv")}, true);
    onMain([&] {
        ASSERT_EQ(model->jobs().size(), 2u);
        EXPECT_EQ(model->jobs()[0].fileName, "one.csv");
        EXPECT_EQ(model->jobs()[1].fileName, "two.csv");
        EXPECT_EQ(model->toast()->title, "Folders aren't supported yet");
    });
    // A package counts as a file: it reaches the job list's own check, which skips its format.
    folder("Tool.app");
    drag({url(dir / "Tool.app")}, true);
    onMain([&] {
        ASSERT_TRUE(model->toast());
        EXPECT_EQ(model->toast()->title, "Skipped unsupported file");
    });
}

TEST_F(ContentViewTest, OnlyFileDragsTargetTheWindowAndTheWindowButtonsStepAside) {
    onMain([&] {
        QMimeData text;
        text.setText("hello");
        QDragEnterEvent enter(QPoint(50, 50), Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &enter);
        EXPECT_FALSE(view->dropTargeted());
        EXPECT_FALSE(enter.isAccepted());

        QMimeData files;
        files.setUrls({url(file("a.csv"))});
        QDragEnterEvent fileEnter(QPoint(50, 50), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view, &fileEnter);
        EXPECT_TRUE(view->dropTargeted());
        EXPECT_TRUE(view->dropZone()->dropTargeted());
        EXPECT_TRUE(view->dropOverlay()->isVisible());
    });
    ASSERT_TRUE(waitUntil([&] { return !buttons[0]->isEnabled() && !buttons[2]->isEnabled(); }));
    onMain([&] { testing::saveSnapshot(view, "content-drop-overlay-dark"); });
    onMain([&] {
        QDragLeaveEvent leave;
        QApplication::sendEvent(view, &leave);
        EXPECT_FALSE(view->dropTargeted());
    });
    ASSERT_TRUE(waitUntil([&] { return buttons[0]->isEnabled() && buttons[1]->isEnabled() && !view->dropOverlay()->isVisible(); }));
}

TEST_F(ContentViewTest, DimmingLayersCloseTheirSheetsAndHoldTheRowStill) {
    onMain([&] {
        model->setShowSettingsPopover(true);
        ASSERT_TRUE(view->settingsLayer());
        EXPECT_TRUE(view->mainCardContent()->parentWidget()->parentWidget()->testAttribute(Qt::WA_TransparentForMouseEvents));
        QTest::mouseClick(view->settingsLayer(), Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_FALSE(model->showSettingsPopover());

        ConversionJob job(dir / "photo.png", "photo.png", 1000, SupportedFormat::png);
        model->setCompressingJob(job);
        ASSERT_TRUE(view->compressSheet());
        EXPECT_TRUE(view->compressLayer()->isVisible());
        testing::saveSnapshot(view, "content-compress-dark");
        QTest::mouseClick(view->compressLayer(), Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_FALSE(model->compressingJob());

        model->setShowConversionsInfo(true);
        ASSERT_TRUE(view->conversionsPopover());
        QTest::mouseClick(view->conversionsPopover(), Qt::LeftButton, {}, QPoint(5, 5));
        EXPECT_FALSE(model->showConversionsInfo());
    });
    ASSERT_TRUE(waitUntil([&] { return !view->settingsLayer() && !view->compressLayer() && !view->conversionsPopover(); }));
    onMain([&] { EXPECT_FALSE(view->mainCardContent()->parentWidget()->parentWidget()->testAttribute(Qt::WA_TransparentForMouseEvents)); });
}

TEST_F(ContentViewTest, AnOpenedSettingsCardTakesTheKeysFromTheFieldBehindIt) {
    QLineEdit* field = nullptr;
    useStandInSettingsCard();
    onMain([&] {
        view->show();
        field = new QLineEdit(view);
        field->show();
        host->activateWindow();
        field->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), field);
        model->setShowSettingsPopover(true);
    });
    ASSERT_TRUE(waitUntil([&] { return view->settingsLayer() && view->settingsLayer()->isAncestorOf(QApplication::focusWidget()); }));
    onMain([&] {
        QTest::keyClicks(QApplication::focusWidget(), "abc");
        EXPECT_EQ(field->text(), "");
    });
}

TEST_F(ContentViewTest, SettingsPopoverCanHandOverToTheConversionsCardInOneStep) {
    std::function<void()> showConversions;
    useStandInSettingsCard(&showConversions);
    onMain([&] {
        model->setShowSettingsPopover(true);
        ASSERT_TRUE(showConversions);
        showConversions();
        EXPECT_FALSE(model->showSettingsPopover());
        EXPECT_TRUE(model->showConversionsInfo());
        EXPECT_TRUE(view->conversionsPopover());
    });
}

TEST_F(ContentViewTest, ToastsReplaceEachOtherInPlaceAndLeaveWhenTheirTimeIsUp) {
    onMain([&] {
        model->showToast(Toast(Toast::Kind::success, "Converted 1 file"));
        ASSERT_TRUE(view->toastView());
        ToastView* first = view->toastView();
        model->showToast(Toast(Toast::Kind::warning, "Skipped 2 unsupported files", std::string("a.xyz, b.xyz")));
        EXPECT_EQ(view->toastView(), first) << "a newer toast replaces the text in place";
        EXPECT_EQ(first->toast().title, "Skipped 2 unsupported files");
    });
    ASSERT_TRUE(waitUntil([&] { return !view->toastView(); })) << "the view model clears it after its time";
    onMain([&] {
        model->showToast(Toast(Toast::Kind::error, "Conversion failed"));
        ASSERT_TRUE(view->toastView());
        testing::saveSnapshot(view, "content-toast-dark");
        QTest::mouseClick(view->toastView(), Qt::LeftButton, {}, QPoint(40, 10));
        EXPECT_FALSE(model->toast());
    });
}

TEST_F(ContentViewTest, LogPanelComesBackUnfiltered) {
    onMain([&] {
        model->setShowLogPanel(true);
        ASSERT_TRUE(view->logPanel());
        view->logPanel()->setSearchText("abc");
        view->logPanel()->setFilterLevel(ConversionLogger::Level::error);
        model->setShowLogPanel(false);
    });
    ASSERT_TRUE(waitUntil([&] { return !view->logPanel(); }));
    onMain([&] {
        model->setShowLogPanel(true);
        ASSERT_TRUE(view->logPanel());
        EXPECT_TRUE(view->logPanel()->searchText().isEmpty());
        EXPECT_FALSE(view->logPanel()->filterLevel());
    });
}

TEST_F(ContentViewTest, TheWindowGrowsForTheLogPanelOnlyAsFarAsItMustAndGivesTheGrowthBack) {
    std::unique_ptr<MainWindow> window;
    int room = 2000;
    onMain([&] {
        delete view;
        view = nullptr;
        window = std::make_unique<MainWindow>(*model);
        auto* content = new ContentView(*model, consoleViews());
        content->setScreenRoom([&room] { return room; });
        window->setContentView(content);
        window->resize(980, 640);
        window->show();
    });
    auto content = [&] { return static_cast<ContentView*>(window->findChild<ContentView*>()); };
    auto setLog = [&](bool shown) {
        onMain([&] { model->setShowLogPanel(shown); });
        ASSERT_TRUE(waitUntil([&] {
            LogPanelView* panel = content()->logPanel();
            return shown ? panel && panel->y() + LogPanelView::panelHeight <= content()->height() : !panel;
        }));
    };
    int grown = 0;
    setLog(true);
    onMain([&] {
        QWidget* sidebar = content()->findChild<ConsoleSidebar*>();
        ASSERT_TRUE(sidebar);
        EXPECT_GE(sidebar->height(), sidebar->sizeHint().height()) << "the library rows keep their height";
        grown = window->height();
        EXPECT_GT(grown, 640) << "too short for the panel and the sidebar";
        EXPECT_EQ(content()->height(), grown);
    });
    setLog(false);
    onMain([&] {
        EXPECT_EQ(window->height(), 640) << "the growth is given back";
        EXPECT_EQ(content()->minimumHeight(), 640);
        // Tall enough already: the window keeps its height, open or closed.
        window->resize(980, grown + 100);
    });
    setLog(true);
    onMain([&] { EXPECT_EQ(window->height(), grown + 100); });
    setLog(false);
    onMain([&] {
        EXPECT_EQ(window->height(), grown + 100);
        window->resize(980, 640);
    });
    // Resized by the user while the panel is open: the size the user chose stays.
    setLog(true);
    onMain([&] { window->resize(980, grown + 30); });
    setLog(false);
    onMain([&] {
        EXPECT_EQ(window->height(), grown + 30);
        window->resize(980, 640);
        room = 660;
    });
    // A short screen: the window grows to its edge and no further, and shrinks back.
    setLog(true);
    onMain([&] { EXPECT_EQ(window->height(), 660); });
    setLog(false);
    onMain([&] {
        EXPECT_EQ(window->height(), 640);
        window.reset();
    });
}

// After a batch the sidebar holds recents and stats, the list more jobs and the log more entries
// than fit. The window may grow for the panel or not, as the window manager allows: either way the
// panel, its newest entry included, is inside it, and the columns above give way.
TEST_F(ContentViewTest, TheWholeLogPanelAndItsNewestEntryAreInsideAWindowThatDoesNotGrow) {
    std::vector<RecentJob> recents;
    for (int i = 0; i < 5; ++i)
        recents.push_back(RecentJob{Uuid(), (dir / ("clip-" + std::to_string(i) + ".mov")).string(), "mov", "mp4",
                                    std::chrono::system_clock::now(), std::nullopt});
    std::vector<std::filesystem::path> files;
    for (int i = 0; i < 8; ++i) files.push_back(file("table-" + std::to_string(i) + ".csv"));
    std::unique_ptr<MainWindow> window;
    ContentView* content = nullptr;
    onMain([&] {
        delete view;
        view = nullptr;
        model.reset();
        auto& store = SettingsStore::shared();
        store.set("Calvoro.statsTotalConversions", 5);
        store.set("Calvoro.statsBytesSaved", 1 << 20);
        const std::string json = RecentJob::encodeList(recents);
        store.setData("Calvoro.recents", std::vector<uint8_t>(json.begin(), json.end()));
        model = std::make_unique<ConversionViewModel>();
        model->addFiles(files);
        for (int i = 0; i < 30; ++i)
            ConversionLogger::shared().append(ConversionLogger::Level::success, "Convert", "Converted clip-" + std::to_string(i));
        window = std::make_unique<MainWindow>(*model);
        content = new ContentView(*model, consoleViews());
        window->setContentView(content);
        window->show();
    });
    for (const QSize size : {MainWindow::defaultSize, MainWindow::minimumContentSize}) {
        SCOPED_TRACE(QString("%1x%2").arg(size.width()).arg(size.height()).toStdString());
        onMain([&] {
            window->resize(size);
            model->setShowLogPanel(true);
            // The window manager keeps the window at the size it had.
            window->windowHandle()->resize(size);
        });
        ASSERT_TRUE(waitUntil([&] {
            LogPanelView* panel = content->logPanel();
            return window->size() == size && panel && panel->y() == content->height() - LogPanelView::panelHeight;
        }));
        // The batch ends while the panel is open: its last line scrolls into view.
        onMain([&] { ConversionLogger::shared().append(ConversionLogger::Level::info, "Batch", "Batch complete: 30 converted, 0 failed"); });
        LogPanelView* panel = content->logPanel();
        QListView* list = panel->list();
        QModelIndex newest;
        ASSERT_TRUE(waitUntil([&] {
            newest = list->model()->index(list->model()->rowCount() - 1, 0);
            return newest.isValid() && panel->filteredEntries().back().message.starts_with("Batch complete") &&
                   list->viewport()->rect().contains(list->visualRect(newest));
        })) << "the newest entry scrolls into view";
        onMain([&] {
            const QRect inWindow(panel->mapTo(window.get(), QPoint(0, 0)), panel->size());
            EXPECT_TRUE(window->rect().contains(inWindow)) << "panel at y " << inWindow.y() << ", window " << window->height();
            const QRect row = list->visualRect(newest);
            EXPECT_TRUE(window->rect().contains(QRect(list->viewport()->mapTo(window.get(), row.topLeft()), row.size())));
            // The columns end above the panel; the sidebar's rows scroll where they need the room.
            for (QWidget* column : {content->sidebar(), content->mainCardContent()})
                EXPECT_LE(column->mapTo(content, QPoint(0, column->height())).y(), panel->y()) << column->metaObject()->className();
        });
        onMain([&] { model->setShowLogPanel(false); });
        ASSERT_TRUE(waitUntil([&] { return !content->logPanel(); }));
    }
    onMain([&] {
        window.reset();
        for (const char* key : {"Calvoro.statsTotalConversions", "Calvoro.statsBytesSaved", "Calvoro.recents"})
            SettingsStore::shared().remove(key);
    });
}

TEST_F(ContentViewTest, OpenPanelResetsItsCategoryWhetherCancelledOrNot) {
    onMain([&] {
        model->setFilePickerCategory(FileCategory::image);
        model->setShowFilePicker(true);
        auto* dialog = view->findChild<QFileDialog*>();
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(dialog->nameFilters().join(' ').contains("*.png"));
        dialog->reject();
        EXPECT_FALSE(model->showFilePicker());
        EXPECT_FALSE(model->filePickerCategory());
        EXPECT_TRUE(model->jobs().empty());
    });
}

TEST_F(ContentViewTest, OpenPanelAddsTheChosenFilesByTheirOwnNames) {
    const auto first = file("q1 #2 100% [é].csv"), second = file("plain.csv");
    onMain([&] {
        model->openFilePicker();
        auto* dialog = view->findChild<QFileDialog*>();
        ASSERT_TRUE(dialog);
        dialog->setDirectory(QString::fromStdString(dir.path().string()));
        dialog->selectFile(QString("\"%1\" \"%2\"").arg(QString::fromStdString(first.filename().string()),
                                                         QString::fromStdString(second.filename().string())));
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        ASSERT_EQ(model->jobs().size(), 2u);
        std::set<std::filesystem::path> added;
        for (const auto& job : model->jobs()) added.insert(job.sourceURL);
        EXPECT_EQ(added, (std::set<std::filesystem::path>{first, second}));
    });
}

// Never in the folder the program started in: first in Pictures, then in the folder files were
// last added from, however they came, while it exists.
TEST_F(ContentViewTest, OpenPanelStartsInPicturesThenWhereFilesWereLastAdded) {
    const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
    ASSERT_TRUE(QDir().mkpath(pictures));
    const auto picked = file("picked.csv");
    const auto droppedFolder = folder("dropped");
    testing::writeFile(droppedFolder / "dropped.csv", std::string("a\n"));
    // The one open now: a closed panel goes only once the event loop has run.
    auto openPanel = [&]() -> QFileDialog* {
        model->openFilePicker();
        for (QFileDialog* dialog : view->findChildren<QFileDialog*>())
            if (dialog->isVisible()) return dialog;
        return nullptr;
    };
    onMain([&] {
        ASSERT_NE(QDir::current(), QDir(pictures));
        QFileDialog* dialog = openPanel();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->directory(), QDir(pictures)) << "first use";
        dialog->setDirectory(QString::fromStdString(dir.path().string()));
        dialog->selectFile(QString::fromStdString(picked.filename().string()));
        QMetaObject::invokeMethod(dialog, "accept", Qt::DirectConnection);
        ASSERT_EQ(model->jobs().size(), 1u);
        dialog = openPanel();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->directory(), QDir(QString::fromStdString(dir.path().string()))) << "where the panel added from";
        dialog->reject();
    });
    drag({url(droppedFolder / "dropped.csv")}, true);
    onMain([&] {
        ASSERT_EQ(model->jobs().size(), 2u);
        QFileDialog* dialog = openPanel();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->directory(), QDir(QString::fromStdString(droppedFolder.string()))) << "where a drop added from";
        dialog->reject();
    });
    // Open With, a second start or a recent: the files join the list without the window's help.
    const auto openedFolder = folder("opened");
    testing::writeFile(openedFolder / "opened.csv", std::string("a\n"));
    onMain([&] {
        model->addFiles({openedFolder / "opened.csv"});
        QFileDialog* dialog = openPanel();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->directory(), QDir(QString::fromStdString(openedFolder.string()))) << "where Open With added from";
        dialog->reject();
    });
    std::filesystem::remove_all(openedFolder);
    onMain([&] {
        QFileDialog* dialog = openPanel();
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->directory(), QDir(pictures)) << "the folder has gone";
        dialog->reject();
    });
}

TEST_F(ContentViewTest, OpenPanelWithoutACategoryOffersEverySupportedNameThenEachCategoryThenAnyFile) {
    onMain([&] {
        model->openFilePicker();
        auto* dialog = view->findChild<QFileDialog*>();
        ASSERT_TRUE(dialog);
        const QStringList filters = dialog->nameFilters();
        ASSERT_EQ(filters.size(), 8);
        EXPECT_TRUE(filters[0].startsWith("All supported files (*.png *.jpeg *.jpg"));
        for (const char* pattern : {"*.cr2", "*.mp4", "*.flac", "*.docx", "*.bz2", "*.woff2", "*.vtt", "*.jpe"})
            EXPECT_TRUE(filters[0].contains(QString(pattern) + ' ') || filters[0].contains(QString(pattern) + ')')) << pattern;
        EXPECT_FALSE(filters[0].contains("*.mkv"));
        EXPECT_TRUE(filters[1].startsWith("Images (*.png"));
        EXPECT_FALSE(filters[1].contains("*.mp4"));
        EXPECT_TRUE(filters[2].startsWith("Video (*.mp4"));
        EXPECT_TRUE(filters[3].startsWith("Audio ("));
        EXPECT_TRUE(filters[4].startsWith("Documents (*.pdf"));
        EXPECT_TRUE(filters[5].startsWith("Archives (*.zip"));
        EXPECT_TRUE(filters[6].startsWith("Fonts (*.ttf"));
        EXPECT_EQ(filters[7], "All files (*)");
        EXPECT_EQ(dialog->selectedNameFilter(), filters[0]);
        dialog->reject();
    });
}

TEST(ContentViewFolders, OnlyPlainDirectoriesAreFolders) {
    testing::TempDir dir;
    std::filesystem::create_directories(dir / "plain");
    std::filesystem::create_directories(dir / "Editor.app");
    std::filesystem::create_directories(dir / "Notes.rtfd");
    testing::writeFile(dir / "file.txt", std::string("x"));
    EXPECT_TRUE(ContentView::isRealFolder(dir / "plain"));
    EXPECT_FALSE(ContentView::isRealFolder(dir / "Editor.app"));
    EXPECT_FALSE(ContentView::isRealFolder(dir / "Notes.rtfd"));
    EXPECT_FALSE(ContentView::isRealFolder(dir / "file.txt"));
    EXPECT_FALSE(ContentView::isRealFolder(dir / "gone"));
}

}  // namespace
}  // namespace calvoro
