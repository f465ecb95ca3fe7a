#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>

#include "app/ui/ui_test_support.h"
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
        FolderPanel panel({"Choose Output Folder", "Choose where Calvoro should save your converted files.", "Choose Folder"});
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

TEST(FolderPanelTest, ThePerFilePanelHasNoMessageAndCancellingChoosesNothing) {
    testing::TempDir dir;
    testing::onMain([&] {
        FolderPanel panel({"Choose Output Folder for This File", std::nullopt, std::nullopt});
        EXPECT_FALSE(panel.message());
        EXPECT_FALSE(acceptText(panel).isEmpty());
        panel.browser()->setDirectory(QString::fromStdString(dir.path().string()));
        panel.browser()->reject();
        EXPECT_EQ(panel.result(), QDialog::Rejected);
    });
}

}  // namespace
}  // namespace calvoro
