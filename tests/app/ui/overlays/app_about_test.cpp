#include <gtest/gtest.h>

#include <QApplication>
#include <QDate>
#include <QPalette>
#include <QTextBlock>
#include <QTextLayout>
#include <QTest>
#include <QTextDocument>

#include "app/ui/overlays/app_about.h"
#include "app/ui/theme/theme.h"
#include "app/ui/ui_test_support.h"

namespace calvoro {
namespace {

TEST(AppAboutTest, MissingVersionKeysFallBackAndTheRightsLineHasThisYear) {
    const auto options = AppAbout::options({});
    EXPECT_EQ(options.applicationName, "Calvoro");
    EXPECT_EQ(options.applicationVersion, "1.0");
    EXPECT_EQ(options.version, "Build 1");
    EXPECT_TRUE(options.copyright.contains(QString::number(QDate::currentDate().year())));

    const auto given = AppAbout::options({QString("2.3"), QString("45")});
    EXPECT_EQ(given.applicationVersion, "2.3");
    EXPECT_EQ(given.version, "Build 45");
}

TEST(AppAboutTest, TheProgramsVersionIsTheOneTheSettingsFooterAndTheMCPServerGive) {
    const auto options = AppAbout::options(AppAbout::mainBundleInfo());
    EXPECT_EQ(options.applicationVersion, "1.1");
    EXPECT_EQ(options.version, "Build 1");
}

TEST(AppAboutTest, CreditsReadAsOneCentredTextWithThinSpacerLines) {
    const auto options = AppAbout::options({});
    ASSERT_EQ(options.credits.size(), 6u);
    EXPECT_FALSE(options.credits[1].styled);
    EXPECT_EQ(options.credits[1].pointSize, 4);
    EXPECT_EQ(options.credits[4].pointSize, 8);
    testing::onMain([&] {
        QTextDocument document;
        AppAbout::fillCredits(document, options.credits, QPalette());
        EXPECT_EQ(document.toPlainText(),
                  QString::fromUtf8("Universal file converter — entirely on this computer.\n\n"
                                    "No cloud. No uploads. No tracking. No account.\n"
                                    "Images · Video · Audio · Documents · Archives\n\n"
                                    "Shortcuts:  Ctrl+O Add   Ctrl+Return Convert   Ctrl+L Logs   Ctrl+, Settings"));
        EXPECT_EQ(document.begin().blockFormat().alignment(), Qt::AlignHCenter);
        EXPECT_EQ(document.begin().charFormat().font().pointSizeF(), Theme::font(12, QFont::Medium).pointSizeF());
    });
}

TEST(AppAboutTest, TheTipsKeepTogetherInTwoBalancedLinesWhenOneLineIsTooNarrow) {
    const auto options = AppAbout::options({});
    testing::onMain([&] {
        for (const double width : {320.0, 260.0}) {
            QTextDocument document;
            AppAbout::fillCredits(document, options.credits, QPalette(), width);
            document.setDocumentMargin(0);
            document.setTextWidth(width);
            document.size();  // lays the text out
            const QTextBlock tips = document.lastBlock();
            ASSERT_TRUE(tips.text().startsWith("Shortcuts:"));
            QStringList lines;
            for (int i = 0; i < tips.layout()->lineCount(); ++i) {
                const QTextLine line = tips.layout()->lineAt(i);
                lines << tips.text().mid(line.textStart(), line.textLength()).trimmed();
            }
            const std::string shown = lines.join('|').toStdString();
            ASSERT_EQ(lines.size(), 2) << shown;
            // Every tip whole on one line, and neither line a lone tip.
            for (const QString& line : lines) {
                for (const QString& tip : line.split("   "))
                    EXPECT_TRUE(tip.contains(' ') || tip == "Shortcuts:") << "a tip split: " << shown;
                EXPECT_GE(line.split("   ").size(), 2) << shown;
            }
        }
        // Wide enough: one line, as written.
        QTextDocument wide;
        AppAbout::fillCredits(wide, options.credits, QPalette(), 2000);
        EXPECT_TRUE(wide.lastBlock().text().endsWith("Ctrl+L Logs   Ctrl+, Settings"));
        EXPECT_FALSE(wide.lastBlock().text().contains(QChar(QChar::LineSeparator)));
    });
}

TEST(AppAboutTest, ShowingTwiceKeepsOnePanel) {
    testing::onMain([] {
        // Closing the panel must not end the tests' event loop.
        QApplication::setQuitOnLastWindowClosed(false);
        AppAbout::show();
        AppAbout::show();
        QWidget* panel = nullptr;
        int panels = 0;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->objectName() == "AppAbout") ++panels, panel = widget;
        ASSERT_EQ(panels, 1);
        EXPECT_TRUE(panel->isVisible());
        testing::saveSnapshot(panel, "about");
        panel->close();
    });
}

TEST(AppAboutTest, EscapeClosesThePanel) {
    testing::onMain([] {
        QApplication::setQuitOnLastWindowClosed(false);
        AppAbout::show();
        QWidget* panel = nullptr;
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->objectName() == "AppAbout" && widget->isVisible()) panel = widget;
        ASSERT_TRUE(panel);
        QTest::keyClick(panel->focusWidget() ? panel->focusWidget() : panel, Qt::Key_Escape);
        EXPECT_FALSE(panel->isVisible());
    });
}

}  // namespace
}  // namespace calvoro
