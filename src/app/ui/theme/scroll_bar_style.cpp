#include "app/ui/theme/scroll_bar_style.h"

#include <QScrollBar>

#include "app/ui/theme/theme.h"

namespace calvoro {

void styleScrollBar(QScrollBar* bar, ColorScheme scheme) {
    const QColor handle = scheme == ColorScheme::dark ? rgbColor(0xFFFFFF, 0.22) : rgbColor(0x000000, 0.22);
    bar->setStyleSheet(QStringLiteral("QScrollBar:vertical{background:transparent;width:8px;margin:0}"
                                      "QScrollBar::handle:vertical{background:%1;border-radius:3px;min-height:24px;margin:1px}"
                                      "QScrollBar::add-line,QScrollBar::sub-line{height:0}"
                                      "QScrollBar::add-page,QScrollBar::sub-page{background:transparent}")
                           .arg(handle.name(QColor::HexArgb)));
}

}  // namespace calvoro
