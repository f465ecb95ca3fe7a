#include <gtest/gtest.h>

#include <QTest>

#include "app/ui/controls/hover_button.h"
#include "app/ui/overlays/toast_view.h"
#include "app/ui/ui_test_support.h"

namespace calvoro {
namespace {

using testing::onMain;

class ToastViewTest : public testing::ViewTest {};

TEST_F(ToastViewTest, DetailAddsALineAndLongTextsStayWithinTheCard) {
    onMain([&] {
        ToastView plain(Toast(Toast::Kind::success, "Done"), {}, host.get());
        ToastView detailed(Toast(Toast::Kind::warning, "Done", std::string("3 files")), {}, host.get());
        EXPECT_LT(plain.sizeHint().height(), detailed.sizeHint().height());
        EXPECT_GE(plain.sizeHint().height(), 22 + 18) << "never lower than the close button with its padding";

        ToastView empty(Toast(Toast::Kind::error, "Done", std::string()), {}, host.get());
        EXPECT_EQ(empty.sizeHint().height(), detailed.sizeHint().height()) << "an empty detail still takes a line";

        ToastView longer(Toast(Toast::Kind::error, std::string(200, 'W'), std::string("/very/long/") + std::string(300, 'p')),
                         {}, host.get());
        EXPECT_EQ(longer.sizeHint().width(), 320);
        testing::saveSnapshot(&detailed, "toast-dark");
    });
    setScheme(ColorScheme::light);
    onMain([&] {
        ToastView light(Toast(Toast::Kind::warning, "Some files were skipped", std::string("notes.xyz isn't supported")), {},
                        host.get());
        testing::saveSnapshot(&light, "toast-light");
    });
}

TEST_F(ToastViewTest, CardAndCloseButtonBothDismiss) {
    onMain([&] {
        int dismissed = 0;
        ToastView toast(Toast(Toast::Kind::success, "Converted 3 files", std::string("Saved 2 MB")), [&] { ++dismissed; },
                        host.get());
        toast.show();
        QTest::mouseClick(toast.closeButton(), Qt::LeftButton);
        EXPECT_EQ(dismissed, 1);
        QTest::mouseClick(&toast, Qt::LeftButton, {}, QPoint(30, toast.height() / 2));
        EXPECT_EQ(dismissed, 2) << "a click on the text dismisses too";
        EXPECT_EQ(toast.toolTip(), "Click to dismiss");
    });
}

}  // namespace
}  // namespace calvoro
