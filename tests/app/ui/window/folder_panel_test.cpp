#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QHeaderView>
#include <QPushButton>
#include <QTest>
#include <QTreeView>

#include "app/ui/ui_test_support.h"
#include "app/ui/theme/window_style.h"
#include "app/ui/window/desktop_dialogs.h"
#include "app/ui/window/folder_panel.h"

namespace calvoro {
namespace {

QString acceptText(FolderPanel& panel) {
    auto* buttons = panel.browser()->findChild<QDialogButtonBox*>();
    if (!buttons) return {};
    for (QAbstractButton* button : buttons->buttons())
        if (buttons->buttonRole(button) == QDialogButtonBox::AcceptRole) return button->text();
    return {};
}

TEST(FolderPanelTest, TheOutputFolderPanelShowsItsMessageAndChooseFolder) {
    testing::onMain([] {
        FolderPanel panel({"Choose Output Folder", "Choose where Calvoro should save your converted files.", "Choose Folder", std::nullopt});
        EXPECT_EQ(panel.windowTitle(), "Choose Output Folder");
        ASSERT_TRUE(panel.message());
        EXPECT_EQ(panel.message()->text(), "Choose where Calvoro should save your converted files.");
        EXPECT_EQ(acceptText(panel), "Choose Folder");
        // Folders only, and new ones can be made.
        EXPECT_EQ(panel.browser()->fileMode(), QFileDialog::Directory);
        EXPECT_TRUE(panel.browser()->testOption(QFileDialog::ShowDirsOnly));
        EXPECT_FALSE(panel.browser()->testOption(QFileDialog::ReadOnly));
        testing::saveSnapshot(&panel, "folder-panel");
    });
}

TEST(FolderPanelTest, ThePerFilePanelHasNoMessageOpensInTheChosenFolderAndCancellingChoosesNothing) {
    testing::TempDir dir;
    const auto documents = std::filesystem::path(QDir::homePath().toStdString()) / "Documents";
    std::filesystem::create_directories(documents);
    testing::onMain([&] {
        // Nothing chosen yet: Documents, not the folder the program started in.
        EXPECT_EQ(FolderPanel({"Choose Output Folder", std::nullopt, std::nullopt, std::nullopt}).browser()->directory(),
                  QDir(QString::fromStdString(documents.string())));
        FolderPanel panel({"Choose Output Folder for This File", std::nullopt, std::nullopt, dir.path()});
        EXPECT_FALSE(panel.message());
        EXPECT_FALSE(acceptText(panel).isEmpty());
        EXPECT_EQ(panel.browser()->directory(), QDir(QString::fromStdString(dir.path().string())));
        panel.browser()->reject();
        EXPECT_EQ(panel.result(), QDialog::Rejected);
    });
}

// The chosen folder comes back through its URL, which must not eat characters URLs treat specially.
TEST(FolderPanelTest, TheChosenFolderIsTheOneSelected) {
    testing::TempDir dir;
    const auto folder = dir / "Out #1 100% [é]";
    std::filesystem::create_directories(folder);
    testing::onMain([&] {
        FolderPanel panel({"Choose Output Folder for This File", std::nullopt, std::nullopt, std::nullopt});
        panel.browser()->setDirectory(QString::fromStdString(dir.path().string()));
        panel.browser()->selectFile(QString::fromStdString(folder.string()));
        QMetaObject::invokeMethod(panel.browser(), "accept", Qt::DirectConnection);
        EXPECT_EQ(panel.result(), QDialog::Accepted);
        EXPECT_EQ(panel.chosenFolder(), std::optional<std::filesystem::path>(folder));
    });
}

TEST(DesktopDialogsTest, ThePortalIsAskedForOnlyWhereQtKnowsNeitherTheUsersChoiceNorTheDesktop) {
    using DesktopDialogs::preferredPlatformTheme;
    EXPECT_EQ(preferredPlatformTheme(nullptr, "sway"), std::optional<std::string>("xdgdesktopportal"));
    EXPECT_EQ(preferredPlatformTheme("", "Hyprland"), std::optional<std::string>("xdgdesktopportal"));
    // GNOME and its kin get GTK's chooser from Qt, KDE its own; the user's choice stands.
    EXPECT_FALSE(preferredPlatformTheme(nullptr, "ubuntu:GNOME"));
    EXPECT_FALSE(preferredPlatformTheme(nullptr, "X-Cinnamon"));
    EXPECT_FALSE(preferredPlatformTheme(nullptr, "KDE"));
    EXPECT_FALSE(preferredPlatformTheme("gtk3", "sway"));
    // A bare X server: Qt's own dialogs.
    EXPECT_FALSE(preferredPlatformTheme(nullptr, nullptr));
    EXPECT_FALSE(preferredPlatformTheme(nullptr, ""));
}

TEST(DesktopDialogsTest, QtsOwnDialogWritesSizesAsTheWindowDoesInColumnsThatFitTheirText) {
    testing::TempDir dir;
    testing::writeFile(dir / "report.csv", std::string(374000, 'x'));
    testing::onMain([&] {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        DesktopDialogs::fitFallback(&dialog);
        EXPECT_FALSE(DesktopDialogs::isNative(&dialog));
        // Its buttons carry words only, as the desktop's do.
        const WindowStyle style;
        EXPECT_EQ(style.styleHint(QStyle::SH_DialogButtonBox_ButtonsHaveIcons), 0);
        dialog.setDirectory(QString::fromStdString(dir.path().string()));
        auto* list = dialog.findChild<QTreeView*>();
        ASSERT_TRUE(list);
        QAbstractItemModel* model = list->model();
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->rowCount(list->rootIndex()) == 1; }));
        const QModelIndex size = model->index(0, 1, list->rootIndex());
        EXPECT_EQ(size.data().toString(), "374 KB");
        QHeaderView* header = list->header();
        EXPECT_EQ(header->sectionResizeMode(0), QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            EXPECT_EQ(header->sectionResizeMode(column), QHeaderView::ResizeToContents) << column;
    });
}

}  // namespace
}  // namespace calvoro
