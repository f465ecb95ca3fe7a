#pragma once

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QMenu>
#include <QStringList>
#include <QTest>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/ui/console/console_main.h"
#include "app/ui/console/console_row.h"
#include "app/ui/console/console_view.h"
#include "app/ui/theme/theme.h"
#include "core/settings_store.h"
#include "support/test_support.h"
#include "app/ui/ui_test_support.h"
#include "app/ui/window/content_view.h"

namespace calvoro::testing {

// The texts of a menu's items, separators as "-".
inline QStringList menuTexts(QMenu* menu) {
    QStringList texts;
    for (QAction* action : menu->actions()) texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

inline QAction* menuAction(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
        if (action->text() == text) return action;
    return nullptr;
}

// A press and a release at the widget's centre: QTest's click does not reach the buttons
// inside a scroll area on the offscreen platform, a separate press and release does.
inline void press(QWidget* widget) {
    QTest::mousePress(widget, Qt::LeftButton);
    QTest::mouseRelease(widget, Qt::LeftButton);
}

inline void hoverWidget(QWidget* widget, bool inside) {
    if (inside) {
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QCoreApplication::sendEvent(widget, &enter);
    } else {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(widget, &leave);
    }
}

// A view test with a folder of small files to add as jobs.
class ConsoleTest : public ViewTest {
protected:
    void SetUp() override {
        // The tests show and close windows; the event loop must outlive them.
        onMain([] { QApplication::setQuitOnLastWindowClosed(false); });
        ViewTest::SetUp();
        // Each test starts from the defaults: the settings store lives as long as the process.
        onMain([&] {
            model.reset();
            for (const char* key : {"appearanceMode", "imageQuality", "imageMaxEdge", "stripMetadata", "audioBitrate",
                                    "accent", "keepOriginals", "backgroundTint", "backgroundTintStrength",
                                    "defaultTargets", "recents", "sidebarExpandedSections", "statsTotalConversions",
                                    "statsBytesSaved", "outputDirBookmark"})
                SettingsStore::shared().remove(std::string("Calvoro.") + key);
            SettingsStore::shared().remove("customAccentHex");
            model = std::make_unique<ConversionViewModel>();
            Theme::applyAppearance(host.get(), ColorScheme::dark, AccentChoice::paper);
        });
    }
    std::filesystem::path file(const std::string& name, const std::string& content = "a,b\n1,2\n") {
        writeFile(dir / name, content);
        return dir / name;
    }
    // A job value as the list would pass it, for rows shown on their own.
    static ConversionJob job(const std::string& name, SupportedFormat format, ConversionStatus status = ConversionStatus::pending) {
        ConversionJob j(std::filesystem::path("/tmp") / name, name, 2048, format);
        j.status = status;
        const auto targets = format.possibleConversions();
        if (!targets.empty()) j.targetFormat = targets.front();
        return j;
    }

    TempDir dir;
};

// The job-list column on its own, shown at a size that holds several rows.
class ConsoleMainTest : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        onMain([&] {
            view = new ConsoleMain(*model, host.get());
            view->resize(760, 600);
            host->show();
        });
    }
    ConsoleMain* view = nullptr;
};

// The whole window with the console, as the program shows it.
class WholeWindowTest : public ConsoleTest {
protected:
    void SetUp() override {
        ConsoleTest::SetUp();
        onMain([&] {
            view = new ContentView(*model, consoleViews(), host.get());
            view->resize(900, 700);
            host->show();
            host->activateWindow();
            ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
        });
    }
    void addJobs(int count) {
        std::vector<std::filesystem::path> files;
        for (int i = 0; i < count; ++i) files.push_back(file("table-" + std::to_string(100 + i) + ".csv"));
        onMain([&] { model->addFiles(files); });
    }
    ConsoleMain* consoleMain() const { return qobject_cast<ConsoleMain*>(view->mainCardContent()); }

    ContentView* view = nullptr;
};

}  // namespace calvoro::testing
