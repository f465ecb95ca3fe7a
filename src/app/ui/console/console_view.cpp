#include "app/ui/console/console_view.h"

#include "app/ui/console/console_main.h"

namespace calvoro {

ContentView::ConsoleViews consoleViews() {
    ContentView::ConsoleViews views;
    views.main = [](ConversionViewModel& viewModel, QWidget* parent) -> QWidget* { return new ConsoleMain(viewModel, parent); };
    return views;
}

}  // namespace calvoro
