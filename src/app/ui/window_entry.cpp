// The window module's entry: the program calls it when started without a mode flag.
#include <QApplication>

#include "app/ui/theme.h"

extern "C" __attribute__((visibility("default"))) int calvoro_window_main(int argc, char** argv) {
    QApplication app(argc, argv);
    calvoro::Theme::loadFonts();
    return QApplication::exec();
}
